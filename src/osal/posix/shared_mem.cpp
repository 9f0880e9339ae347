// osal/posix/shared_mem.cpp - named mappings in the shm namespace
// (shm_open/mmap) with a cross-process lock (flock) and a lifetime that
// follows their users.
//
// A segment "<name>" is four objects in the shm namespace:
//   /<name>        the contents
//   /<name>.users  every open handle holds a shared flock on it
//   /<name>.guard  an exclusive flock serialises open and close
//   /<name>.lock   the segment lock (exclusive flock)
// The lock files are empty. The last user to close removes all four; a user
// that died leaves them to the next one, who finds no holder and starts
// afresh. An opener that waited for the guard checks that the file it locked
// is still the one under that name, since the last closer may have removed
// it meanwhile. flock belongs to the open file description, so the kernel
// drops every lock of a process that dies, and each handle (even two in one
// process) has locks of its own.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "osal/osal_internal.h"
#include "osal/platform.h"

namespace osal {

namespace {

// flock that resumes after a signal.
int Flock(int fd, int op) {
    int rc;
    do rc = flock(fd, op);
    while (rc != 0 && errno == EINTR);
    return rc;
}

// "/<name><suffix>", the shm name of one of a segment's objects.
void FileName(char (&file)[512], const char *name, const char *suffix) {
    std::snprintf(file, sizeof file, "/%s%s", name, suffix);
}

int OpenLockFile(const char *name, const char *suffix) {
    char file[512];
    FileName(file, name, suffix);
    return shm_open(file, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

// Opens and locks (exclusive) the guard of a segment: the file that is under
// its name when the lock is taken. -1 with errno on failure.
int LockGuard(const char *name) {
    char file[512];
    FileName(file, name, ".guard");
    for (int attempt = 0; attempt < 1000; ++attempt) {
        int fd = shm_open(file, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return -1;
        if (Flock(fd, LOCK_EX) != 0) {
            int err = errno;
            close(fd);
            errno = err;
            return -1;
        }
        int current = shm_open(file, O_RDWR | O_CLOEXEC, 0);
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
void RemoveSegment(const char *name) {
    char file[512];
    for (const char *suffix : {"", ".users", ".lock", ".guard"}) {
        FileName(file, name, suffix);
        shm_unlink(file);
    }
}

void CloseFd(int &fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

void CloseAll(Mapping *m) {
    CloseFd(m->usersFd);
    CloseFd(m->guardFd);
    CloseFd(m->lockFd);
}

// Opens (or creates) the contents while the guard is held; stores the code
// and returns -1 on failure.
int OpenContents(Mapping *m, bool create) {
    char file[512];
    FileName(file, m->name, "");
    if (Flock(m->usersFd, LOCK_EX | LOCK_NB) == 0) {
        // Nobody uses the segment: what is left is a dead user's, so start
        // afresh, or report it missing to an open-only caller.
        if (!create) {
            RemoveSegment(m->name);
            Flock(m->usersFd, LOCK_UN);
            SetSystemError(OSAL_ERR_SYSTEM, file, ENOENT);
            return -1;
        }
        int fd = shm_open(file, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ftruncate(fd, static_cast<off_t>(m->size)) != 0) {
            SetSystemError(OSAL_ERR_SYSTEM, file, LastSystemError());
            if (fd >= 0) close(fd);
            RemoveSegment(m->name);
            Flock(m->usersFd, LOCK_UN);
            return -1;
        }
        Flock(m->usersFd, LOCK_SH);  // nobody can come between: we hold the guard
        return fd;
    }
    if (errno != EWOULDBLOCK || Flock(m->usersFd, LOCK_SH) != 0) {
        SetSystemError(OSAL_ERR_SYSTEM, "flock", LastSystemError());
        return -1;
    }
    int fd = shm_open(file, O_RDWR | O_CLOEXEC, 0);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        SetSystemError(OSAL_ERR_SYSTEM, file, LastSystemError());
        if (fd >= 0) close(fd);
        Flock(m->usersFd, LOCK_UN);
        return -1;
    }
    if (static_cast<uint64_t>(st.st_size) < m->size) {
        close(fd);
        Flock(m->usersFd, LOCK_UN);
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_SIZE, OSAL_ARG_STRING, file);
        return -1;
    }
    return fd;
}

}  // namespace

const char *UserTag() {
    static char tag[24];
    static const bool made = (std::snprintf(tag, sizeof tag, "%u", static_cast<unsigned>(getuid())), true);
    (void)made;
    return tag;
}

void *MappingOpen(Mapping *m, const char *name, size_t size, bool create) {
    m->name = name;
    m->size = size;
    m->view = nullptr;
    m->usersFd = m->lockFd = -1;
    m->guardFd = LockGuard(name);
    if (m->guardFd < 0) {
        SetSystemError(OSAL_ERR_SYSTEM, name, LastSystemError());
        return nullptr;
    }
    // While the guard is held nobody removes the files, and while this handle
    // uses the segment nobody else can either.
    m->usersFd = OpenLockFile(name, ".users");
    m->lockFd = OpenLockFile(name, ".lock");
    if (m->usersFd < 0 || m->lockFd < 0) {
        SetSystemError(OSAL_ERR_SYSTEM, name, LastSystemError());
        CloseAll(m);  // closing the guard releases it
        return nullptr;
    }
    int dataFd = OpenContents(m, create);
    void *data = MAP_FAILED;
    if (dataFd >= 0) {
        data = mmap(nullptr, m->size, PROT_READ | PROT_WRITE, MAP_SHARED, dataFd, 0);
        if (data == MAP_FAILED) {
            SetSystemError(OSAL_ERR_SYSTEM, "mmap", LastSystemError());
            Flock(m->usersFd, LOCK_UN);
        }
        close(dataFd);  // the mapping keeps the contents
    }
    Flock(m->guardFd, LOCK_UN);
    if (data == MAP_FAILED) {
        CloseAll(m);
        return nullptr;
    }
    m->view = data;
    return data;
}

void MappingClose(Mapping *m) {
    // Whoever holds the lock, closing the lock file below releases it.
    munmap(m->view, m->size);
    Flock(m->guardFd, LOCK_EX);
    // Exclusive succeeds only when no other handle anywhere still uses it.
    if (Flock(m->usersFd, LOCK_EX | LOCK_NB) == 0) RemoveSegment(m->name);
    CloseFd(m->usersFd);
    CloseFd(m->lockFd);
    Flock(m->guardFd, LOCK_UN);
    CloseAll(m);
}

bool MappingLock(Mapping *m) {
    if (Flock(m->lockFd, LOCK_EX) == 0) return true;
    SetSystemError(OSAL_ERR_SYSTEM, "flock", LastSystemError());
    return false;
}

void MappingUnlock(Mapping *m) { Flock(m->lockFd, LOCK_UN); }

}  // namespace osal
