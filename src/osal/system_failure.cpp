// osal/system_failure.cpp - the stop after a system call that cannot fail
// unless the program is broken did fail, and the test hook that makes a
// lock fail. Silence there would hide the bug (a freed lock taken, an
// unlock by a thread that holds nothing) until something else breaks.
#include <cstdio>
#include <cstdlib>

#include "osal/osal_test_hooks.h"
#include "osal/platform.h"

namespace osal {

void SystemCallFailed(const char *call, uint32_t systemError) {
    char text[256];
    SystemErrorText(systemError, text, sizeof text);
    std::fprintf(stderr, "VOQ_OSAL: %s failed: %s (%lu)\n", call, text, static_cast<unsigned long>(systemError));
    std::fflush(stderr);
    std::abort();
}

#if defined(ZERA_TEST_HOOKS)
namespace {
thread_local bool t_failNextLock = false;
}  // namespace

bool TestLockFails() {
    if (!t_failNextLock) return false;
    t_failNextLock = false;
    return true;
}
#endif

}  // namespace osal

#if defined(ZERA_TEST_HOOKS)
extern "C" OSAL_API void OSAL_CALL OSAL_vTestFailNextLock(void) { osal::t_failNextLock = true; }
#endif
