// osal/byte_order.cpp - conversion of one value between a packet (network
// order, most significant byte first) and a host variable.
#include <cstring>

#include "osal/osal_internal.h"

extern "C" OSAL_API BOOL8 OSAL_CALL OSAL_boConvertByteOrder(void *pvPacket, void *pvHost, uint32_t dwWidth,
                                                            uint32_t dwDirection) {
    if (!pvPacket || !pvHost) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    if (dwWidth != 1 && dwWidth != 2 && dwWidth != 4 && dwWidth != 8) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_SIZE);
        return 0;
    }
    if (dwDirection != OSAL_BO_TO_NETWORK && dwDirection != OSAL_BO_FROM_NETWORK) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    // Shift through a 64-bit value, so the host's own byte order never matters
    // and neither side needs to be aligned.
    unsigned char bytes[8];
    if (dwDirection == OSAL_BO_TO_NETWORK) {
        uint64_t value = 0;
        switch (dwWidth) {
            case 1: value = *static_cast<const uint8_t *>(pvHost); break;
            case 2: { uint16_t v; std::memcpy(&v, pvHost, 2); value = v; break; }
            case 4: { uint32_t v; std::memcpy(&v, pvHost, 4); value = v; break; }
            default: std::memcpy(&value, pvHost, 8); break;
        }
        for (uint32_t i = 0; i < dwWidth; ++i)
            bytes[i] = static_cast<unsigned char>(value >> (8 * (dwWidth - 1 - i)));
        std::memcpy(pvPacket, bytes, dwWidth);
    } else {
        std::memcpy(bytes, pvPacket, dwWidth);
        uint64_t value = 0;
        for (uint32_t i = 0; i < dwWidth; ++i) value = (value << 8) | bytes[i];
        switch (dwWidth) {
            case 1: *static_cast<uint8_t *>(pvHost) = static_cast<uint8_t>(value); break;
            case 2: { uint16_t v = static_cast<uint16_t>(value); std::memcpy(pvHost, &v, 2); break; }
            case 4: { uint32_t v = static_cast<uint32_t>(value); std::memcpy(pvHost, &v, 4); break; }
            default: std::memcpy(pvHost, &value, 8); break;
        }
    }
    return 1;
}
