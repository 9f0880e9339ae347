/*
 * zera/types.h - the records that cross module boundaries, and the calling
 * convention of the library's exports.
 *
 * Field order and widths are binding: hosts and components written against
 * another build of this library read the same records. On 32-bit targets a
 * StackHandle is 316 bytes and an InfoBlock 36; on 64-bit targets pointers
 * grow and dwSize holds sizeof(StackHandle).
 *
 * Pure C (C11 and C++17 clean). Included through VOQ_ZERA_Comp.h.
 */
#ifndef ZERA_TYPES_H
#define ZERA_TYPES_H

#include <stddef.h>
#include <stdint.h>

#include "VOQ_OSAL.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define ZERA_CALL __stdcall
#define ZERA_CDECL __cdecl
#else
#define ZERA_CALL
#define ZERA_CDECL
#endif

/* ZERA_API marks the library's operations: exported by VOQ_ZERA_Comp.dll
 * (CMake defines VOQ_ZERA_Comp_EXPORTS while it builds it; the .def file
 * gives the names), imported by every other module. ZERA_EXPORT marks what
 * a module exports of its own: a component's exports, defined in the
 * component (see ZERA_Component.h). */
#if defined(_WIN32)
#if defined(VOQ_ZERA_Comp_EXPORTS)
#define ZERA_API __declspec(dllexport)
#else
#define ZERA_API __declspec(dllimport)
#endif
#define ZERA_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
#define ZERA_API __attribute__((visibility("default")))
#define ZERA_EXPORT __attribute__((visibility("default")))
#else
#define ZERA_API
#define ZERA_EXPORT
#endif

/* Marks the anonymous structs of the event record: standard C11, an
 * extension that GCC and clang accept in C++ (and say so under -Wpedantic
 * unless told it is meant). */
#if defined(__GNUC__)
#define ZERA_ANONYMOUS __extension__
#else
#define ZERA_ANONYMOUS
#endif

/* A pointer-wide unsigned word: 32 bits on the 32-bit targets. */
typedef uintptr_t ZERA_UPTR;

#define ZERA_HANDLE_MAGIC 0x12563478u
#define ZERA_INFOBLOCK_MAGIC 0x56127834u
#define ZERA_MAX_LEVEL 31u
#define ZERA_ENTRY_COUNT 36
#define ZERA_QUEUE_CAPACITY 32768u

/* dwStatus bits of a StackHandle. */
#define ZERA_STATUS_COMPLETE 0x00000001u
#define ZERA_STATUS_STARTED 0x00000002u
#define ZERA_STATUS_NO_EVID 0x40000000u /* set by the host: no identifier management */
#define ZERA_STATUS_BIT31 0x80000000u

/* Identifiers 0xFFFFFFC0..0xFFFFFFFF are never handed out; the cancel
 * operation uses some of them as wildcards. */
#define ZERA_EVID_RESERVED_FIRST 0xFFFFFFC0u

typedef struct StackHandle StackHandle;
typedef struct Event Event;

/* One entry of a level's entry-point table; callers cast to the slot's type. */
typedef void (ZERA_CALL *ZERA_PFN)(void);

/* ---- Parameter lists ------------------------------------------------------ */

/* The 8-byte value of a parameter or permitted value, by the parameter's type:
 * 0 string (hs narrow or ls wide, a heap copy), 1 and 2 dw, 3 r. */
typedef union ParamData {
    char *hs;
    WCHAR16 *ls;
    void *pv;
    uint32_t dw;
    double r;
    uint64_t qw;
} ParamData;

/* One permitted value (dwKind 0) or range (dwKind 1) of a parameter. */
typedef struct ParamValue {
    struct ParamValue *pstNext;
    uint32_t dwKind;
    ParamData uFrom;
    ParamData uTo;
    uint32_t dwTag;
} ParamValue;

/* One parameter; an array of them ends with a record whose pName is null. */
typedef struct Param {
    void *pName; /* name, NUL, additional text, NUL, in the list's width */
    uint32_t dwType;
    uint32_t dwAccess;
    uint8_t u8Attributes;
    uint8_t u8ChangeFlags;
    uint8_t u8Tag;
    ParamData uValue;
    ParamValue *pstValues;
} Param;

#define ZERA_PARAM_STRING 0u
#define ZERA_PARAM_DWORD 1u
#define ZERA_PARAM_DWORD2 2u
#define ZERA_PARAM_REAL 3u

