/*
 * osal/posix/posix_system.h - what the POSIX half asks of the system it runs
 * on beyond POSIX: the running program's file, the folder of the user's
 * segments, and which loaded module a handle or an address belongs to. The
 * Linux half (src/osal/linux/) implements these, and word_wait.cpp of
 * osal/platform.h; a half for another system implements the same files.
 *
 * Internal: included by src/osal/posix/ and src/osal/linux/ only.
 */
#ifndef OSAL_POSIX_POSIX_SYSTEM_H
#define OSAL_POSIX_POSIX_SYSTEM_H

#include <cstddef>

namespace osal {

// ---- program_path.cpp --------------------------------------------------------

// The absolute path of the running program's file, cut to room; false when
// the system does not tell.
bool ProgramPath(char *path, size_t room);

// ---- segment_folder.cpp --------------------------------------------------------

// Room for the folder of the user's segments, with its terminating zero.
constexpr size_t kSegmentFolderRoom = 256;
// The folder that holds the calling user's segments (it need not
// exist yet): one of the user's own, the same for every process of the user
// in the same environment (a 32-bit and a 64-bit one alike).
void SegmentFolder(char (&path)[kSegmentFolderRoom]);

// ---- module_identity.cpp -------------------------------------------------------

// The loader's own record of the module that dlopen handed out as dl, or
// null with the loader's message left for dlerror.
const void *ModuleSelf(void *dl);
// The loader's record of the module that holds address, or null.
const void *ModuleOwning(const void *address);

}  // namespace osal

#endif  // OSAL_POSIX_POSIX_SYSTEM_H
