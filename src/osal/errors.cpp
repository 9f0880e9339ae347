// osal/errors.cpp - the error texts and the calling thread's last error:
// its code, argument, severity and message, and the readable description.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "osal/error_table.h"
#include "osal/osal_internal.h"
#include "osal/platform.h"

namespace {

// Every code of the enum is in the list: a code that the list lacks stops
// the build here (an unhandled enumerator), and so does one listed twice (a
// duplicate case).
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic error "-Wswitch"
#endif
constexpr bool Listed(OSAL_ErrorCode code) {
#define OSAL_ERROR_LISTED(code, text) \
    case code: return true;
    switch (code) { OSAL_ERROR_TABLE(OSAL_ERROR_LISTED) }
#undef OSAL_ERROR_LISTED
    return false;
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
static_assert(Listed(OSAL_ERR_NO_OWNER), "the list of error codes is checked against the enum");

// Messages and arguments are copied into fixed buffers, so storing an error
// never allocates and never fails; longer strings are cut (always terminated).
constexpr size_t kArgRoom = 1024;
constexpr size_t kTextRoom = 512;
constexpr size_t kDescriptionRoom = kArgRoom + kTextRoom + 128;  // never cut

// One per thread, made on the thread's first store and freed by the
// platform half when the thread ends.
struct LastError {
    uint32_t code;
    uint32_t severity;
    uint32_t argKind;
    uint32_t dwordArg;
    bool hasArg;   // arg holds a string argument
    bool hasText;  // text holds a message
    char arg[kArgRoom];
    char text[kTextRoom];
    char description[kDescriptionRoom];
};

// The code of a thread that could not get a record (memory ran out on its
// first store): it keeps the code alone, shared by such threads.
std::atomic<uint32_t> g_codeWithoutRecord{0};

// The calling thread's record, made when create is set and there is none
// yet; null when it has none (or none could be made). The record is taken
// from the heap directly, not through the layer's allocator, so that the
// test hook that fails allocations never keeps a code from being stored.
LastError *Record(bool create) {
    void *record = osal::ThreadRecord();
    if (record || !create) return static_cast<LastError *>(record);
    record = std::calloc(1, sizeof(LastError));
    if (record && !osal::SetThreadRecord(record)) {
        std::free(record);
        record = nullptr;
    }
    return static_cast<LastError *>(record);
}

// Copies src (which may lie inside dst's own buffer) into dst, cut to room.
void CopyCut(char *dst, size_t room, const char *src) {
    size_t n = std::strlen(src);
    if (n >= room) n = room - 1;
    std::memmove(dst, src, n);
    dst[n] = '\0';
}

// Appends src to the description at *used, cut so that it stays terminated.
void Append(char *description, size_t *used, const char *src) {
    size_t n = std::strlen(src);
    if (n > kDescriptionRoom - 1 - *used) n = kDescriptionRoom - 1 - *used;
    std::memcpy(description + *used, src, n);
    *used += n;
    description[*used] = '\0';
}

// The watcher of stored errors (the library's debug output), or null.
std::atomic<OSAL_PFN_ERROR_WATCH> g_errorWatch{nullptr};

void StoreRecord(uint32_t code, uint32_t severity, const char *text, uint32_t argKind, const void *value);

void Store(uint32_t code, uint32_t severity, const char *text, uint32_t argKind, const void *value) {
    StoreRecord(code, severity, text, argKind, value);
    OSAL_PFN_ERROR_WATCH watch = g_errorWatch.load(std::memory_order_acquire);
    if (watch == nullptr || code == OSAL_ERR_NONE) return;
    const char *arg = argKind == OSAL_ARG_STRING ? static_cast<const char *>(value) : nullptr;
    watch(code, text != nullptr ? text : arg);
}

void StoreRecord(uint32_t code, uint32_t severity, const char *text, uint32_t argKind, const void *value) {
    LastError *record = Record(true);
    if (!record) {
        g_codeWithoutRecord.store(code, std::memory_order_relaxed);
        return;
    }
    LastError &e = *record;
    // Copy the strings before the old ones are cleared: a caller may pass the
    // thread's own previous argument or message back in.
    if (text) {
        CopyCut(e.text, kTextRoom, text);
        e.hasText = true;
    } else {
        e.hasText = false;
        e.text[0] = '\0';
    }
    e.hasArg = false;
    e.dwordArg = 0;
    if (argKind == OSAL_ARG_STRING && value) {
        CopyCut(e.arg, kArgRoom, static_cast<const char *>(value));
        e.hasArg = true;
    } else {
        e.arg[0] = '\0';
        if (argKind == OSAL_ARG_DWORD) e.dwordArg = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
    }
    e.code = code;
    e.severity = severity;
    e.argKind = argKind;
}

}  // namespace

namespace osal {

void ReleaseThreadRecord(void *record) { std::free(record); }

void SetSystemError(uint32_t code, const char *what, uint32_t systemError) {
    char reason[256];
    SystemErrorText(systemError, reason, sizeof reason);
    char arg[512];
    std::snprintf(arg, sizeof arg, "%s: %s", what ? what : "system", reason);
    OSAL_vSetLastErrorArgs(code, OSAL_ARG_STRING, arg);
}

}  // namespace osal

extern "C" {

OSAL_API const char *OSAL_CALL OSAL_pszGetErrorText(uint32_t dwCode) {
    switch (dwCode) {
#define OSAL_ERROR_TEXT(code, text) \
    case code: return text;
        OSAL_ERROR_TABLE(OSAL_ERROR_TEXT)
#undef OSAL_ERROR_TEXT
        default: return nullptr;
    }
}

OSAL_API void OSAL_CALL OSAL_vSetLastError(uint32_t dwCode) {
    Store(dwCode, 0, nullptr, OSAL_ARG_NONE, nullptr);
}

OSAL_API uint32_t OSAL_CALL OSAL_dwGetLastError(void) {
    const LastError *e = Record(false);
    return e ? e->code : g_codeWithoutRecord.load(std::memory_order_relaxed);
}

OSAL_API void OSAL_CALL OSAL_vSetLastErrorArgs(uint32_t dwCode, uint32_t dwArgKind, const void *pvValue) {
    Store(dwCode, 0, nullptr, dwArgKind, pvValue);
}

OSAL_API void OSAL_CALL OSAL_vSetLastErrorText(uint32_t dwCode, uint32_t dwSeverity, const char *pszText,
                                               uint32_t dwArgKind, const void *pvValue) {
    Store(dwCode, dwSeverity, pszText, dwArgKind, pvValue);
}

OSAL_API void OSAL_CALL OSAL_vSetErrorWatch(OSAL_PFN_ERROR_WATCH pfnWatch) {
    g_errorWatch.store(pfnWatch, std::memory_order_release);
}

OSAL_API uint32_t OSAL_CALL OSAL_dwGetLastErrorSeverity(void) {
    const LastError *e = Record(false);
    return e ? e->severity : 0;
}

OSAL_API const char *OSAL_CALL OSAL_pszGetLastErrorArg(void) {
    const LastError *e = Record(false);
    return e && e->hasArg ? e->arg : nullptr;
}

OSAL_API const char *OSAL_CALL OSAL_pszGetLastErrorText(void) {
    LastError *record = Record(true);
    if (!record) {
        const char *text = OSAL_pszGetErrorText(g_codeWithoutRecord.load(std::memory_order_relaxed));
        return text ? text : "Unknown error";
    }
    LastError &e = *record;
    const char *codeText = OSAL_pszGetErrorText(e.code);
    char number[32];
    size_t used = 0;
    Append(e.description, &used, codeText ? codeText : "Unknown error");
    std::snprintf(number, sizeof number, " (%u)", static_cast<unsigned>(e.code));
    Append(e.description, &used, number);
    if (e.hasText) {
        Append(e.description, &used, ": ");
        Append(e.description, &used, e.text);
    }
    if (e.hasArg) {
        Append(e.description, &used, ": ");
        Append(e.description, &used, e.arg);
    } else if (e.argKind == OSAL_ARG_DWORD) {
        std::snprintf(number, sizeof number, ": %u", static_cast<unsigned>(e.dwordArg));
        Append(e.description, &used, number);
    }
    return e.description;
}

}  // extern "C"
