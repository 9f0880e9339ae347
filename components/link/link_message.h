// components/link/link_message.h - a batch of events made into a ZeroMQ
// message. Included by the Link component and the host tool's serve
// command, the two ends that send events.
#ifndef ZERA_LINK_MESSAGE_H
#define ZERA_LINK_MESSAGE_H

#include <zmq.h>

#include "link_wire.h"

namespace zlink {

// Initialises *msg with the message of *batch (sequence and acknowledgement
// 0; PatchEvent sets them). A batch of several events hands its packet over
// to the message, which frees it once ZeroMQ has sent it, so that the bytes
// are not copied; a single event is copied. False, with *msg initialised
// empty, when memory runs out; the batch is empty either way.
inline bool BatchMessage(EventBatch *batch, zmq_msg_t *msg) {
    uint8_t *bytes = nullptr;
    size_t size = 0;
    if (ZERA_HPACKET packet = batch->TakeMessage(&bytes, &size)) {
        const auto free = [](void *, void *hint) { ZERA_boMarshalPacketDelete(static_cast<ZERA_HPACKET>(hint)); };
        if (zmq_msg_init_data(msg, bytes, size, free, packet) == 0) return true;
        ZERA_boMarshalPacketDelete(packet);
    } else if (zmq_msg_init_size(msg, batch->MessageSize()) == 0) {
        batch->CopyMessage(static_cast<uint8_t *>(zmq_msg_data(msg)));
        batch->Clear();
        return true;
    }
    batch->Clear();
    zmq_msg_init(msg);
    return false;
}

}  // namespace zlink

#endif  // ZERA_LINK_MESSAGE_H
