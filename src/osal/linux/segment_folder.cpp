// osal/linux/segment_folder.cpp - the folder of the user's segments. Where
// the user has a private runtime folder (XDG_RUNTIME_DIR: an absolute path
// to a folder that is not a link, belongs to the user and has mode 0700, as
// the system makes it for a login), the folder is <runtime folder>/VOQ_OSAL,
// which nobody else can make first; otherwise it is /dev/shm/VOQ_OSAL-<uid>
// (/tmp when there is no /dev/shm). The choice depends on the user and the
// environment alone, so a 32-bit and a 64-bit process of one user find the
// same folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "osal/posix/posix_system.h"

namespace osal {

namespace {

// The user's private runtime folder, or null when XDG_RUNTIME_DIR names
// none (unset, relative, a link, not the user's, open to others, or too
// long to hold the segments' folder).
const char *RuntimeFolder() {
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/' || std::strlen(runtime) + sizeof "/VOQ_OSAL" > kSegmentFolderRoom)
        return nullptr;
    struct stat st;
    if (lstat(runtime, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 0777) != 0700)
        return nullptr;
    return runtime;
}

}  // namespace

void SegmentFolder(char (&path)[kSegmentFolderRoom]) {
    if (const char *runtime = RuntimeFolder()) {
        std::snprintf(path, sizeof path, "%s/VOQ_OSAL", runtime);
        return;
    }
    struct stat st;
    const char *base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    std::snprintf(path, sizeof path, "%s/VOQ_OSAL-%u", base, static_cast<unsigned>(geteuid()));
}

}  // namespace osal
