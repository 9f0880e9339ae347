/*
 * VOQ_OSAL.h - public interface of the platform layer.
 *
 * Errors, dynamic modules, locks, time-ordered queues with cursors and waits,
 * named shared memory, wall-clock time and byte order. Pure C (C11 and C++17
 * clean); included by the library, by components and by hosts.
 *
 * Unless said otherwise an operation stores its failure code for the calling
 * thread (OSAL_dwGetLastError) and returns false, null or nothing.
 */
#ifndef VOQ_OSAL_H
#define VOQ_OSAL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Calling convention and visibility --------------------------------- */

#if defined(_WIN32) && !defined(_WIN64)
#define OSAL_CALL __stdcall
#define OSAL_CDECL __cdecl
#else
#define OSAL_CALL
#define OSAL_CDECL
#endif

/* Exported by VOQ_OSAL.dll (CMake defines VOQ_OSAL_EXPORTS while it builds
 * it; the .def file gives names and ordinals), imported by everyone else. */
#if defined(_WIN32) && defined(VOQ_OSAL_EXPORTS)
#define OSAL_API __declspec(dllexport)
#elif defined(_WIN32)
#define OSAL_API __declspec(dllimport)
#elif defined(__GNUC__)
#define OSAL_API __attribute__((visibility("default")))
#else
#define OSAL_API
#endif

/* ---- Basic types -------------------------------------------------------- */

/* Boolean byte: 0 false, 1 true. */
typedef uint8_t BOOL8;

/* A 16-bit string code unit; the platform's wchar_t is 32 bits on Linux. */
#if defined(_WIN32)
typedef wchar_t WCHAR16;
#elif defined(__cplusplus)
typedef char16_t WCHAR16;
#else
typedef uint16_t WCHAR16;
#endif

/* A time value: bits 0-30 of dwMicroseconds hold microseconds, bit 31 marks a
 * RELATIVE value (a duration counted from now) rather than a point in time. */
typedef struct TimeVal {
    uint32_t dwMicroseconds;
    int32_t i32Seconds;
} TimeVal;

#define OSAL_TIME_RELATIVE 0x80000000u
#define OSAL_TIME_USEC_MASK 0x7FFFFFFFu

/* Zero: do not wait. */
OSAL_API extern const TimeVal OSAL_stTimeNoWait;
/* No limit: {0xFFFFFFFF, 0x7FFFFFFF}. It carries the RELATIVE bit, so
 * "RELATIVE and not infinite" tests must compare against it explicitly. */
OSAL_API extern const TimeVal OSAL_stTimeInfinite;

/* ---- Error codes --------------------------------------------------------- */

/* Codes shared by the platform layer and the library; every one has a text
 * (OSAL_pszGetErrorText). Values are stored and passed as uint32_t; the tag
 * only names the list. */
enum OSAL_ErrorCode {
    OSAL_ERR_NONE = 0,
    OSAL_ERR_PREV_LEVEL = 1024,        /* previous level of a closed handle invalid */
    OSAL_ERR_NOT_AVAILABLE = 1025,
    OSAL_ERR_NO_MEMORY = 1026,
    OSAL_ERR_INVALID_HANDLE = 1027,
    OSAL_ERR_INVALID_ARG = 1028,
    OSAL_ERR_NAME_NOT_FOUND = 1029,    /* a name not exported by a module */
    OSAL_ERR_LOAD_FAILED = 1030,       /* a module cannot be loaded */
    OSAL_ERR_SYSTEM = 1031,            /* an operating-system call failed */
    OSAL_ERR_SHORT_PACKET = 1032,
    OSAL_ERR_ATTACH_COPY = 1033,
    OSAL_ERR_INVALID_SIZE = 1034,
    OSAL_ERR_MODULE_REFUSED = 1035,
    OSAL_ERR_INIT_FAILED = 1036,
    OSAL_ERR_QUEUE_FULL = 1037,        /* a put into a full queue */
    OSAL_ERR_NOT_PRIVATE = 1038,       /* a segment's files are another user's or open to others */
    OSAL_ERR_DUPLICATE_ID = 1046,
    OSAL_ERR_INVALID_LEVEL = 2048,
    OSAL_ERR_INFO_MISMATCH = 2055,
    OSAL_ERR_TYPE_RANGE = 2056,
    OSAL_ERR_VERSION_MISMATCH = 2057,
    OSAL_ERR_NOT_OWNER = 2058,
    OSAL_ERR_NOT_COMPLETE = 2060,
    OSAL_ERR_ID_MISMATCH = 2061,
    OSAL_ERR_NO_OWNER = 2062
};

