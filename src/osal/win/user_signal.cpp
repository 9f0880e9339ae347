// osal/win/user_signal.cpp - Windows has no signal a user sends a running
// program for a snapshot; hosts there ask through their own call.
#include "osal/platform.h"

namespace osal {

bool UserSignalCatch(bool *taken) {
    *taken = false;
    return false;
}

void UserSignalRelease() {}

uint32_t UserSignalCount() { return 0; }

}  // namespace osal
