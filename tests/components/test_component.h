/*
 * test_component.h - the shape the test components share: a per-module trace
 * of the calls (data exports "TestTrace" and "TestTraceCount", read by the
 * tests while they hold the module), the standard info blocks, the exports
 * most of them have in the same form, parameter helpers.
 */
#ifndef ZERA_TESTS_COMPONENTS_TEST_COMPONENT_H
#define ZERA_TESTS_COMPONENTS_TEST_COMPONENT_H

#include "ZERA_Component.h"

/* Kinds of traced calls; an entry is (kind << 8) | level:
 *   TRACE_INFO     ZERA_vInfoBlockInitialize (level 0: it gets no handle)
 *   TRACE_INIT     ZERA_boModuleInit
 *   TRACE_DEINIT   ZERA_boModuleDeinit
 *   TRACE_NOTIFY   ZERA_vModuleNotifyA/W
 *   TRACE_START    ZERA_boModuleStartCommuThreadsA/W
 *   TRACE_STOP     ZERA_boModuleStopCommuThreadsA/W
 *   TRACE_RELEASE  a level's pfnLevelContextRelease (ReleaseTracedContext) */
enum { TRACE_INFO = 1, TRACE_INIT, TRACE_DEINIT, TRACE_NOTIFY, TRACE_START, TRACE_STOP, TRACE_RELEASE };

#define TEST_TRACE_CAPACITY 256u

ZERA_EXPORT uint32_t TestTrace[TEST_TRACE_CAPACITY];
ZERA_EXPORT uint32_t TestTraceCount;

/* Records a call; true, so that a traced export can return it. */
static inline BOOL8 Trace(uint32_t kind, uint32_t level) {
    if (TestTraceCount < TEST_TRACE_CAPACITY) TestTrace[TestTraceCount++] = kind << 8 | level;
    return 1;
}

/* Traced calls for the kit's thread and notification macros; the start starts no thread. */
static inline BOOL8 TracedStart(StackHandle *h) { return Trace(TRACE_START, h->u8Level); }
static inline void TracedStop(StackHandle *h) { Trace(TRACE_STOP, h->u8Level); }
static inline void TracedNotify(StackHandle *h) { Trace(TRACE_NOTIFY, h->u8Level); }

/* Version 0.1 on both blocks; the upper one takes any level on top. */
static inline void StandardBlocks(InfoBlock *own, InfoBlock *upper, uint32_t ownFlags) {
    Trace(TRACE_INFO, 0);
    own->dwVersion = upper->dwVersion = 0x00000001u;
    own->dwFlags = ownFlags;
    upper->dwFlags = 0x01u;
}

/* A narrow name or text widened into a buffer of 64 units. */
typedef struct WideText {
    WCHAR16 units[64];
} WideText;

static inline WideText Widen(const char *s) {
    WideText w;
    size_t i = 0;
    for (; s[i] != '\0' && i + 1 < sizeof w.units / sizeof w.units[0]; ++i) w.units[i] = (WCHAR16)(unsigned char)s[i];
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
    WideText w = Widen(name), v = Widen(value);
    return wide ? ZERA_boAddParamW(1, 0, pp, count, &cursor, ZERA_PARAM_STRING, access, attributes, 0, 0, w.units,
                                   v.units)
                : ZERA_boAddParamA(1, 0, pp, count, &cursor, ZERA_PARAM_STRING, access, attributes, 0, 0, name, value);
}

/* The level's own parameter of that name (narrow or wide by the level). */
static inline Param *OwnParam(StackHandle *h, const char *name) {
    WideText w = Widen(name);
    if (h->pstStackParams == NULL) return NULL;
    return h->boWide ? ZERA_pastFindParamW(h->pstStackParams, w.units) : ZERA_pastFindParamA(h->pstStackParams, name);
}

/* The binding, the name, the standard info blocks with the own flags given,
 * a traced init and (unless a component writes its own) a traced deinit. */
#define TC_LEVEL(name, ownFlags)                                                                                  \
    ZERA_COMPONENT_BINDING()                                                                                      \
    ZERA_COMPONENT_NAME(name)                                                                                     \
    ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) { \
        StandardBlocks(pstInfoBlock, pstUpperInfoBlock, ownFlags);                                                \
    }                                                                                                             \
    TC_TRACED_INIT()
#define TC_TRACED_EXPORT(name, kind) \
    ZERA_EXPORT BOOL8 ZERA_CALL name(StackHandle *h) { return Trace(kind, h->u8Level); }
#define TC_TRACED_INIT() TC_TRACED_EXPORT(ZERA_boModuleInit, TRACE_INIT)
#define TC_TRACED_DEINIT() TC_TRACED_EXPORT(ZERA_boModuleDeinit, TRACE_DEINIT)

#endif /* ZERA_TESTS_COMPONENTS_TEST_COMPONENT_H */
