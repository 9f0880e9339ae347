// osal/posix/shared_mem.cpp - named mappings in a folder of the user's own
// (mmap of a file on the shared-memory file system) with a cross-process
// lock (flock) and a lifetime that follows their users.
//
// Every segment of the user lives in a folder of the user's own, which the
// user creates with mode 0700: nobody else can create, replace or lock
// anything in it. Which folder that is, the system's half chooses
// (linux/segment_folder.cpp). A folder under that name
// that is a link, belongs to someone else or is open to others is refused
// (1038, naming it and its owner), and so is such a file in it; nothing is
// opened through a link.
//
// A segment "<name>" is four files in that folder:
//   <name>        the contents
//   <name>.users  every open handle holds a shared flock on it
//   <name>.guard  an exclusive flock serialises open and close
//   <name>.lock   the segment lock (exclusive flock)
// The lock files are empty. The last user to close removes all four; a user
// that died leaves them to the next one, who finds no holder and starts
// afresh. An opener that waited for the guard checks that the file it locked
// is still the one under that name, since the last closer may have removed
// it meanwhile. flock belongs to the open file description, so the kernel
// drops every lock of a process that dies, and each handle (even two in one
// process) has locks of its own. A child made by fork shares its parent's
// descriptions, so before a fork the parent opens the child's own (spare)
// users and lock files, with the child's shared flock already taken.
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "osal/osal_internal.h"
#include "osal/platform.h"
#include "osal/posix/posix_system.h"

namespace osal {

namespace {

constexpr size_t kFolderRoom = kSegmentFolderRoom;
constexpr size_t kPathRoom = 512;                      // a file's name in the folder
constexpr size_t kWhatRoom = kFolderRoom + kPathRoom;  // folder and file, for messages

// flock that resumes after a signal.
int Flock(int fd, int op) {
    int rc;
    do rc = flock(fd, op);
    while (rc != 0 && errno == EINTR);
    return rc;
}

void CloseFd(int &fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// " (name)" of a user, or "" when the system knows no name for the uid.
void OwnerName(uid_t uid, char (&name)[64]) {
    name[0] = '\0';
    struct passwd entry, *found = nullptr;
    char buffer[1024];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr && found->pw_name != nullptr)
        std::snprintf(name, sizeof name, " (%s)", found->pw_name);
}

// True when fd, found under `what`, is what it should be (a folder or a
// regular file), belongs to this user and is closed to everyone else; stores
// 1038 naming it and its owner otherwise.
bool IsPrivate(int fd, bool folder, const char *what) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
        SetSystemError(OSAL_ERR_SYSTEM, what, LastSystemError());
        return false;
    }
    const bool kind = folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
    if (kind && st.st_uid == geteuid() && (st.st_mode & 077) == 0) return true;
    char arg[kWhatRoom + 192], owner[64];
    OwnerName(st.st_uid, owner);
    const char *found = !kind ? "not a plain file or folder" : folder ? "folder" : "file";
    std::snprintf(arg, sizeof arg, "%s: %s owned by uid %u%s with mode %03o, not this user's (uid %u) alone", what,
                  found, static_cast<unsigned>(st.st_uid), owner, static_cast<unsigned>(st.st_mode & 0777),
                  static_cast<unsigned>(geteuid()));
    OSAL_vSetLastErrorArgs(OSAL_ERR_NOT_PRIVATE, OSAL_ARG_STRING, arg);
    return false;
}

// Opens (creating it 0700 when missing) the user's folder; -1 with the code
// stored when it cannot be had or is not private.
int OpenFolder() {
    char path[kFolderRoom];
    SegmentFolder(path);
    if (mkdir(path, 0700) != 0 && errno != EEXIST) {
        SetSystemError(OSAL_ERR_SYSTEM, path, LastSystemError());
        return -1;
    }
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP || error == ENOTDIR) {
            char arg[kFolderRoom + 192], owner[96] = "";
            struct stat st;
            if (lstat(path, &st) == 0) {
                char name[64];
                OwnerName(st.st_uid, name);
                std::snprintf(owner, sizeof owner, " owned by uid %u%s", static_cast<unsigned>(st.st_uid), name);
            }
            std::snprintf(arg, sizeof arg, "%s: a link or a file%s, not a folder of this user's own", path, owner);
            OSAL_vSetLastErrorArgs(OSAL_ERR_NOT_PRIVATE, OSAL_ARG_STRING, arg);
        } else {
            SetSystemError(OSAL_ERR_SYSTEM, path, static_cast<uint32_t>(error));
        }
        return -1;
    }
    if (!IsPrivate(fd, true, path)) {
        close(fd);
        return -1;
    }
    return fd;
}

