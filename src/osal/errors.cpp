// osal/errors.cpp - the error texts and the calling thread's last error:
// its code, argument, severity and message, and the readable description.
#include <cstdio>
#include <cstring>

#include "osal/error_table.h"
#include "osal/osal_internal.h"

namespace {

struct ErrorText {
    uint32_t code;
    const char *text;
};

#define OSAL_ERROR_ENTRY(code, text) {static_cast<uint32_t>(code), text},
constexpr ErrorText kErrorTexts[] = {OSAL_ERROR_TABLE(OSAL_ERROR_ENTRY)};
#undef OSAL_ERROR_ENTRY

// Messages and arguments are copied into fixed buffers, so storing an error
// never allocates and never fails; longer strings are cut (always terminated).
constexpr size_t kArgRoom = 1024;
constexpr size_t kTextRoom = 512;
constexpr size_t kDescriptionRoom = kArgRoom + kTextRoom + 128;  // never cut

// One per thread; constant-initialised, so it needs no constructor or
// destructor and is safe to use from any thread at any time.
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
thread_local LastError t_last;

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

void Store(uint32_t code, uint32_t severity, const char *text, uint32_t argKind, const void *value) {
    LastError &e = t_last;
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

extern "C" {

OSAL_API const char *OSAL_CALL OSAL_pszGetErrorText(uint32_t dwCode) {
    for (const ErrorText &entry : kErrorTexts)
        if (entry.code == dwCode) return entry.text;
    return nullptr;
}

OSAL_API void OSAL_CALL OSAL_vSetLastError(uint32_t dwCode) {
    Store(dwCode, 0, nullptr, OSAL_ARG_NONE, nullptr);
}

OSAL_API uint32_t OSAL_CALL OSAL_dwGetLastError(void) { return t_last.code; }

OSAL_API void OSAL_CALL OSAL_vSetLastErrorArgs(uint32_t dwCode, uint32_t dwArgKind, const void *pvValue) {
    Store(dwCode, 0, nullptr, dwArgKind, pvValue);
}

OSAL_API void OSAL_CALL OSAL_vSetLastErrorText(uint32_t dwCode, uint32_t dwSeverity, const char *pszText,
                                               uint32_t dwArgKind, const void *pvValue) {
    Store(dwCode, dwSeverity, pszText, dwArgKind, pvValue);
}

OSAL_API uint32_t OSAL_CALL OSAL_dwGetLastErrorSeverity(void) { return t_last.severity; }

OSAL_API const char *OSAL_CALL OSAL_pszGetLastErrorArg(void) {
    return t_last.hasArg ? t_last.arg : nullptr;
}

OSAL_API const char *OSAL_CALL OSAL_pszGetLastErrorText(void) {
    LastError &e = t_last;
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