/* Argument kinds of OSAL_vSetLastErrorArgs / OSAL_vSetLastErrorText. */
#define OSAL_ARG_NONE 0u
#define OSAL_ARG_DWORD 3u
#define OSAL_ARG_STRING 14u /* a narrow NUL-terminated string, copied */

/* Severity of an error stored with a text. */
#define OSAL_SEVERITY_ERROR 2u

/* ---- Start and end -------------------------------------------------------- */

/* Starts the layer; counted, so every successful call needs one OSAL_vDeinit. */
OSAL_API BOOL8 OSAL_CALL OSAL_boInit(void);
OSAL_API void OSAL_CALL OSAL_vDeinit(void);

/* ---- Errors (all per thread) --------------------------------------------- */

/* The fixed text of a code, or null for an unknown code. Static storage; the
 * caller copies it if it keeps it. */
OSAL_API const char *OSAL_CALL OSAL_pszGetErrorText(uint32_t dwCode);
/* Stores a code with no argument, severity 0 and no text. */
OSAL_API void OSAL_CALL OSAL_vSetLastError(uint32_t dwCode);
OSAL_API uint32_t OSAL_CALL OSAL_dwGetLastError(void);
/* Stores a code with an argument. OSAL_ARG_STRING copies the string that
 * pvValue points to (cut at 1023 bytes); OSAL_ARG_DWORD takes the value from
 * (uintptr_t)pvValue. Storing never fails: a thread's first store makes its
 * record (released when the thread ends), and a thread that cannot have one
 * keeps the code alone. */
OSAL_API void OSAL_CALL OSAL_vSetLastErrorArgs(uint32_t dwCode, uint32_t dwArgKind,
                                               const void *pvValue);
/* Stores a code with a severity, a message text (copied; may be null) and an
 * argument as OSAL_vSetLastErrorArgs. */
OSAL_API void OSAL_CALL OSAL_vSetLastErrorText(uint32_t dwCode, uint32_t dwSeverity,
                                               const char *pszText, uint32_t dwArgKind,
                                               const void *pvValue);
/* The severity stored with the last error (0 when none was given). */
OSAL_API uint32_t OSAL_CALL OSAL_dwGetLastErrorSeverity(void);
/* The last error's string argument, or null. Valid until the thread stores
 * its next error. */
OSAL_API const char *OSAL_CALL OSAL_pszGetLastErrorArg(void);
/* A readable description of the last error: its code's text, the stored
 * message and the argument, as "<text> (<code>): <message>: <argument>"
 * ("Unknown error" for a code without text). Valid until the thread stores
 * its next error. */
OSAL_API const char *OSAL_CALL OSAL_pszGetLastErrorText(void);

/* Watching the errors stored: the function is called on the storing thread
 * after every nonzero code is stored, with the code and its string argument
 * or message (null when it has none, valid during the call only); null stops
 * the watch. The function must not store errors itself. One watcher per
 * process; setting replaces it. */
typedef void(OSAL_CALL *OSAL_PFN_ERROR_WATCH)(uint32_t dwCode, const char *pszArg);
OSAL_API void OSAL_CALL OSAL_vSetErrorWatch(OSAL_PFN_ERROR_WATCH pfnWatch);

/* The signal a user sends a running program to ask for a snapshot (SIGUSR1
 * on Linux). boCatch 1 installs a handler that counts its arrivals, but
 * never over a handler the program installed itself: false with 1025 (its
 * argument says why) then, and on platforms without such a signal. boCatch
 * 0 puts the default back where the count's handler is installed; true. */
