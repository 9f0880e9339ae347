// osal/posix/module.cpp - loading modules with dlopen and finding their own
// exports (never a dependency's).
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1  // dladdr1, dlinfo
#endif
#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "osal/osal_internal.h"

struct OSAL_Module {
    void *dl;               // the dlopen handle
    const link_map *self;   // the module's own entry in the loader's list
    OSAL_Module *next;      // registry link; guarded by g_modulesMutex
};

namespace {

// Every module handed out and not yet freed, so that a stale or foreign
// handle is refused instead of used.
pthread_mutex_t g_modulesMutex = PTHREAD_MUTEX_INITIALIZER;  // guards g_modules and the links
OSAL_Module *g_modules = nullptr;

bool IsLive(const OSAL_Module *m) {
    pthread_mutex_lock(&g_modulesMutex);
    const OSAL_Module *p = g_modules;
    while (p && p != m) p = p->next;
    pthread_mutex_unlock(&g_modulesMutex);
    return p != nullptr;
}

// Heap string a + b + c (any may be empty); null when memory runs out.
char *Join(const char *a, const char *b, const char *c) {
    size_t la = std::strlen(a), lb = std::strlen(b), lc = std::strlen(c);
    char *p = static_cast<char *>(osal::Alloc(la + lb + lc + 1));
    if (!p) return nullptr;
    std::memcpy(p, a, la);
    std::memcpy(p + la, b, lb);
    std::memcpy(p + la + lb, c, lc + 1);
    return p;
}

bool FileExists(const char *path) { return access(path, F_OK) == 0; }

// The directory of the running program with a trailing '/', or null. Found
// once: when the layer is loaded (see below) or, failing that, on first use.
// Some emulators answer /proc/self/exe relative to the current directory, so
// the answer is taken before the program can change it.
const char *ProgramDirectory() {
    static char directory[4096];
    static const bool found = [] {
        ssize_t n = readlink("/proc/self/exe", directory, sizeof directory - 1);
        if (n <= 0) return false;
        directory[n] = '\0';
        char *slash = std::strrchr(directory, '/');
        if (!slash) return false;
        slash[1] = '\0';
        return true;
    }();
    return found ? directory : nullptr;
}

__attribute__((constructor)) void FindProgramDirectoryAtLoad() { ProgramDirectory(); }

// dlopen with the search order of the layer; stores the code on failure.
void *OpenModule(const char *name) {
    const int flags = RTLD_NOW | RTLD_LOCAL;
    if (std::strchr(name, '/')) return dlopen(name, flags);
    // A bare name: the current directory, then the program's directory, then
    // the system loader's own search. A file found on the way is loaded or
    // its failure reported; the search never passes over a file that exists.
    char *inCwd = Join("./", name, "");
    if (!inCwd) return nullptr;
    if (FileExists(inCwd)) {
        void *dl = dlopen(inCwd, flags);
        osal::Free(inCwd);
        return dl;
    }
    osal::Free(inCwd);
    if (const char *dir = ProgramDirectory()) {
        char *inProgramDir = Join(dir, name, "");
        if (!inProgramDir) return nullptr;
        if (FileExists(inProgramDir)) {
            void *dl = dlopen(inProgramDir, flags);
            osal::Free(inProgramDir);
            return dl;
        }
        osal::Free(inProgramDir);
    }
    return dlopen(name, flags);
}

OSAL_HMODULE Load(const char *name) {
    if (!name || !*name) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    auto *m = static_cast<OSAL_Module *>(osal::Alloc(sizeof(OSAL_Module)));
    if (!m) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    dlerror();
    m->dl = OpenModule(name);
    if (!m->dl) {
        const char *reason = dlerror();
        osal::Free(m);
        // Null without a loader message: a path could not be built.
        if (!reason) {
            OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
            return nullptr;
        }
        OSAL_vSetLastErrorArgs(OSAL_ERR_LOAD_FAILED, OSAL_ARG_STRING, reason);
        return nullptr;
    }
    link_map *self = nullptr;
    if (dlinfo(m->dl, RTLD_DI_LINKMAP, &self) != 0 || !self) {
        const char *reason = dlerror();
        dlclose(m->dl);
        osal::Free(m);
        OSAL_vSetLastErrorArgs(OSAL_ERR_LOAD_FAILED, OSAL_ARG_STRING, reason ? reason : name);
        return nullptr;
    }
    m->self = self;
    pthread_mutex_lock(&g_modulesMutex);
    m->next = g_modules;
    g_modules = m;
    pthread_mutex_unlock(&g_modulesMutex);
    return m;
}

OSAL_PFN Lookup(OSAL_HMODULE hModule, const char *name) {
    if (!hModule || !IsLive(hModule)) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return nullptr;
    }
    if (!name || !*name) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    dlerror();
    void *address = dlsym(hModule->dl, name);
    // dlsym searches the module's dependencies too; keep only what the module
    // itself defines, as a module's export table would.
    Dl_info info;
    void *owner = nullptr;
    if (!address || dladdr1(address, &info, &owner, RTLD_DL_LINKMAP) == 0 ||
        static_cast<const link_map *>(owner) != hModule->self) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_NAME_NOT_FOUND, OSAL_ARG_STRING, name);
        return nullptr;
    }
    OSAL_PFN pfn;
    static_assert(sizeof pfn == sizeof address, "function and data pointers differ in size");
    std::memcpy(&pfn, &address, sizeof pfn);
    return pfn;
}

}  // namespace

extern "C" {

OSAL_API OSAL_HMODULE OSAL_CALL OSAL_hLoadLibraryA(const char *pszPath) { return Load(pszPath); }

OSAL_API OSAL_HMODULE OSAL_CALL OSAL_hLoadLibraryW(const WCHAR16 *pwszPath) {
    if (!pwszPath) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    char *narrow = osal::WideToNarrowDup(pwszPath);
    if (!narrow) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    OSAL_HMODULE m = Load(narrow);
    osal::Free(narrow);
    return m;
}

OSAL_API BOOL8 OSAL_CALL OSAL_boFreeLibrary(OSAL_HMODULE hModule) {
    bool found = false;
    if (hModule) {
        pthread_mutex_lock(&g_modulesMutex);
        for (OSAL_Module **link = &g_modules; *link; link = &(*link)->next) {
            if (*link == hModule) {
                *link = hModule->next;
                found = true;
                break;
            }
        }
        pthread_mutex_unlock(&g_modulesMutex);
    }
    if (!found) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    int rc = dlclose(hModule->dl);
    osal::Free(hModule);
    if (rc != 0) {
        const char *reason = dlerror();
        OSAL_vSetLastErrorArgs(OSAL_ERR_SYSTEM, OSAL_ARG_STRING, reason ? reason : "dlclose");
        return 0;
    }
    return 1;
}

OSAL_API OSAL_PFN OSAL_CALL OSAL_pfnGetProcAddress(OSAL_HMODULE hModule, const char *pszName) {
    return Lookup(hModule, pszName);
}

OSAL_API OSAL_PFN OSAL_CALL OSAL_pfnGetProcAddressW(OSAL_HMODULE hModule, const WCHAR16 *pwszName) {
    if (!pwszName) return Lookup(hModule, nullptr);
    char *narrow = osal::WideToNarrowDup(pwszName);
    if (!narrow) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    OSAL_PFN pfn = Lookup(hModule, narrow);
    osal::Free(narrow);
    return pfn;
}

}  // extern "C"
