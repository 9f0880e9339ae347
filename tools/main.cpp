// tools/main.cpp - the host tool. For now it loads the library and reports
// its version and the platform's time; the stack commands come with the
// stack operations.
#include <cstdio>

#include "VOQ_ZERA_Comp.h"
#include "ZERA_Host.h"

int main() {
    TimeVal now{};
    OSAL_vGetSystemTime(&now);
    std::printf("VOQ_ZERA_Comp %s, platform time %d.%06u\n", ZERA_TOOL_VERSION, now.i32Seconds,
                now.dwMicroseconds & OSAL_TIME_USEC_MASK);
    StackHandle *h0 = ZERA_hHostStackCreate(nullptr);
    if (h0 == nullptr) {
        std::printf("cannot create a host level: %s\n", OSAL_pszGetLastErrorText());
        return 1;
    }
    std::printf("host level %u ready, named %s\n", h0->u8Level, ZERA_hsComponentNameA(h0, 0) ? ZERA_hsComponentNameA(h0, 0) : "(unnamed)");
    ZERA_boHostStackDestroy(h0);
    return 0;
}
