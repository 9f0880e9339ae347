// osal/posix/system_error.cpp - errno and the system's text for it.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "osal/platform.h"

namespace osal {

uint32_t LastSystemError() { return static_cast<uint32_t>(errno); }

namespace {

// strerror_r comes in two kinds: the GNU one returns the text (perhaps a
// static one instead of the buffer), the XSI one fills the buffer and
// returns 0. Whichever the C library has, one of these takes its result.
[[maybe_unused]] const char *TextOf(const char *gnu, const char *) { return gnu; }
[[maybe_unused]] const char *TextOf(int xsi, const char *buffer) { return xsi == 0 ? buffer : nullptr; }

}  // namespace

void SystemErrorText(uint32_t systemError, char *text, size_t room) {
    char buffer[256];
    const char *msg = TextOf(strerror_r(static_cast<int>(systemError), buffer, sizeof buffer), buffer);
    std::snprintf(text, room, "%s", msg ? msg : "unknown error");
}

}  // namespace osal
