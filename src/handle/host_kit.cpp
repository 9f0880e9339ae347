// handle/host_kit.cpp - the host kit (ZERA_Host.h): a ready level 0 in one
// call, and its removal.
//
// A ready level 0 is: the handle, its descriptor holding the masked null, the
// entry table of a level without module, and an empty parameter list. Its
// pstUpperInfoBlock stays empty (version 0.0, no flags, no ranges): a host
// that expects components of another version family fills it before its
// first add.
#include "handle/handle.h"
#include "param/param.h"

namespace {

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
    OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
    return false;
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

}  // namespace

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
    if (!ZERA_boHandleCheck(h0, 1)) return 0;
    if (h0->u8Level != 0 || h0->pstPrevLevel != nullptr || h0->pvLevelContext == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
        return 0;
    }
    if (!RemoveLevelsAbove(h0)) return 0;
    DiscardHostLevel(h0);
    return 1;
}

}  // extern "C"
