// event/flow_shared.cpp - the two pieces that sending, taking due events and
// the input filter share: the stack's time as a level reads it, and putting
// an unlinked event back into its send queue without ever losing it.
#include "event/event.h"

namespace zera {

bool ReadLevelTime(StackHandle *h, TimeVal *time) {
    auto getTime = EntryOf<PfnGetTime>(h, kEntryGetTime);
    if (getTime == ZERA_boGetTime && NextLevelOf(h) == nullptr) {
        // The library's own entry at the top reads the system time; h is checked.
        OSAL_vGetSystemTime(time);
        return true;
    }
    if (getTime != nullptr && getTime(h, 0, time)) return true;
    // A refusing level leaves the time unwritten.
    OSAL_vGetSystemTime(time);
    return false;
}

bool PutBackAndUnlock(StackHandle *h, OSAL_HQCURSOR cursor, Event *ev) {
    const bool back = OSAL_boQueueInsert(cursor, ev, ZERA_boTimeStampCompare) != 0;
    OSAL_vQueueUnlock(cursor);
    if (!back) {
        // The filter may walk this queue again, so it runs after the unlock.
        ev->dwFlags |= ZERA_EVF_REQUEUE_FAILED;
        ZERA_vInputFilter(h, ev);
    }
    return back;
}

}  // namespace zera
