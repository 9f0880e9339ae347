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

#if defined(ZERA_CHECK_NO_THREADS)
static BOOL8 CheckSetup(BOOL8 boWide, Param **ppstStackParams) {
    return boWide ? ZERA_boCreateParListW(ppstStackParams) : ZERA_boCreateParListA(ppstStackParams);
}
#else
static BOOL8 CheckStart(StackHandle *h) { return h != NULL; }
static void CheckStop(StackHandle *h) { (void)h; }
#endif
static void CheckNotify(StackHandle *h) { (void)h; }

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Check.COMPONENT")
ZERA_COMPONENT_INFO(ZERA_INFO_VERSION(0, 1) ZERA_INFO_MIN_PARTNER_MINOR(1) ZERA_INFO_FLAGS(ZERA_INFO_COMPLETES_STACK)
                        ZERA_INFO_RANGE_A(1, 2) ZERA_INFO_RANGE_B(3, 4),
                    ZERA_INFO_NONE)
#if defined(ZERA_CHECK_NO_THREADS)
ZERA_COMPONENT_PARAMS(CheckSetup)
#else
/* The other form of the setup: each parameter declared once for both widths. */
static void CheckDeclare(ZERA_PARAM_LIST *l) {
    ZERA_DECLARE_DWORD(l, "Rate", ZERA_ACCESS_STOPPED, 100);
    ZERA_PERMIT_DWORDS(l, 1, 1000);
    ZERA_DECLARE_REAL(l, "Gain", ZERA_ACCESS_ALWAYS, 1.5);
    ZERA_PERMIT_REALS(l, 0.5, 2);
    ZERA_DECLARE_STRING(l, "Mode", ZERA_ACCESS_ALWAYS, "fast");
    ZERA_PERMIT_STRING(l, "fast");
    ZERA_vDeclareAttachable(l);
}
ZERA_COMPONENT_DECLARE_PARAMS(CheckDeclare)
ZERA_COMPONENT_ABOUT("Author", "Description", "Licence")
#endif
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
    ZERA_STATISTICS stats;
    uint32_t dwDWord = 0;
    (void)ZERA_boHostGetStatistics(NULL, 1, &stats);
    (void)ZERA_boHostSetParamDWord(NULL, 1, "Rate", ZERA_STATS_LOAD_A(stats.dwLoad));
    (void)ZERA_boHostGetParamDWord(NULL, 1, "Rate", &dwDWord);
    return (int)ZERA_STATS_INDEX(2, 3) + (int)ZERA_STATS_LOAD_MAX + (int)sizeof(StackHandle) + (ev != NULL ? (int)ev->dwDataSize + (int)ev->dwItemCount : 0);
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
