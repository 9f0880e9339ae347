/*
 * headers/headers_check.c - every public header and every macro of the
 * component kit, for the header tests: CTest compiles this file as C11 and
 * as C++17 under -Wall -Wextra -Wpedantic -Werror with each compiler at hand
 * (components and hosts may be written in either language), once with each
 * form of the thread exports.
 */
#include "VOQ_OSAL.h"
#include "VOQ_ZERA_Comp.h"
#include "ZERA_Component.h"
#include "ZERA_Harness.h"
#include "ZERA_Host.h"

static BOOL8 CheckSetup(BOOL8 boWide, Param **ppstStackParams) {
    return boWide ? ZERA_boCreateParListW(ppstStackParams) : ZERA_boCreateParListA(ppstStackParams);
}
#if !defined(ZERA_CHECK_NO_THREADS)
static BOOL8 CheckStart(StackHandle *h) { return h != NULL; }
static void CheckStop(StackHandle *h) { (void)h; }
#endif
static void CheckNotify(StackHandle *h) { (void)h; }

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Check.COMPONENT")
ZERA_COMPONENT_INFO(ZERA_INFO_VERSION(0, 1) ZERA_INFO_MIN_PARTNER_MINOR(1) ZERA_INFO_FLAGS(ZERA_INFO_COMPLETES_STACK)
                        ZERA_INFO_RANGE_A(1, 2) ZERA_INFO_RANGE_B(3, 4),
                    ZERA_INFO_NONE)
ZERA_COMPONENT_PARAMS(CheckSetup)
#if defined(ZERA_CHECK_NO_THREADS)
ZERA_COMPONENT_NO_THREADS()
#else
ZERA_COMPONENT_THREADS(CheckStart, CheckStop)
#endif
ZERA_COMPONENT_NOTIFY(CheckNotify)

int zera_headers_check(void);
int zera_headers_check(void) {
    /* The anonymous members of an event read directly. */
    Event *ev = ZERA_pstHostCreateEvent(NULL, ZERA_EVENT_DATA0, 1, 4);
    return (int)sizeof(StackHandle) + (ev != NULL ? (int)ev->dwDataSize + (int)ev->dwItemCount : 0);
}

/* The harness in either language; its C++ face's templates instantiated. */
int zera_harness_check(void);
int zera_harness_check(void) {
    ZERA_HHARNESS h = ZERA_hHarnessCreateA("Ticker", ZERA_HARNESS_TEST_CLOCK | ZERA_HARNESS_TEST_LEVEL, NULL);
    ZERA_HarnessStatistics stats;
    return ZERA_boHarnessGetStatistics(h, &stats) + ZERA_boHarnessDestroy(h);
}
#if defined(__cplusplus)
int zera_harness_cpp_check(zera::Harness &h);
int zera_harness_cpp_check(zera::Harness &h) {
    zera::EventPtr ev = h.below(ZERA_EVENT_DATA0, "x", 1);
    return h.push_below(ev, std::chrono::milliseconds(5)) + h.advance(std::chrono::seconds(1)) +
           static_cast<int>(h.now().count() > 0);
}
#endif
