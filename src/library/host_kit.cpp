// library/host_kit.cpp - the host kit (ZERA_Host.h): a ready level 0 and its
// removal, adding components found on the search path, starting and
// stopping the stack, and events sent from and received at level 0.
//
// A ready level 0 is: the handle, its descriptor holding the masked null, the
// entry table of a level without module, and an empty parameter list. Its
// pstUpperInfoBlock stays empty (version 0.0, no flags, no ranges): a host
// that expects components of another version family fills it before its
// first add.
//
// Starting and stopping send the status the way the library announces its
// own changes: a stack status event of the topmost level handed to that
// level's input filter (entry slot 22), which applies it level by level on
// the way down, calling the components' start or stop exports. Nothing here
// takes a lock: the kit's stack operations must not run concurrently with
// each other on one stack, as the library's add and remove must not.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ZERA_Host.h"
#include "event/event.h"
#include "handle/handle.h"
#include "library/library.h"
#include "param/param.h"
#include "stack/stack.h"

namespace {

constexpr uint32_t kRunning = ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED;
constexpr const char *kComponentSuffix = ".COMPONENT";

using zera::IsHostLevel;

void ZERA_CALL ReleaseKitDescriptor(void *pvDesc) { zera::Free(pvDesc); }

// The table of a level without module: the library's own operations in
// every slot, none of a component.
bool FillHostEntryTable(StackHandle *h0) {
    ZERA_vModuleInitAPIHooksUp(h0->apfnEntry);
    ZERA_vModuleInitAPIHooksDown(h0->apfnEntry, nullptr);
    return true;
}

// An empty stack-parameter list: the stack-wide lookups and the stack
// description read level 0's list like any other. False with 1026.
bool CreateHostParamList(StackHandle *h0) {
    if (zera::CreateParamList(&h0->pstStackParams)) return true;
    return zera::Fail(OSAL_ERR_NO_MEMORY);
}

void ReleaseHostParamList(StackHandle *h0) {
    zera::DeleteParamList(h0->pstStackParams);
    h0->pstStackParams = nullptr;
}

// Removes every level above h0, from the top down; false with the removal's
// code when one cannot be removed (the levels below it then stay).
bool RemoveLevelsAbove(StackHandle *h0) {
    if (ZERA_hHandleGetNextLevel(h0) == nullptr) return true;
    return ZERA_boRemoveFromStackA(h0, 1) != 0;
}

// Closes a level 0 that has no level above and releases what the kit gave
// it: its name, its parameter list and, through pfnLevelContextRelease, a
// descriptor the kit made.
void DiscardHostLevel(StackHandle *h0) {
    void *context = h0->pvLevelContext;
    auto release = h0->pfnLevelContextRelease;
    void *name = h0->pvComponentName;
    ReleaseHostParamList(h0);
    ZERA_boHandleClose(h0);
    zera::Free(name);
    if (release != nullptr && context != nullptr) release(context);
}


StackHandle *TopOf(StackHandle *h0) {
    StackHandle *h = h0;
    while (StackHandle *next = zera::NextLevelOf(h)) h = next;
    return h;
}

// Error texts and arguments are short; the platform layer keeps at most
// 1023 bytes of an argument.
constexpr size_t kTextSize = 512;

// Stores `code` with a reason and, as the argument, the level named as
// "level 2 (Loopback)".
void FailAtLevel(StackHandle *h0, const StackHandle *h, uint32_t code, const char *reason) {
    const char *name = ZERA_hsComponentNameA(h0, h->u8Level);
    char level[kTextSize];
    std::snprintf(level, sizeof level, "level %u (%s)", static_cast<unsigned>(h->u8Level),
                  name != nullptr ? name : "unnamed");
    OSAL_vSetLastErrorText(code, OSAL_SEVERITY_ERROR, reason, OSAL_ARG_STRING, level);
}

// Stores why level h did not start: the code its start export stored, with
// that error's own message, or 1036 when it stored none; the argument names
// the level either way.
void FailStart(StackHandle *h0, const StackHandle *h, const zera::RefusedStart &why) {
    // The stored text reads "<code's text> (<code>): <message>" exactly as
    // the platform layer writes it: the code is told again by the new
    // error, and what follows that prefix is the component's own message.
    const char *message = nullptr;
    if (why.code != OSAL_ERR_NONE) {
        const char *codeText = OSAL_pszGetErrorText(why.code);
        char prefix[kTextSize];
        const int n = std::snprintf(prefix, sizeof prefix, "%s (%u): ", codeText != nullptr ? codeText : "Unknown error",
                                    static_cast<unsigned>(why.code));
        if (n > 0 && std::strncmp(why.text, prefix, static_cast<size_t>(n)) == 0) message = why.text + n;
    }
    char reason[kTextSize];
    std::snprintf(reason, sizeof reason, "did not start: %s",
                  message != nullptr ? message : "its component's ZERA_boModuleStartCommuThreads export returned false");
    FailAtLevel(h0, h, why.code != OSAL_ERR_NONE ? why.code : uint32_t{OSAL_ERR_INIT_FAILED}, reason);
}

// ---- Finding components ---------------------------------------------------------

bool HasFolder(const char *name) { return std::strpbrk(name, "/\\") != nullptr; }

bool EndsWithSuffix(const char *name) {
    const size_t length = std::strlen(name);
    const size_t n = std::strlen(kComponentSuffix);
    if (length < n) return false;
    for (size_t i = 0; i < n; ++i) {
        const char c = name[length - n + i];
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        if (upper != kComponentSuffix[i]) return false;
    }
    return true;
}

bool FileExists(const char *path) {
    std::FILE *f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

// Looks for the module file of a bare name in the folders of
// ZERA_COMPONENT_PATH, in order. Returns the path of the first folder's file
// that exists in a block the caller frees (zera::Free), or null: none has it
// (*failed false), or memory ran out (*failed true, 1026 stored).
char *FindOnComponentPath(const char *name, bool *failed) {
    *failed = false;
    const char *folders = std::getenv("ZERA_COMPONENT_PATH");
    if (folders == nullptr) return nullptr;
    const char *suffix = EndsWithSuffix(name) ? "" : kComponentSuffix;
    const size_t tail = 1 + std::strlen(name) + std::strlen(suffix) + 1;
    for (const char *folder = folders;; ++folder) {
        const char *end = std::strchr(folder, ZERA_COMPONENT_PATH_SEPARATOR);
        const size_t length = end != nullptr ? static_cast<size_t>(end - folder) : std::strlen(folder);
        if (length > 0) {
            char *path = static_cast<char *>(zera::Alloc(length + tail));
            if (path == nullptr) {
                OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
                *failed = true;
                return nullptr;
            }
            std::snprintf(path, length + tail, "%.*s/%s%s", static_cast<int>(length), folder, name, suffix);
            if (FileExists(path)) return path;
            zera::Free(path);
        }
        if (end == nullptr) return nullptr;
        folder = end;
    }
}

// ---- Starting and stopping ----------------------------------------------------------

// Hands a stack status event with `status` to the top level's input filter,
// which takes it over level by level down to h0. False with the create's
// code when the event cannot be made (nothing changed then).
bool SendStatusDown(StackHandle *top, uint32_t status) {
    Event *ev = zera::NewStackStatusEvent(top, status);
    if (ev == nullptr) return false;
    auto filter = zera::EntryOf<zera::PfnInputFilter>(top, zera::kEntryInputFilter);
    if (filter == nullptr) {
        ZERA_boDeleteEvent(ev);
        return false;
    }
    filter(top, ev);
    return true;
}

bool Exports(const StackHandle *h, const char *name) {
    return zera::LookUpQuietly(h->hModule, name) != nullptr;
}

// Whether the library can start and stop level h: its module exports both
// names of the start pair and of the stop pair (the filter calls a pair only
// when both exist). If not, `why` gets a reason naming what is missing.
bool ThreadExportsWhole(const StackHandle *h, char (&why)[kTextSize]) {
    static const char *const kPairNames[] = {"ZERA_boModuleStartCommuThreadsA", "ZERA_boModuleStartCommuThreadsW",
                                             "ZERA_boModuleStopCommuThreadsA", "ZERA_boModuleStopCommuThreadsW"};
    size_t used = static_cast<size_t>(std::snprintf(why, sizeof why, "cannot be started: its component does not export"));
    bool whole = true;
    for (const char *name : kPairNames) {
        if (Exports(h, name)) continue;
        if (used < sizeof why) {
            used += static_cast<size_t>(std::snprintf(why + used, sizeof why - used, "%s %s", whole ? "" : ",", name));
        }
        whole = false;
    }
    if (!whole && used < sizeof why) {
        std::snprintf(why + used, sizeof why - used,
                      " (the library starts and stops a level's threads only through both names of each pair)");
    }
    return whole;
}

// The highest level above 0 that is not started, or null.
StackHandle *HighestUnstarted(StackHandle *h0) {
    StackHandle *found = nullptr;
    for (StackHandle *h = zera::NextLevelOf(h0); h != nullptr; h = zera::NextLevelOf(h)) {
        if ((zera::LoadRelaxed(h->dwStatus) & kRunning) != kRunning) found = h;
    }
    return found;
}

bool AnyStarted(StackHandle *h0) {
    for (StackHandle *h = h0; h != nullptr; h = zera::NextLevelOf(h)) {
        if ((zera::LoadRelaxed(h->dwStatus) & ZERA_STATUS_STARTED) != 0) return true;
    }
    return false;
}

// The status word that stops a stack (started bit cleared, the rest kept).
uint32_t StoppedStatus(const StackHandle *top) { return zera::LoadRelaxed(top->dwStatus) & ~ZERA_STATUS_STARTED; }

// A relative time of ms milliseconds.
TimeVal Milliseconds(uint32_t ms) {
    return TimeVal{((ms % 1000u) * 1000u) | OSAL_TIME_RELATIVE, static_cast<int32_t>(ms / 1000u)};
}


}  // namespace

namespace zera {

bool IsHostLevel(StackHandle *h) {
    if (!ZERA_boHandleCheck(h, 1)) return false;
    if (h->u8Level == 0 && h->pstPrevLevel == nullptr && h->pvLevelContext != nullptr) return true;
    return Fail(OSAL_ERR_INVALID_HANDLE);
}

}  // namespace zera

extern "C" {

ZERA_API void ZERA_CALL ZERA_vHostDescriptorInit(HostStackDescriptor *pstDesc) {
    if (pstDesc == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return;
    }
    zera::WriteLevel1Link(pstDesc, nullptr);
    pstDesc->dwLevelMask = 1u;
}

ZERA_API StackHandle *ZERA_CALL ZERA_hHostStackCreate(HostStackDescriptor *pstDesc) {
    HostStackDescriptor *desc = pstDesc;
    if (desc == nullptr) {
        desc = static_cast<HostStackDescriptor *>(zera::AllocZero(1, sizeof(HostStackDescriptor)));
        if (desc == nullptr) {
            OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
            return nullptr;
        }
    }
    StackHandle *h0 = ZERA_hHandleCreate(nullptr);
    if (h0 != nullptr && (!FillHostEntryTable(h0) || !CreateHostParamList(h0))) {
        DiscardHostLevel(h0);
        h0 = nullptr;
    }
    if (h0 == nullptr) {
        if (desc != pstDesc) zera::Free(desc);
        return nullptr;
    }
    // The descriptor is written last, so a failed create leaves the host's as
    // it was.
    ZERA_vHostDescriptorInit(desc);
    h0->pvLevelContext = desc;
    if (desc != pstDesc) h0->pfnLevelContextRelease = ReleaseKitDescriptor;
    return h0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostStackDestroy(StackHandle *h0) {
    if (!IsHostLevel(h0)) return 0;
    if (!RemoveLevelsAbove(h0)) return 0;
    DiscardHostLevel(h0);
    return 1;
}

ZERA_API uint8_t ZERA_CALL ZERA_bHostAddComponentA(StackHandle *h0, const char *pszName) {
    if (!IsHostLevel(h0)) return 0;
    if (pszName == nullptr || *pszName == '\0') {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    if (!HasFolder(pszName)) {
        bool failed = false;
        char *found = FindOnComponentPath(pszName, &failed);
        if (failed) return 0;
        if (found != nullptr) {
            const uint8_t level = ZERA_bAddToStackA(h0, found);
            zera::Free(found);
            return level;
        }
    }
    return ZERA_bAddToStackA(h0, pszName);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostStartStack(StackHandle *h0) {
    if (!IsHostLevel(h0)) return 0;
    StackHandle *top = TopOf(h0);
    if (top == h0 || (zera::LoadRelaxed(top->dwStatus) & ZERA_STATUS_COMPLETE) == 0) {
        FailAtLevel(h0, top, OSAL_ERR_NOT_COMPLETE,
                    top == h0 ? "the stack has no level above 0" : "no level completes the stack; the topmost is");
        return 0;
    }
    // A level the library cannot start is found before anything changes.
    for (StackHandle *h = top; h != h0; h = h->pstPrevLevel) {
        char why[kTextSize];
        if (!ThreadExportsWhole(h, why)) {
            FailAtLevel(h0, h, OSAL_ERR_MODULE_REFUSED, why);
            return 0;
        }
    }
    if (HighestUnstarted(h0) == nullptr) return 1;
    zera::ForgetRefusedStart();
    if (!SendStatusDown(top, zera::LoadRelaxed(top->dwStatus) | kRunning)) return 0;
    StackHandle *refused = HighestUnstarted(h0);
    if (refused == nullptr) return 1;
    // Kept before the stop below can store codes of its own.
    const zera::RefusedStart why = zera::FirstRefusedStart();
    // The levels below it took the status all the same: stop them again, so
    // that a failed start leaves the stack stopped.
    SendStatusDown(top, StoppedStatus(top));
    FailStart(h0, refused, why);
    return 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostStopStack(StackHandle *h0) {
    if (!IsHostLevel(h0)) return 0;
    if (!AnyStarted(h0)) return 1;
    StackHandle *top = TopOf(h0);
    return SendStatusDown(top, StoppedStatus(top)) ? 1 : 0;
}

ZERA_API Event *ZERA_CALL ZERA_pstHostCreateEvent(StackHandle *h0, int32_t i32Type, uint8_t u8Level,
                                                  uint32_t dwDataSize) {
    if (!IsHostLevel(h0)) return nullptr;
    if (i32Type < ZERA_EVENT_DATA0 || i32Type > ZERA_EVENT_INTERVAL) {
        char text[zera::kRefusalTextSize];
        zera::FormatText(text, sizeof text, "event type %d: a host sends types %d to %d", static_cast<int>(i32Type),
                      ZERA_EVENT_DATA0, ZERA_EVENT_INTERVAL);
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, text);
        return nullptr;
    }
    if (u8Level > ZERA_MAX_LEVEL) {
        char text[zera::kRefusalTextSize];
        zera::FormatText(text, sizeof text, "level %u: a stack has levels up to %u", static_cast<unsigned>(u8Level),
                      static_cast<unsigned>(ZERA_MAX_LEVEL));
        OSAL_vSetLastErrorArgs(OSAL_ERR_INVALID_ARG, OSAL_ARG_STRING, text);
        return nullptr;
    }
    Event *ev = ZERA_pstCreateEvent(i32Type, u8Level, dwDataSize);
    if (ev == nullptr) return nullptr;
    // Level 0 has no identifier manager: the event keeps the identifier it
    // was made with, and level 0 becomes its owner.
    if (!ZERA_boSetEventID(ev, h0, ev->dwEventId)) {
        ZERA_boDeleteEvent(ev);
        return nullptr;
    }
    return ev;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boHostSendEvent(StackHandle *h0, Event *pstEvent, uint32_t dwDelayMs) {
    if (!IsHostLevel(h0)) return 0;
    if (pstEvent == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    const StackHandle *top = TopOf(h0);
    const uint32_t level = pstEvent->u8Level == 0 ? 1u : pstEvent->u8Level;
    if (level > top->u8Level) {
        char what[64];
        char levels[64];
        zera::FormatText(what, sizeof what, "no level %u", static_cast<unsigned>(level));
        zera::FormatText(levels, sizeof levels, "the stack has levels 1 to %u", static_cast<unsigned>(top->u8Level));
        OSAL_vSetLastErrorText(OSAL_ERR_INVALID_LEVEL, OSAL_SEVERITY_ERROR, what, OSAL_ARG_STRING,
                               top == h0 ? "the stack has no level above 0" : levels);
        return 0;
    }
    const TimeVal when = Milliseconds(dwDelayMs);
    return ZERA_boSendEvent(h0, pstEvent, 0, &when);
}

ZERA_API Event *ZERA_CALL ZERA_pstHostReceiveEvent(StackHandle *h0, uint32_t dwTimeoutMs) {
    if (!IsHostLevel(h0)) return nullptr;
    const TimeVal timeout = dwTimeoutMs == ZERA_HOST_WAIT_FOREVER ? OSAL_stTimeInfinite : Milliseconds(dwTimeoutMs);
    OSAL_vSetLastError(OSAL_ERR_NONE);
    return ZERA_pstReceiveEvent(h0, 0xFFFFFFFFu, 0xFFFFFFFFu, &timeout);
}

}  // extern "C"