// "<name><suffix>", a file of a segment in the folder.
void FileName(char (&file)[kPathRoom], const char *name, const char *suffix) {
    std::snprintf(file, sizeof file, "%s%s", name, suffix);
}

// "<folder>/<file>", for messages.
void Describe(char (&what)[kWhatRoom], const char *file) {
    char folder[kFolderRoom];
    SegmentFolder(folder);
    std::snprintf(what, sizeof what, "%s/%s", folder, file);
}

// Opens a file of the segment in the folder (flags as openat's, with no link
// followed) and checks it; -1 with the code stored on failure.
int OpenFile(int dirFd, const char *name, const char *suffix, int flags) {
    char file[kPathRoom], what[kWhatRoom];
    FileName(file, name, suffix);
    const int fd = openat(dirFd, file, flags | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const uint32_t error = LastSystemError();
        Describe(what, file);
        SetSystemError(error == ELOOP ? OSAL_ERR_NOT_PRIVATE : OSAL_ERR_SYSTEM, what, error);
        return -1;
    }
    Describe(what, file);
    if (!IsPrivate(fd, false, what)) {
        close(fd);
        return -1;
    }
    return fd;
}

// Opens and locks (exclusive) the guard of a segment: the file that is under
// its name when the lock is taken. -1 with the code stored on failure.
int LockGuard(int dirFd, const char *name) {
    char file[kPathRoom];
    FileName(file, name, ".guard");
    for (int attempt = 0; attempt < 1000; ++attempt) {
        int fd = OpenFile(dirFd, name, ".guard", O_CREAT);
        if (fd < 0) return -1;
        if (Flock(fd, LOCK_EX) != 0) {
            SetSystemError(OSAL_ERR_SYSTEM, "flock", LastSystemError());
            close(fd);
            return -1;
        }
        struct stat locked, named;
        if (fstat(fd, &locked) == 0 && fstatat(dirFd, file, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            locked.st_dev == named.st_dev && locked.st_ino == named.st_ino)
            return fd;
        close(fd);  // removed by a last closer meanwhile: take the new one
    }
    SetSystemError(OSAL_ERR_SYSTEM, name, EAGAIN);
    return -1;
}

void UnlockGuard(int &guardFd) {
    Flock(guardFd, LOCK_UN);  // explicitly: a forked child may hold a copy of the descriptor
    CloseFd(guardFd);
}

// Removes the contents and the lock files. The caller holds the guard and
// the users file exclusively, so nobody uses the segment or is opening it.
void RemoveSegment(int dirFd, const char *name) {
    char file[kPathRoom];
    for (const char *suffix : {"", ".users", ".lock", ".guard"}) {
        FileName(file, name, suffix);
        unlinkat(dirFd, file, 0);
    }
}

// Opens (or creates) the contents while the guard is held and takes this
// handle's shared flock on the users file; -1 with the code stored on
// failure.
int OpenContents(Mapping *m, bool create) {
    if (Flock(m->usersFd, LOCK_EX | LOCK_NB) == 0) {
        // Nobody uses the segment: what is left is a dead user's, so start
        // afresh, or report it missing to an open-only caller.
        if (!create) {
            RemoveSegment(m->dirFd, m->name);
            Flock(m->usersFd, LOCK_UN);
            char what[kWhatRoom];
            Describe(what, m->name);
            SetSystemError(OSAL_ERR_SYSTEM, what, ENOENT);
            return -1;
        }
        unlinkat(m->dirFd, m->name, 0);
        int fd = OpenFile(m->dirFd, m->name, "", O_CREAT | O_EXCL);
        if (fd >= 0 && ftruncate(fd, static_cast<off_t>(m->size)) != 0) {
            SetSystemError(OSAL_ERR_SYSTEM, m->name, LastSystemError());
            CloseFd(fd);
            unlinkat(m->dirFd, m->name, 0);
        }
        Flock(m->usersFd, fd >= 0 ? LOCK_SH : LOCK_UN);  // nobody can come between: we hold the guard
        return fd;
    }
    if (errno != EWOULDBLOCK || Flock(m->usersFd, LOCK_SH) != 0) {
        SetSystemError(OSAL_ERR_SYSTEM, "flock", LastSystemError());
        return -1;
    }
    int fd = OpenFile(m->dirFd, m->name, "", 0);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) < m->size) {
        CloseFd(fd);
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_SIZE, OSAL_ARG_STRING, m->name);
    }
    if (fd < 0) Flock(m->usersFd, LOCK_UN);
    return fd;
}

