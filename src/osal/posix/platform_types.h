/*
 * osal/posix/platform_types.h - the records of the POSIX half that the
 * portable layer embeds: a lock, a condition variable, a thread's id (with
 * its inline lookup), an open module and an open named mapping. Their
 * fields belong to the half; the portable code only passes the records to
 * the functions of osal/platform.h.
 *
 * Internal: included by osal/platform.h only.
 */
#ifndef OSAL_POSIX_PLATFORM_TYPES_H
#define OSAL_POSIX_PLATFORM_TYPES_H

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace osal {

struct Lock {
    pthread_mutex_t mutex;
};
// A Lock with static storage needs no LockInit.
#define OSAL_LOCK_INITIALIZER {PTHREAD_MUTEX_INITIALIZER}

struct Cond {
    pthread_cond_t cond;  // on CLOCK_REALTIME, the clock of every deadline
};

// A thread's id; 0 is no thread.
using ThreadId = uintptr_t;

// The address of a byte of the calling thread's own: unique among live
// threads and never 0, and read without a call (pthread_self is one into
// the C library), since a mutex asks for it on every lock and unlock. The
// initial-exec model makes it one instruction off the thread pointer; the
// loader keeps static room for that even when the layer is loaded late.
inline ThreadId CurrentThread() {
    __attribute__((tls_model("initial-exec"))) static thread_local char self;
    return reinterpret_cast<ThreadId>(&self);
}

struct ModuleImage {
    void *dl;          // the dlopen handle
    const void *self;  // the module's own entry in the loader's list (link_map)
};

// A segment is four files in a folder of the user's own (see
// posix/shared_mem.cpp).
struct Mapping {
    const char *name;  // the segment's file name; the caller's, kept while open
    int dirFd;         // the user's folder
    int usersFd;       // every open handle holds a shared flock on it
    int lockFd;        // the segment lock: an exclusive flock
    // Opened for a child before a fork; the child takes them over, so that
    // its locks are its own and not the parent's.
    int spareUsersFd;
    int spareLockFd;
    void *view;
    size_t size;
};

}  // namespace osal

#endif  // OSAL_POSIX_PLATFORM_TYPES_H
