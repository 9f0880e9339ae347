// osal/init.cpp - start and end of the platform layer. Nothing in the layer
// needs set-up (its state is created on first use), so the count only pairs
// the calls of its users.
#include <atomic>

#include "osal/osal_internal.h"

namespace {
std::atomic<int> g_users{0};  // successful OSAL_boInit calls not yet ended
}

extern "C" OSAL_API BOOL8 OSAL_CALL OSAL_boInit(void) {
    g_users.fetch_add(1);
    return 1;
}

extern "C" OSAL_API void OSAL_CALL OSAL_vDeinit(void) {
    int users = g_users.load();
    while (users > 0 && !g_users.compare_exchange_weak(users, users - 1)) {
    }
}
