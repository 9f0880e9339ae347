// components/link/Link.cpp - the Link component: the top of a stack whose
// upper levels run in another process or on another machine.
//
// Placed at the top of a stack (it completes it), Link forwards every event
// that reaches its level (sent to it from below) to its peer, written in the
// library's event wire format; events that come back from the peer enter
// this stack's input filter at Link's level, so the levels below receive
// them as from the level above. The peer is `zera serve`, which keeps the
// remote stack behind a ROUTER socket and plays that stack's level 0.
// Attachments keep their meaning across: Link's level and the peer's level
// 0 are one place, so Link's level N+k is the remote level k (hellos carry
// each end's level, and the receiving end renumbers, link_wire.h). The
// protocol (hello, welcome, numbers, confirmations, accounting) is the link
// library's session (src/link/link_session.h), which serve drives too; this
// file only moves its bytes. The session also probes the server's timeline
// clock; the estimate and a mark for each event that comes in go into this
// process's timeline, so that the two processes' timelines merge.
//
// Transport: one ZeroMQ DEALER socket, bound or connected to the endpoint
// (tcp://host:port, ipc://path). On every new connection Link sends a hello
// (protocol version, its level, its name); the peer answers with a welcome
// (version, session number, its level, its name) or a refusal with an
// error code and text; status events (item lists) from the peer never
// reach this stack, which they would start or stop from inside its own
// threads: the session counts them missing. Two
// threads per level: the sender takes due events from the level's send
// queue and puts them into the outbox, waking the io thread over an inproc
// pipe when that sleeps; the io thread alone owns the DEALER: it
// writes what the outbox holds into as few messages as it fits in and sends
// them, receives, watches the connection (socket monitor) and keeps the
// session's figures. An idle link so sends each event at once, while a busy
// one sends, in one message, the events that came while it sent the last
// (up to 1024). Neither thread ever waits without end: both wait in rounds
// and see a stop within one.
//
// Nothing is lost without a count. Events carry a sequence number and the
// number of the peer's events taken so far; from these each end knows what
// the other lost. The level's statistics (ZERA_boGetStatistics) hold the
// link's figures:
//   kind 1: eventsA forwarded to the peer, eventsB taken from the peer,
//           bytesA and bytesB the bytes of those messages;
//   kind 2: eventsA undelivered (no peer, high-water mark full, dropped when
//           the connection broke before the peer confirmed them, or left
//           over at a stop), eventsB lost on the way in (gaps in the peer's
//           numbering, and item lists), bytesA packets refused (malformed,
//           truncated, out of a session, a refusal, or a hello that does
//           not suit), bytesB sessions begun.
// Kind 0 stays the input filter's count of the events Link hands down.
//
// Parameters (all settable while the stack is stopped):
//   Endpoint       "tcp://127.0.0.1:5570"
//   Bind           0: connect to the endpoint, 1: bind it
//   HighWater      16: messages queued per direction before it is full (each
//                  at most zlink::kMaxMessage bytes, so about 6 MiB)
//   ReconnectMs    100: the reconnect interval
//   OnFull         0 "count": an event that cannot go out now (no peer, or
//                  the high-water mark is full) is dropped and counted;
//                  1 "refuse": Link takes no further event until it can, so
//                  they wait in the level's send queue
//   ConnectWaitMs  2000: how long a start waits for the peer's welcome (it
//                  says on stderr when none came); a refusal in that time
//                  (another protocol version, 2057, another name, 2055,
//                  the session another's or the key refused, 2058, a
//                  failed security handshake, 2055) fails the start, with that code
//                  and the reason stored and written to stderr (the host
//                  kit's start reports that code, naming the level); no
//                  answer lets the start go on, and the link connects when
//                  the peer comes. A refusal later is counted and written
//                  to stderr, and the link keeps trying.
//   Name           "link": this end's name in its hello
//   PeerName       "": the name the peer must have (empty: any)
//   ServerKey      "": CURVE on: the server's public key (Z85, its .pub file's
//                  public-key); KeyFile is then this end's key pair file
//                  (zera keygen). A refused key or a failed handshake
//                  fails the start as a refusal does.
//   KeyFile        ""
// A peer that sends nothing for 5 s ends the session (each end says it is
// there every 500 ms when it has nothing else to say); a peer that closes
// its connection ends it at once. The link reconnects every ReconnectMs.
#include <zmq.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "ZERA_Component.h"
#include "ZERA_Host.h"
#include "link_keys.h"
#include "link_session.h"
#include "link_socket.h"
#include "link_wire.h"

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("Link.COMPONENT")

