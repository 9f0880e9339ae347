// osal/win/system_error.cpp - GetLastError and the system's text for it
// (FormatMessageW, narrowed one unit to one byte as the layer narrows).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>

#include "osal/platform.h"

namespace osal {

uint32_t LastSystemError() { return static_cast<uint32_t>(GetLastError()); }

void SystemErrorText(uint32_t systemError, char *text, size_t room) {
    if (room == 0) return;
    wchar_t wide[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, systemError, 0, wide,
                             sizeof wide / sizeof wide[0], nullptr);
    // The system's texts end in a line break and often a full stop.
    while (n > 0 && (wide[n - 1] == L'\r' || wide[n - 1] == L'\n' || wide[n - 1] == L' ' || wide[n - 1] == L'.')) --n;
    if (n == 0) {
        std::snprintf(text, room, "system error %lu", static_cast<unsigned long>(systemError));
        return;
    }
    size_t i = 0;
    for (; i < n && i + 1 < room; ++i) text[i] = wide[i] > 0xFF ? '?' : static_cast<char>(wide[i]);
    text[i] = '\0';
}

}  // namespace osal