/* ---- Info blocks -------------------------------------------------------------- */

typedef struct InfoBlock {
    uint32_t dwMagic;
    uint32_t dwSize;
    uint32_t dwFlags;
    uint32_t dwVersion; /* major << 16 | minor */
    uint16_t u16MinPartnerMinor;
    uint16_t u16Reserved;
    uint32_t dwRangeALow;
    uint32_t dwRangeAHigh;
    uint32_t dwRangeBLow;
    uint32_t dwRangeBHigh;
} InfoBlock;

/* dwFlags value of a level that completes the stack. */
#define ZERA_INFO_COMPLETES_STACK 0x08u

/* ---- Event identifiers ---------------------------------------------------- */

typedef struct EvIdManager {
    StackHandle *pstLevel; /* null while not initialised */
    OSAL_HMUTEX hMutex;    /* guards every other field of the manager; a draw inside
                              a run moves dwNextId on by an atomic swap without it */
    uint32_t dwNextId;     /* >= ZERA_EVID_RESERVED_FIRST: none ready */
    uint8_t u8CurBlock;
    uint8_t u8NumBlocks;
    uint16_t u16BlockSize;
    uint32_t *padwBlocks; /* u8NumBlocks first identifiers; owned */
} EvIdManager;

/* Returned by value by a component's ZERA_stGetEvIdManagerConfig. */
typedef struct EvIdManagerConfig {
    uint16_t u16BlockSize;
    uint8_t u8NumBlocks;
    uint8_t u8Unused;
} EvIdManagerConfig;

/* ---- Stack handle ------------------------------------------------------------ */

/* The record behind a level-0 handle's pvLevelContext. The host owns it and
 * may make it larger; the library uses dwNextLevelLink and dwLevelMask only. */
typedef struct HostStackDescriptor {
    uint32_t adwHostData[2]; /* the host's own */
    ZERA_UPTR dwNextLevelLink; /* address of level 1 XOR the process key */
    uint32_t dwLevelMask;      /* bit n: level n is present */
} HostStackDescriptor;

/* Locks: "set up" fields are written while the level is created and bound,
 * before it is linked into the chain, and stay until it is closed, so they
 * are read without a lock; adding and removing levels must not run
 * concurrently with anything else on the same stack. */
struct StackHandle {
    uint32_t dwMagic;     /* set up; cleared at close */
    uint32_t dwSize;      /* set up */
    uint32_t dwReserved1; /* 0 when a level-0 handle is created; not otherwise used */
    uint32_t dwReserved2;
    BOOL8 boWide;         /* set up */
    uint32_t dwStatus;    /* no lock: whole-word relaxed atomic accesses (several levels' threads) */
    InfoBlock *pstInfoBlock;      /* set up */
    InfoBlock *pstUpperInfoBlock; /* set up */
    uint8_t u8Level;              /* set up */
    OSAL_HMODULE hModule;         /* set up */
    void *pvComponentName;        /* set up */
    OSAL_HQUEUE hSendQueue;       /* set up; the queue locks itself */
    OSAL_HQUEUE hRecvQueue;       /* set up; the queue locks itself */
    uint32_t dwWantedLevels;      /* no lock: whole-word relaxed atomic accesses */
    uint32_t dwLowerWantedLevels; /* no lock: whole-word relaxed atomic accesses */
    uint32_t dwWantedTypes;       /* no lock: whole-word relaxed atomic accesses */
    Param *pstStackParams; /* no lock: the component and the host use it one thread at a time */
    ZERA_PFN apfnEntry[ZERA_ENTRY_COUNT]; /* set up (filled by binding) */
    void *pvLevelContext;                 /* set up; a level 0's descriptor holds the masked link to level 1 */
    void (ZERA_CALL *pfnLevelContextRelease)(void *pvContext); /* set up */
    StackHandle *pstNextLevel; /* the chain: changed only by adding and removing levels */
    StackHandle *pstPrevLevel; /* the chain: changed only by adding and removing levels */
    TimeVal stTimeOffset; /* no lock: only the level's input filter, on its answers' one taker thread */
    OSAL_HMUTEX hMutex; /* set up; guards astStatistics and the four load figures */
    uint32_t astStatistics[3][4]; /* hMutex */
    uint16_t u16LoadA;            /* hMutex */
    uint16_t u16LoadB;            /* hMutex */
    uint16_t u16LoadAMax;         /* hMutex */
    uint16_t u16LoadBMax;         /* hMutex */
    EvIdManager stEvIdManager;    /* its own hMutex guards it */
};

