/*
 * host.c - a host program in C, written against ZERA_Host.h only: builds a
 * stack, starts it, sends events to its topmost level, receives what comes
 * down to level 0, stops it and takes it down.
 *
 *     example_host_c [component...]      (default: Counter Loopback Ticker)
 *
 * Components are found as the host kit finds them: in the folders of
 * ZERA_COMPONENT_PATH, the current folder, the program's folder, then the
 * installed components folder. A stack level with a parameter "Period"
 * (Ticker) is set to tick every 50 ms. Exit status 0 when the stack started,
 * something came down and it stopped cleanly; 1 otherwise.
 */
#include <stdio.h>
#include <string.h>

#include "ZERA_Host.h"

#define EVENTS_TO_SEND 5
#define RECEIVE_MS 1000

/* Prints what failed, with the library's code and text. */
static int Failed(const char *what) {
    fprintf(stderr, "example_host_c: %s: error %u: %s\n", what, (unsigned)OSAL_dwGetLastError(),
            OSAL_pszGetLastErrorText());
    return 0;
}

/* Adds one component on top; its level goes to *top. */
static int Add(StackHandle *h0, const char *name, uint8_t *top) {
    uint8_t level = ZERA_bHostAddComponentA(h0, name);
    if (level == 0) return Failed(name);
    printf("level %u: %s\n", (unsigned)level, ZERA_hsComponentNameA(h0, level));
    /* A ticking level ticks faster, so that a short run sees ticks. The
     * typed set checks the value's type and what the component permits. */
    if (ZERA_pstGetStackParamA(h0, level, "Period") != NULL && !ZERA_boHostSetParamDWord(h0, level, "Period", 50)) {
        return Failed("set Period");
    }
    *top = level;
    return 1;
}

/* Builds the stack from the names given, bottom to top, or the sample stack. */
static int Build(StackHandle *h0, int count, char **names, uint8_t *top) {
    int i;
    if (count == 0) return Add(h0, "Counter", top) && Add(h0, "Loopback", top) && Add(h0, "Ticker", top);
    for (i = 0; i < count; ++i) {
        if (!Add(h0, names[i], top)) return 0;
    }
    return 1;
}

/* Sends EVENTS_TO_SEND events to the topmost level, each holding its number. */
static int Send(StackHandle *h0, uint8_t top) {
    uint32_t n;
    for (n = 1; n <= EVENTS_TO_SEND; ++n) {
        Event *ev = ZERA_pstHostCreateEvent(h0, ZERA_EVENT_DATA0, top, (uint32_t)sizeof n);
        if (ev == NULL) return Failed("create an event");
        memcpy(ev->pbData, &n, sizeof n);
        if (!ZERA_boHostSendEvent(h0, ev, 10 * n)) {
            ZERA_boDeleteEvent(ev); /* a refused event stays the sender's */
            return Failed("send an event");
        }
    }
    printf("sent %d events to level %u\n", EVENTS_TO_SEND, (unsigned)top);
    return 1;
}

static int64_t NowMicroseconds(void) {
    TimeVal now;
    OSAL_vGetSystemTime(&now);
    return (int64_t)now.i32Seconds * 1000000 + (now.dwMicroseconds & OSAL_TIME_USEC_MASK);
}

/* Receives for RECEIVE_MS milliseconds; returns the data events received. */
static unsigned Receive(StackHandle *h0) {
    unsigned data = 0, status = 0;
    const int64_t end = NowMicroseconds() + (int64_t)RECEIVE_MS * 1000;
    while (NowMicroseconds() < end) {
        Event *ev = ZERA_pstHostReceiveEvent(h0, 100);
        if (ev == NULL) continue;
        if (ev->i32Type == ZERA_EVENT_ITEMS) ++status; /* a status change */
        else ++data;
        ZERA_boDeleteEvent(ev); /* received events are the receiver's */
    }
    printf("received %u data events and %u status events at level 0\n", data, status);
    return data;
}

int main(int argc, char **argv) {
    uint8_t top = 0;
    int ok;
    StackHandle *h0 = ZERA_hHostStackCreate(NULL);
    if (h0 == NULL) return Failed("create level 0"), 1;
    ok = Build(h0, argc - 1, argv + 1, &top) && (ZERA_boHostStartStack(h0) || Failed("start"));
    if (ok) {
        printf("started\n");
        ok = Send(h0, top) && Receive(h0) > 0;
        if (!ZERA_boHostStopStack(h0)) ok = Failed("stop");
        else printf("stopped\n");
    }
    if (!ZERA_boHostStackDestroy(h0)) ok = Failed("destroy");
    return ok ? 0 : 1;
}
