// link/link_wire.h - the messages two ends of a link exchange: building
// them into byte buffers and checking and reading them back. No sockets
// here, so that the receive path can be fuzzed on its own. Part of the link
// library (src/link/), which the Link component, the host tool's serve and
// top commands, the link's tests, fuzzer and benchmark link.
//
// Every message is one frame; its first byte says what it is. Integers go
// in network byte order.
//
//   'H' hello     magic "ZLNK", version (2 bytes, now 6), role (1: a
//                 stack, 2: a monitor), session (8: the one this end last
//                 held, to take it back after a reconnection; 0: none),
//                 link level (1), name (2-byte length + bytes): the first
//                 thing an end sends on every new connection
//   'W' welcome   magic, version, session (8: new for every session the
//                 server grants a stack peer; 0 for a monitor), link
//                 level, name: the answer to a hello that suits
//                 The link level is the level of the sender's end of the
//                 link in its own stack (a Link's level; 0 for serve), so
//                 that each end renumbers the attachments it receives.
//                 Only magic and version are read from a hello of another
//                 version: it is answered with a refusal, never taken for
//                 garbage.
//   'R' refuse    error code (4), text (2-byte length + bytes): the answer
//                 to a hello that does not suit (2057 other version, 2055
//                 other name, 2058 the session is another stack peer's) or
//                 to a question this peer may not ask
//   'E' event     sequence (4: counts the sender's events of the session
//                 from 0), acknowledged (4: events of the receiver the
//                 sender has taken this session), attachment width (1: 0
//                 narrow, 1 wide, which the event format leaves to the
//                 reader), then the event in the library's event wire
//                 format with its attachments numbered as the sender's
//                 stack numbers its levels
//   'B' batch     sequence (4: the first event's; the others follow on),
//                 acknowledged (4), count (2: 2 to 1024), then per
//                 event its attachment width (1) and its wire form, one
//                 after the other to the end of the message: what a sender
//                 sends instead of 'E' messages when more than one event is
//                 waiting. A reader takes all of it or none: a count that
//                 does not match the events, or any event that does not
//                 read, refuses the whole message.
//   'A' ack       acknowledged (4), for a flow that has no events back;
//                 also sent by each end of a session when it sent nothing
//                 for a while, so that the other end knows it is there
//   'F' flush     asks for an 'A' now (a link about to stop)
//   'X' bye       the stack peer ends its session (a stopping link): the
//                 server may grant the session to another at once
//   'Q' clock?    the client's clock probe, sent to the session's owner
//                 end now and then: the client's timeline clock when it
//                 sent it (8, microseconds), then its best estimate so
//                 far of the server's clock less its own: known (1: 0 or
//                 1), offset (8, two's complement) and error bound (8), so
//                 that both ends' timelines record the estimate
//   'C' clock     the server's answer: the probe's clock echoed (8), the
//                 server's clock when it took the probe and when it
//                 answered (8 + 8); the client's clock at the answer makes
//                 the fourth stamp of a round trip (see ClockSample)
//   'S' status?   asks for a status report
//   'T' status    run time in ms (4), link figures (5 x 4: events taken
//                 from the stack peer, forwarded to it, undelivered,
//                 refused packets, dropped at level 0), level count (1),
//                 per level: level (1), status word (4), component name
//                 (2 + bytes), statistics (the library's 56-byte wire
//                 form), events in its send and receive queues (4 + 4)
//                 and deleted by its input filter (4); peer count (1), per peer: role (1), identity
//                 (2 + bytes: a key's fingerprint or "anonymous"), address
//                 (2 + bytes)
//   'D' describe? asks for the stack description
//   'P' description  the library's stack description packet of the
//                 serving stack from its level 0 up, as its level-marshalling
//                 hook writes it (count byte, then one entry per level, top
//                 first)
#ifndef ZERA_LINK_WIRE_H
#define ZERA_LINK_WIRE_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "VOQ_ZERA_Comp.h"

