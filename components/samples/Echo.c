/*
 * Echo.c - sample component in C: answers every event sent to its level.
 *
 * Echo completes the stack and fits on the host's level 0 or on any sample
 * level that takes a level on top (Counter, Loopback): `Echo` alone is the
 * smallest stack that runs. While the stack runs, its level's thread takes
 * each event sent to the level (ZERA_pstGetNextSendEvent) when it falls due
 * and answers it with a type-2 event of its own level carrying the same
 * data, which goes down through the input filter: on `Echo` alone the host
 * receives the answers at level 0. When the stack starts, the thread first
 * sends the greeting down the same way.
 *
 * Written with the component kit's macros only, so every pair of exports
 * the library looks up is defined whole; its thread is the kit's level
 * thread, which owns the stop protocol.
 *
 * Parameters: "Greeting" (string, settable while the stack is stopped; its
 * bytes are the data of the event sent down at each start; empty: none),
 * "Answer" (1: answer each event, 0: take it and drop it; settable always).
 */
#include <stdlib.h>
#include <string.h>

#include "ZERA_Component.h"

/* What Echo keeps per level; the level's pvLevelContext points to it. */
typedef struct EchoLevel {
    StackHandle *h;
    OSAL_HMUTEX mutex; /* guards answer and greeting */
    BOOL8 answer;
    char greeting[256];
    ZERA_HLEVELTHREAD thread;
} EchoLevel;

static EchoLevel *Of(StackHandle *h) { return (EchoLevel *)h->pvLevelContext; }

/* Sends `size` bytes down from the level as a type-2 event of its own. */
static void SendDown(EchoLevel *e, const void *data, uint32_t size) {
    Event *ev = ZERA_pstCreateEventEx(e->h, ZERA_EVENT_DATA2, e->h->u8Level, size, 0, 0);
    if (ev == NULL) return;
    if (size != 0) memcpy(ev->pbData, data, size);
    ZERA_vInputFilter(e->h, ev); /* the filter owns it now */
}

static void ZERA_CALL Run(ZERA_HLEVELTHREAD t, void *arg) {
    EchoLevel *e = (EchoLevel *)arg;
    char greeting[sizeof e->greeting];
    const TimeVal noLead = {0, 0};
    Event *ev;
    OSAL_boMutexLock(e->mutex);
    memcpy(greeting, e->greeting, sizeof greeting);
    OSAL_vMutexUnlock(e->mutex);
    if (greeting[0] != '\0') SendDown(e, greeting, (uint32_t)strlen(greeting));
    /* Null once the level is stopped. */
    while ((ev = ZERA_pstLevelThreadNextSendEvent(t, &noLead)) != NULL) {
        BOOL8 answer;
        OSAL_boMutexLock(e->mutex);
        answer = e->answer;
        OSAL_vMutexUnlock(e->mutex);
        if (answer && ev->i32Type <= ZERA_EVENT_DATA2) SendDown(e, ev->pbData, ev->dwDataSize);
        ZERA_boDeleteEvent(ev);
    }
}

/* Frees what the init made (the delete stops and joins the thread). */
static void Release(EchoLevel *e) {
    ZERA_boLevelThreadDelete(e->thread);
    if (e->mutex != NULL) OSAL_vMutexDelete(e->mutex);
    free(e);
}

static BOOL8 Start(StackHandle *h) {
    EchoLevel *e = Of(h);
    return e != NULL && ZERA_boLevelThreadStart(e->thread, Run, e);
}

static void Stop(StackHandle *h) {
    EchoLevel *e = Of(h);
    if (e != NULL) ZERA_boLevelThreadStop(e->thread);
}

/* Copies the parameters for the thread: it never reads the list, which the
 * host may be setting. */
static void Notify(StackHandle *h) {
    EchoLevel *e = Of(h);
    Param *greeting, *answer;
    if (e == NULL) return;
    greeting = h->boWide ? ZERA_pastFindParamW(h->pstStackParams, ZERA_WTEXT("Greeting"))
                         : ZERA_pastFindParamA(h->pstStackParams, "Greeting");
    answer = h->boWide ? ZERA_pastFindParamW(h->pstStackParams, ZERA_WTEXT("Answer"))
                       : ZERA_pastFindParamA(h->pstStackParams, "Answer");
    OSAL_boMutexLock(e->mutex);
    if (answer != NULL) e->answer = answer->uValue.dw != 0;
    e->greeting[0] = '\0';
    if (greeting != NULL && h->boWide && greeting->uValue.ls != NULL) {
        /* A wide level's string, one byte per unit ('?' above 0xFF). */
        size_t i;
        for (i = 0; greeting->uValue.ls[i] != 0 && i + 1 < sizeof e->greeting; ++i)
            e->greeting[i] = greeting->uValue.ls[i] > 0xFF ? '?' : (char)greeting->uValue.ls[i];
        e->greeting[i] = '\0';
    } else if (greeting != NULL && !h->boWide && greeting->uValue.hs != NULL) {
        strncpy(e->greeting, greeting->uValue.hs, sizeof e->greeting - 1);
        e->greeting[sizeof e->greeting - 1] = '\0';
    }
    OSAL_vMutexUnlock(e->mutex);
}

static void DeclareParams(ZERA_PARAM_LIST *l) {
    ZERA_DECLARE_STRING(l, "Greeting", ZERA_ACCESS_STOPPED, "hello");
    ZERA_DECLARE_DWORD(l, "Answer", ZERA_ACCESS_ALWAYS, 1);
    ZERA_PERMIT_DWORDS(l, 0, 1);
}

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Echo.COMPONENT")
ZERA_COMPONENT_ABOUT("VOQ_ZERA_Comp samples", "Answers every event sent to its level", "as VOQ_ZERA_Comp")
/* The sample family 0.1. Range B [0xFFFFFFFF, 0xFFFFFFFF] fits any place;
 * the upper block's ZERA_INFO_COMPLETES_STACK (without ZERA_INFO_TAKES_ON_TOP)
 * takes nothing on top. */
ZERA_COMPONENT_INFO(
    ZERA_INFO_VERSION(0, 1) ZERA_INFO_FLAGS(ZERA_INFO_COMPLETES_STACK) ZERA_INFO_RANGE_B(0xFFFFFFFFu, 0xFFFFFFFFu),
    ZERA_INFO_VERSION(0, 1) ZERA_INFO_FLAGS(ZERA_INFO_COMPLETES_STACK))
ZERA_COMPONENT_DECLARE_PARAMS(DeclareParams)
ZERA_COMPONENT_THREADS(Start, Stop)
ZERA_COMPONENT_NOTIFY(Notify)

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {
    EchoLevel *e = (EchoLevel *)calloc(1, sizeof *e);
    if (e == NULL) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return 0;
    }
    e->h = h;
    e->mutex = OSAL_hMutexCreate();
    e->thread = ZERA_hLevelThreadCreate(h);
    if (e->mutex == NULL || e->thread == NULL) {
        Release(e);
        return 0;
    }
    h->pvLevelContext = e;
    Notify(h);
    return 1;
}

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) {
    if (Of(h) != NULL) Release(Of(h));
    h->pvLevelContext = NULL;
    return 1;
}
