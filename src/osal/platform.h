/*
 * osal/platform.h - the contract between the portable platform layer
 * (the files of src/osal: errors, mutexes, queues, modules, shared memory, time)
 * and its two halves, src/osal/posix/ and src/osal/win/. Each half
 * implements every function below in the file named in its section, under
 * the same file name on both sides, with system calls only: the protocols
 * built on them (waits and wakes, lock depth and holder, who holds a
 * segment, the module search order and registry) live once, above.
 *
 * On Linux the POSIX half is completed by src/osal/linux/: word_wait.cpp
 * below, and what posix/posix_system.h asks of the system (the program's
 * path, the segments' folder, which module holds an address). A half for
 * another POSIX system replaces src/osal/linux/ alone.
 *
 * The halves translate errno and GetLastError into the layer's codes here
 * and nowhere else. Functions that store a code say so; the others leave
 * that to their caller.
 *
 * Internal: included by src/osal/ and its halves only.
 */
#ifndef OSAL_PLATFORM_H
#define OSAL_PLATFORM_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include "osal/win/platform_types.h"
#else
#include "osal/posix/platform_types.h"
#endif

namespace osal {

// ---- threads.cpp: locks, condition waits, threads ---------------------------

// A plain in-process lock (not re-entrant). Init is false when the system
// refuses (no code stored); a lock of static storage uses
// OSAL_LOCK_INITIALIZER instead. A contender spins briefly before it sleeps
// (where the system offers that): these locks are taken by a stream between
// two threads for a few instructions per item. (The re-entrant mutex, which
// threads hammer, sleeps at once on a word of its own.)
bool LockInit(Lock *lock);
void LockDestroy(Lock *lock);
void LockAcquire(Lock *lock);
void LockRelease(Lock *lock);

// A condition variable. Init is false when the system refuses (no code
// stored).
bool CondInit(Cond *cond);
void CondDestroy(Cond *cond);
// Releases lock (which the caller holds), blocks until woken or until the
// real wall clock (WallClockMicros) reaches realDeadline (kNever: no limit),
// and takes the lock again. May return early for no reason: callers look
// again.
void CondWaitUntil(Cond *cond, Lock *lock, int64_t realDeadline);
void CondBroadcast(Cond *cond);
void CondSignal(Cond *cond);

// The calling thread's id; never 0 (which stands for no thread). The POSIX
// half defines it inline in its platform_types.h.
ThreadId CurrentThread();

// One pointer per thread for the portable layer (the thread's error record);
// null until set. The half hands a thread's value to ReleaseThreadRecord
// when the thread ends (a thread-key destructor, DllMain's thread detach).
// Set is false when the system has no room for it.
void *ThreadRecord();
bool SetThreadRecord(void *record);
// Portable (errors.cpp): frees a record that ThreadRecord gave.
void ReleaseThreadRecord(void *record);

// ---- word_wait.cpp (in linux/ on Linux, beside posix/) -----------------------

// A word to sleep on, for locks of the portable layer's own. WordWait
// blocks while *word holds expected (checked against a wake-up atomically)
// and may return early for no reason: callers look again. WordWakeOne wakes
// one thread blocked on word; a word that nobody waits on is left as it is.
// (No portable POSIX call does this: each system has its own.)
void WordWait(std::atomic<uint32_t> *word, uint32_t expected);
void WordWakeOne(std::atomic<uint32_t> *word);

// ---- clock.cpp ---------------------------------------------------------------

// The real wall clock in microseconds since the epoch (no test offset).
int64_t WallClockMicros();

// ---- system_error.cpp --------------------------------------------------------

// The calling thread's last system error number (errno, GetLastError).
uint32_t LastSystemError();
// The system's text of an error number, cut to room (always terminated).
void SystemErrorText(uint32_t systemError, char *text, size_t room);
// Portable (errors.cpp): stores code with "what: <system text>" as its
// string argument.
void SetSystemError(uint32_t code, const char *what, uint32_t systemError);
// Portable (system_failure.cpp): stops the process after a system call
// that fails only when the program is broken (a lock, an unlock, a
// condition wait or wake) did fail: writes "VOQ_OSAL: <call> failed:
// <system text> (<number>)" to stderr and aborts. Failures that a caller or
// the environment can cause are error codes instead.
[[noreturn]] void SystemCallFailed(const char *call, uint32_t systemError);
// Portable (system_failure.cpp): true once after a test has asked the next
// lock of its thread to fail (OSAL_vTestFailNextLock); always false outside
// test builds. The halves' LockAcquire asks it.
#if defined(ZERA_TEST_HOOKS)
bool TestLockFails();
#else
constexpr bool TestLockFails() { return false; }
#endif

// ---- user_signal.cpp -------------------------------------------------------------

// The signal a user sends a running program to ask for a snapshot (SIGUSR1
// where there is one). Catch installs a handler that only counts, unless the
// signal has a handler of the program's own already (false, *taken true) or
// the platform has no such signal (false, *taken false); catching twice is
// one catch. Release puts the default back where ours is installed.
bool UserSignalCatch(bool *taken);
void UserSignalRelease();
// How many of the signals arrived since the layer was loaded (modulo 2^32).
uint32_t UserSignalCount();

// ---- module.cpp ----------------------------------------------------------------

// The name holds a path separator of the platform, so it is used as given.
bool HasPathSeparator(const char *name);
bool FileExists(const char *path);
// The directory of the running program with a trailing separator, or null.
const char *ProgramDirectory();
// Opens a module: the file at path (relative to the current directory or
// absolute), or with search the bare name by the system loader's own search.
// False with the loader's own message in why (cut to room).
bool ModuleOpen(ModuleImage *image, const char *path, bool search, char *why, size_t room);
// The address of an export of the module itself, or null (also for a name
// that the module only takes from, or forwards to, another module).
void *ModuleExport(const ModuleImage *image, const char *name);
// False with the loader's message in why.
bool ModuleClose(ModuleImage *image, char *why, size_t room);

// ---- shared_mem.cpp ------------------------------------------------------------

// The part of every segment name that keeps users apart (the user id, the
// user's security id). Valid in the calling thread until its next call.
const char *UserTag();
// Opens the named mapping of at least size bytes, creating it zero-filled
// when create is set and nobody has it open. `name` (prefix, user tag and
// the caller's name) stays the caller's and must live until MappingClose.
// Returns the view; null with the code stored: 1031 with the system's reason
// (also for a missing mapping that is only opened), 1034 when it is smaller
// than size, 1038 when what lies under the name is not the user's alone.
void *MappingOpen(Mapping *m, const char *name, size_t size, bool create);
// Unmaps and closes; the last user anywhere takes the mapping away. The
// caller has released a lock that its thread holds through this handle.
void MappingClose(Mapping *m);
// The cross-process lock: blocks until this handle holds it. A holder that
// dies releases it. Excludes other handles of the same process too, but for
// the thread that holds it through another handle (the caller keeps one
// holder per handle). False with the code stored.
bool MappingLock(Mapping *m);
void MappingUnlock(Mapping *m);

// A child made by fork must have locks of its own, not share its parent's:
// prepare runs in the parent before every fork, parent and child after it,
// in the parent's forking thread and the child's only one. A Windows process
// has no fork: there this does nothing and the two below are never called.
void WatchForks(void (*prepare)(), void (*parent)(), void (*child)());
// In the parent before a fork: gets ready what the child takes over. False
// when it cannot; the child's handle then refuses to lock.
bool MappingPrepareFork(Mapping *m);
// After a fork: the parent drops what it got ready, the child takes it over
// and lets go of the parent's.
void MappingAfterFork(Mapping *m, bool child);

}  // namespace osal

#endif  // OSAL_PLATFORM_H
