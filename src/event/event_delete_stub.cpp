// event/event_delete_stub.cpp - a stand-in for the event record subsystem's
// ZERA_vDeleteEvent, so that queues can be created and deleted before that
// subsystem exists. TO BE REPLACED by the event record subsystem: this one
// frees the attachment nodes and the event block only, not the parameter
// lists that the nodes hold.
#include "handle/handle.h"

extern "C" ZERA_API void ZERA_CALL ZERA_vDeleteEvent(Event *pstEvent) {
    if (pstEvent == nullptr) return;
    Attachment *node = pstEvent->pstAttachments;
    while (node != nullptr) {
        Attachment *next = node->pstNext;
        zera::Free(node);
        node = next;
    }
    zera::Free(pstEvent);
}
