/*
 * osal/win/platform_types.h - the records of the Win32 half that the
 * portable layer embeds: a lock, a condition variable, a thread's id, an
 * open module and an open named mapping. Their fields belong to the half;
 * the portable code only passes the records to the functions of
 * osal/platform.h. Plain types stand in for the system's (an SRWLOCK and a
 * CONDITION_VARIABLE are one pointer each, a HANDLE is a pointer), so that
 * the portable code never sees <windows.h>; win/threads.cpp checks the sizes.
 *
 * Internal: included by osal/platform.h only.
 */
#ifndef OSAL_WIN_PLATFORM_TYPES_H
#define OSAL_WIN_PLATFORM_TYPES_H

#include <cstddef>
#include <cstdint>

namespace osal {

struct Lock {
    void *srw;  // SRWLOCK
};
// A Lock with static storage needs no LockInit.
#define OSAL_LOCK_INITIALIZER {nullptr}

struct Cond {
    void *cv;  // CONDITION_VARIABLE
};

// GetCurrentThreadId of the thread; 0 is no thread.
using ThreadId = uintptr_t;

struct ModuleImage {
    void *module;      // HMODULE
    uintptr_t begin;   // the module's image in memory: an export outside it
    uintptr_t end;     // is forwarded to another module
};

struct Mapping {
    void *section;  // HANDLE of the named file mapping
    void *mutex;    // HANDLE of the named mutex that is the segment lock
    void *view;
    size_t size;
};

}  // namespace osal

#endif  // OSAL_WIN_PLATFORM_TYPES_H
