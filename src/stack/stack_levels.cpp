// stack/stack_levels.cpp - growing a stack by a component level on top and
// shrinking it from the top down.
//
// Both requests climb from the level they are called on through slots 3 to
// 6 of the levels above; the topmost level does the work and each level on
// the way back down adds its share (level 0 keeps the host descriptor's mask
// of present levels). Everything runs on the calling thread without a lock:
// nothing else may use the stack while it changes.
//
// A new level owns, until it is removed: its module, its identifier manager
// (none on a stack without identifier management), its name block and its
// stack parameters. A refused level releases all of them, and the level
// below gets its dwWantedLevels back, so a failed add leaves the stack as it
// was except for the levels-changed mark of the level it was called on.
#include <cstdio>
#include <cstring>

#include "ZERA_Component.h"
#include "event/event.h"
#include "stack/stack.h"

namespace {

constexpr char kComponentSuffix[] = ".COMPONENT";
constexpr size_t kComponentSuffixLength = sizeof kComponentSuffix - 1;
constexpr uint32_t kLevelBits = 0x3F;
constexpr uint32_t kRunningBits = ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED;
constexpr uint16_t kDefaultIdBlockSize = 16384;
constexpr uint8_t kDefaultIdBlocks = 3;

constexpr const char *kBindExportA = "ZERA_boModuleInitAPIA";
constexpr const char *kBindExportW = "ZERA_boModuleInitAPIW";
constexpr const char *kNotComponentExport = "ZERA_boDeleteStack";
constexpr const char *kEvIdConfigExport = "ZERA_stGetEvIdManagerConfig";
constexpr const char *kInvalidStackLevel = "Invalid stack level";

HostStackDescriptor *DescriptorOf(const StackHandle *h0) {
    return static_cast<HostStackDescriptor *>(h0->pvLevelContext);
}

void SetLevelBit(StackHandle *h0, uint32_t level) {
    if (HostStackDescriptor *desc = DescriptorOf(h0)) desc->dwLevelMask |= 1u << level;
}

// Clears the bits of `level` to 31 in the host's mask of present levels.
void ClearLevelBitsFrom(StackHandle *h0, uint32_t level) {
    HostStackDescriptor *desc = DescriptorOf(h0);
    if (desc == nullptr || level > ZERA_MAX_LEVEL) return;
    desc->dwLevelMask &= (1u << level) - 1u;
}

// A narrow copy of a name for error arguments: the name itself when narrow,
// a heap copy (units above 0xFF become '?') when wide.
class NarrowName {
public:
    NarrowName(bool wide, const void *name) {
        if (!wide) {
            text_ = static_cast<const char *>(name);
            return;
        }
        const size_t length = zera::StringUnits(static_cast<const WCHAR16 *>(name));
        owned_ = static_cast<char *>(zera::Alloc(length + 1));
        if (owned_ != nullptr) zera::WideToNarrow(owned_, length + 1, static_cast<const WCHAR16 *>(name));
        text_ = owned_;
    }
    ~NarrowName() { zera::Free(owned_); }
    NarrowName(const NarrowName &) = delete;
    NarrowName &operator=(const NarrowName &) = delete;
    const char *text() const { return text_; }

private:
    const char *text_ = nullptr;
    char *owned_ = nullptr;
};

// Stores a code with the name as its argument, or without one when the
// narrow copy could not be made.
void StoreWithName(uint32_t code, const char *name) {
    if (name != nullptr) {
        OSAL_vSetLastErrorArgs(code, OSAL_ARG_STRING, name);
    } else {
        OSAL_vSetLastError(code);
    }
}

template <typename Char>
bool EndsWithComponentSuffix(const Char *name, size_t length) {
    if (length <= kComponentSuffixLength) return false;
    const Char *tail = name + (length - kComponentSuffixLength);
    for (size_t i = 0; i < kComponentSuffixLength; ++i) {
        unsigned c = static_cast<unsigned>(tail[i]);
        if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
        if (c != static_cast<unsigned char>(kComponentSuffix[i])) return false;
    }
    return true;
}

// The module file of a component: the name followed by ".COMPONENT", or the
// name itself when it already ends so. Wide names keep a wide form for the
// loader (released right after the load) and a narrow one for errors.
class ComponentFile {
public:
    // False (1026) when memory runs out.
    bool Build(bool wide, const void *name) {
        const size_t length = zera::NameUnits(wide, name);
        const bool hasSuffix = wide ? EndsWithComponentSuffix(static_cast<const WCHAR16 *>(name), length)
                                    : EndsWithComponentSuffix(static_cast<const char *>(name), length);
        const size_t total = length + (hasSuffix ? 0 : kComponentSuffixLength);
        narrow_ = static_cast<char *>(zera::Alloc(total + 1));
        if (wide) wide_ = static_cast<WCHAR16 *>(zera::Alloc((total + 1) * sizeof(WCHAR16)));
        if (narrow_ == nullptr || (wide && wide_ == nullptr)) return zera::Fail(OSAL_ERR_NO_MEMORY);
        if (wide) {
            std::memcpy(wide_, name, length * sizeof(WCHAR16));
            for (size_t i = length; i < total; ++i) wide_[i] = static_cast<WCHAR16>(kComponentSuffix[i - length]);
            wide_[total] = 0;
            zera::WideToNarrow(narrow_, total + 1, wide_);
        } else {
            std::memcpy(narrow_, name, length);
            std::memcpy(narrow_ + length, kComponentSuffix, total - length);
            narrow_[total] = '\0';
        }
        return true;
    }
    OSAL_HMODULE Load() {
        if (wide_ == nullptr) return OSAL_hLoadLibraryA(narrow_);
        OSAL_HMODULE module = OSAL_hLoadLibraryW(wide_);
        zera::Free(wide_);
        wide_ = nullptr;
        return module;
    }
    const char *narrow() const { return narrow_; }
    ~ComponentFile() {
        zera::Free(narrow_);
        zera::Free(wide_);
    }

private:
    char *narrow_ = nullptr;
    WCHAR16 *wide_ = nullptr;
};

// The level this thread is removing right now (its component's deinit, the
// release of its context and the unloading of its module run meanwhile), or
// null. An add or a removal that reaches it as the topmost level comes from
// inside that removal: the level is half gone, so it is refused.
thread_local const StackHandle *t_levelGoing = nullptr;

class LevelGoing {
public:
    explicit LevelGoing(const StackHandle *h) : outer_(t_levelGoing) { t_levelGoing = h; }
    ~LevelGoing() { t_levelGoing = outer_; }
    LevelGoing(const LevelGoing &) = delete;
    LevelGoing &operator=(const LevelGoing &) = delete;

private:
    const StackHandle *outer_;  // a removal of another stack that this one runs inside
};

// False with 1027 when the topmost level h is being removed by this thread.
bool TopMayChange(const StackHandle *h) {
    if (h != t_levelGoing) return true;
    OSAL_vSetLastErrorText(OSAL_ERR_INVALID_HANDLE, OSAL_SEVERITY_ERROR,
                           "the topmost level is being removed: no level can be added or removed from inside its removal",
                           OSAL_ARG_NONE, nullptr);
    return false;
}

// The level being added on top of `parent`.
struct NewLevel {
    StackHandle *parent;
    uint32_t parentWantedLevels;  // before the handle set the new level's bit
    StackHandle *h;
    bool managerStarted;
};

// Calls the release function a component set for its level context (it
// lives in the component's module: before the module goes).
void ReleaseLevelContext(StackHandle *h) {
    if (h->pvLevelContext != nullptr && h->pfnLevelContextRelease != nullptr) {
        h->pfnLevelContextRelease(h->pvLevelContext);
    }
    h->pvLevelContext = nullptr;
    h->pfnLevelContextRelease = nullptr;
}

// Releases a refused level whole, also a context its component's init set
// before refusing; the stored error code stays as it is.
void ReleaseNewLevel(NewLevel &level, bool wide) {
    StackHandle *h = level.h;
    if (level.managerStarted) ZERA_boEvIdManagerDeinit(&h->stEvIdManager);
    ReleaseLevelContext(h);
    zera::Free(h->pvComponentName);
    h->pvComponentName = nullptr;
    if (h->hModule != nullptr) OSAL_boFreeLibrary(h->hModule);
    h->hModule = nullptr;
    if (h->pstStackParams != nullptr) {
        if (wide) {
            ZERA_vDeleteParamListW(h->pstStackParams);
        } else {
            ZERA_vDeleteParamListA(h->pstStackParams);
        }
        h->pstStackParams = nullptr;
    }
    ZERA_boHandleClose(h);
    level.parent->dwWantedLevels = level.parentWantedLevels;
}

// Starts the new level's identifier manager with the component's
// configuration (or the default); nothing on a stack without identifier
// management. False with the manager's code.
bool StartManager(NewLevel &level) {
    StackHandle *h = level.h;
    if ((zera::LoadRelaxed(level.parent->dwStatus) & ZERA_STATUS_NO_EVID) != 0) return true;
    EvIdManagerConfig config{kDefaultIdBlockSize, kDefaultIdBlocks, 0};
    auto configure = reinterpret_cast<ZERA_PFN_EVID_CONFIG>(zera::LookUpQuietly(h->hModule, kEvIdConfigExport));
    if (configure != nullptr) config = configure(h);
    level.managerStarted = ZERA_boEvIdManagerInit(h, &h->stEvIdManager, &config) != 0;
    return level.managerStarted;
}

// Loads, binds and links the module on the new level (steps that refuse
// with 1035). Null when it was accepted; else why it was refused.
const char *AcceptModule(NewLevel &level, bool wide) {
    StackHandle *h = level.h;
    auto bind =
        reinterpret_cast<ZERA_PFN_MODULE_INIT_API>(zera::LookUpQuietly(h->hModule, wide ? kBindExportW : kBindExportA));
    const bool notComponent = zera::LookUpQuietly(h->hModule, kNotComponentExport) != nullptr;
    if (!StartManager(level)) return "the level's event-identifier manager cannot start";
    if (bind == nullptr) {
        return wide ? "the module does not export \"ZERA_boModuleInitAPIW\""
                    : "the module does not export \"ZERA_boModuleInitAPIA\"";
    }
    // Refused before its binding runs: a module that is no component must
    // not run code on the new level.
    if (notComponent) return "the module exports \"ZERA_boDeleteStack\": it is no component";
    zera::ClearBindingRefusal();
    if (!bind(h)) {
        const char *why = zera::BindingRefusal();
        return why != nullptr ? why : "the component's binding failed";
    }
    // A binding of the component's own making may have left them out.
    if (h->apfnEntry[zera::kEntryModuleInit] == nullptr || h->apfnEntry[zera::kEntryModuleDeinit] == nullptr) {
        return "the binding left the level without ZERA_boModuleInit or ZERA_boModuleDeinit";
    }
    if (!ZERA_boHandleBind(level.parent, h)) return "the level cannot be linked on top of the stack";
    return nullptr;
}

// Stores the match's code again with an argument that names the rule, both
// components (the new one by its file when it has no name) and their figures, e.g. "range B: Ticker needs range B 3..3
// below it; level 1 (Counter) offers 2..2".
void ExplainMismatch(StackHandle *added, const StackHandle *below, const char *file) {
    const uint32_t code = OSAL_dwGetLastError();
    const char *arg = OSAL_pszGetLastErrorArg();
    char rule[32];
    zera::FormatText(rule, sizeof rule, "%s", arg != nullptr ? arg : "");
    char lower[zera::kRefusalTextSize], text[zera::kRefusalTextSize];
    zera::DescribeLevel(below, lower, sizeof lower);
    const char *name = nullptr;
    {
        zera::KeepLastError keep;
        name = ZERA_hsComponentNameA(added, added->u8Level);  // made on first use
    }
    if (name == nullptr) name = file;  // a module without a name export
    const InfoBlock &p = *added->pstInfoBlock, &q = *below->pstUpperInfoBlock;
    const auto major = [](const InfoBlock &b) { return static_cast<unsigned>(b.dwVersion >> 16); };
    const auto minor = [](const InfoBlock &b) { return static_cast<unsigned>(b.dwVersion & 0xFFFFu); };
    if (std::strcmp(rule, "version") == 0) {
        zera::FormatText(text, sizeof text, "version: %s is version %u.%u; %s takes version %u.x on top", name, major(p),
                      minor(p), lower, major(q));
    } else if (std::strcmp(rule, "minor version") == 0) {
        zera::FormatText(text, sizeof text,
                      "minor version: %s is version %u.%u and takes partners from minor %u; %s takes from minor %u "
                      "on top and is %u.%u",
                      name, major(p), minor(p), static_cast<unsigned>(p.u16MinPartnerMinor), lower,
                      static_cast<unsigned>(q.u16MinPartnerMinor), major(q), minor(q));
    } else if (std::strcmp(rule, "flags") == 0) {
        zera::FormatText(text, sizeof text, "flags: %s takes nothing on top (its upper flags 0x%02X); %s has flags 0x%02X",
                      lower, static_cast<unsigned>(q.dwFlags), name, static_cast<unsigned>(p.dwFlags));
    } else if (std::strcmp(rule, "range A") == 0) {
        zera::FormatText(text, sizeof text, "range A: %s takes range A %u..%u below it; %s offers %u..%u", name,
                      static_cast<unsigned>(p.dwRangeALow), static_cast<unsigned>(p.dwRangeAHigh), lower,
                      static_cast<unsigned>(q.dwRangeALow), static_cast<unsigned>(q.dwRangeAHigh));
    } else if (std::strcmp(rule, "range B") == 0) {
        zera::FormatText(text, sizeof text, "range B: %s needs range B %u..%u below it; %s offers %u..%u", name,
                      static_cast<unsigned>(p.dwRangeBLow), static_cast<unsigned>(p.dwRangeBHigh), lower,
                      static_cast<unsigned>(q.dwRangeBLow), static_cast<unsigned>(q.dwRangeBHigh));
    } else {
        zera::FormatText(text, sizeof text, "%s: %s on %s", rule[0] != '\0' ? rule : "info block", name, lower);
    }
    OSAL_vSetLastErrorArgs(code, OSAL_ARG_STRING, text);
}

// Adds the component on top of h, the topmost level.
uint8_t AddOnTop(bool wide, StackHandle *h, const void *name) {
    NewLevel level{h, h->dwWantedLevels, nullptr, false};
    level.h = ZERA_hHandleCreate(h);
    if (level.h == nullptr) return 0;
    StackHandle *added = level.h;

    ComponentFile file;
    if (!file.Build(wide, name)) {
        ReleaseNewLevel(level, wide);
        return 0;
    }
    added->hModule = file.Load();
    if (added->hModule == nullptr) {  // the loader's code and reason stand
        ReleaseNewLevel(level, wide);
        return 0;
    }
    if (const char *refusal = AcceptModule(level, wide)) {
        ReleaseNewLevel(level, wide);
        OSAL_vSetLastErrorText(OSAL_ERR_MODULE_REFUSED, OSAL_SEVERITY_ERROR, refusal, OSAL_ARG_STRING, file.narrow());
        return 0;
    }

    OSAL_vSetLastError(OSAL_ERR_NONE);
    if (!ZERA_boInfoBlockMatch(added->pstInfoBlock, h->pstUpperInfoBlock)) {  // 2055 / 2057 stand
        ExplainMismatch(added, h, file.narrow());
        ReleaseNewLevel(level, wide);
        return 0;
    }
    const uint32_t oldStatus = zera::LoadRelaxed(h->dwStatus);
    // Named before its initialisation, which may send already.
    zera::trace::NameTrack(added, added->u8Level, file.narrow());
    auto init = reinterpret_cast<ZERA_PFN_MODULE_INIT>(added->apfnEntry[zera::kEntryModuleInit]);
    if (!init(added)) {
        const bool silent = OSAL_dwGetLastError() == OSAL_ERR_NONE;
        zera::trace::ForgetTrack(added);
        ReleaseNewLevel(level, wide);
        if (silent) OSAL_vSetLastErrorArgs(OSAL_ERR_INIT_FAILED, OSAL_ARG_STRING, file.narrow());
        return 0;
    }

    zera::MarkLevelsChanged(added);
    if (zera::trace::LogOn(zera::trace::kModule, zera::trace::kInfo)) {
        zera::trace::Log(zera::trace::kModule, zera::trace::kInfo, "level %u: %s added", added->u8Level, file.narrow());
    }
    if (h->u8Level == 0) SetLevelBit(h, added->u8Level);
    const bool completes = added->pstInfoBlock->dwFlags == ZERA_INFO_COMPLETES_STACK;
    zera::StoreRelaxed(added->dwStatus, zera::LoadRelaxed(h->dwStatus) | (completes ? ZERA_STATUS_COMPLETE : 0));
    if (completes) {
        auto notify = reinterpret_cast<ZERA_PFN_MODULE_NOTIFY>(
            added->apfnEntry[wide ? zera::kEntryModuleNotifyW : zera::kEntryModuleNotifyA]);
        if (notify != nullptr) notify(added);
        ZERA_vUpdateStackStatus(added, oldStatus);
    }
    return added->u8Level;
}

uint8_t AddToStack(bool wide, StackHandle *h, const void *name) {
    if (zera::IsEmptyName(wide, name)) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return 0;
    }
    if (!ZERA_boHandleCheck(h, 1)) {
        NarrowName arg(wide, name);
        StoreWithName(OSAL_ERR_INVALID_HANDLE, arg.text());
        return 0;
    }
    zera::MarkLevelsChanged(h);
    if (zera::NextLevelOf(h) != nullptr) {
        StackHandle *next = zera::CheckedNextLevel(h);
        if (next == nullptr) return 0;
        uint8_t added = 0;
        if (wide) {
            auto add = zera::EntryOf<zera::PfnAddToStackW>(next, zera::kEntryAddToStackW);
            if (add != nullptr) added = add(next, static_cast<const WCHAR16 *>(name));
        } else {
            auto add = zera::EntryOf<zera::PfnAddToStackA>(next, zera::kEntryAddToStackA);
            if (add != nullptr) added = add(next, static_cast<const char *>(name));
        }
        if (h->u8Level == 0 && added != 0) SetLevelBit(h, added);
        return added;
    }
    if (!TopMayChange(h)) return 0;
    if (h->u8Level >= ZERA_MAX_LEVEL) {
        NarrowName arg(wide, name);
        OSAL_vSetLastErrorText(OSAL_ERR_INVALID_LEVEL, OSAL_SEVERITY_ERROR, kInvalidStackLevel,
                               arg.text() != nullptr ? OSAL_ARG_STRING : OSAL_ARG_NONE, arg.text());
        return 0;
    }
    return AddOnTop(wide, h, name);
}

