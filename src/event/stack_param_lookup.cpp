// event/stack_param_lookup.cpp - a stand-in for the stack subsystem's
// zera::FindStackParam, so that parameters can be attached to events before
// that subsystem exists. It climbs from h to the wanted level and searches
// that level's own list; it knows nothing of stack-wide parameters (level
// 63) and refreshes no attribute bits.
//
// TO BE REPLACED by the stack subsystem: on ELF builds this definition is
// weak, so a definition there takes its place; delete this file then.
#include "event/event.h"
#include "handle/handle.h"
#include "param/param.h"

namespace zera {

#if defined(__ELF__)
__attribute__((weak))
#endif
Param *FindStackParam(StackHandle *h, uint8_t level, bool wide, const void *name) {
    if (!ZERA_boHandleCheck(h, 1)) return nullptr;
    const uint8_t wanted = level & 0x3Fu;
    if (wanted == 0 || wanted < h->u8Level) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_LEVEL);
        return nullptr;
    }
    StackHandle *owner = h;
    while (owner->u8Level < wanted) {
        owner = NextLevelOf(owner);
        if (!ZERA_boHandleCheck(owner, 0)) return nullptr;
    }
    if (owner->u8Level != wanted) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_LEVEL);
        return nullptr;
    }
    return FindParam(wide, owner->pstStackParams, name);
}

}  // namespace zera
