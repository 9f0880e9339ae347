// marshal/packet.cpp - the marshal packet (create, delete, accessors), its
// growth and read checks, and the scalar items. Units are converted here by
// the library's own byte-order helpers (common/byte_order.h), not by a call
// into the platform layer per unit; the bytes are the same.
#include <cstring>

#include "common/common.h"
#include "marshal/marshal.h"
#include "marshal/wire_io.h"

namespace zera {

bool EnsureRoom(MarshalPacket *p, int64_t n) {
    if (n < 0) return zera::Fail(OSAL_ERR_INVALID_SIZE);
    if (p == nullptr) return zera::Fail(OSAL_ERR_INVALID_HANDLE);
    if (int64_t{p->i32BufSize} - p->i32DataSize >= n) return true;
    int64_t size = (p->i32DataSize + n + ZERA_MARSHAL_GROWTH - 1) / ZERA_MARSHAL_GROWTH * ZERA_MARSHAL_GROWTH;
    if (size > INT32_MAX) return zera::Fail(OSAL_ERR_INVALID_SIZE);
    void *grown = Realloc(p->pvData, static_cast<size_t>(size));
    if (grown == nullptr) return zera::Fail(OSAL_ERR_NO_MEMORY);
    p->pvData = grown;
    p->i32BufSize = static_cast<int32_t>(size);
    return true;
}

bool CheckAvailable(MarshalPacket *p, int64_t n) {
    if (n < 0) return zera::Fail(OSAL_ERR_INVALID_SIZE);
    if (p == nullptr) return zera::Fail(OSAL_ERR_INVALID_HANDLE);
    if (int64_t{p->i32DataSize} - p->i32CurReadPos < n) return zera::Fail(OSAL_ERR_SHORT_PACKET);
    return true;
}

bool PutUnit(MarshalPacket *p, const void *host, uint32_t width) {
    if (!EnsureRoom(p, width)) return false;
    WireWriter out{WriteEnd(p)};
    switch (width) {
        case 1: out.Unit(*static_cast<const uint8_t *>(host)); break;
        case 2: { uint16_t v; std::memcpy(&v, host, 2); out.Unit(v); break; }
        case 4: { uint32_t v; std::memcpy(&v, host, 4); out.Unit(v); break; }
        default: { uint64_t v; std::memcpy(&v, host, 8); out.Unit(v); break; }
    }
    p->i32DataSize += static_cast<int32_t>(width);
    return true;
}

bool GetUnit(MarshalPacket *p, void *host, uint32_t width) {
    if (!CheckAvailable(p, width)) return false;
    RunReader in{ReadPos(p)};
    switch (width) {
        case 1: { uint8_t v; in.Unit(v); std::memcpy(host, &v, 1); break; }
        case 2: { uint16_t v; in.Unit(v); std::memcpy(host, &v, 2); break; }
        case 4: { uint32_t v; in.Unit(v); std::memcpy(host, &v, 4); break; }
        default: { uint64_t v; in.Unit(v); std::memcpy(host, &v, 8); break; }
    }
    p->i32CurReadPos += static_cast<int32_t>(width);
    return true;
}

}  // namespace zera