// Removes `next`, the topmost level, from above h.
bool RemoveNextLevel(bool wide, StackHandle *h, StackHandle *next, uint32_t level) {
    LevelGoing going(next);
    zera::trace::ForgetTrack(next);
    if (zera::trace::LogOn(zera::trace::kModule, zera::trace::kInfo)) {
        zera::trace::Log(zera::trace::kModule, zera::trace::kInfo, "level %u: removed", next->u8Level);
    }
    if (auto deinit = reinterpret_cast<ZERA_PFN_MODULE_DEINIT>(next->apfnEntry[zera::kEntryModuleDeinit])) {
        deinit(next);
    }
    // A manager runs exactly on the levels that started one (none on a
    // stack without identifier management).
    if (next->stEvIdManager.pstLevel != nullptr) ZERA_boEvIdManagerDeinit(&next->stEvIdManager);
    ReleaseLevelContext(next);
    if (next->hModule != nullptr) {
        if (!OSAL_boFreeLibrary(next->hModule)) return false;
        next->hModule = nullptr;
    }
    zera::Free(next->pvComponentName);
    next->pvComponentName = nullptr;
    if (wide) {
        ZERA_vDeleteParamListW(next->pstStackParams);
    } else {
        ZERA_vDeleteParamListA(next->pstStackParams);
    }
    next->pstStackParams = nullptr;
    if (h->u8Level == 0) ClearLevelBitsFrom(h, level);
    return ZERA_boHandleClose(next) != 0;
}

