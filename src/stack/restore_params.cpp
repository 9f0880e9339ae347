// stack/restore_params.cpp - applying the parameter lists that an event
// carries for a level to that level's stack parameters, by exchanging
// values, and passing the event on to the levels above for theirs.
//
// No lock is taken: the caller serialises the use of the event and of the
// level's stack parameters.
#include <utility>

#include "ZERA_Component.h"
#include "stack/stack.h"

namespace {

constexpr uint8_t kChanged = 0x01;  // u8ChangeFlags bit 0

// The level's stack parameter of the attached parameter's name, found as a
// read of the level's own parameters finds it (its settable bit refreshed).
Param *LevelParam(StackHandle *h, bool wide, const void *name) {
    if (wide) return ZERA_pstGetStackParamW(h, h->u8Level, static_cast<const WCHAR16 *>(name));
    return ZERA_pstGetStackParamA(h, h->u8Level, static_cast<const char *>(name));
}

// Applies one attachment's list to level h. A parameter of the same name and
// type counts as a change of the level; it is exchanged only when the
// level's parameter may be set now and may travel on events. True when
// something counted.
bool ApplyList(StackHandle *h, bool wide, Param *list) {
    bool changed = false;
    for (Param *p = list; p != nullptr && p->pName != nullptr; ++p) {
        Param *s = LevelParam(h, wide, p->pName);
        if (s == nullptr || s->dwType != p->dwType) continue;
        changed = true;
        if (zera::ParamSettable(h, s) && (s->u8Attributes & ZERA_ATTR_ATTACHABLE) != 0) {
            // String values change owner with the exchange.
            std::swap(s->uValue, p->uValue);
            s->u8ChangeFlags |= kChanged;
        }
    }
    return changed;
}

void DeleteList(bool wide, Param *list) {
    if (wide) {
        ZERA_vDeleteParamListW(list);
    } else {
        ZERA_vDeleteParamListA(list);
    }
}

// Unlinks the node that *link points to and frees it with its list.
void DeleteNode(bool wide, Attachment **link) {
    Attachment *node = *link;
    *link = node->pstNext;
    DeleteList(wide, node->pParList);
    zera::Free(node);
}

bool HasNodeAbove(Event *ev, uint8_t level) {
    for (const Attachment *node = ev->pstAttachments; node != nullptr; node = node->pstNext) {
        if (node->u8Level > level) return true;
    }
    return false;
}

// Drops what the event carries for levels the stack does not have.
void DeleteNodesAbove(Event *ev, uint8_t level) {
    const bool wide = ev->boWideAttach != 0;
    Attachment **link = &ev->pstAttachments;
    while (*link != nullptr) {
        if ((*link)->u8Level > level) {
            DeleteNode(wide, link);
        } else {
            link = &(*link)->pstNext;
        }
    }
}

}  // namespace

extern "C" ZERA_API void ZERA_CALL ZERA_vSetRestoreParams(StackHandle *h, Event *pstEvent) {
    if (pstEvent == nullptr || !ZERA_boHandleCheck(h, 1)) return;
    const bool wide = pstEvent->boWideAttach != 0;
    bool changed = false;
    // Selector 0 first: it is consumed. Then selector 1, which keeps the
    // replaced values and so becomes a selector-0 attachment.
    for (uint8_t selector = 0; selector <= ZERA_SELECTOR_MAX; ++selector) {
        Attachment **link = ZERA_ppstCheckParListA(pstEvent, h->u8Level, selector, 0, 0);
        if (*link == nullptr) continue;
        if (ApplyList(h, wide, (*link)->pParList)) changed = true;
        if (selector == 0) {
            DeleteNode(wide, link);
        } else {
            (*link)->u8Selector &= static_cast<uint8_t>(~1u);
        }
    }
    if (changed) {
        const uint32_t oldStatus = zera::LoadRelaxed(h->dwStatus);
        const int slot = wide ? zera::kEntryModuleNotifyW : zera::kEntryModuleNotifyA;
        // An empty notification slot is a component without one, not an error.
        if (h->apfnEntry[slot] != nullptr) reinterpret_cast<ZERA_PFN_MODULE_NOTIFY>(h->apfnEntry[slot])(h);
        ZERA_vUpdateStackStatus(h, oldStatus);
    }
    if (!HasNodeAbove(pstEvent, h->u8Level)) return;
    StackHandle *next = zera::NextLevelOf(h);
    if (next != nullptr && ZERA_boHandleCheck(next, 0) && next->apfnEntry[zera::kEntrySetRestoreParams] != nullptr) {
        reinterpret_cast<zera::PfnSetRestoreParams>(next->apfnEntry[zera::kEntrySetRestoreParams])(next, pstEvent);
        return;
    }
    DeleteNodesAbove(pstEvent, h->u8Level);
}