namespace {

using Clock = std::chrono::steady_clock;
using zlink::Bytes;
using zlink::Millis;

constexpr int kRoundMs = 50;            // the io thread's wait between looks at its stop flag
constexpr int kSendRoundMs = 100;       // the sender's wait on a full outbox
constexpr int kFlushWaitMs = 500;       // how long a stop waits for the peer's last acknowledgement
constexpr int kByeLingerMs = 200;       // how long a closing socket may take to send the goodbye
constexpr int kMessagesPerRound = 8;    // messages to the peer between two looks at the other sockets
constexpr size_t kTakeAtOnce = 64;      // the most due events the sender takes from the queue at once
constexpr uint32_t kStatsTraffic = 1;
constexpr uint32_t kStatsFaults = 2;

struct Config {
    std::string endpoint = "tcp://127.0.0.1:5570";
    uint32_t bind = 0;
    uint32_t highWater = zlink::kDefaultHighWater;
    uint32_t reconnectMs = 100;
    uint32_t onFull = 0;
    uint32_t connectWaitMs = 2000;
    std::string name = "link";
    std::string peerName;
    std::string serverKey;  // CURVE: the server's public key (Z85); empty: CURVE off
    std::string keyFile;    // CURVE: this end's key pair file
};

enum class PeerState { kWaiting, kOpen, kRefused };

struct LinkLevel {
    StackHandle *h = nullptr;

    std::mutex configMutex;  // guards config (written by the notification, read by a start)
    Config config;
    Config running;  // the copy a start works with; read by the threads it starts

    void *ctx = nullptr;
    void *peer = nullptr;     // DEALER: io thread only
    void *monitor = nullptr;  // the DEALER's monitor: io thread only
    void *outRead = nullptr;  // the sender's wake-ups: io thread only
    void *outWrite = nullptr; // wakes the io thread: sender only
    zlink::Outbox outbox;     // events from the sender to the io thread (locks its own)
    zera::LevelThread sender;  // stopped and joined when the record goes
    zera::LevelThread io;

