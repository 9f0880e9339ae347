// fuzz/link_receive.cpp - what a Link or `zera serve` reads from the network:
// every reader of the link's messages on arbitrary bytes, as both ends call
// them. A refused message leaves nothing behind (no event, no packet, no
// leak); the events of a message that is taken, their attachments
// renumbered, can be sent on again in one message.
#include "fuzz_util.h"
#include "link_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    zlink::Hello hello;
    zlink::Refusal refusal;
    zlink::Status status;
    uint32_t ack = 0;
    zlink::ReadHello(data, size, &hello);
    zlink::ReadRefuse(data, size, &refusal);
    zlink::ReadAck(data, size, &ack);
    if (zlink::ReadStatus(data, size, &status)) {
        // What reads back writes back to the same bytes.
        const zlink::Bytes again = zlink::StatusMessage(status);
        zf::Check(again == zlink::Bytes(data, data + size));
    }
    ZERA_HPACKET description = nullptr;
    zf::Check(zlink::ReadDescription(data, size, &description) == (description != nullptr));
    if (description != nullptr) ZERA_boMarshalPacketDelete(description);
    // As a Link at level 3 reads serve's events, and as serve reads its.
    for (const zlink::LinkLevels levels : {zlink::LinkLevels{0, 3}, zlink::LinkLevels{3, 0}}) {
        uint32_t sequence = 0;
        std::vector<Event *> events;
        if (!zlink::ReadEvents(data, size, levels, &sequence, &ack, &events)) {
            zf::Check(events.empty());
            continue;
        }
        // What was taken goes out again, and reads back as as many events.
        zlink::EventBatch batch;
        for (Event *ev : events) {
            uint32_t dropped = 0;
            zf::Check(batch.Add(ev, &dropped));
            ZERA_boDeleteEvent(ev);
        }
        zlink::Bytes again(batch.MessageSize());
        batch.CopyMessage(again.data());
        std::vector<Event *> back;
        zf::Check(zlink::ReadEvents(again.data(), again.size(), {}, &sequence, &ack, &back));
        zf::Check(back.size() == events.size());
        for (Event *ev : back) ZERA_boDeleteEvent(ev);
    }
    return 0;
}