namespace zlink {

constexpr uint32_t kMagic = 0x5A4C4E4Bu;  // "ZLNK"
constexpr uint16_t kVersion = 6;
constexpr size_t kMaxName = 255;

enum Kind : uint8_t {
    kHello = 'H',
    kWelcome = 'W',
    kRefuse = 'R',
    kEvent = 'E',
    kBatch = 'B',
    kAck = 'A',
    kFlush = 'F',
    kClockAsk = 'Q',
    kClock = 'C',
    kBye = 'X',
    kStatusAsk = 'S',
    kStatus = 'T',
    kDescribeAsk = 'D',
    kDescription = 'P',
};

enum Role : uint8_t { kRoleStack = 1, kRoleMonitor = 2 };

// The offset of the event's wire form in an 'E' message; of the first
// event's width in a 'B' message.
constexpr size_t kEventHeader = 10;
constexpr size_t kBatchHeader = 11;
// The most events, and about the most bytes, a batch carries: large enough
// that a stream pays per batch rather than per event (each message costs
// both ends and ZeroMQ's threads system calls), small enough that a batch
// does not hold up the link for long.
constexpr uint32_t kMaxBatch = 1024;
constexpr size_t kMaxBatchBytes = 128 * 1024;
// The largest event a link carries (its wire form); a larger one is not
// sent (undelivered, 1034). A batch stops taking events past
// kMaxBatchBytes, so no message of a link is longer than kMaxMessage, and
// every socket refuses (drops the connection of) a peer that sends one.
constexpr size_t kMaxEventBytes = 256 * 1024;
constexpr size_t kMaxMessage = kBatchHeader + kMaxBatchBytes + 1 + kMaxEventBytes;

using Bytes = std::vector<uint8_t>;

// The levels of the two ends of a link, each in its own stack.
struct LinkLevels {
    uint8_t peer = 0;
    uint8_t own = 0;
};

struct Hello {
    uint16_t version = kVersion;
    uint8_t role = kRoleStack;  // hello only
    uint64_t session = 0;
    uint8_t linkLevel = 0;
    std::string name;
};

struct Refusal {
    uint32_t code = 0;
    std::string text;
};

struct LevelStatus {
    uint8_t level = 0;
    uint32_t status = 0;
    std::string component;
    uint32_t statistics[ZERA_STATS_WORDS] = {};
    uint32_t sendQueue = 0;  // events waiting in it
    uint32_t recvQueue = 0;
    uint32_t dropped = 0;    // deleted by its input filter (a full receive queue)
};

struct PeerStatus {
    uint8_t role = 0;
    std::string identity;  // "anonymous", or "key " and the key's fingerprint
    std::string address;
};

// The figures a status carries, in order.
enum LinkFigure { kTaken, kForwarded, kUndelivered, kRefused, kDropped, kLinkFigures };

struct Status {
    uint32_t uptimeMs = 0;
    uint32_t link[kLinkFigures] = {};
    std::vector<LevelStatus> levels;
    std::vector<PeerStatus> peers;
};

// One end's estimate of its peer's timeline clock: the peer's reading less
// its own, in microseconds, within +-errorUs.
struct ClockEstimate {
    bool known = false;
    int64_t offsetUs = 0;
    uint64_t errorUs = 0;
};

struct ClockAsk {
    uint64_t sentUs = 0;
    ClockEstimate estimate;  // the client's: the server's clock less the client's
};

struct ClockAnswer {
    uint64_t askedUs = 0;     // the probe's sentUs
    uint64_t receivedUs = 0;  // the server's clock when it took the probe
    uint64_t answeredUs = 0;  // ... and when it answered
};

// What one round trip says of the server's clock: a probe sent at t0 and
// answered at t3 (the client's clock), taken at t1 and answered at t2 (the
// server's); the offset is ((t1 - t0) + (t2 - t3)) / 2, off by at most half
// the time the round trip spent on the way, (t3 - t0 - (t2 - t1)) / 2
// (rounded up). Unknown when the stamps run backwards.
ClockEstimate ClockSample(const ClockAnswer &answer, uint64_t backUs);

// Writers: the whole message.
Bytes HelloMessage(Kind kind, const Hello &hello);  // kHello or kWelcome
Bytes RefuseMessage(uint32_t code, const std::string &text);
Bytes AckMessage(uint32_t acknowledged);
Bytes StatusMessage(const Status &status);
Bytes ClockAskMessage(const ClockAsk &ask);
Bytes ClockAnswerMessage(const ClockAnswer &answer);
// An 'E' message for ev with sequence and acknowledgement 0 (PatchEvent sets
// them when it goes out). False with the marshalling's code (2056, 1034,
// 1026) when the event cannot be written; *out is left empty then.
bool EventMessage(Event *ev, Bytes *out);
// A 'P' message with the stack description of h0 and every level above it,
// written by h0's level-marshalling hook. False with the hook's code (1027
// for a level without one) when it cannot be written; *out is empty then.
bool DescriptionMessage(StackHandle *h0, Bytes *out);
// Sets the sequence and acknowledgement of an 'E' or 'B' message of at
// least kEventHeader bytes.
void PatchEvent(uint8_t *message, uint32_t sequence, uint32_t acknowledged);

// Readers: each checks the whole message and is false, changing nothing
// but *out, for a message that is short, long, of another kind or holds a
// bad value.
bool ReadHello(const uint8_t *data, size_t size, Hello *out);  // kHello or kWelcome
bool ReadRefuse(const uint8_t *data, size_t size, Refusal *out);
bool ReadAck(const uint8_t *data, size_t size, uint32_t *out);
bool ReadStatus(const uint8_t *data, size_t size, Status *out);
bool ReadClockAsk(const uint8_t *data, size_t size, ClockAsk *out);  // known must be 0 or 1
bool ReadClockAnswer(const uint8_t *data, size_t size, ClockAnswer *out);
// Checks a 'P' message: every entry must read back with the library's
// reader and the last must end the message. On success *packet is a new
// packet for reading the description from its count byte (the caller owns
// it and deletes it with ZERA_boMarshalPacketDelete). False with a code
// (1032 short or not a description, 1034 bytes behind the last entry, else
// the reader's); *packet is null then and nothing is kept.
bool ReadDescription(const uint8_t *data, size_t size, ZERA_HPACKET *packet);
// Reads an 'E' or 'B' message: its first sequence number, acknowledgement
// and its events in order (appended to *events; the caller owns them and
// deletes each with ZERA_boDeleteEvent), their attachments renumbered as
// RenumberAttachments does. False for a short message or a count out of
// range (1032), a bad width or bytes behind the last event (1034), or an
// event that cannot be read (with the reader's code stored); *events is
// then as it was and nothing is kept.
bool ReadEvents(const uint8_t *data, size_t size, const LinkLevels &levels, uint32_t *sequence,
                uint32_t *acknowledged, std::vector<Event *> *events);

// Renumbers ev's attachments from the peer's levels to this end's. The two
// ends of a link stand for one place in one stack: the peer's link level is
// this end's, so the peer's level L is L - peer + own here (a Link at level
// 3 and serve's level 0: the Link's level 5 is serve's level 2, serve's
// level 1 is the Link's level 4). An attachment that lands on level 0 or
// below (it was for the peer's own end of the link or below, which nothing
// here can apply) or above 255 is deleted with its list.
void RenumberAttachments(Event *ev, const LinkLevels &levels);

// Events written one after another into one message: an 'E' message when
// it holds one, a 'B' message when it holds more. One packet per batch, so
// that a stream makes no allocation per event. Used by one thread at a time.
class EventBatch {
public:
    EventBatch() = default;
    EventBatch(const EventBatch &) = delete;
    EventBatch &operator=(const EventBatch &) = delete;
    ~EventBatch() { Clear(); }
    // Appends ev (it stays the caller's). False when it cannot be written,
    // with the marshalling's code (1034 for a wire form longer than
    // kMaxEventBytes): the batch is unchanged, or, when memory
    // ran out part-way through, empty (*dropped then holds the events it
    // had, which are lost).
    bool Add(Event *ev, uint32_t *dropped);
    bool Full() const { return count_ >= kMaxBatch || Bytes() >= kMaxBatchBytes; }
    uint32_t Count() const { return count_; }
    // The message's size, and its bytes (sequence and acknowledgement 0)
    // written to out, which has room for MessageSize() bytes.
    size_t MessageSize() const;
    void CopyMessage(uint8_t *out) const;
    // A batch of two events or more as its message in place, so that it
    // need not be copied: its bytes (sequence and acknowledgement 0) in
    // *bytes and *size, and the packet that holds them, which the caller
    // now owns (ZERA_boMarshalPacketDelete frees both); the batch is empty
    // then. Null for a batch of fewer, whose message CopyMessage writes.
    ZERA_HPACKET TakeMessage(uint8_t **bytes, size_t *size);
    void Clear();

private:
    size_t Bytes() const;
    ZERA_HPACKET packet_ = nullptr;  // a 'B' header, then the events
    uint32_t count_ = 0;
};

// The events a producing thread hands to the thread that owns the socket,
// which writes them into messages. The consumer drains the outbox and says
// when it goes to sleep; the first event added after that asks the producer
// to wake it (with a message on a pipe, say), and no other does: so an idle
// link sends each event at once, a busy one as many as came while it sent
// the last, and a stream costs a wake-up only when the consumer caught up.
// The writing is the socket thread's, so that the producer, which takes the
// events one by one from the stack, does no more per event than it must.
class Outbox {
public:
    enum Result { kAdded, kAddedWake, kNotTaken };
    Outbox() = default;
    Outbox(const Outbox &) = delete;
    Outbox &operator=(const Outbox &) = delete;
    ~Outbox() { Discard(); }
    // Producer: takes ev over; kAddedWake when the consumer sleeps (the
    // caller wakes it; it counts as awake from here on). While kMaxBatch
    // events wait it waits for the consumer in rounds of roundMs, and gives
    // up with kNotTaken as soon as stopped() says so, or when memory runs
    // out: ev is then still the caller's.
    template <typename Stopped>
    Result Add(Event *ev, int roundMs, Stopped stopped) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (added_.size() >= kMaxBatch) {
            if (stopped()) return kNotTaken;
            room_.wait_for(lock, std::chrono::milliseconds(roundMs));
        }
        return Append(&ev, 1);
    }
    // Producer: takes over `count` events at once, which Room() said fit
    // (the room only grows meanwhile); as Add, but without waiting, and
    // kNotTaken (all still the caller's) only when memory runs out.
    Result AddAll(Event *const *events, size_t count) {
        std::lock_guard<std::mutex> lock(mutex_);
        return Append(events, count);
    }
    // Producer: how many more events Add takes without waiting.
    size_t Room() {
        std::lock_guard<std::mutex> lock(mutex_);
        return added_.size() < kMaxBatch ? kMaxBatch - added_.size() : 0;
    }
    // Consumer: writes the next events, in order, into *batch (emptied
    // first) until it is full or none is left, also those added meanwhile,
    // and deletes them. Events
    // that cannot be written are counted in *lost. False when there was
    // no event to take.
    bool Fill(EventBatch *batch, uint32_t *lost);
    // Consumer: true when nothing waits, and the next Add wakes it; false
    // when events wait, which it is to take first (it stays awake).
    bool Sleep();
    // Consumer, at the end: deletes the events left; how many there were.
    uint32_t Discard();

private:
    // Under mutex_.
    Result Append(Event *const *events, size_t count) {
        try {
            added_.insert(added_.end(), events, events + count);
        } catch (const std::bad_alloc &) {
            return kNotTaken;
        }
        if (!asleep_) return kAdded;
        asleep_ = false;
        return kAddedWake;
    }

    std::mutex mutex_;  // guards added_, asleep_
    std::condition_variable room_;
    std::vector<Event *> added_;
    bool asleep_ = true;  // the consumer waits for a wake-up (it starts so)
    std::vector<Event *> taken_;  // consumer only: what it took, from next_ on still to write
    size_t next_ = 0;
};

// Why a hello cannot be taken by an end that speaks kVersion and expects
// the peer name `expected` (empty: any): "" when it suits, else the reason,
// with the library code to report it under in *code (2057 version, 2055 name).
std::string HelloMismatch(const Hello &hello, const std::string &expected, uint32_t *code);

}  // namespace zlink

#endif  // ZERA_LINK_WIRE_H
