// link/link_session.h - the link's session protocol, written once for both
// ends: the hello and the welcome, who owns the session, sequence numbers,
// confirmations, reading events and counting every one that is lost. No
// sockets and no clock of its own (the caller passes the time), so that
// the Link component, `zera serve`, the tests and the fuzzer drive the same
// object message by message; the code that owns a socket only moves bytes.
// Part of the link library; used by one thread at a time.
//
// A client (the Link) talks to one server. A server (`zera serve`) tells
// its peers apart by the transport's routing id: one stack peer at a time
// owns the session; another stack peer's hello is refused (2058) while the
// owner is heard from, unless it is the owner coming back (the same CURVE
// key, or with CURVE off the session number its welcome handed out). A
// monitor (zera top) says hello before it may ask for the status or the
// stack description. Each end sends an acknowledgement when it sent
// nothing for kKeepAliveMs, so that silence means the peer is gone.
//
// Clocks: given the timeline's clock, a client probes the server's in
// every session (a few probes at once, then one now and then) and keeps
// the estimate of the round trip that spent least time on the way; each
// probe carries that estimate to the server, which keeps it (turned round)
// as its own. So both ends know how their timelines line up.
#ifndef ZERA_LINK_SESSION_H
#define ZERA_LINK_SESSION_H

#include <cstdint>
#include <string>
#include <vector>

#include "link_wire.h"

namespace zlink {

using Millis = uint64_t;  // a steady clock in milliseconds, the caller's

constexpr Millis kHelloRepeatMs = 250;  // a hello not answered is sent again
constexpr Millis kAckEveryMs = 100;     // the longest an acknowledgement waits
constexpr Millis kKeepAliveMs = 500;    // an end that sent nothing this long says it is there
constexpr Millis kPeerSilentMs = 5000;  // the client ends a session whose server is this long silent
constexpr Millis kOwnerSilentMs = 3000; // the server lets another take a session whose owner is this silent
constexpr size_t kMaxPeers = 64;        // the peers a server remembers (the least recently heard go)
constexpr Millis kQuickProbeMs = 20;    // the first probes of a session go this often,
constexpr uint32_t kQuickProbes = 8;    // this many of them,
constexpr Millis kProbeEveryMs = 1000;  // then one a second

// Who sent a message.
struct PeerId {
    Bytes route;          // the transport's routing id (a client's one server: empty)
    std::string key;      // its CURVE public key (Z85) as the handshake proved it; empty: none
    std::string address;  // where it connects from, for the status
};

// Counted since the object was made; never reset.
struct Figures {
    uint32_t forwarded = 0;       // events sent to the peer
    uint32_t taken = 0;           // events taken from the peer
    uint32_t forwardedBytes = 0;  // the bytes of those messages
    uint32_t takenBytes = 0;
    uint32_t undelivered = 0;     // events that did not reach the peer or that it did not confirm
    uint32_t missing = 0;         // the peer's events lost on the way in (gaps, item lists)
    uint32_t refused = 0;         // packets refused
    uint32_t sessions = 0;        // sessions begun
};

// What the caller is to do after Take.
struct Outcome {
    Bytes reply;                  // send to the sender (empty: nothing)
    std::vector<Event *> events;  // deliver in order to the stack; the caller's to delete
    enum Ask { kNoAsk, kStatusAsk, kDescribeAsk } ask = kNoAsk;  // server: answer the sender
    bool opened = false;          // client: a session began
    uint32_t refusedCode = 0;     // client: the server refused this end, or its welcome does not suit
    std::string refusedText;
    bool clockChanged = false;    // the estimate of the peer's clock is better now (PeerClock)
    void Clear();
};

class Session {
public:
    struct Config {
        bool server = false;
        std::string name;       // this end's name in its hello or welcome
        std::string peerName;   // the name a stack peer must have (empty: any)
        uint8_t linkLevel = 0;  // this end's level in its own stack (serve: 0)
        uint64_t seed = 1;      // server: where its session numbers start
        // The timeline's clock in microseconds (ZERA_u64HostTraceClock);
        // null: no clock probes (a client) or answers (a server).
        uint64_t (*clockUs)() = nullptr;
    };
    explicit Session(const Config &config);
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Takes one message from `from` at `now`; what to do with it in *out
    // (cleared first). Never fails: what does not read, suit or belong is
    // refused and counted.
    void Take(const PeerId &from, const uint8_t *data, size_t size, Millis now, Outcome *out);

