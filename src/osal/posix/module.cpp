// osal/posix/module.cpp - modules through dlopen: opening, the lookup of a
// module's own exports (never a dependency's), closing, and the file tests
// of the search order.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "osal/platform.h"
#include "osal/posix/posix_system.h"

namespace osal {

namespace {

void CopyMessage(char *why, size_t room, const char *message, const char *fallback) {
    std::snprintf(why, room, "%s", message ? message : fallback);
}

// Some emulators answer the program's path relative to the current
// directory, so the answer is taken when the layer is loaded, before the
// program can change it.
__attribute__((constructor)) void FindProgramDirectoryAtLoad() { ProgramDirectory(); }

}  // namespace

bool HasPathSeparator(const char *name) { return std::strchr(name, '/') != nullptr; }

bool FileExists(const char *path) { return access(path, F_OK) == 0; }

const char *ProgramDirectory() {
    static char directory[4096];
    static const bool found = [] {
        if (!ProgramPath(directory, sizeof directory)) return false;
        char *slash = std::strrchr(directory, '/');
        if (!slash) return false;
        slash[1] = '\0';
        return true;
    }();
    return found ? directory : nullptr;
}

bool ModuleOpen(ModuleImage *image, const char *path, bool /*search*/, char *why, size_t room) {
    // dlopen searches by itself exactly when the name has no '/'.
    dlerror();
    image->dl = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!image->dl) {
        CopyMessage(why, room, dlerror(), path);
        return false;
    }
    const void *self = ModuleSelf(image->dl);
    if (!self) {
        CopyMessage(why, room, dlerror(), path);
        dlclose(image->dl);
        return false;
    }
    image->self = self;
    return true;
}

void *ModuleExport(const ModuleImage *image, const char *name) {
    dlerror();
    void *address = dlsym(image->dl, name);
    // dlsym searches the module's dependencies too; keep only what the module
    // itself defines, as a module's export table would.
    if (!address || ModuleOwning(address) != image->self) return nullptr;
    return address;
}

bool ModuleClose(ModuleImage *image, char *why, size_t room) {
    if (dlclose(image->dl) == 0) return true;
    CopyMessage(why, room, dlerror(), "dlclose");
    return false;
}

}  // namespace osal