OSAL_API BOOL8 OSAL_CALL OSAL_boCatchUserSignal(BOOL8 boCatch);
/* How many user signals arrived since the layer was loaded (modulo 2^32). */
OSAL_API uint32_t OSAL_CALL OSAL_dwGetUserSignalCount(void);

/* ---- Modules -------------------------------------------------------------- */

typedef struct OSAL_Module *OSAL_HMODULE;
typedef void (OSAL_CALL *OSAL_PFN)(void);

/* Loads a module. A name with a path separator is used as given; a bare name
 * is looked for in the current directory, then in the running program's
 * directory, then by the system loader. Failure: null, OSAL_ERR_LOAD_FAILED
 * with the loader's message as string argument (1028 for a null name). */
OSAL_API OSAL_HMODULE OSAL_CALL OSAL_hLoadLibraryA(const char *pszPath);
OSAL_API OSAL_HMODULE OSAL_CALL OSAL_hLoadLibraryW(const WCHAR16 *pwszPath);
/* Releases a module. False with 1027 for a null or unknown handle (also one
 * released already). */
OSAL_API BOOL8 OSAL_CALL OSAL_boFreeLibrary(OSAL_HMODULE hModule);
/* Looks up a function or data export of the module itself (never of one of its
 * dependencies). Null with OSAL_ERR_NAME_NOT_FOUND (the name as argument) when
 * absent, 1027 for a null or unknown handle, 1028 for a null or empty name.
 * The W variant converts the name one unit to one byte ('?' above 0xFF). */
OSAL_API OSAL_PFN OSAL_CALL OSAL_pfnGetProcAddress(OSAL_HMODULE hModule, const char *pszName);
OSAL_API OSAL_PFN OSAL_CALL OSAL_pfnGetProcAddressW(OSAL_HMODULE hModule,
                                                     const WCHAR16 *pwszName);

/* ---- Mutexes -------------------------------------------------------------- */

typedef struct OSAL_Mutex *OSAL_HMUTEX;

/* A recursive in-process lock. Null with 1026 when it cannot be made. */
OSAL_API OSAL_HMUTEX OSAL_CALL OSAL_hMutexCreate(void);
OSAL_API void OSAL_CALL OSAL_vMutexDelete(OSAL_HMUTEX hMutex);
/* Blocks until taken. False (1027) for a null handle. */
OSAL_API BOOL8 OSAL_CALL OSAL_boMutexLock(OSAL_HMUTEX hMutex);
/* An unlock by a thread that does not hold the lock is refused (1031). */
OSAL_API void OSAL_CALL OSAL_vMutexUnlock(OSAL_HMUTEX hMutex);

/* ---- Time-ordered queues -------------------------------------------------- */

typedef struct OSAL_Queue *OSAL_HQUEUE;
typedef struct OSAL_QueueCursor *OSAL_HQCURSOR;

/* Deletes an element left in a queue when the queue is deleted, or one
 * removed with OSAL_boQueueRemove(..., 1). */
typedef void (OSAL_CALL *OSAL_PFN_QDELETE)(void *pvItem);
/* Marks an element with a 32-bit value; called by OSAL_boQueuePut on an item
 * that a full queue refuses, with the value OSAL_ERR_QUEUE_FULL. */
typedef void (OSAL_CALL *OSAL_PFN_QMARK)(void *pvItem, uint32_t dwValue);
/* Order of a queue: true when pvSecond is not earlier than pvFirst. */
typedef BOOL8 (OSAL_CALL *OSAL_PFN_QORDER)(const void *pvFirst, const void *pvSecond);

/* A queue of at most dwCapacity items (0 means no limit). Null with 1026 when
 * it cannot be made.
 *
 * Every operation below stores 1027 for a null queue or cursor. An empty
 * queue or a deadline that passes is no failure: null or false, no code.
 *
 * Wakes: a null put or an interrupt ends every wait in progress on the queue.
 * A null put also stays pending for every other thread that is not waiting
 * right now: that thread's next wait that would block ends at once (null or
 * true), so a break fired between a look at a flag and the following wait is
 * never lost. A thread that has not used the queue before counts as having
 * missed the latest null put of another thread, so its first wait may end at
 * once after any earlier null put. An interrupt directly followed by a null
 * put from the same thread counts as one wake for the threads the interrupt
 * ended. A pending wake is used up only by a wait that it ends. */