    // Client: a connection shook hands; the hello to send on it.
    Bytes Connected(Millis now);
    // Client: the connection broke. Server: the owner cannot be reached.
    // The session ends; what the peer did not confirm is undelivered.
    void Disconnected();
    // Client: the hello to send again now (empty: none due), or the
    // server's silence ended the session (*silent; the caller says why).
    // Both: an acknowledgement due to the peer (the owner) in *ack.
    // Client: a clock probe due in *probe (when given).
    void Tick(Millis now, Bytes *hello, Bytes *ack, bool *silent, Bytes *probe = nullptr);

    // The session's peer: the owner's routing id (server), empty without one.
    bool Open() const { return open_; }
    const Bytes &OwnerRoute() const { return owner_.route; }
    // Sets the sequence and acknowledgement of an outgoing 'E' or 'B'
    // message; false, changing nothing, when no session is open (the
    // caller counts its events undelivered with Sent).
    bool Stamp(uint8_t *message, Millis now);
    enum SendResult { kSentOk, kNotSent, kGone };
    // After a message of `count` events and `bytes` went out (kSentOk),
    // was not sent (kNotSent: no session, no room) or found the peer gone
    // (kGone, which ends the session); the last two count the events
    // undelivered, and the next message takes their sequence numbers.
    void Sent(uint32_t count, size_t bytes, SendResult result);
    void CountUndelivered(uint32_t count) { figures_.undelivered += count; }
    // A message the transport found malformed (not one frame, say).
    void CountRefused() { ++figures_.refused; }
    // Client: the owner confirmed everything sent (a stop waits for it).
    bool Confirmed() const { return !open_ || acked_ == sent_; }
    // Client, at a stop: the goodbye to send; the session ends.
    Bytes Bye();

    const Figures &figures() const { return figures_; }
    // The session's number (0: none yet), the peer's name in its hello or
    // welcome, and the estimate of its clock this session.
    uint64_t SessionNumber() const { return session_; }
    const std::string &PeerName() const { return peerName_; }
    const ClockEstimate &PeerClock() const { return clock_; }
    // Server: the peers it remembers, for the status.
    std::vector<PeerStatus> Peers() const;

private:
    struct Known {
        Bytes route;
        uint8_t role = 0;  // 0 until its hello
        std::string key;
        std::string address;
        Millis heard = 0;
    };
    Known *Note(const PeerId &from, Millis now);
    void TakeHello(Known *peer, const uint8_t *data, size_t size, Millis now, Outcome *out);
    void TakeWelcome(const uint8_t *data, size_t size, Millis now, Outcome *out);
    void TakeEvents(const uint8_t *data, size_t size, Outcome *out);
    // False when the message is no probe (or answer) that belongs.
    bool TakeClockAsk(const uint8_t *data, size_t size, Outcome *out);
    bool TakeClock(const uint8_t *data, size_t size, Outcome *out);
    void Estimated(const ClockEstimate &e, Outcome *out);
    void Acknowledged(uint32_t ack);
    void Begin(Millis now);
    void End();
    Bytes Refuse(uint32_t code, const std::string &text);

    const Config config_;
    Figures figures_;
    bool connected_ = false;  // client: a connection shook hands
    bool open_ = false;       // a session is open (server: it has an owner)
    uint64_t session_ = 0;    // its number; a client keeps the last one to come back with
    uint64_t next_;           // server: the state of its session numbers
    Known owner_;             // server: the session's stack peer
    std::vector<Known> peers_;  // server: who said something, the owner among them
    uint8_t peerLevel_ = 0;   // the peer's end of the link in its stack
    uint32_t sent_ = 0;       // events sent this session (the next sequence number)
    uint32_t acked_ = 0;      // of those, confirmed by the peer
    uint32_t expect_ = 0;     // the peer's next sequence number
    uint32_t taken_ = 0;      // the peer's events taken this session
    uint32_t ackSent_ = 0;    // the `taken_` last told to the peer
    Millis helloAt_ = 0;
    Millis ackAt_ = 0;
    Millis sentAt_ = 0;       // the last message to the peer
    Millis heardAt_ = 0;      // the last message from the peer (the owner)
    std::string peerName_;    // the peer's name (the owner's)
    ClockEstimate clock_;     // the peer's clock less this end's, this session
    uint32_t probes_ = 0;     // client: probes sent this session
    Millis probeAt_ = 0;
    uint64_t probeSentUs_ = 0;  // client: the clock of the probe not yet answered (0: none)
    uint64_t lateProbeUs_ = 0;  // client: the probe given up on, whose answer is no fault (0: none)
};

// The fingerprint shown for a peer's key: "key " and the first 16
// characters of its Z85 form; "anonymous" without one.
std::string KeyIdentity(const std::string &key);

}  // namespace zlink

#endif  // ZERA_LINK_SESSION_H
