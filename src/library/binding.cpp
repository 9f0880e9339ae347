// library/binding.cpp - binding a new level to its component module: the
// component fills the level's info blocks and stack parameters, the library
// fills the level's entry table, and the receive queue learns how to mark
// the events it refuses.
//
// Binding runs on the thread that adds the level, before the level is
// linked, so nothing else can reach the level; no lock is taken.
#include "ZERA_Component.h"
#include "event/event.h"
#include "library/library.h"
#include "stack/stack.h"

namespace {

constexpr const char *kInfoBlockInitExport = "ZERA_vInfoBlockInitialize";
constexpr const char *kSetupExportA = "ZERA_boSetupParListA";
constexpr const char *kSetupExportW = "ZERA_boSetupParListW";
constexpr const char *kModuleInitExport = "ZERA_boModuleInit";
constexpr const char *kModuleDeinitExport = "ZERA_boModuleDeinit";
constexpr const char *kNotifyExportA = "ZERA_vModuleNotifyA";
constexpr const char *kNotifyExportW = "ZERA_vModuleNotifyW";

constexpr uint32_t kMaxErrorMark = 255;

template <typename Fn>
ZERA_PFN AsEntry(Fn fn) {
    return reinterpret_cast<ZERA_PFN>(fn);
}

// Refuses the binding: remembers why, and stores `code` with that text
// unless the code is 0 (then the code of the failed step stands).
bool Refuse(const char *reason, uint32_t code = 0) {
    zera::RecordBindingRefusal(reason);
    if (code != 0) OSAL_vSetLastErrorText(code, OSAL_SEVERITY_ERROR, reason, OSAL_ARG_NONE, nullptr);
    return false;
}

// Binding, narrow or wide (see ZERA_boModuleInitAPIA).
bool BindLevel(StackHandle *h, bool wide) {
    zera::ClearBindingRefusal();
    if (!ZERA_boHandleCheck(h, 1)) return Refuse("the level's handle is invalid");
    if (!zera::LibraryReady()) return Refuse("the platform layer did not start");
    if (h->hModule == nullptr) return Refuse("the level has no module");
    auto infoInit = reinterpret_cast<ZERA_PFN_INFOBLOCK_INIT>(OSAL_pfnGetProcAddress(h->hModule, kInfoBlockInitExport));
    if (infoInit == nullptr) return Refuse("the component does not export \"ZERA_vInfoBlockInitialize\"");
    auto setup = reinterpret_cast<ZERA_PFN_SETUP_PARLIST>(
        OSAL_pfnGetProcAddress(h->hModule, wide ? kSetupExportW : kSetupExportA));
    if (setup == nullptr) {
        return Refuse(wide ? "the component does not export \"ZERA_boSetupParListW\""
                           : "the component does not export \"ZERA_boSetupParListA\"");
    }
    // Adding calls the component's init and deinit without testing for them;
    // a component without them is refused here, before anything changes.
    if (zera::LookUpQuietly(h->hModule, kModuleInitExport) == nullptr) {
        return Refuse("the component does not export \"ZERA_boModuleInit\"", OSAL_ERR_MODULE_REFUSED);
    }
    if (zera::LookUpQuietly(h->hModule, kModuleDeinitExport) == nullptr) {
        return Refuse("the component does not export \"ZERA_boModuleDeinit\"", OSAL_ERR_MODULE_REFUSED);
    }

    // From here on nothing is undone: a refused level is released whole.
    h->boWide = wide ? 1 : 0;
    infoInit(h->pstInfoBlock, h->pstUpperInfoBlock);
    OSAL_vQueueSetMarkFunction(h->hRecvQueue, zera::MarkReceiveError);
    ZERA_vModuleInitAPIHooksUp(h->apfnEntry);
    ZERA_vModuleInitAPIHooksDown(h->apfnEntry, h->hModule);
    if (!setup(h->pstInfoBlock->dwFlags, &h->pstStackParams)) {
        return Refuse(wide ? "the component's ZERA_boSetupParListW failed"
                           : "the component's ZERA_boSetupParListA failed");
    }
    return true;
}

// An export of the module for slot 1, 2, 11 or 12, or null (quietly: a
// missing notification is no error).
ZERA_PFN ModuleEntry(OSAL_HMODULE module, const char *name) {
    return module != nullptr ? reinterpret_cast<ZERA_PFN>(zera::LookUpQuietly(module, name)) : nullptr;
}

}  // namespace

namespace zera {

void OSAL_CALL MarkReceiveError(void *pvEvent, uint32_t dwValue) {
    auto *event = static_cast<Event *>(pvEvent);
    if (event == nullptr) return;
    event->dwFlags |= ZERA_EVF_ERROR_MARK;
    event->u8Error = static_cast<uint8_t>(dwValue > kMaxErrorMark ? kMaxErrorMark : dwValue);
}

}  // namespace zera

