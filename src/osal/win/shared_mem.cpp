// osal/win/shared_mem.cpp - named mappings backed by the paging file
// (CreateFileMappingW, zero-filled) with a named mutex as the cross-process
// lock. The system keeps a named object while any handle to it is open, so
// the segment goes with its last user, also one that died; a mutex whose
// holder died is handed to the next waiter as abandoned, which counts as a
// release. Names live in the session's Local\ namespace and carry the user's
// security id, so another user cannot reach them.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>

#include "osal/osal_internal.h"
#include "osal/platform.h"

namespace osal {

namespace {

constexpr size_t kNameRoom = 512;

// "Local\<name><suffix>" as a wide string, one byte to one unit.
void ObjectName(wchar_t (&wide)[kNameRoom], const char *name, const char *suffix) {
    char narrow[kNameRoom];
    std::snprintf(narrow, sizeof narrow, "Local\\%s%s", name, suffix);
    size_t i = 0;
    for (; narrow[i]; ++i) wide[i] = static_cast<unsigned char>(narrow[i]);
    wide[i] = L'\0';
}

void CloseHandleOf(void *&handle) {
    if (handle) CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

const char *UserTag() {
    static char tag[192];
    static const bool made = [] {
        std::snprintf(tag, sizeof tag, "%s", "S-unknown");
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
        union {
            TOKEN_USER user;
            unsigned char bytes[256];
        } info;
        DWORD length = 0;
        char *sid = nullptr;
        const bool ok = GetTokenInformation(token, TokenUser, &info, sizeof info, &length) &&
                        ConvertSidToStringSidA(info.user.User.Sid, &sid);
        CloseHandle(token);
        if (ok) std::snprintf(tag, sizeof tag, "%s", sid);
        if (sid) LocalFree(sid);
        return ok;
    }();
    (void)made;
    return tag;
}

void *MappingOpen(Mapping *m, const char *name, size_t size, bool create) {
    m->section = m->mutex = m->view = nullptr;
    m->size = size;
    wchar_t wide[kNameRoom];
    ObjectName(wide, name, "");
    if (create) {
        const auto size64 = static_cast<unsigned long long>(size);
        m->section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(size64 >> 32),
                                        static_cast<DWORD>(size64), wide);
    } else {
        m->section = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, wide);
    }
    if (!m->section) {
        SetSystemError(OSAL_ERR_SYSTEM, name, GetLastError());
        return nullptr;
    }
    m->view = MapViewOfFile(m->section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (!m->view) {
        SetSystemError(OSAL_ERR_SYSTEM, "MapViewOfFile", GetLastError());
        CloseHandleOf(m->section);
        return nullptr;
    }
    // The view spans the whole mapping, in whole pages.
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(m->view, &info, sizeof info) == 0 || info.RegionSize < size) {
        UnmapViewOfFile(m->view);
        m->view = nullptr;
        CloseHandleOf(m->section);
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_SIZE, OSAL_ARG_STRING, name);
        return nullptr;
    }
    ObjectName(wide, name, ".lock");
    m->mutex = CreateMutexW(nullptr, FALSE, wide);
    if (!m->mutex) {
        SetSystemError(OSAL_ERR_SYSTEM, "CreateMutexW", GetLastError());
        UnmapViewOfFile(m->view);
        m->view = nullptr;
        CloseHandleOf(m->section);
        return nullptr;
    }
    return m->view;
}

void MappingClose(Mapping *m) {
    if (m->view) UnmapViewOfFile(m->view);
    m->view = nullptr;
    CloseHandleOf(m->mutex);
    CloseHandleOf(m->section);
}

bool MappingLock(Mapping *m) {
    const DWORD result = WaitForSingleObject(m->mutex, INFINITE);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return true;  // abandoned: its holder died
    SetSystemError(OSAL_ERR_SYSTEM, "WaitForSingleObject", GetLastError());
    return false;
}

void MappingUnlock(Mapping *m) { ReleaseMutex(m->mutex); }

// A Windows process has no fork: a new process opens its own handles.
void WatchForks(void (*)(), void (*)(), void (*)()) {}
bool MappingPrepareFork(Mapping *) { return true; }
void MappingAfterFork(Mapping *, bool) {}

}  // namespace osal