OSAL_API OSAL_HQUEUE OSAL_CALL OSAL_hQueueCreate(uint32_t dwCapacity, OSAL_PFN_QDELETE pfnDelete);
/* Deletes the queue and, through the delete function, every item left in it.
 * No thread may wait on it or hold its cursor any more. */
OSAL_API void OSAL_CALL OSAL_vQueueDelete(OSAL_HQUEUE hQueue);
OSAL_API void OSAL_CALL OSAL_vQueueSetMarkFunction(OSAL_HQUEUE hQueue, OSAL_PFN_QMARK pfnMark);
/* Puts an item behind every item that is not later than it: O(1) at the
 * tail, O(log n) elsewhere. The queue orders with the function of its latest
 * put or insert. A null item only wakes the waiters (pfnOrder may be null
 * then). False with OSAL_ERR_QUEUE_FULL when the queue is full (the mark
 * function, if set, is called on the refused item with 1037 first), 1026 when
 * memory runs out, 1028 for an item without an order function; the item then
 * stays with the caller. Never waits for the cursor lock: a put of another
 * thread than the holder counts at once (capacity, change count) but joins
 * the items the holder walks only when the lock is released. */
OSAL_API BOOL8 OSAL_CALL OSAL_boQueuePut(OSAL_HQUEUE hQueue, void *pvItem, OSAL_PFN_QORDER pfnOrder);
/* Waits until the queue changes or the deadline passes. A change made after
 * this thread's previous wait-for-change on the queue counts, so a put made
 * between a walk and the wait is never missed. True when a change was seen;
 * a null put or an interrupt ends the wait with true as well. With
 * OSAL_stTimeNoWait it only reports (and forgets) the changes so far; it
 * does not consume a pending wake. */
OSAL_API BOOL8 OSAL_CALL OSAL_boQueueWaitChange(OSAL_HQUEUE hQueue, TimeVal stDeadline);
/* Takes (Get) or looks at (Peek) the first item. With boWait, waits for one
 * until the deadline (NoWait, Infinite, RELATIVE duration or absolute wall
 * clock time); a null put or an interrupt ends the wait with null. An
 * absolute deadline follows steps of the wall clock: a forward step ends a
 * wait that is now due at once, a backward step makes it longer. Null with
 * 1026 when items were put but memory to order them ran out; they are kept
 * and ordered by a later call. */
OSAL_API void *OSAL_CALL OSAL_pvQueueGet(OSAL_HQUEUE hQueue, BOOL8 boWait, TimeVal stDeadline);
OSAL_API void *OSAL_CALL OSAL_pvQueuePeek(OSAL_HQUEUE hQueue, BOOL8 boWait, TimeVal stDeadline);
/* Whether a take-if-due takes the first item: true takes it. Called with the
 * queue locked; it must not call the queue, and anything it wants to tell its
 * caller (when the item falls due, why it stays) goes into pvContext. */
typedef BOOL8 (OSAL_CALL *OSAL_PFN_QDUE)(const void *pvItem, void *pvContext);
/* Shows the first item to pfnDue and unlinks it when the answer is true, in
 * one hold of the queue. Counts as a wait-for-change that does not wait,
 * made just before the look: a later OSAL_boQueueWaitChange of this thread
 * ends at once for a change made since (a put during the look, or this
 * call's own take); a pending wake is not used up. Blocks, like a cursor lock,
 * while another thread holds the cursor lock. The taken item (the caller
 * owns it now), or null: the queue is empty (pfnDue is not called) or the
 * answer was false. 1027 for a null queue, 1028 for a null pfnDue. */
