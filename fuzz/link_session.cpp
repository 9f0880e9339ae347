// fuzz/link_session.cpp - the link's session state machine driven from both
// ends at once, in any order: a client (a Link) and a server (`zera
// serve`) each take arbitrary messages from arbitrary peers, connect and
// disconnect, send events, hand each other what they produced and let
// time pass. Whatever comes, nothing leaks or crashes, every event handed
// out is an ordinary one (never an item list), and no figure goes down.
//
// The input is a run of steps: an action byte, then for the actions that
// carry a message a length byte and that many bytes.
#include "fuzz_util.h"
#include "link_session.h"

namespace {

using zlink::Bytes;

// Figures only grow: their sum does (none can wrap in a fuzzer's run).
uint64_t Sum(const zlink::Figures &f) {
    return uint64_t{f.forwarded} + f.taken + f.undelivered + f.missing + f.refused + f.sessions;
}

void Deliver(zlink::Outcome *o) {
    for (Event *ev : o->events) zf::Check(ev->i32Type != ZERA_EVENT_ITEMS && ZERA_boDeleteEvent(ev));
    o->events.clear();
}

// A message of `count` events the end sends: stamped, and counted sent.
Bytes Sent(zlink::Session *end, uint32_t count, zlink::Millis now) {
    zlink::EventBatch batch;
    for (uint32_t i = 0; i < count; ++i) {
        Event *ev = ZERA_pstCreateEvent(i % 3 == 2 ? ZERA_EVENT_ITEMS : ZERA_EVENT_DATA2, 1, 1);
        uint32_t dropped = 0;
        zf::Check(batch.Add(ev, &dropped));
        ZERA_boDeleteEvent(ev);
    }
    Bytes m(batch.MessageSize());
    batch.CopyMessage(m.data());
    const bool open = end->Stamp(m.data(), now);
    end->Sent(count, m.size(), open ? zlink::Session::kSentOk : zlink::Session::kNotSent);
    return open ? m : Bytes();
}

// A timeline clock that the steps move on (both ends read one).
uint64_t g_clockUs = 0;
uint64_t FuzzClock() { return g_clockUs += 3; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    zlink::Session client(zlink::Session::Config{false, "link", "", 3, 1, FuzzClock});
    zlink::Session server(zlink::Session::Config{true, "serve", "", 0, 1, FuzzClock});
    zlink::PeerId peers[4] = {{{'a'}, "", ""}, {{'b'}, "", ""}, {{'c'}, "", ""}, {{'d'}, "KEY", ""}};
    zlink::Outcome o;
    zlink::Millis now = 0;
    Bytes toServer, toClient;  // what each end produced for the other, last
    for (size_t at = 0; at < size;) {
        const uint8_t action = data[at++];
        const uint64_t before = Sum(client.figures()) + Sum(server.figures());
        const zlink::PeerId &peer = peers[(action >> 4) & 3];
        switch (action & 0x0F) {
        case 0:
        case 1: {  // a raw message to the client (0) or the server (1) from a peer
            const size_t n = at < size ? data[at++] : 0;
            const size_t take = n < size - at ? n : size - at;
            (action & 1 ? server : client).Take(peer, data + at, take, now, &o);
            at += take;
            Deliver(&o);
            break;
        }
        case 2:
            toServer = client.Connected(now);
            break;
        case 3:
            (action & 0x10 ? server : client).Disconnected();
            break;
        case 4:  // what the client produced goes to the server as the peer
            server.Take(peer, toServer.data(), toServer.size(), now, &o);
            Deliver(&o);
            toClient = o.reply;
            break;
        case 5:
            client.Take(zlink::PeerId(), toClient.data(), toClient.size(), now, &o);
            Deliver(&o);
            toServer = o.reply;
            break;
        case 6:
            toServer = Sent(&client, 1 + (action >> 4), now);
            break;
        case 7:
            toClient = Sent(&server, 1 + (action >> 4), now);
            break;
        case 8: {
            Bytes hello, ack, probe;
            bool silent = false;
            client.Tick(now, &hello, &ack, &silent, &probe);
            toServer = !hello.empty() ? hello : !probe.empty() ? probe : ack;
            server.Tick(now, &hello, &ack, &silent);
            zf::Check(hello.empty() && !silent);
            if (!ack.empty()) toClient = ack;
            break;
        }
        case 9:
            toServer = client.Bye();
            break;
        default:
            now += static_cast<zlink::Millis>(action) * 37;
            break;
        }
        zf::Check(Sum(client.figures()) + Sum(server.figures()) >= before);
        zf::Check(!server.Open() || !server.OwnerRoute().empty());
        zf::Check(server.Peers().size() <= zlink::kMaxPeers);
        zf::Check(!client.PeerClock().known || client.PeerClock().errorUs <= g_clockUs);
    }
    return 0;
}
