/*
 * install/harness_check.c - a C test of a component against the installed
 * harness: Ticker's first three periods cranked on the test clock, each
 * tick stamped at the end of its period. Exit status 0 when all is so.
 */
#include <stdio.h>

#include "ZERA_Harness.h"

int main(void) {
    ZERA_HHARNESS h = ZERA_hHarnessCreateA("Ticker", ZERA_HARNESS_TEST_CLOCK, NULL);
    int ticks = 0;
    if (h == NULL || !ZERA_boHarnessSetDWord(h, "Period", 1000) || !ZERA_boHarnessStart(h)) {
        printf("harness: %s\n", OSAL_pszGetLastErrorText());
        return 1;
    }
    while (ticks < 3 && ZERA_boHarnessClockCrank(h, 1, 10000)) {
        Event *tick = ZERA_pstHarnessPullDown(h, 10000);
        if (tick == NULL || tick->stTimeStamp.i32Seconds != ZERA_HARNESS_CLOCK_START_SECONDS + ticks + 1) break;
        ZERA_boDeleteEvent(tick);
        ++ticks;
    }
    ZERA_boHarnessDestroy(h);
    printf("harness: %d ticks cranked\n", ticks);
    return ticks == 3 ? 0 : 1;
}