    std::mutex stateMutex;  // guards state, refusalCode, refusal
    std::condition_variable stateChanged;
    PeerState state = PeerState::kWaiting;
    uint32_t refusalCode = 0;
    std::string refusal;
};

LinkLevel *Of(StackHandle *h) { return static_cast<LinkLevel *>(h->pvLevelContext); }

void SetState(LinkLevel *l, PeerState state, uint32_t code, const std::string &text) {
    std::lock_guard<std::mutex> lock(l->stateMutex);
    l->state = state;
    l->refusalCode = code;
    l->refusal = text;
    l->stateChanged.notify_all();
}

// The sender's count of events it could not hand to the io thread.
void CountUndelivered(LinkLevel *l, uint32_t count) { ZERA_vUpdateStatistics(l->h, kStatsFaults, count, 0, 0, 0); }

bool SendBytes(void *socket, const Bytes &bytes) {
    return zmq_send(socket, bytes.data(), bytes.size(), ZMQ_DONTWAIT) == static_cast<int>(bytes.size());
}

// ---- The io thread ------------------------------------------------------------------

Millis Now() {
    return static_cast<Millis>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

// The timeline's clock, which the session's probes read (the library's
// call has the interface's calling convention).
uint64_t TraceClock() { return ZERA_u64HostTraceClock(); }

zlink::Session::Config SessionConfig(const LinkLevel *l) {
    zlink::Session::Config c;
    c.clockUs = TraceClock;
    c.name = l->running.name;
    c.peerName = l->running.peerName;
    c.linkLevel = l->h->u8Level;
    return c;
}

class Io {
public:
    explicit Io(LinkLevel *l) : l_(l), session_(SessionConfig(l)), wait_{l->peer, l->monitor, l->outRead} {
        zmq_msg_init(&pending_);
    }
    ~Io() { zmq_msg_close(&pending_); }

    void Run() {
        while (!l_->io.StopAsked()) Round();
        Finish();
    }

private:
    // One pass over the sockets. With nothing to send the thread sleeps in a
    // wait for the peer, the monitor and the sender's wake-up; while a
    // stream goes on (more_) it only looks at the peer and the monitor
    // between a few messages. A socket is read only when the wait says it
    // may have something, and then to its end (see SocketWait).
    void Round() {
        const bool asleep = !more_ && !holding_;
        bool ready[3] = {};
        wait_.Wait(asleep ? 3 : 2, more_ ? 0 : holding_ ? 5 : kRoundMs, ready);
        const bool was = holding_;
        if (ready[1]) Monitor();
        if (ready[0]) Receive();
        if (holding_) Forward();
        bool woken = false;
        for (char wake; ready[2] && zmq_recv(l_->outRead, &wake, sizeof wake, ZMQ_DONTWAIT) >= 0;) woken = true;
        // What waited behind a held message goes on as soon as it went.
        if (woken || more_ || (was && !holding_)) TakeOutbox();
        if (!more_ && !holding_ && !l_->outbox.Sleep()) more_ = true;
        Timers();
        CountFigures();
    }

    // The session's figures since the last round go into the level's
    // statistics at once: they take the level's lock, which the events
    // need not pay one by one.
    void CountFigures() {
        const zlink::Figures &f = session_.figures();
        const uint32_t traffic[4] = {f.forwarded - counted_.forwarded, f.taken - counted_.taken,
                                     f.forwardedBytes - counted_.forwardedBytes, f.takenBytes - counted_.takenBytes};
        const uint32_t faults[4] = {f.undelivered - counted_.undelivered, f.missing - counted_.missing,
                                    f.refused - counted_.refused, f.sessions - counted_.sessions};
        if (traffic[0] + traffic[1] != 0) {
            ZERA_vUpdateStatistics(l_->h, kStatsTraffic, traffic[0], traffic[1], traffic[2], traffic[3]);
        }
        if (faults[0] + faults[1] + faults[2] + faults[3] != 0) {
            ZERA_vUpdateStatistics(l_->h, kStatsFaults, faults[0], faults[1], faults[2], faults[3]);
        }
        counted_ = f;
    }

    // Takes the socket's connection events.
    void Monitor() {
        zmq_msg_t frame;
        zmq_msg_init(&frame);
        while (zmq_msg_recv(&frame, l_->monitor, ZMQ_DONTWAIT) >= 0) {
            uint16_t event = 0;
            uint32_t value = 0;
            if (zmq_msg_size(&frame) >= 6) {
                std::memcpy(&event, zmq_msg_data(&frame), sizeof event);
                std::memcpy(&value, static_cast<const uint8_t *>(zmq_msg_data(&frame)) + 2, sizeof value);
            }
            while (zmq_msg_more(&frame) && zmq_msg_recv(&frame, l_->monitor, ZMQ_DONTWAIT) >= 0) {
            }
            if (event == ZMQ_EVENT_HANDSHAKE_SUCCEEDED) {
                Send(session_.Connected(Now()));
            } else if (event == ZMQ_EVENT_DISCONNECTED) {
                session_.Disconnected();
            } else if (event == ZMQ_EVENT_HANDSHAKE_FAILED_AUTH) {
                Refused(OSAL_ERR_NOT_OWNER, "the server refused this end's key (ZAP status " + std::to_string(value) +
                                                "): it is not on the server's allow-list");
            } else if (event == ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL ||
                       (event == ZMQ_EVENT_HANDSHAKE_FAILED_NO_DETAIL && !l_->running.serverKey.empty())) {
                // Without CURVE only a server that wants it fails the
                // handshake so; with it, a server key that is not the
                // server's leaves the answer unreadable.
                Refused(OSAL_ERR_INFO_MISMATCH, l_->running.serverKey.empty()
                                                    ? "the security handshake failed (this end has no CURVE key)"
                                                    : "the security handshake failed (a wrong server key?)");
            }
        }
        zmq_msg_close(&frame);
    }

    void Send(const Bytes &message) {
        if (!message.empty()) SendBytes(l_->peer, message);
    }

    // Takes what the peer sent, up to 256 messages.
    void Receive() {
        zmq_msg_t msg;
        zmq_msg_init(&msg);
        const zlink::PeerId server;
        for (int i = 0; i < 256 && zmq_msg_recv(&msg, l_->peer, ZMQ_DONTWAIT) >= 0; ++i) {
            session_.Take(server, static_cast<const uint8_t *>(zmq_msg_data(&msg)), zmq_msg_size(&msg), Now(),
                          &outcome_);
            Send(outcome_.reply);
            if (outcome_.refusedCode != 0) Refused(outcome_.refusedCode, outcome_.refusedText);
            if (outcome_.opened) SetState(l_, PeerState::kOpen, 0, std::string());
            if (outcome_.clockChanged) NotePeerClock();
            for (Event *ev : outcome_.events) {
                ev->u8Level = l_->h->u8Level;  // from here on an event of this level
                ZERA_vHostTraceLinkArrival(l_->h, ev, ev->dwEventId);
                ZERA_vInputFilter(l_->h, ev);
            }
        }
        zmq_msg_close(&msg);
    }

    // The timeline (when one is written) learns how the peer's lines up
    // with it, so that the two merge.
    void NotePeerClock() {
        const zlink::ClockEstimate &c = session_.PeerClock();
        ZERA_boHostTraceLinkPeer(l_->h, session_.PeerName().c_str(), session_.SessionNumber(), c.offsetUs, c.errorUs);
    }

    // Said once per reason in a row, so that a peer that refuses every
    // hello does not fill stderr.
    void Refused(uint32_t code, const std::string &why) {
        if (why != lastRefusal_) {
            std::fprintf(stderr, "Link (level %u): the peer at %s was refused: %s\n", l_->h->u8Level,
                         l_->running.endpoint.c_str(), why.c_str());
        }
        lastRefusal_ = why;
        SetState(l_, PeerState::kRefused, code, why);
    }

    // Writes what the outbox holds into messages and forwards them, until
    // one is held, or a few went and the next round is to go on (more_),
    // so that what comes from the peer is not kept waiting by a stream.
    void TakeOutbox() {
        uint32_t lost = 0;
        int messages = 0;
        for (more_ = false; !holding_; ++messages) {
            if (messages == kMessagesPerRound) {
                more_ = true;
                break;
            }
            if (!l_->outbox.Fill(&batch_, &lost)) break;
            session_.CountUndelivered(lost);
            const uint32_t count = batch_.Count();
            if (count == 0) continue;
            zmq_msg_close(&pending_);
            if (!zlink::BatchMessage(&batch_, &pending_)) {
                session_.CountUndelivered(count);
                continue;
            }
            pendingCount_ = count;
            Forward();
        }
        batch_.Clear();
    }

    // Sends pending_, or holds or drops it when it cannot go out now, as
    // OnFull says.
    void Forward() {
        holding_ = false;
        const size_t size = zmq_msg_size(&pending_);
        if (session_.Stamp(static_cast<uint8_t *>(zmq_msg_data(&pending_)), Now()) &&
            zmq_msg_send(&pending_, l_->peer, ZMQ_DONTWAIT) >= 0) {
            session_.Sent(pendingCount_, size, zlink::Session::kSentOk);
            return;
        }
        if (l_->running.onFull != 0) {
            holding_ = true;
            return;
        }
        session_.Sent(pendingCount_, size, zlink::Session::kNotSent);
        zmq_msg_close(&pending_);
        zmq_msg_init(&pending_);
    }

    void Timers() {
        Bytes hello, ack, probe;
        bool silent = false;
        session_.Tick(Now(), &hello, &ack, &silent, &probe);
        if (silent) {
            std::fprintf(stderr, "Link (level %u): the peer at %s was silent for %u s: the session ended\n",
                         l_->h->u8Level, l_->running.endpoint.c_str(),
                         static_cast<unsigned>(zlink::kPeerSilentMs / 1000));
        }
        Send(hello);
        Send(ack);
        Send(probe);
    }

    // At a stop: ask the peer to confirm what it took, then count what is
    // left as undelivered and free the session for another.
    void Finish() {
        if (!session_.Confirmed() && SendBytes(l_->peer, Bytes{zlink::kFlush})) {
            const Clock::time_point until = Clock::now() + std::chrono::milliseconds(kFlushWaitMs);
            while (!session_.Confirmed() && Clock::now() < until) {
                zmq_pollitem_t item = {l_->peer, 0, ZMQ_POLLIN, 0};
                if (zmq_poll(&item, 1, 20) > 0) Receive();
            }
        }
        Send(session_.Bye());
        session_.CountUndelivered((holding_ ? pendingCount_ : 0) + l_->outbox.Discard());
        CountFigures();
    }

    LinkLevel *l_;
    zlink::Session session_;
    zlink::Outcome outcome_;     // of the message being taken
    zlink::Figures counted_;     // the session's figures already in the statistics
    std::string lastRefusal_;
    zmq_msg_t pending_;          // the message being forwarded
    uint32_t pendingCount_ = 0;  // the events it holds
    bool holding_ = false;       // pending_ waits for room (OnFull 1)
    bool more_ = false;          // the outbox may hold more than the last round sent
    zlink::EventBatch batch_;    // the message being written
    zlink::SocketWait wait_;     // on the peer, the monitor and the pipe
};

// ---- The sender thread ---------------------------------------------------------------

// Takes, under one lock of h's send queue, the events at its head that are
// due and that the library's take would hand out as they are (not of type
// 1, which may repeat or move the level's answer offset), up to `room` of
// them, into out, in order; how many. Everything else, the waits and the
// breaks are left to ZERA_pstGetNextSendEvent.
size_t TakeDue(StackHandle *h, Event **out, size_t room) {
    Event now{};
    if (!ZERA_boGetTime(h, h->u8Level, &now.stTimeStamp)) return 0;
    OSAL_HQCURSOR cursor = OSAL_hQueueLock(h->hSendQueue);
    if (cursor == nullptr) return 0;
    size_t taken = 0;
    while (taken < room) {
        auto *first = static_cast<Event *>(OSAL_pvQueueNext(cursor));
        if (first == nullptr || first->i32Type == ZERA_EVENT_DATA || !ZERA_boTimeStampCompare(first, &now) ||
            !OSAL_boQueueRemove(cursor, 0)) {
            break;
        }
        out[taken++] = first;
    }
    OSAL_vQueueUnlock(cursor);
    return taken;
}

void RunSender(LinkLevel *l) {
    const auto stopAsked = [l] { return l->sender.StopAsked(); };
    Event *due[kTakeAtOnce];
    while (Event *ev = l->sender.NextSendEvent()) {
        // The events due behind it come along under one lock, as many as
        // the outbox has room for (what it cannot take waits in the send
        // queue), unless a stop was asked meanwhile.
        due[0] = ev;
        size_t count = 1;
        const size_t room = std::min(kTakeAtOnce, l->outbox.Room());
        if (room > 1 && !stopAsked()) count += TakeDue(l->h, due + 1, room - 1);
        // A full outbox (OnFull 1 and no room at the peer) is waited out in
        // rounds, so that a stop is seen.
        const zlink::Outbox::Result result =
            count == 1 ? l->outbox.Add(ev, kSendRoundMs, stopAsked) : l->outbox.AddAll(due, count);
        if (result == zlink::Outbox::kAddedWake) {
            // A wake-up that finds the pipe full is not needed: others wait there.
            const char wake = 0;
            zmq_send(l->outWrite, &wake, sizeof wake, ZMQ_DONTWAIT);
        } else if (result == zlink::Outbox::kNotTaken) {
            for (size_t i = 0; i < count; ++i) ZERA_boDeleteEvent(due[i]);
            CountUndelivered(l, static_cast<uint32_t>(count));
        }
    }
}

// ---- Start and stop ------------------------------------------------------------------

void SetInt(void *socket, int option, int value) { zmq_setsockopt(socket, option, &value, sizeof value); }

void CloseSockets(LinkLevel *l) {
    // The goodbye may still be on its way: the peer frees the session on it.
    if (l->peer != nullptr) SetInt(l->peer, ZMQ_LINGER, kByeLingerMs);
    for (void **s : {&l->peer, &l->monitor, &l->outRead, &l->outWrite}) {
        if (*s != nullptr) zmq_close(*s);
        *s = nullptr;
    }
    if (l->ctx != nullptr) zmq_ctx_term(l->ctx);
    l->ctx = nullptr;
}

// Makes the sockets; false with a code and text stored.
bool OpenSockets(LinkLevel *l) {
    const Config &c = l->running;
    l->ctx = zmq_ctx_new();
    if (l->ctx == nullptr) return false;
    l->peer = zmq_socket(l->ctx, ZMQ_DEALER);
    l->outRead = zmq_socket(l->ctx, ZMQ_PAIR);
    l->outWrite = zmq_socket(l->ctx, ZMQ_PAIR);
    if (l->peer == nullptr || l->outRead == nullptr || l->outWrite == nullptr) return false;
    const int hwm = static_cast<int>(c.highWater != 0 ? c.highWater : 1);
    for (void *s : {l->peer, l->outRead, l->outWrite}) {
        if (!zlink::LimitSocket(s, hwm)) return false;
    }
    SetInt(l->peer, ZMQ_RECONNECT_IVL, static_cast<int>(c.reconnectMs));
    SetInt(l->peer, ZMQ_RECONNECT_IVL_MAX, static_cast<int>(c.reconnectMs));
    SetInt(l->peer, ZMQ_IMMEDIATE, 1);
    // No ZeroMQ heartbeats: the session's own acknowledgements tell a live
    // peer from a dead one (link_session.h).
    if (!c.serverKey.empty() || !c.keyFile.empty()) {
        zlink::KeyPair own;
        std::string error;
        if (c.serverKey.empty() || c.keyFile.empty()) {
            error = "CURVE needs both ServerKey and KeyFile";
        } else if (zlink::ReadKeyFile(c.keyFile, true, &own, &error)) {
            zlink::MakeCurveClient(l->peer, own, c.serverKey, &error);
        }
        if (!error.empty()) {
            OSAL_vSetLastErrorText(OSAL_ERR_INVALID_ARG, 2, ("Link: " + error).c_str(), 0, nullptr);
            return false;
        }
    }
    char name[64];
    std::snprintf(name, sizeof name, "inproc://zera-link-monitor-%p", static_cast<void *>(l));
    // Without CURVE a handshake that fails for a reason libzmq does not
    // name (a peer that died part-way) is tried again; see Monitor.
    const int events = ZMQ_EVENT_HANDSHAKE_SUCCEEDED | ZMQ_EVENT_DISCONNECTED | ZMQ_EVENT_HANDSHAKE_FAILED_AUTH |
                       ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL | ZMQ_EVENT_HANDSHAKE_FAILED_NO_DETAIL;
    if (zmq_socket_monitor(l->peer, name, events) != 0) return false;
    l->monitor = zmq_socket(l->ctx, ZMQ_PAIR);
    if (l->monitor == nullptr || zmq_connect(l->monitor, name) != 0) return false;
    std::snprintf(name, sizeof name, "inproc://zera-link-out-%p", static_cast<void *>(l));
    if (zmq_bind(l->outRead, name) != 0 || zmq_connect(l->outWrite, name) != 0) return false;
    const int rc = c.bind != 0 ? zmq_bind(l->peer, c.endpoint.c_str()) : zmq_connect(l->peer, c.endpoint.c_str());
    if (rc != 0) {
        const std::string text = "Link cannot " + std::string(c.bind != 0 ? "bind" : "connect to") + " '" +
                                 c.endpoint + "': " + zmq_strerror(zmq_errno());
        OSAL_vSetLastErrorText(OSAL_ERR_INVALID_ARG, 2, text.c_str(), 0, nullptr);
        return false;
    }
    return true;
}

void RunIo(LinkLevel *l) { Io(l).Run(); }

// The sender first: the io thread's last round takes what it handed over.
// Asked from inside one of the link's own threads (nothing from the peer
// gets there: the session drops its status events), the stop cannot wait
// for that thread: it ends, and the next stop or the removal joins it and
// closes the sockets.
void StopThreads(LinkLevel *l) {
    const bool senderJoined = l->sender.Stop();
    const bool ioJoined = l->io.Stop();
    if (senderJoined && ioJoined) CloseSockets(l);
}

void Stop(StackHandle *h) {
    if (LinkLevel *l = Of(h)) StopThreads(l);
}

BOOL8 Start(StackHandle *h) {
    LinkLevel *l = Of(h);
    if (l == nullptr || l->io.Started()) return 0;
    {
        std::lock_guard<std::mutex> lock(l->configMutex);
        l->running = l->config;
    }
    SetState(l, PeerState::kWaiting, 0, std::string());
    if (!OpenSockets(l)) {
        if (OSAL_dwGetLastError() == 0) OSAL_vSetLastErrorText(OSAL_ERR_SYSTEM, 2, zmq_strerror(zmq_errno()), 0, nullptr);
        CloseSockets(l);
        return 0;
    }
    if (!l->io.Start<RunIo>(l)) {
        CloseSockets(l);
        return 0;
    }
    std::unique_lock<std::mutex> lock(l->stateMutex);
    l->stateChanged.wait_for(lock, std::chrono::milliseconds(l->running.connectWaitMs),
                             [l] { return l->state != PeerState::kWaiting; });
    if (l->state == PeerState::kWaiting && l->running.connectWaitMs != 0) {
        std::fprintf(stderr, "Link (level %u): no answer from %s within %u ms; it keeps trying\n", h->u8Level,
                     l->running.endpoint.c_str(), l->running.connectWaitMs);
    }
    if (l->state == PeerState::kRefused) {
        const std::string text = "Link: " + l->refusal;
        const uint32_t code = l->refusalCode != 0 ? l->refusalCode : 1035u;
        lock.unlock();
        StopThreads(l);
        OSAL_vSetLastErrorText(code, 2, text.c_str(), 0, nullptr);
        return 0;
    }
    lock.unlock();
    if (!l->sender.Start<RunSender>(l)) {
        StopThreads(l);
        return 0;
    }
    return 1;
}

// ---- Parameters ------------------------------------------------------------------------

struct DWordParam {
    const char *name;
    const WCHAR16 *wideName;
    uint32_t Config::*field;
    uint32_t value;
};
const DWordParam kDWords[] = {
    {"Bind", ZERA_WTEXT("Bind"), &Config::bind, 0},
    {"HighWater", ZERA_WTEXT("HighWater"), &Config::highWater, zlink::kDefaultHighWater},
    {"ReconnectMs", ZERA_WTEXT("ReconnectMs"), &Config::reconnectMs, 100},
    {"OnFull", ZERA_WTEXT("OnFull"), &Config::onFull, 0},
    {"ConnectWaitMs", ZERA_WTEXT("ConnectWaitMs"), &Config::connectWaitMs, 2000},
};
struct StringParam {
    const char *name;
    const WCHAR16 *wideName;
    std::string Config::*field;
    const char *value;
    const WCHAR16 *wideValue;
};
const StringParam kStrings[] = {
    {"Endpoint", ZERA_WTEXT("Endpoint"), &Config::endpoint, "tcp://127.0.0.1:5570", ZERA_WTEXT("tcp://127.0.0.1:5570")},
    {"Name", ZERA_WTEXT("Name"), &Config::name, "link", ZERA_WTEXT("link")},
    {"PeerName", ZERA_WTEXT("PeerName"), &Config::peerName, "", ZERA_WTEXT("")},
    {"ServerKey", ZERA_WTEXT("ServerKey"), &Config::serverKey, "", ZERA_WTEXT("")},
    {"KeyFile", ZERA_WTEXT("KeyFile"), &Config::keyFile, "", ZERA_WTEXT("")},
};

BOOL8 SetupParams(BOOL8 wide, Param **list) {
    uint32_t count = 0;
    ParamValue **values = nullptr;
    if (!ZERA_boCreateParListA(list)) return 0;
    for (const StringParam &p : kStrings) {
        const BOOL8 ok = wide ? ZERA_boAddParamW(1, 0, list, &count, &values, ZERA_PARAM_STRING, ZERA_ACCESS_STOPPED,
                                                 0, 0, 0, p.wideName, p.wideValue)
                              : ZERA_boAddParamA(1, 0, list, &count, &values, ZERA_PARAM_STRING, ZERA_ACCESS_STOPPED,
                                                 0, 0, 0, p.name, p.value);
        if (!ok) return 0;
    }
    for (const DWordParam &p : kDWords) {
        const BOOL8 ok = wide ? ZERA_boAddParamW(1, 0, list, &count, &values, ZERA_PARAM_DWORD, ZERA_ACCESS_STOPPED,
                                                 0, 0, 0, p.wideName, p.value)
                              : ZERA_boAddParamA(1, 0, list, &count, &values, ZERA_PARAM_DWORD, ZERA_ACCESS_STOPPED,
                                                 0, 0, 0, p.name, p.value);
        if (!ok) return 0;
    }
    return 1;
}

Param *Find(StackHandle *h, const char *name, const WCHAR16 *wideName) {
    return h->boWide ? ZERA_pastFindParamW(h->pstStackParams, wideName) : ZERA_pastFindParamA(h->pstStackParams, name);
}

// A string parameter's value (a wide one byte per unit, '?' above 0xFF).
std::string Text(StackHandle *h, const Param *p) {
    std::string s;
    if (h->boWide) {
        for (const WCHAR16 *u = p->uValue.ls; u != nullptr && *u != 0; ++u) s += *u > 0xFF ? '?' : static_cast<char>(*u);
    } else if (p->uValue.hs != nullptr) {
        s = p->uValue.hs;
    }
    return s;
}

// Copies the parameters for the next start: the threads never read the list.
void Notify(StackHandle *h) {
    LinkLevel *l = Of(h);
    if (l == nullptr) return;
    std::lock_guard<std::mutex> lock(l->configMutex);
    for (const DWordParam &d : kDWords) {
        if (const Param *p = Find(h, d.name, d.wideName)) l->config.*d.field = p->uValue.dw;
    }
    for (const StringParam &s : kStrings) {
        if (const Param *p = Find(h, s.name, s.wideName)) l->config.*s.field = Text(h, p);
    }
}

}  // namespace

// Own block: the sample family 0.1, completes the stack and fits any place
// (range B [0xFFFFFFFF, 0xFFFFFFFF]); nothing goes on top (upper flags 0x08).
ZERA_COMPONENT_INFO(ZERA_INFO_VERSION(0, 1) ZERA_INFO_FLAGS(ZERA_INFO_COMPLETES_STACK)
                        ZERA_INFO_RANGE_B(0xFFFFFFFFu, 0xFFFFFFFFu),
                    ZERA_INFO_VERSION(0, 1) ZERA_INFO_FLAGS(0x08u))
ZERA_COMPONENT_PARAMS(SetupParams)
ZERA_COMPONENT_THREADS(Start, Stop)
ZERA_COMPONENT_NOTIFY(Notify)

extern "C" {

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) {
    auto *l = new (std::nothrow) LinkLevel;
    if (l == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return 0;
    }
    l->h = h;
    if (!l->sender.Create(h) || !l->io.Create(h)) {
        delete l;
        return 0;
    }
    h->pvLevelContext = l;
    Notify(h);
    return 1;
}

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) {
    LinkLevel *l = Of(h);
    if (l == nullptr) return 1;
    StopThreads(l);
    delete l;
    h->pvLevelContext = nullptr;
    return 1;
}

}  // extern "C"