OSAL_API void *OSAL_CALL OSAL_pvQueueTakeIfDue(OSAL_HQUEUE hQueue, OSAL_PFN_QDUE pfnDue, void *pvContext);
/* Ends the current waits on the queue without changing the change count. */
OSAL_API void OSAL_CALL OSAL_vQueueInterrupt(OSAL_HQUEUE hQueue);
/* A counter that moves on every put, take, insert and remove. */
OSAL_API uint32_t OSAL_CALL OSAL_dwQueueGetChangeCount(OSAL_HQUEUE hQueue);
/* Locks the queue for the calling thread (re-entrant) and returns a cursor
 * before the first item. The walk sees every put made before the lock and
 * none of another thread's made during it. Blocks while another thread holds
 * the lock; puts, takes, inserts and removes of the holding thread go on
 * without blocking. The outermost lock allocates nothing; a nested lock by
 * the holder returns null with 1026 when memory runs out. Each cursor needs
 * its own unlock. */
OSAL_API OSAL_HQCURSOR OSAL_CALL OSAL_hQueueLock(OSAL_HQUEUE hQueue);
/* The next item in queue order, or null at the end. When the item the cursor
 * stands on is unlinked (by this cursor or by a take of the holding thread),
 * the cursor stays at its place and goes on with the item that followed. */
OSAL_API void *OSAL_CALL OSAL_pvQueueNext(OSAL_HQCURSOR hCursor);
/* Inserts an item in order while the queue is locked. False with 1037 when the
 * queue is full (no mark), 1026 when memory runs out, 1028 for a null item or
 * order function. */
OSAL_API BOOL8 OSAL_CALL OSAL_boQueueInsert(OSAL_HQCURSOR hCursor, void *pvItem,
                                            OSAL_PFN_QORDER pfnOrder);
/* Unlinks the item the cursor returned last; boDelete also deletes it. False
 * with 1028 when there is none (nothing returned yet, removed already, or the
 * last Next found the end). */
OSAL_API BOOL8 OSAL_CALL OSAL_boQueueRemove(OSAL_HQCURSOR hCursor, BOOL8 boDelete);
/* Releases the cursor and the lock it holds. */
OSAL_API void OSAL_CALL OSAL_vQueueUnlock(OSAL_HQCURSOR hCursor);

/* ---- Named shared memory -------------------------------------------------- */

/* A segment handle; its first field addresses the contents. */
typedef struct OSAL_SharedMem {
    void *pvData;
} OSAL_SharedMem;
typedef OSAL_SharedMem *OSAL_HSHMEM;

#define OSAL_SHM_OPEN 0u   /* open an existing segment */
#define OSAL_SHM_CREATE 1u /* create the segment, zero-filled, or open it */

/* Opens a named segment of dwSize bytes. The name is private to the user
 * (on POSIX its files lie in a folder that only the user can reach; on
 * Windows it lives in the session's namespace under the user's security id);
 * VOQ_OSAL_SHM_PREFIX, when set, goes in front of it. The segment lives
 * while any process has it open: when the last handle is closed, or its
 * process dies, the contents go, and the next OSAL_SHM_CREATE starts from
 * zeros. Failures: 1028 for a null or empty name, one longer than 200 bytes
 * (240 with the prefix and the user), one with '/' or '\', or a mode other
 * than 0 and 1; 1034 for size 0 or a segment smaller than dwSize; 1038 when
 * what lies under the user's names is a link, another user's, or open to
 * others (the argument names it; nothing is waited for); 1031 with the
 * system's reason (for OSAL_SHM_OPEN of a segment nobody has open: "No such
 * file or directory"); 1026. A child made
 * by fork that goes on using its parent's handles gets locks of its own with
 * them: it neither shares its parent's segment lock nor ends the parent's use
 * of the segment (nor the parent its). */
OSAL_API OSAL_HSHMEM OSAL_CALL OSAL_hSharedMemOpen(uint32_t dwSize, const char *pszName,
                                                   uint32_t dwMode);
/* Closes a handle; 1027 for a null one or one closed already. */
OSAL_API void OSAL_CALL OSAL_vSharedMemClose(OSAL_HSHMEM hShm);
/* Cross-process lock of the segment; released by the system when the holder
 * dies. Excludes other processes and other handles of this process. Not
 * re-entrant: a second lock by the holding thread fails with 1031 instead of
 * hanging, and so does an unlock by a thread that does not hold it. Closing
 * a handle releases its holder's lock (on Windows, where a lock belongs to
 * its thread, the lock of another thread than the closing one goes when
 * that thread ends). */