namespace {

using zera::MarshalPacket;

// The common start of every scalar operation: a packet and a value address.
MarshalPacket *CheckScalarArgs(ZERA_HPACKET h, const void *value) {
    if (h == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return nullptr;
    }
    if (value == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    return zera::ToPacket(h);
}

BOOL8 PutScalar(ZERA_HPACKET h, const void *value, uint32_t width) {
    MarshalPacket *p = CheckScalarArgs(h, value);
    return p != nullptr && zera::PutUnit(p, value, width) ? 1 : 0;
}

BOOL8 GetScalar(ZERA_HPACKET h, void *value, uint32_t width) {
    MarshalPacket *p = CheckScalarArgs(h, value);
    return p != nullptr && zera::GetUnit(p, value, width) ? 1 : 0;
}

}  // namespace

extern "C" {

ZERA_API ZERA_HPACKET ZERA_CALL ZERA_hMarshalPacketCreate(void *pvData, int32_t i32Size) {
    MarshalPacket *p = static_cast<MarshalPacket *>(zera::Alloc(sizeof(MarshalPacket)));
    if (p == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    uint32_t code = OSAL_ERR_NONE;
    if (i32Size < 0) {
        code = OSAL_ERR_INVALID_SIZE;
    } else if (pvData != nullptr && i32Size > 0) {
        *p = MarshalPacket{pvData, i32Size, i32Size, 0};
    } else if (pvData == nullptr && i32Size == 0) {
        *p = MarshalPacket{zera::Alloc(ZERA_MARSHAL_GROWTH), ZERA_MARSHAL_GROWTH, 0, 0};
        if (p->pvData == nullptr) code = OSAL_ERR_NO_MEMORY;
    } else {
        code = OSAL_ERR_INVALID_ARG;
    }
    if (code != OSAL_ERR_NONE) {
        zera::Free(p);
        OSAL_vSetLastError(code);
        return nullptr;
    }
    return p;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalPacketDelete(ZERA_HPACKET hPacket) {
    if (hPacket == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    MarshalPacket *p = zera::ToPacket(hPacket);
    zera::Free(p->pvData);
    zera::Free(p);
    return 1;
}

ZERA_API void *ZERA_CALL ZERA_pvMarshalGetStartOfData(ZERA_HPACKET hPacket) {
    if (hPacket == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return nullptr;
    }
    return zera::ToPacket(hPacket)->pvData;
}

ZERA_API int32_t ZERA_CALL ZERA_i32MarshalGetCurReadPos(ZERA_HPACKET hPacket) {
    if (hPacket == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return -1;
    }
    return zera::ToPacket(hPacket)->i32CurReadPos;
}

ZERA_API int32_t ZERA_CALL ZERA_i32MarshalGetDataSize(ZERA_HPACKET hPacket) {
    if (hPacket == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return -1;
    }
    return zera::ToPacket(hPacket)->i32DataSize;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalResetReadPos(ZERA_HPACKET hPacket) {
    if (hPacket == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    zera::ToPacket(hPacket)->i32CurReadPos = 0;
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalBool(ZERA_HPACKET hPacket, const BOOL8 *pboValue) {
    if (CheckScalarArgs(hPacket, pboValue) == nullptr) return 0;
    uint8_t normalised = *pboValue != 0 ? 1 : 0;
    return PutScalar(hPacket, &normalised, 1);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalByte(ZERA_HPACKET hPacket, const uint8_t *pu8Value) {
    return PutScalar(hPacket, pu8Value, 1);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalWord(ZERA_HPACKET hPacket, const uint16_t *pu16Value) {
    return PutScalar(hPacket, pu16Value, 2);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalDWord(ZERA_HPACKET hPacket, const uint32_t *pdwValue) {
    return PutScalar(hPacket, pdwValue, 4);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalReal(ZERA_HPACKET hPacket, const double *prValue) {
    return PutScalar(hPacket, prValue, 8);
}

// Two 32-bit units, the upper half in memory first, so that a little-endian
// uint64_t comes out most significant byte first and a TimeVal as seconds
// then microseconds. A failed second half leaves the first written.
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalQWord(ZERA_HPACKET hPacket, const void *pvValue) {
    MarshalPacket *p = CheckScalarArgs(hPacket, pvValue);
    if (p == nullptr) return 0;
    uint32_t words[2];
    std::memcpy(words, pvValue, sizeof words);
    return zera::PutUnit(p, &words[1], 4) && zera::PutUnit(p, &words[0], 4) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalBool(ZERA_HPACKET hPacket, BOOL8 *pboValue) {
    uint8_t raw = 0;
    if (CheckScalarArgs(hPacket, pboValue) == nullptr || !GetScalar(hPacket, &raw, 1)) return 0;
    *pboValue = raw != 0 ? 1 : 0;
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalByte(ZERA_HPACKET hPacket, uint8_t *pu8Value) {
    return GetScalar(hPacket, pu8Value, 1);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalWord(ZERA_HPACKET hPacket, uint16_t *pu16Value) {
    return GetScalar(hPacket, pu16Value, 2);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalDWord(ZERA_HPACKET hPacket, uint32_t *pdwValue) {
    return GetScalar(hPacket, pdwValue, 4);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalReal(ZERA_HPACKET hPacket, double *prValue) {
    return GetScalar(hPacket, prValue, 8);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalQWord(ZERA_HPACKET hPacket, void *pvValue) {
    MarshalPacket *p = CheckScalarArgs(hPacket, pvValue);
    if (p == nullptr) return 0;
    uint8_t *halves = static_cast<uint8_t *>(pvValue);
    uint32_t word = 0;
    if (!zera::GetUnit(p, &word, 4)) return 0;
    std::memcpy(halves + 4, &word, 4);
    if (!zera::GetUnit(p, &word, 4)) return 0;
    std::memcpy(halves, &word, 4);
    return 1;
}

}  // extern "C"

ZERA_EXPORT_ALIAS(BOOL8, ZERA_boMarshalTimeVal, ZERA_boMarshalQWord, (ZERA_HPACKET hPacket, const void *pvValue))
ZERA_EXPORT_ALIAS(BOOL8, ZERA_boUnmarshalTimeVal, ZERA_boUnmarshalQWord, (ZERA_HPACKET hPacket, void *pvValue))
