// marshal/stream.cpp - byte, word and double-word streams and narrow and
// wide strings on the wire: a DWord length in bytes, then the data.
#include <cstring>

#include "common/common.h"
#include "marshal/marshal.h"

namespace zera {
namespace {

bool Fail(uint32_t code) {
    OSAL_vSetLastError(code);
    return false;
}

int32_t FailLength(uint32_t code) {
    OSAL_vSetLastError(code);
    return -1;
}

// Checks a writer's arguments: 1027 null packet, 1028 data missing, 1034 a
// negative length or one that is no whole number of units.
bool CheckWriterArgs(const MarshalPacket *p, const void *data, int32_t len, int32_t unit) {
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    if (data == nullptr && len > 0) return Fail(OSAL_ERR_INVALID_ARG);
    if (len < 0 || len % unit != 0) return Fail(OSAL_ERR_INVALID_SIZE);
    return true;
}

// Reads a stream's length and checks that its bytes are there. -1 with the
// code on failure; the read position then stands behind the length if that
// was read.
int32_t ReadLength(MarshalPacket *p, int32_t unit) {
    uint32_t raw = 0;
    if (!GetUnit(p, &raw, 4)) return -1;
    int32_t len = static_cast<int32_t>(raw);
    if (len < 0 || len % unit != 0) return FailLength(OSAL_ERR_INVALID_SIZE);
    if (!CheckAvailable(p, len)) return -1;
    return len;
}

template <typename T>
bool MarshalUnits(MarshalPacket *p, const T *data, int32_t len) {
    if (!CheckWriterArgs(p, data, len, sizeof(T))) return false;
    if (!EnsureRoom(p, int64_t{len} + 4)) return false;
    uint32_t length = static_cast<uint32_t>(len);
    if (!PutUnit(p, &length, 4)) return false;
    for (int32_t i = 0; i < len / static_cast<int32_t>(sizeof(T)); ++i) {
        T unit = data[i];  // the conversion takes a writable host variable
        if (!OSAL_boConvertByteOrder(WriteEnd(p), &unit, sizeof(T), OSAL_BO_TO_NETWORK)) return false;
        p->i32DataSize += static_cast<int32_t>(sizeof(T));
    }
    return true;
}

template <typename T>
int32_t UnmarshalUnits(MarshalPacket *p, T **data, bool alloc) {
    if (p == nullptr) return FailLength(OSAL_ERR_INVALID_HANDLE);
    if (data == nullptr) return FailLength(OSAL_ERR_INVALID_ARG);
    int32_t len = ReadLength(p, sizeof(T));
    if (len < 0) return -1;
    if (len == 0) {
        *data = nullptr;
        return 0;
    }
    if (alloc) *data = static_cast<T *>(Alloc(static_cast<size_t>(len)));
    if (*data == nullptr) return FailLength(OSAL_ERR_NO_MEMORY);
    for (int32_t i = 0; i < len / static_cast<int32_t>(sizeof(T)); ++i) {
        if (!GetUnit(p, &(*data)[i], sizeof(T))) return -1;  // an allocated buffer stays the caller's
    }
    return len;
}

}  // namespace

bool MarshalByteStream(MarshalPacket *p, const void *data, int32_t len) {
    if (!CheckWriterArgs(p, data, len, 1)) return false;
    if (!EnsureRoom(p, int64_t{len} + 4)) return false;
    uint32_t length = static_cast<uint32_t>(len);
    if (!PutUnit(p, &length, 4)) return false;
    if (len > 0) std::memcpy(WriteEnd(p), data, static_cast<size_t>(len));
    p->i32DataSize += len;
    return true;
}

bool MarshalString(MarshalPacket *p, const char *s) {
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    if (s == nullptr) return MarshalByteStream(p, nullptr, 0);
    size_t len = std::strlen(s) + 1;
    if (len > INT32_MAX) return Fail(OSAL_ERR_INVALID_SIZE);
    return MarshalByteStream(p, s, static_cast<int32_t>(len));
}

// One byte per wide character; units above 0xFF have no single-byte form
// and become '?', so the narrow form is never longer than the wide one.
bool MarshalWideString(MarshalPacket *p, const WCHAR16 *s) {
    if (p == nullptr) return Fail(OSAL_ERR_INVALID_HANDLE);
    if (s == nullptr) return MarshalByteStream(p, nullptr, 0);
    size_t units = WLen(s) + 1;
    char *narrow = static_cast<char *>(Alloc(units));
    if (narrow == nullptr) return Fail(OSAL_ERR_NO_MEMORY);
    WideToNarrow(narrow, units, s);
    bool ok = MarshalString(p, narrow);
    Free(narrow);
    return ok;
}

int32_t UnmarshalByteStream(MarshalPacket *p, void **data, bool alloc) {
    if (p == nullptr) return FailLength(OSAL_ERR_INVALID_HANDLE);
    if (data == nullptr) return FailLength(OSAL_ERR_INVALID_ARG);
    int32_t len = ReadLength(p, 1);
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

// A stream whose last byte is not NUL is no string this system writes.
// Rejecting it (1034) keeps the result "length without the NUL" true and
// never leaves an unterminated string with the caller.
int32_t UnmarshalString(MarshalPacket *p, char **s) {
    if (p == nullptr) return FailLength(OSAL_ERR_INVALID_HANDLE);
    if (s == nullptr) return FailLength(OSAL_ERR_INVALID_ARG);
    int32_t len = ReadLength(p, 1);
    if (len < 0) return -1;
    if (len == 0) {
        *s = nullptr;
        return 0;
    }
    if (ReadPos(p)[len - 1] != 0) return FailLength(OSAL_ERR_INVALID_SIZE);
    *s = static_cast<char *>(Alloc(static_cast<size_t>(len)));
    if (*s == nullptr) return FailLength(OSAL_ERR_NO_MEMORY);
    std::memcpy(*s, ReadPos(p), static_cast<size_t>(len));
    p->i32CurReadPos += len;
    return len - 1;
}

int32_t UnmarshalWideString(MarshalPacket *p, WCHAR16 **s) {
    if (p == nullptr) return FailLength(OSAL_ERR_INVALID_HANDLE);
    if (s == nullptr) return FailLength(OSAL_ERR_INVALID_ARG);
    char *narrow = nullptr;
    int32_t n = UnmarshalString(p, &narrow);
    if (n < 0) return n;
    if (narrow == nullptr) {
        *s = nullptr;
        return 0;
    }
    size_t units = static_cast<size_t>(n) + 1;
    *s = static_cast<WCHAR16 *>(Alloc(units * sizeof(WCHAR16)));
    if (*s == nullptr) {
        Free(narrow);
        return FailLength(OSAL_ERR_NO_MEMORY);
    }
    NarrowToWide(*s, units, narrow);
    Free(narrow);
    return static_cast<int32_t>(WLen(*s));  // a NUL inside the stream ends the string
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
    if (i32Len > 0) std::memcpy(zera::WriteEnd(p), pvData, static_cast<size_t>(i32Len));
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
