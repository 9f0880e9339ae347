// osal/posix/shared_mem.cpp - named shared memory (shm_open/mmap) with a
// cross-process lock (flock) and a lifetime that follows its users.
//
// A segment "<name>" of user <uid> is four objects in the shm namespace:
//   /<prefix><uid>_<name>        the contents
//   /<prefix><uid>_<name>.users  every open handle holds a shared flock on it
//   /<prefix><uid>_<name>.guard  an exclusive flock serialises open and close
//   /<prefix><uid>_<name>.lock   the segment lock (exclusive flock)
// The lock files are empty. The last user to close removes all four; a user
// that died leaves them to the next one, who finds no holder and starts
// afresh. An opener that waited for the guard checks that the file it locked
// is still the one under that name, since the last closer may have removed
// it meanwhile. flock belongs to the open file description, so the kernel
// drops every lock of a process that dies, and each handle (even two in one
// process) has locks of its own.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <thread>

#include "osal/osal_internal.h"

namespace {

struct SharedMem {
    OSAL_SharedMem pub;  // first: the interface's view (pvData)
    size_t size;
    int usersFd;
    int guardFd;
    int lockFd;
    // The threads of this process share the handle's file lock, so they queue
    // here first: `held` says a thread of this process holds the segment lock.
    pthread_mutex_t mutex;  // guards held and holder
    pthread_cond_t released;  // signalled when held goes false
    bool held;
    std::thread::id holder;  // the thread that holds it (valid while held)
    char *dataName;
};

SharedMem *FromHandle(OSAL_HSHMEM h) { return reinterpret_cast<SharedMem *>(h); }

// flock that resumes after a signal.
int Flock(int fd, int op) {
    int rc;
    do rc = flock(fd, op);
    while (rc != 0 && errno == EINTR);
    return rc;
}

void FileName(char (&name)[512], const char *base, const char *suffix) {
    std::snprintf(name, sizeof name, "%s%s", base, suffix);
}

int OpenLockFile(const char *base, const char *suffix) {
    char name[512];
    FileName(name, base, suffix);
    return shm_open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

// Opens and locks (exclusive) the guard of a segment: the file that is under
// its name when the lock is taken. -1 with errno on failure.
int LockGuard(const char *base) {
    char name[512];
    FileName(name, base, ".guard");
    for (int attempt = 0; attempt < 1000; ++attempt) {
        int fd = shm_open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return -1;
        if (Flock(fd, LOCK_EX) != 0) {
            int err = errno;
            close(fd);
            errno = err;
            return -1;
        }
        int current = shm_open(name, O_RDWR | O_CLOEXEC, 0);
        struct stat locked, named;
        bool same = current >= 0 && fstat(fd, &locked) == 0 && fstat(current, &named) == 0 &&
                    locked.st_dev == named.st_dev && locked.st_ino == named.st_ino;
        if (current >= 0) close(current);
        if (same) return fd;
        close(fd);  // removed by a last closer meanwhile: take the new one
    }
    errno = EAGAIN;
    return -1;
}

// Removes the contents and the lock files. The caller holds the guard and
// the users file exclusively, so nobody uses the segment or is opening it.
void RemoveSegment(const char *base) {
    char name[512];
    shm_unlink(base);
    for (const char *suffix : {".users", ".lock", ".guard"}) {
        FileName(name, base, suffix);
        shm_unlink(name);
    }
}

// "/<prefix><uid>_<name>" on the heap, or null when memory runs out.
char *SegmentName(const char *name) {
    const char *prefix = std::getenv("VOQ_OSAL_SHM_PREFIX");
    if (!prefix) prefix = "";
    size_t room = std::strlen(prefix) + std::strlen(name) + 32;
    char *p = static_cast<char *>(osal::Alloc(room));
    if (p) std::snprintf(p, room, "/%s%u_%s", prefix, static_cast<unsigned>(getuid()), name);
    return p;
}

void CloseFd(int &fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

void Release(SharedMem *s) {
    CloseFd(s->usersFd);
    CloseFd(s->guardFd);
    CloseFd(s->lockFd);
    osal::Free(s->dataName);
    s->~SharedMem();
    osal::Free(s);
}

// Opens (or creates) the contents while the guard is held; stores the code
// and returns -1 on failure.
int OpenContents(SharedMem *s, uint32_t mode) {
    if (Flock(s->usersFd, LOCK_EX | LOCK_NB) == 0) {
        // Nobody uses the segment: what is left is a dead user's, so start
        // afresh, or report it missing to an open-only caller.
        if (mode != OSAL_SHM_CREATE) {
            RemoveSegment(s->dataName);
            Flock(s->usersFd, LOCK_UN);
            osal::SetErrorFromErrno(OSAL_ERR_SYSTEM, s->dataName, ENOENT);
            return -1;
        }
        int fd = shm_open(s->dataName, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ftruncate(fd, static_cast<off_t>(s->size)) != 0) {
            osal::SetErrorFromErrno(OSAL_ERR_SYSTEM, s->dataName, errno);
            if (fd >= 0) close(fd);
            RemoveSegment(s->dataName);
            Flock(s->usersFd, LOCK_UN);
            return -1;
        }
        Flock(s->usersFd, LOCK_SH);  // nobody can come between: we hold the guard
        return fd;
    }
    if (errno != EWOULDBLOCK || Flock(s->usersFd, LOCK_SH) != 0) {
        osal::SetErrorFromErrno(OSAL_ERR_SYSTEM, "flock", errno);
        return -1;
    }
    int fd = shm_open(s->dataName, O_RDWR | O_CLOEXEC, 0);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        osal::SetErrorFromErrno(OSAL_ERR_SYSTEM, s->dataName, errno);
        if (fd >= 0) close(fd);
        Flock(s->usersFd, LOCK_UN);
        return -1;
    }
    if (static_cast<uint64_t>(st.st_size) < s->size) {
        close(fd);
        Flock(s->usersFd, LOCK_UN);
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_SIZE, OSAL_ARG_STRING, s->dataName);
        return -1;
    }
    return fd;
}

}  // namespace

