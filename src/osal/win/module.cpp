// osal/win/module.cpp - modules through LoadLibraryExW: opening a file with
// its own folder searched for its dependencies, the loader's own search for
// a bare name (and after it the installed components folder, which the ELF
// build has on the layer's run path), the lookup of a module's own exports (an address outside the
// module's image is an export forwarded to another module) and the file
// tests of the search order. Narrow names become wide one byte to one unit.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "osal/osal_internal.h"
#include "osal/platform.h"

namespace osal {

namespace {

// A wide heap copy of a narrow name, one byte to one unit; null when memory
// runs out.
wchar_t *Widen(const char *s) {
    const size_t n = std::strlen(s);
    auto *wide = static_cast<wchar_t *>(Alloc((n + 1) * sizeof(wchar_t)));
    if (!wide) return nullptr;
    for (size_t i = 0; i <= n; ++i) wide[i] = static_cast<unsigned char>(s[i]);
    return wide;
}

// "<path>: <the system's text of error>" into why.
void Explain(char *why, size_t room, const char *path, DWORD error) {
    char text[512];
    SystemErrorText(error, text, sizeof text);
    std::snprintf(why, room, "%s: %s", path, text);
}

// LoadLibraryExW without the system's error boxes (a missing dependency
// would otherwise stop the process with a dialog).
HMODULE LoadQuietly(const wchar_t *name, DWORD flags) {
    DWORD oldMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    HMODULE module = LoadLibraryExW(name, nullptr, flags);
    const DWORD error = GetLastError();
    SetThreadErrorMode(oldMode, nullptr);
    SetLastError(error);
    return module;
}

// The installed components folder with a trailing separator: found from this
// DLL's own file, as the build's install rules lay it out (OSAL_COMPONENT_DIR,
// relative to the DLL's folder). Empty when unknown.
const wchar_t *InstalledComponentDirectory() {
    static wchar_t directory[MAX_PATH * 2];
#if defined(OSAL_COMPONENT_DIR)
    static const bool found = [] {
        HMODULE self = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCWSTR>(&InstalledComponentDirectory), &self)) {
            return false;
        }
        wchar_t path[MAX_PATH * 2];
        const DWORD n = GetModuleFileNameW(self, path, MAX_PATH * 2);
        if (n == 0 || n >= MAX_PATH * 2) return false;
        DWORD end = n;
        while (end > 0 && path[end - 1] != L'\\' && path[end - 1] != L'/') --end;
        const wchar_t relative[] = L"" OSAL_COMPONENT_DIR L"/";
        if (end == 0 || end + sizeof relative / sizeof relative[0] > MAX_PATH * 2) return false;
        std::memcpy(path + end, relative, sizeof relative);
        for (wchar_t *c = path; *c; ++c) *c = *c == L'/' ? L'\\' : *c;
        const DWORD full = GetFullPathNameW(path, MAX_PATH * 2, directory, nullptr);
        return full > 0 && full < MAX_PATH * 2;
    }();
    if (!found) directory[0] = L'\0';
#endif
    return directory;
}

// The loader's own search for a bare name, then the installed components
// folder; a failure keeps the first search's error.
HMODULE LoadBySearch(const wchar_t *name) {
    HMODULE module = LoadQuietly(name, 0);
    const DWORD error = GetLastError();
    const wchar_t *folder = InstalledComponentDirectory();
    if (module || error != ERROR_MOD_NOT_FOUND || folder[0] == L'\0') return module;
    wchar_t path[MAX_PATH * 2];
    const size_t used = wcslen(folder), length = wcslen(name);
    if (used + length < MAX_PATH * 2) {
        std::memcpy(path, folder, used * sizeof(wchar_t));
        std::memcpy(path + used, name, (length + 1) * sizeof(wchar_t));
        if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return LoadQuietly(path, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    SetLastError(error);
    return nullptr;
}

}  // namespace

bool HasPathSeparator(const char *name) { return std::strpbrk(name, "/\\:") != nullptr; }

bool FileExists(const char *path) {
    wchar_t *wide = Widen(path);
    if (!wide) return false;
    const DWORD attributes = GetFileAttributesW(wide);
    Free(wide);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

const char *ProgramDirectory() {
    static char directory[MAX_PATH * 2];
    static const bool found = [] {
        wchar_t path[MAX_PATH * 2];
        const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
        if (n == 0 || n >= MAX_PATH * 2) return false;
        DWORD end = n;
        while (end > 0 && path[end - 1] != L'\\' && path[end - 1] != L'/') --end;
        if (end == 0) return false;
        // A folder outside the narrow range cannot be named here; the
        // system's search looks in the program's folder first anyway.
        for (DWORD i = 0; i < end; ++i) {
            if (path[i] > 0xFF) return false;
            directory[i] = static_cast<char>(path[i]);
        }
        directory[end] = '\0';
        return true;
    }();
    return found ? directory : nullptr;
}

bool ModuleOpen(ModuleImage *image, const char *path, bool search, char *why, size_t room) {
    wchar_t *wide = Widen(path);
    if (!wide) {
        std::snprintf(why, room, "%s: out of memory", path);
        return false;
    }
    HMODULE module = nullptr;
    if (search) {
        module = LoadBySearch(wide);
    } else {
        // A file: its full path, so that the loader looks for the module's
        // dependencies in its own folder (not in the current one).
        wchar_t full[MAX_PATH * 2];
        const DWORD n = GetFullPathNameW(wide, MAX_PATH * 2, full, nullptr);
        if (n > 0 && n < MAX_PATH * 2)
            module = LoadQuietly(full, LOAD_WITH_ALTERED_SEARCH_PATH);
        else
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    const DWORD error = GetLastError();
    Free(wide);
    if (!module) {
        Explain(why, room, path, error);
        return false;
    }
    // The image's extent, from its own headers.
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(module);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(reinterpret_cast<const char *>(module) + dos->e_lfanew);
    image->module = module;
    image->begin = reinterpret_cast<uintptr_t>(module);
    image->end = image->begin + nt->OptionalHeader.SizeOfImage;
    return true;
}

void *ModuleExport(const ModuleImage *image, const char *name) {
    FARPROC proc = GetProcAddress(static_cast<HMODULE>(image->module), name);
    const auto address = reinterpret_cast<uintptr_t>(proc);
    if (!proc || address < image->begin || address >= image->end) return nullptr;
    return reinterpret_cast<void *>(address);
}

bool ModuleClose(ModuleImage *image, char *why, size_t room) {
    if (FreeLibrary(static_cast<HMODULE>(image->module))) return true;
    Explain(why, room, "FreeLibrary", GetLastError());
    return false;
}

}  // namespace osal