void CloseAll(Mapping *m) {
    CloseFd(m->usersFd);
    CloseFd(m->lockFd);
    CloseFd(m->spareUsersFd);
    CloseFd(m->spareLockFd);
    CloseFd(m->dirFd);
}

}  // namespace

const char *UserTag() {
    // Made on every call: a process may change its user (a helper of root).
    thread_local char tag[24];
    std::snprintf(tag, sizeof tag, "%u", static_cast<unsigned>(geteuid()));
    return tag;
}

void *MappingOpen(Mapping *m, const char *name, size_t size, bool create) {
    m->name = name;
    m->size = size;
    m->view = nullptr;
    m->usersFd = m->lockFd = m->spareUsersFd = m->spareLockFd = -1;
    m->dirFd = OpenFolder();
    if (m->dirFd < 0) return nullptr;
    int guardFd = LockGuard(m->dirFd, name);
    if (guardFd < 0) {
        CloseAll(m);
        return nullptr;
    }
    // While the guard is held nobody removes the files, and while this handle
    // uses the segment nobody else can either.
    m->usersFd = OpenFile(m->dirFd, name, ".users", O_CREAT);
    m->lockFd = m->usersFd < 0 ? -1 : OpenFile(m->dirFd, name, ".lock", O_CREAT);
    const int dataFd = m->lockFd < 0 ? -1 : OpenContents(m, create);
    void *data = MAP_FAILED;
    if (dataFd >= 0) {
        data = mmap(nullptr, m->size, PROT_READ | PROT_WRITE, MAP_SHARED, dataFd, 0);
        if (data == MAP_FAILED) {
            SetSystemError(OSAL_ERR_SYSTEM, "mmap", LastSystemError());
            Flock(m->usersFd, LOCK_UN);
        }
        close(dataFd);  // the mapping keeps the contents
    }
    UnlockGuard(guardFd);
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
    int guardFd = m->usersFd < 0 ? -1 : LockGuard(m->dirFd, m->name);
    // Exclusive succeeds only when no other handle anywhere still uses it.
    if (guardFd >= 0 && Flock(m->usersFd, LOCK_EX | LOCK_NB) == 0) RemoveSegment(m->dirFd, m->name);
    CloseFd(m->usersFd);
    CloseFd(m->lockFd);
    if (guardFd >= 0) UnlockGuard(guardFd);
    CloseAll(m);
}

bool MappingLock(Mapping *m) {
    if (m->lockFd < 0) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_SYSTEM, OSAL_ARG_STRING, "segment lock: not reopened in this child of fork");
        return false;
    }
    if (Flock(m->lockFd, LOCK_EX) == 0) return true;
    SetSystemError(OSAL_ERR_SYSTEM, "flock", LastSystemError());
    return false;
}

void MappingUnlock(Mapping *m) { Flock(m->lockFd, LOCK_UN); }

void WatchForks(void (*prepare)(), void (*parent)(), void (*child)()) { pthread_atfork(prepare, parent, child); }

bool MappingPrepareFork(Mapping *m) {
    // This handle's shared flock keeps the files from being removed, so the
    // names still lead to them. The child's flock is taken here, before the
    // parent can close and believe it was the last user.
    if (m->usersFd < 0) return false;
    m->spareUsersFd = OpenFile(m->dirFd, m->name, ".users", 0);
    m->spareLockFd = m->spareUsersFd < 0 ? -1 : OpenFile(m->dirFd, m->name, ".lock", 0);
    if (m->spareLockFd >= 0 && Flock(m->spareUsersFd, LOCK_SH | LOCK_NB) == 0) return true;
    CloseFd(m->spareUsersFd);
    CloseFd(m->spareLockFd);
    return false;
}

void MappingAfterFork(Mapping *m, bool child) {
    if (!child) {
        CloseFd(m->spareUsersFd);
        CloseFd(m->spareLockFd);
        return;
    }
    // The parent's descriptions stay the parent's: closing these copies
    // leaves its locks alone.
    CloseFd(m->usersFd);
    CloseFd(m->lockFd);
    m->usersFd = m->spareUsersFd;
    m->lockFd = m->spareLockFd;
    m->spareUsersFd = m->spareLockFd = -1;
}

}  // namespace osal