extern "C" {

OSAL_API OSAL_HSHMEM OSAL_CALL OSAL_hSharedMemOpen(uint32_t dwSize, const char *pszName, uint32_t dwMode) {
    if (!pszName || !*pszName || std::strchr(pszName, '/') || std::strlen(pszName) > 200 ||
        (dwMode != OSAL_SHM_OPEN && dwMode != OSAL_SHM_CREATE)) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    if (dwSize == 0) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_SIZE);
        return nullptr;
    }
    void *block = osal::Alloc(sizeof(SharedMem));
    char *dataName = SegmentName(pszName);
    if (!block || !dataName) {
        osal::Free(block);
        osal::Free(dataName);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    auto *s = new (block) SharedMem();
    s->pub.pvData = nullptr;
    s->size = dwSize;
    s->dataName = dataName;
    s->usersFd = s->lockFd = -1;
    s->guardFd = LockGuard(dataName);
    if (s->guardFd < 0) {
        osal::SetErrorFromErrno(OSAL_ERR_SYSTEM, dataName, errno);
        Release(s);
        return nullptr;
    }
    // While the guard is held nobody removes the files, and while this handle
    // uses the segment nobody else can either.
    s->usersFd = OpenLockFile(dataName, ".users");
    s->lockFd = OpenLockFile(dataName, ".lock");
    if (s->usersFd < 0 || s->lockFd < 0) {
        osal::SetErrorFromErrno(OSAL_ERR_SYSTEM, dataName, errno);
        Release(s);  // closing the guard releases it
        return nullptr;
    }
    int dataFd = OpenContents(s, dwMode);
    void *data = MAP_FAILED;
    if (dataFd >= 0) {
        data = mmap(nullptr, s->size, PROT_READ | PROT_WRITE, MAP_SHARED, dataFd, 0);
        if (data == MAP_FAILED) {
            osal::SetErrorFromErrno(OSAL_ERR_SYSTEM, "mmap", errno);
            Flock(s->usersFd, LOCK_UN);
        }
        close(dataFd);  // the mapping keeps the contents
    }
    Flock(s->guardFd, LOCK_UN);
    if (data == MAP_FAILED) {
        Release(s);
        return nullptr;
    }
    int rc = pthread_mutex_init(&s->mutex, nullptr);
    if (rc == 0) {
        rc = pthread_cond_init(&s->released, nullptr);
        if (rc != 0) pthread_mutex_destroy(&s->mutex);
    }
    if (rc != 0) {
        munmap(data, s->size);
        osal::SetErrorFromErrno(OSAL_ERR_SYSTEM, "pthread_mutex_init", rc);
        Release(s);  // closing the users file drops this handle's use
        return nullptr;
    }
    s->held = false;
    s->pub.pvData = data;
    return &s->pub;
}