extern "C" {

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleInitAPIA(StackHandle *h) { return BindLevel(h, false) ? 1 : 0; }

ZERA_API BOOL8 ZERA_CALL ZERA_boModuleInitAPIW(StackHandle *h) { return BindLevel(h, true) ? 1 : 0; }

ZERA_API void ZERA_CALL ZERA_vModuleInitAPIHooksUp(ZERA_PFN *apfnEntry) {
    if (apfnEntry == nullptr) return;
    apfnEntry[zera::kEntryInputFilter] = AsEntry(ZERA_vInputFilter);
    apfnEntry[zera::kEntrySendEventIntl] = AsEntry(ZERA_boSendEventIntl);
    apfnEntry[zera::kEntryGetErrorText] = AsEntry(zera::ErrorTextEntry);
    apfnEntry[zera::kEntryFreeMemory] = AsEntry(zera::FreeMemoryEntry);
}

ZERA_API void ZERA_CALL ZERA_vModuleInitAPIHooksDown(ZERA_PFN *apfnEntry, OSAL_HMODULE hModule) {
    using namespace zera;
    if (apfnEntry == nullptr) return;
    apfnEntry[kEntryMarshalLevel] = AsEntry(MarshalLevelHook);
    apfnEntry[kEntryModuleInit] = ModuleEntry(hModule, kModuleInitExport);
    apfnEntry[kEntryModuleDeinit] = ModuleEntry(hModule, kModuleDeinitExport);
    apfnEntry[kEntryAddToStackA] = AsEntry(ZERA_bAddToStackA);
    apfnEntry[kEntryAddToStackW] = AsEntry(ZERA_bAddToStackW);
    apfnEntry[kEntryRemoveFromStackA] = AsEntry(ZERA_boRemoveFromStackA);
    apfnEntry[kEntryRemoveFromStackW] = AsEntry(ZERA_boRemoveFromStackW);
    apfnEntry[kEntrySetStackParamA] = AsEntry(ZERA_boSetStackParamA);
    apfnEntry[kEntrySetStackParamW] = AsEntry(ZERA_boSetStackParamW);
    apfnEntry[kEntryGetStackParamA] = AsEntry(ZERA_pstGetStackParamA);
    apfnEntry[kEntryGetStackParamW] = AsEntry(ZERA_pstGetStackParamW);
    apfnEntry[kEntryModuleNotifyA] = ModuleEntry(hModule, kNotifyExportA);
    apfnEntry[kEntryModuleNotifyW] = ModuleEntry(hModule, kNotifyExportW);
    apfnEntry[kEntryCreateEvent] = AsEntry(ZERA_pstCreateEvent);
    apfnEntry[kEntryDeleteEvent] = AsEntry(ZERA_boDeleteEvent);
    apfnEntry[kEntryCloneEvent] = AsEntry(ZERA_pstCloneEvent);
    apfnEntry[kEntrySendEvent] = AsEntry(ZERA_boSendEvent);
    apfnEntry[kEntrySetEventTypes] = AsEntry(ZERA_boSetEventTypes);
    apfnEntry[kEntryAttachParamA] = AsEntry(ZERA_boAttachParamA);
    apfnEntry[kEntryAttachParamW] = AsEntry(ZERA_boAttachParamW);
    apfnEntry[kEntryBreakRecvEventWait] = AsEntry(ZERA_vBreakRecvEventWaitIntl);
    apfnEntry[kEntryConfigInputFilter] = AsEntry(ZERA_boConfigInputFilter);
    apfnEntry[kEntrySetRestoreParams] = AsEntry(ZERA_vSetRestoreParams);
    apfnEntry[kEntryGetTime] = AsEntry(ZERA_boGetTime);
    apfnEntry[kEntryGetStatistics] = AsEntry(ZERA_boGetStatistics);
    apfnEntry[kEntryResetStatistics] = AsEntry(ZERA_boResetStatistics);
    apfnEntry[kEntryComponentNameA] = AsEntry(ZERA_hsComponentNameA);
    apfnEntry[kEntryComponentNameW] = AsEntry(ZERA_lsComponentNameW);
    apfnEntry[kEntryEvIdGetBlockSize] = AsEntry(ZERA_dwEvIdGetBlockSize);
    apfnEntry[kEntryEvIdGetBlock] = AsEntry(ZERA_dwEvIdGetBlock);
    apfnEntry[kEntryEvIdFreeBlock] = AsEntry(ZERA_boEvIdFreeBlock);
    apfnEntry[kEntryGetErrorText] = AsEntry(ErrorTextEntry);
    apfnEntry[kEntryFreeMemory] = AsEntry(FreeMemoryEntry);
    apfnEntry[kEntryReceiveEvent] = AsEntry(ZERA_pstReceiveEventIntl);
}

}  // extern "C"

// The second names under which a component's own ZERA_boModuleInitAPIA/W
// (ZERA_COMPONENT_BINDING) reach the binding: the component's exports of the
// first names hide the library's inside the component.
ZERA_EXPORT_ALIAS(BOOL8, ZERA_boModuleBindLevelA, ZERA_boModuleInitAPIA, (StackHandle * h))
ZERA_EXPORT_ALIAS(BOOL8, ZERA_boModuleBindLevelW, ZERA_boModuleInitAPIW, (StackHandle * h))
