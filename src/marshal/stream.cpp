// marshal/stream.cpp - byte, word and double-word streams and narrow and
// wide strings on the wire: a DWord length in bytes, then the data.
#include <cstring>

#include "common/common.h"
#include "marshal/marshal.h"
#include "marshal/wire_io.h"

namespace zera {
namespace {

// Checks a writer's arguments: 1027 null packet, 1028 data missing, 1034 a
// negative length or one that is no whole number of units.
bool CheckWriterArgs(const MarshalPacket *p, const void *data, int32_t len, int32_t unit) {
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    if (data == nullptr && len > 0) return Fail(OSAL_ERR_INVALID_ARG);
    if (len < 0 || len % unit != 0) return Fail(OSAL_ERR_INVALID_SIZE);
    return true;
}

// The whole run of units is converted in one pass: once the length has been
// checked against the bytes there (reading) or the room made (writing), no
// unit can fail.
template <typename T>
void CopyUnits(void *dst, const void *src, size_t count) {
    if (sizeof(T) == 2) {
        CopyNetwork16(dst, src, count);
    } else {
        CopyNetwork32(dst, src, count);
    }
}

template <typename T>
bool MarshalUnits(MarshalPacket *p, const T *data, int32_t len) {
    if (!CheckWriterArgs(p, data, len, sizeof(T))) return false;
    if (!EnsureRoom(p, int64_t{len} + 4)) return false;
    StoreNetwork32(WriteEnd(p), static_cast<uint32_t>(len));
    CopyUnits<T>(WriteEnd(p) + 4, data, static_cast<size_t>(len) / sizeof(T));
    p->i32DataSize += len + 4;
    return true;
}

template <typename T>
int32_t UnmarshalUnits(MarshalPacket *p, T **data, bool alloc) {
    if (p == nullptr) return FailLength(OSAL_ERR_INVALID_HANDLE);
    if (data == nullptr) return FailLength(OSAL_ERR_INVALID_ARG);
    int32_t len = ReadStreamLength(p, sizeof(T));
    if (len < 0) return -1;
    if (len == 0) {
        *data = nullptr;
        return 0;
    }
    if (alloc) *data = static_cast<T *>(Alloc(static_cast<size_t>(len)));
    if (*data == nullptr) return FailLength(OSAL_ERR_NO_MEMORY);
    CopyUnits<T>(*data, ReadPos(p), static_cast<size_t>(len) / sizeof(T));
    p->i32CurReadPos += len;
    return len;
}

}  // namespace

bool MarshalByteStream(MarshalPacket *p, const void *data, int32_t len) {
    if (!CheckWriterArgs(p, data, len, 1)) return false;
    if (!EnsureRoom(p, int64_t{len} + 4)) return false;
    WireWriter out{WriteEnd(p)};
    out.Unit(static_cast<uint32_t>(len));
    out.Raw(data, static_cast<size_t>(len));
    p->i32DataSize += len + 4;
    return true;
}

bool MarshalString(MarshalPacket *p, const char *s) {
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    return Emit(p, [s](auto &out) { return PutString(out, s); });
}

bool MarshalWideString(MarshalPacket *p, const WCHAR16 *s) {
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    return Emit(p, [s](auto &out) { return PutWideString(out, s); });
}

int32_t UnmarshalByteStream(MarshalPacket *p, void **data, bool alloc) {
    if (p == nullptr) return FailLength(OSAL_ERR_INVALID_HANDLE);
    if (data == nullptr) return FailLength(OSAL_ERR_INVALID_ARG);
    int32_t len = ReadStreamLength(p, 1);
    if (len < 0) return -1;
    if (len == 0) {
        if (alloc) *data = nullptr;
        return 0;
    }
    if (alloc) *data = Alloc(static_cast<size_t>(len));
    if (*data == nullptr) return FailLength(OSAL_ERR_NO_MEMORY);
    std::memcpy(*data, ReadPos(p), static_cast<size_t>(len));
    p->i32CurReadPos += len;
    return len;
}

int32_t UnmarshalString(MarshalPacket *p, char **s) {
    if (p == nullptr) return FailLength(OSAL_ERR_INVALID_HANDLE);
    if (s == nullptr) return FailLength(OSAL_ERR_INVALID_ARG);
    return ReadString(p, s);
}

int32_t UnmarshalWideString(MarshalPacket *p, WCHAR16 **s) {
    if (p == nullptr) return FailLength(OSAL_ERR_INVALID_HANDLE);
    if (s == nullptr) return FailLength(OSAL_ERR_INVALID_ARG);
    return ReadString(p, s);
}

}  // namespace zera

using zera::ToPacket;

extern "C" {

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalByteStream(ZERA_HPACKET hPacket, const void *pvData, int32_t i32Len) {
    return zera::MarshalByteStream(ToPacket(hPacket), pvData, i32Len) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalByteStreamRaw(ZERA_HPACKET hPacket, const void *pvData,
                                                     int32_t i32Len) {
    zera::MarshalPacket *p = ToPacket(hPacket);
    if (!zera::CheckWriterArgs(p, pvData, i32Len, 1) || !zera::EnsureRoom(p, i32Len)) return 0;
    zera::WireWriter{zera::WriteEnd(p)}.Raw(pvData, static_cast<size_t>(i32Len));
    p->i32DataSize += i32Len;
    return 1;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalWordStream(ZERA_HPACKET hPacket, const uint16_t *pu16Data,
                                                  int32_t i32Len) {
    return zera::MarshalUnits(ToPacket(hPacket), pu16Data, i32Len) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalDWordStream(ZERA_HPACKET hPacket, const uint32_t *pdwData,
                                                   int32_t i32Len) {
    return zera::MarshalUnits(ToPacket(hPacket), pdwData, i32Len) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalHString(ZERA_HPACKET hPacket, const char *pszValue) {
    return zera::MarshalString(ToPacket(hPacket), pszValue) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalLString(ZERA_HPACKET hPacket, const WCHAR16 *pwszValue) {
    return zera::MarshalWideString(ToPacket(hPacket), pwszValue) ? 1 : 0;
}

ZERA_API int32_t ZERA_CALL ZERA_i32UnmarshalByteStream(ZERA_HPACKET hPacket, void **ppvData, BOOL8 boAlloc) {
    return zera::UnmarshalByteStream(ToPacket(hPacket), ppvData, boAlloc != 0);
}

ZERA_API int32_t ZERA_CALL ZERA_i32UnmarshalWordStream(ZERA_HPACKET hPacket, uint16_t **ppu16Data,
                                                      BOOL8 boAlloc) {
    return zera::UnmarshalUnits(ToPacket(hPacket), ppu16Data, boAlloc != 0);
}

ZERA_API int32_t ZERA_CALL ZERA_i32UnmarshalDWordStream(ZERA_HPACKET hPacket, uint32_t **ppdwData,
                                                       BOOL8 boAlloc) {
    return zera::UnmarshalUnits(ToPacket(hPacket), ppdwData, boAlloc != 0);
}

ZERA_API int32_t ZERA_CALL ZERA_i32UnmarshalHString(ZERA_HPACKET hPacket, char **ppszValue) {
    return zera::UnmarshalString(ToPacket(hPacket), ppszValue);
}

ZERA_API int32_t ZERA_CALL ZERA_i32UnmarshalLString(ZERA_HPACKET hPacket, WCHAR16 **ppwszValue) {
    return zera::UnmarshalWideString(ToPacket(hPacket), ppwszValue);
}

}  // extern "C"