OSAL_API void OSAL_CALL OSAL_vSharedMemClose(OSAL_HSHMEM hShm) {
    if (!hShm) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    SharedMem *s = FromHandle(hShm);
    // Whoever holds the lock, closing the lock file below releases it.
    munmap(s->pub.pvData, s->size);
    Flock(s->guardFd, LOCK_EX);
    // Exclusive succeeds only when no other handle anywhere still uses it.
    if (Flock(s->usersFd, LOCK_EX | LOCK_NB) == 0) RemoveSegment(s->dataName);
    CloseFd(s->usersFd);
    CloseFd(s->lockFd);
    Flock(s->guardFd, LOCK_UN);
    pthread_cond_destroy(&s->released);
    pthread_mutex_destroy(&s->mutex);
    Release(s);
}

OSAL_API BOOL8 OSAL_CALL OSAL_boSharedMemLock(OSAL_HSHMEM hShm) {
    if (!hShm) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    SharedMem *s = FromHandle(hShm);
    const std::thread::id self = std::this_thread::get_id();
    pthread_mutex_lock(&s->mutex);
    if (s->held && s->holder == self) {
        pthread_mutex_unlock(&s->mutex);
        osal::SetErrorFromErrno(OSAL_ERR_SYSTEM, "segment lock", EDEADLK);
        return 0;
    }
    while (s->held) pthread_cond_wait(&s->released, &s->mutex);
    s->held = true;
    s->holder = self;
    pthread_mutex_unlock(&s->mutex);
    // Other threads of this process now wait on `released`; the file lock
    // waits for other processes and other handles.
    if (Flock(s->lockFd, LOCK_EX) != 0) {
        int err = errno;
        pthread_mutex_lock(&s->mutex);
        s->held = false;
        pthread_cond_signal(&s->released);
        pthread_mutex_unlock(&s->mutex);
        osal::SetErrorFromErrno(OSAL_ERR_SYSTEM, "flock", err);
        return 0;
    }
    return 1;
}

OSAL_API void OSAL_CALL OSAL_vSharedMemUnlock(OSAL_HSHMEM hShm) {
    if (!hShm) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return;
    }
    SharedMem *s = FromHandle(hShm);
    pthread_mutex_lock(&s->mutex);
    if (!s->held || s->holder != std::this_thread::get_id()) {
        // Releasing the file lock would free it under its real holder.
        pthread_mutex_unlock(&s->mutex);
        osal::SetErrorFromErrno(OSAL_ERR_SYSTEM, "segment unlock", EPERM);
        return;
    }
    Flock(s->lockFd, LOCK_UN);
    s->held = false;
    pthread_cond_signal(&s->released);
    pthread_mutex_unlock(&s->mutex);
}

}  // extern "C"