OSAL_API BOOL8 OSAL_CALL OSAL_boSharedMemLock(OSAL_HSHMEM hShm);
OSAL_API void OSAL_CALL OSAL_vSharedMemUnlock(OSAL_HSHMEM hShm);

/* ---- Time and byte order ---------------------------------------------------- */

/* The current wall-clock time, absolute, in microseconds since the epoch;
 * while a manual clock runs, that clock's time. */
OSAL_API void OSAL_CALL OSAL_vGetSystemTime(TimeVal *pstTime);

/* ---- The manual clock ----------------------------------------------------------
 *
 * A clock that stands still until its owner moves it, for tests of
 * timer-driven code (ZERA_Harness.h is the way to use it). While it runs,
 * in the whole process: OSAL_vGetSystemTime reports its time, every queue
 * wait with a deadline measures the deadline against it, and such a wait
 * sleeps, without a real-time limit, until a move of the clock reaches its
 * deadline (or the queue changes, as always). Waits without a deadline are
 * not affected. One manual clock at a time; it is in every build.
 *
 * A wait whose deadline lies after the clock's time is pending; a move to or
 * past its deadline releases it. Every move wakes the waits of every queue,
 * so that each measures its deadline again. When the clock stops, the waits
 * go back to the wall clock: a deadline taken from the manual clock that the
 * wall clock has passed ends its wait at once. */

/* Starts the manual clock at *pstStart (absolute). False with 1028 for a null
 * or RELATIVE time, 1025 when a manual clock runs already, 1026 when its wait
 * list cannot be made. */
OSAL_API BOOL8 OSAL_CALL OSAL_boManualClockStart(const TimeVal *pstStart);
/* Stops it; the layer's time is the wall clock's again. False with 1025 when
 * none runs. */
OSAL_API BOOL8 OSAL_CALL OSAL_boManualClockStop(void);
/* Sets its time to *pstNow (absolute; backward too: a backward step delays
 * what was due). False with 1028 (null or RELATIVE) or 1025 (none runs). */
OSAL_API BOOL8 OSAL_CALL OSAL_boManualClockSet(const TimeVal *pstNow);
/* How many waits are pending; *pstNext (when given) receives the earliest
 * deadline among them, OSAL_stTimeInfinite when there is none. 0 with 1025
 * when no manual clock runs, else the last error is 0. */
OSAL_API uint32_t OSAL_CALL OSAL_dwManualClockPending(TimeVal *pstNext);
/* Waits, at most dwRealLimitMs milliseconds of real time, until at least
 * dwWaits (0 counts as 1) waits are pending and stores the earliest of their
 * deadlines in *pstNext (when given); with boMove it then sets the clock to
 * that deadline, which releases the waits of that deadline. The released
 * threads run on by themselves; the call does not wait for them. False
 * with 0 stored when too few waits came in time (the clock unchanged), 1025
 * when no manual clock runs. */
OSAL_API BOOL8 OSAL_CALL OSAL_boManualClockCrank(uint32_t dwWaits, uint32_t dwRealLimitMs, BOOL8 boMove,
                                                  TimeVal *pstNext);

#define OSAL_BO_TO_NETWORK 1u   /* host variable into the packet */
#define OSAL_BO_FROM_NETWORK 0u /* packet into the host variable */

/* Converts one unit of dwWidth (1, 2, 4 or 8) bytes between the packet (network
 * order, most significant byte first) and a host variable. False (1034) for
 * any other width, 1028 for a null pointer or another direction; nothing is
 * written then. Neither side needs to be aligned. */
OSAL_API BOOL8 OSAL_CALL OSAL_boConvertByteOrder(void *pvPacket, void *pvHost, uint32_t dwWidth,
                                                 uint32_t dwDirection);

#ifdef __cplusplus
}
#endif

#endif /* VOQ_OSAL_H */