bool RemoveFromStack(bool wide, StackHandle *h, uint8_t u8Level) {
    const uint32_t level = u8Level & kLevelBits;
    if (level == 0) {
        if (ZERA_boHandleCheck(h, 1)) OSAL_vSetLastError(OSAL_ERR_INVALID_LEVEL);
        return false;
    }
    if (!ZERA_boHandleCheck(h, 1)) return false;
    zera::MarkLevelsChanged(h);
    StackHandle *next = zera::NextLevelOf(h);
    if (next == nullptr) {
        if (!TopMayChange(h)) return false;
        if (h->u8Level < level) return zera::Fail(OSAL_ERR_INVALID_LEVEL);
        // The stack stops before its first level goes: the status runs down
        // from the top, so every started component stops its threads. When
        // no event can be made (memory short) the status is applied level by
        // level all the same; only the host's copy of it is missing then.
        zera::KeepLastError keep;
        const uint32_t stopped = zera::LoadRelaxed(h->dwStatus) & ~kRunningBits;
        if (Event *ev = zera::NewStackStatusEvent(h, stopped)) {
            ZERA_vInputFilter(h, ev);
        } else {
            zera::ApplyStackStatusDown(h, stopped);
        }
        return true;
    }
    if (!ZERA_boHandleCheck(next, 0)) return false;
    auto remove = zera::EntryOf<zera::PfnRemoveFromStack>(
        next, wide ? zera::kEntryRemoveFromStackW : zera::kEntryRemoveFromStackA);
    if (remove == nullptr || !remove(next, static_cast<uint8_t>(level))) return false;
    if (next->u8Level < level) {
        if (h->u8Level == 0) ClearLevelBitsFrom(h, level);
        return true;
    }
    return RemoveNextLevel(wide, h, next, level);
}

}  // namespace

extern "C" {

ZERA_API uint8_t ZERA_CALL ZERA_bAddToStackA(StackHandle *h, const char *pszName) {
    return AddToStack(false, h, pszName);
}

ZERA_API uint8_t ZERA_CALL ZERA_bAddToStackW(StackHandle *h, const WCHAR16 *pwszName) {
    return AddToStack(true, h, pwszName);
}

ZERA_API BOOL8 ZERA_CALL ZERA_boRemoveFromStackA(StackHandle *h, uint8_t u8Level) {
    return RemoveFromStack(false, h, u8Level) ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CALL ZERA_boRemoveFromStackW(StackHandle *h, uint8_t u8Level) {
    return RemoveFromStack(true, h, u8Level) ? 1 : 0;
}

}  // extern "C"
