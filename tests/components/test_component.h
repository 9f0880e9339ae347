/*
 * test_component.h - shared by the test components: a per-module trace of the
 * calls (data exports "TestTrace" and "TestTraceCount", read by the tests while
 * they hold the module), the standard info blocks, parameter helpers.
 */
#ifndef ZERA_TESTS_COMPONENTS_TEST_COMPONENT_H
#define ZERA_TESTS_COMPONENTS_TEST_COMPONENT_H

#include <string.h>

#include "ZERA_Component.h"

/* Kinds of traced calls; an entry is (kind << 8) | level. */
enum {
    TRACE_INFO = 1,   /* ZERA_vInfoBlockInitialize (level 0: it gets no handle) */
    TRACE_INIT = 2,   /* ZERA_boModuleInit */
    TRACE_DEINIT = 3, /* ZERA_boModuleDeinit */
    TRACE_NOTIFY = 4, /* ZERA_vModuleNotifyA/W */
    TRACE_START = 5,  /* ZERA_boModuleStartCommuThreadsA/W */
    TRACE_STOP = 6,   /* ZERA_boModuleStopCommuThreadsA/W */
    TRACE_RELEASE = 7 /* a level's pfnLevelContextRelease (ReleaseTracedContext) */
};

#define TEST_TRACE_CAPACITY 256u

ZERA_EXPORT uint32_t TestTrace[TEST_TRACE_CAPACITY];
ZERA_EXPORT uint32_t TestTraceCount;

static inline void Trace(uint32_t kind, const StackHandle *h) {
    if (TestTraceCount < TEST_TRACE_CAPACITY) {
        TestTrace[TestTraceCount++] = kind << 8 | (h != NULL ? h->u8Level : 0u);
    }
}

/* A level context (its level number) that traces its release. */
static void ZERA_CALL ReleaseTracedContext(void *pvContext) {
    if (TestTraceCount < TEST_TRACE_CAPACITY) TestTrace[TestTraceCount++] = TRACE_RELEASE << 8 | *(uint32_t *)pvContext;
    ZERA_vFree(pvContext);
}

static inline void SetTracedContext(StackHandle *h) {
    uint32_t *level = (uint32_t *)ZERA_pvMalloc(sizeof *level);
    if (level == NULL) return;
    *level = h->u8Level;
    h->pvLevelContext = level;
    h->pfnLevelContextRelease = ReleaseTracedContext;
}

/* Version 0.1 on both blocks; the upper one takes any level on top. */
static inline void StandardBlocks(InfoBlock *own, InfoBlock *upper, uint32_t ownFlags) {
    own->dwVersion = 0x00000001u;
    own->dwFlags = ownFlags;
    upper->dwVersion = 0x00000001u;
    upper->dwFlags = 0x01u;
}

/* A narrow name or text widened into a buffer of 64 units. */
typedef struct WideText {
    WCHAR16 units[64];
} WideText;

static inline WideText Widen(const char *s) {
    WideText w;
    size_t i = 0;
    for (; s[i] != '\0' && i + 1 < sizeof w.units / sizeof w.units[0]; ++i) {
        w.units[i] = (WCHAR16)(unsigned char)s[i];
    }
    w.units[i] = 0;
    return w;
}

static inline BOOL8 CreateList(Param **pp) { return ZERA_boCreateParListA(pp); }

/* AddDWord and AddReal: a number parameter in the list's width. */
#define TC_ADD_NUMBER(fn, type, ctype)                                                                          \
    static inline BOOL8 fn(int wide, Param **pp, uint32_t *count, const char *name, uint32_t access,           \
                           uint8_t attributes, ctype value) {                                                  \
        ParamValue **cursor = NULL;                                                                            \
        WideText w = Widen(name);                                                                              \
        return wide ? ZERA_boAddParamW(1, 0, pp, count, &cursor, type, access, attributes, 0, 0, w.units, value) \
                    : ZERA_boAddParamA(1, 0, pp, count, &cursor, type, access, attributes, 0, 0, name, value);   \
    }
TC_ADD_NUMBER(AddDWord, ZERA_PARAM_DWORD, uint32_t)
TC_ADD_NUMBER(AddReal, ZERA_PARAM_REAL, double)

static inline BOOL8 AddString(int wide, Param **pp, uint32_t *count, const char *name, uint32_t access,
                              uint8_t attributes, const char *value) {
    ParamValue **cursor = NULL;
    if (!wide) {
        return ZERA_boAddParamA(1, 0, pp, count, &cursor, ZERA_PARAM_STRING, access, attributes, 0, 0, name, value);
    }
    WideText w = Widen(name);
    WideText v = Widen(value);
    return ZERA_boAddParamW(1, 0, pp, count, &cursor, ZERA_PARAM_STRING, access, attributes, 0, 0, w.units,
                            v.units);
}

/* The level's own parameter of that name (narrow or wide by the level). */
static inline Param *OwnParam(StackHandle *h, const char *name) {
    if (h->pstStackParams == NULL) return NULL;
    if (!h->boWide) return ZERA_pastFindParamA(h->pstStackParams, name);
    WideText w = Widen(name);
    return ZERA_pastFindParamW(h->pstStackParams, w.units);
}

/* The exports most test components share; one that must differ writes its own. */
#define TC_STANDARD_INFO()                                                                                        \
    ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) { \
        Trace(TRACE_INFO, NULL);                                                                                  \
        StandardBlocks(pstInfoBlock, pstUpperInfoBlock, 0);                                                       \
    }
#define TC_EMPTY_PARAMS()                                                                         \
    ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t dwFlags, Param **ppstStackParams) { \
        (void)dwFlags;                                                                            \
        return CreateList(ppstStackParams);                                                       \
    }
#define TC_TRACED_INIT()                                            \
    ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) { \
        Trace(TRACE_INIT, h);                                       \
        return 1;                                                   \
    }
/* Both parameter setups from one Setup(int wide, Param **). */
#define TC_SETUP_BOTH(Setup)                                                                      \
    ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListA(uint32_t dwFlags, Param **ppstStackParams) { \
        (void)dwFlags;                                                                            \
        return Setup(0, ppstStackParams);                                                         \
    }                                                                                             \
    ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boSetupParListW(uint32_t dwFlags, Param **ppstStackParams) { \
        (void)dwFlags;                                                                            \
        return Setup(1, ppstStackParams);                                                         \
    }
/* A traced start and stop pair of one width (A or W) that start no threads. */
#define TC_TRACED_THREADS(width)                                                                 \
    ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStartCommuThreads##width(StackHandle *h) {          \
        Trace(TRACE_START, h);                                                                   \
        return 1;                                                                                \
    }                                                                                            \
    ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleStopCommuThreads##width(StackHandle *h) {           \
        Trace(TRACE_STOP, h);                                                                    \
        return 1;                                                                                \
    }
#define TC_TRACED_DEINIT()                                            \
    ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) { \
        Trace(TRACE_DEINIT, h);                                       \
        return 1;                                                     \
    }

#endif /* ZERA_TESTS_COMPONENTS_TEST_COMPONENT_H */
