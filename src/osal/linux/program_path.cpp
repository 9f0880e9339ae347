// osal/linux/program_path.cpp - the running program's file, from /proc.
#include <unistd.h>

#include "osal/posix/posix_system.h"

namespace osal {

bool ProgramPath(char *path, size_t room) {
    if (room < 2) return false;
    const ssize_t n = readlink("/proc/self/exe", path, room - 1);
    if (n <= 0) return false;
    path[n] = '\0';
    return true;
}

}  // namespace osal
