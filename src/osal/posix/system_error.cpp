// osal/posix/system_error.cpp - turns an errno value into the layer's error
// code with the system's own message as the argument.
#include <cstdio>
#include <cstring>

#include "osal/osal_internal.h"

namespace osal {

void SetErrorFromErrno(uint32_t code, const char *what, int errnum) {
    char reason[256];
    // GNU strerror_r may return a static string instead of filling reason.
    const char *msg = strerror_r(errnum, reason, sizeof reason);
    char arg[512];
    std::snprintf(arg, sizeof arg, "%s: %s", what ? what : "system", msg ? msg : "unknown error");
    OSAL_vSetLastErrorArgs(code, OSAL_ARG_STRING, arg);
}

}  // namespace osal
