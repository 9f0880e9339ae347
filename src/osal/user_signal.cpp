// osal/user_signal.cpp - the platform layer's exports for the user's
// snapshot signal: catching it (never over a handler of the program's own)
// and reading how many arrived.
#include "osal/osal_internal.h"
#include "osal/platform.h"

extern "C" {

OSAL_API BOOL8 OSAL_CALL OSAL_boCatchUserSignal(BOOL8 boCatch) {
    if (!boCatch) {
        osal::UserSignalRelease();
        return 1;
    }
    bool taken = false;
    if (osal::UserSignalCatch(&taken)) return 1;
    OSAL_vSetLastErrorArgs(OSAL_ERR_NOT_AVAILABLE, OSAL_ARG_STRING,
                           taken ? "SIGUSR1 has a handler of the program's own" : "no user signal on this platform");
    return 0;
}

OSAL_API uint32_t OSAL_CALL OSAL_dwGetUserSignalCount(void) { return osal::UserSignalCount(); }

}  // extern "C"