/* ---- Events ------------------------------------------------------------------ */

/* An item of a type-3 event: 12 bytes for kind 0, 16 for kinds 1 and 2. */
#pragma pack(push, 4)
typedef struct EventItem {
    uint32_t dwKind;
    uint32_t dwItemSize;
    union {
        uint32_t dw;
        uint64_t qw;
    };
} EventItem;
#pragma pack(pop)

/* One parameter list attached to an event, for one level and selector. */
typedef struct Attachment {
    struct Attachment *pstNext;
    uint8_t u8Level;
    uint8_t u8Selector;
    Param *pParList;
} Attachment;

struct Event {
    int32_t i32Type;
    uint8_t u8Level;
    BOOL8 boWideAttach;
    uint8_t u8Error;
    uint32_t dwEventId;
    TimeVal stTimeStamp;
    uint32_t dwFlags;
    Attachment *pstAttachments;
    ZERA_ANONYMOUS union {
        ZERA_ANONYMOUS struct { /* types 0, 1, 2: data events */
            uint64_t u64Aux1;
            uint64_t u64Aux2;
            uint8_t u8Options;
            uint8_t u8QueueOp;
            uint8_t u8Aux3;
            uint32_t dwDataSize;
            uint8_t *pbData;
            uint16_t u16RepeatCount;
            TimeVal stPeriod;
        };
        ZERA_ANONYMOUS struct { /* type 3: item list */
            uint32_t dwItemsSize;
            uint32_t dwItemCount;
            uint8_t *pbItems;
        };
        ZERA_ANONYMOUS struct { /* type 4: interval */
            TimeVal stInterval;
        };
    };
    uint32_t dwOwnerEventId;
    StackHandle *pstOwner;
};

/* u8Options bits of a data event. */
#define ZERA_OPT_AUX1 0x01u
#define ZERA_OPT_AUX2 0x02u
#define ZERA_OPT_AUX3 0x04u
#define ZERA_OPT_REPEATING 0x08u
#define ZERA_OPT_COPY 0x80u

/* dwFlags bits of an event. */
#define ZERA_EVF_FOLLOW_ANSWERS 0x00000008u
#define ZERA_EVF_REQUEUE_FAILED 0x00010000u
#define ZERA_EVF_LATE 0x00200000u
#define ZERA_EVF_ERROR_MARK 0x80020000u

/* ---- Marshal packets ------------------------------------------------------- */

/* An opaque packet handle (ZERA_hMarshalPacketCreate). */
typedef void *ZERA_HPACKET;

/* ---- Record sizes ------------------------------------------------------------ */

#if defined(__cplusplus)
#define ZERA_STATIC_ASSERT static_assert
#else
#define ZERA_STATIC_ASSERT _Static_assert
#endif

ZERA_STATIC_ASSERT(sizeof(InfoBlock) == 36, "InfoBlock is 36 bytes");
ZERA_STATIC_ASSERT(sizeof(TimeVal) == 8, "TimeVal is 8 bytes");
ZERA_STATIC_ASSERT(sizeof(EvIdManagerConfig) == 4, "EvIdManagerConfig is 4 bytes");
ZERA_STATIC_ASSERT(sizeof(EventItem) == 16, "EventItem holds a 64-bit value");
#if UINTPTR_MAX == 0xFFFFFFFFu
ZERA_STATIC_ASSERT(sizeof(StackHandle) == 316, "StackHandle is 316 bytes on 32-bit targets");
ZERA_STATIC_ASSERT(offsetof(StackHandle, apfnEntry) == 68, "entry table offset");
ZERA_STATIC_ASSERT(offsetof(StackHandle, stEvIdManager) == 296, "manager offset");
ZERA_STATIC_ASSERT(offsetof(HostStackDescriptor, dwNextLevelLink) == 8, "link at byte 8");
ZERA_STATIC_ASSERT(offsetof(HostStackDescriptor, dwLevelMask) == 12, "mask at byte 12");
ZERA_STATIC_ASSERT(sizeof(EvIdManager) == 20, "EvIdManager is 20 bytes");
#endif

#ifdef __cplusplus
}
#endif

#endif /* ZERA_TYPES_H */
