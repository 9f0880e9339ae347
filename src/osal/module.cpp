// osal/module.cpp - loading modules: the search order for bare names, the
// registry that refuses stale or foreign handles, and the narrow and wide
// forms of the interface. The platform half opens, looks up and closes.
#include <cstring>
#include <initializer_list>

#include "osal/held_locks.h"
#include "osal/osal_internal.h"
#include "osal/platform.h"

struct OSAL_Module {
    osal::ModuleImage image;
    OSAL_Module *next;  // registry link; guarded by g_modulesLock
};

namespace {

// Every module handed out and not yet freed, so that a stale or foreign
// handle is refused instead of used.
osal::Lock g_modulesLock = OSAL_LOCK_INITIALIZER;  // guards g_modules and the links
OSAL_Module *g_modules = nullptr;

bool IsLive(const OSAL_Module *m) {
    osal::AcquireTracked(&g_modulesLock, osal::LockRank::kModules);
    const OSAL_Module *p = g_modules;
    while (p && p != m) p = p->next;
    osal::ReleaseTracked(&g_modulesLock);
    return p != nullptr;
}

// Heap string a + b; null when memory runs out.
char *Join(const char *a, const char *b) {
    size_t la = std::strlen(a), lb = std::strlen(b);
    char *p = static_cast<char *>(osal::Alloc(la + lb + 1));
    if (!p) return nullptr;
    std::memcpy(p, a, la);
    std::memcpy(p + la, b, lb + 1);
    return p;
}

enum class Found { kOpened, kAbsent, kFailed };

// Opens dir + name when that file exists. kFailed (the code stored) when it
// exists but cannot be loaded, or memory runs out.
Found OpenIfThere(osal::ModuleImage *image, const char *dir, const char *name) {
    char *path = Join(dir, name);
    if (!path) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return Found::kFailed;
    }
    Found found = Found::kAbsent;
    if (osal::FileExists(path)) {
        char why[1024];
        found = osal::ModuleOpen(image, path, false, why, sizeof why) ? Found::kOpened : Found::kFailed;
        if (found == Found::kFailed) OSAL_vSetLastErrorArgs(OSAL_ERR_LOAD_FAILED, OSAL_ARG_STRING, why);
    }
    osal::Free(path);
    return found;
}

// Opens a module with the search order of the layer; stores the code on
// failure. A name with a path separator is used as given. A bare name is
// looked for in the current directory, then in the program's directory,
// then by the system loader's own search; a file found on the way is loaded
// or its failure reported: the search never passes over a file that exists.
bool OpenModule(osal::ModuleImage *image, const char *name) {
    const bool bare = !osal::HasPathSeparator(name);
    if (bare) {
        for (const char *dir : {"./", osal::ProgramDirectory()}) {
            if (!dir) continue;
            const Found found = OpenIfThere(image, dir, name);
            if (found != Found::kAbsent) return found == Found::kOpened;
        }
    }
    char why[1024];
    if (osal::ModuleOpen(image, name, bare, why, sizeof why)) return true;
    OSAL_vSetLastErrorArgs(OSAL_ERR_LOAD_FAILED, OSAL_ARG_STRING, why);
    return false;
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
    if (!OpenModule(&m->image, name)) {
        osal::Free(m);
        return nullptr;
    }
    osal::AcquireTracked(&g_modulesLock, osal::LockRank::kModules);
    m->next = g_modules;
    g_modules = m;
    osal::ReleaseTracked(&g_modulesLock);
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
    void *address = osal::ModuleExport(&hModule->image, name);
    if (!address) {
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
        osal::AcquireTracked(&g_modulesLock, osal::LockRank::kModules);
        for (OSAL_Module **link = &g_modules; *link; link = &(*link)->next) {
            if (*link == hModule) {
                *link = hModule->next;
                found = true;
                break;
            }
        }
        osal::ReleaseTracked(&g_modulesLock);
    }
    if (!found) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    char why[1024];
    const bool closed = osal::ModuleClose(&hModule->image, why, sizeof why);
    osal::Free(hModule);
    if (!closed) {
        OSAL_vSetLastErrorArgs(OSAL_ERR_SYSTEM, OSAL_ARG_STRING, why);
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
