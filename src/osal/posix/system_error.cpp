// osal/posix/system_error.cpp - errno and the system's text for it.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "osal/platform.h"

namespace osal {

uint32_t LastSystemError() { return static_cast<uint32_t>(errno); }

void SystemErrorText(uint32_t systemError, char *text, size_t room) {
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling buffer.
    const char *msg = strerror_r(static_cast<int>(systemError), buffer, sizeof buffer);
    std::snprintf(text, room, "%s", msg ? msg : "unknown error");
}

}  // namespace osal
