// link/link_session.cpp - the session state machine both ends of a link
// drive (see link_session.h).
#include "link_session.h"

#include <algorithm>
#include <cstdint>

namespace zlink {

void Outcome::Clear() {
    reply.clear();
    events.clear();
    ask = kNoAsk;
    opened = false;
    refusedCode = 0;
    refusedText.clear();
    clockChanged = false;
}

std::string KeyIdentity(const std::string &key) { return key.empty() ? "anonymous" : "key " + key.substr(0, 16); }

Session::Session(const Config &config) : config_(config), next_(config.seed) {}

Session::Known *Session::Note(const PeerId &from, Millis now) {
    auto known = std::find_if(peers_.begin(), peers_.end(), [&](const Known &k) { return k.route == from.route; });
    if (known == peers_.end()) {
        if (peers_.size() >= kMaxPeers) {
            // The least recently heard that does not own the session makes room.
            auto oldest = peers_.end();
            for (auto k = peers_.begin(); k != peers_.end(); ++k) {
                if ((!open_ || k->route != owner_.route) && (oldest == peers_.end() || k->heard < oldest->heard)) oldest = k;
            }
            peers_.erase(oldest);
        }
        peers_.push_back(Known());
        known = peers_.end() - 1;
        known->route = from.route;
    }
    known->key = from.key;
    known->address = from.address;
    known->heard = now;
    return &*known;
}

Bytes Session::Refuse(uint32_t code, const std::string &text) {
    ++figures_.refused;
    return RefuseMessage(code, text);
}

void Session::Take(const PeerId &from, const uint8_t *data, size_t size, Millis now, Outcome *out) {
    out->Clear();
    const uint8_t kind = size > 0 ? data[0] : 0;
    const bool fromOwner = open_ && (!config_.server || from.route == owner_.route);
    if (fromOwner) heardAt_ = now;
    if (!config_.server) {
        uint32_t ack = 0;
        Refusal refusal;
        if (kind == kEvent || kind == kBatch) {
            TakeEvents(data, size, out);
        } else if (kind == kWelcome) {
            TakeWelcome(data, size, now, out);
        } else if (kind == kRefuse && ReadRefuse(data, size, &refusal)) {
            ++figures_.refused;
            out->refusedCode = refusal.code;
            out->refusedText = "the peer says: " + refusal.text;
        } else if (kind == kAck && ReadAck(data, size, &ack)) {
            Acknowledged(ack);
        } else if (kind == kClock) {
            if (!TakeClock(data, size, out)) ++figures_.refused;
        } else if (kind == kFlush && size == 1 && open_) {
            out->reply = AckMessage(taken_);
            ackSent_ = taken_;
            ackAt_ = sentAt_ = now;
        } else {
            ++figures_.refused;
        }
        return;
    }
    Known *peer = Note(from, now);
    uint32_t ack = 0;
    switch (kind) {
    case kEvent:
    case kBatch:
        if (fromOwner) return TakeEvents(data, size, out);
        break;
    case kHello:
        return TakeHello(peer, data, size, now, out);
    case kAck:
        if (fromOwner && ReadAck(data, size, &ack)) return Acknowledged(ack);
        break;
    case kFlush:
        if (fromOwner && size == 1) {
            out->reply = AckMessage(taken_);
            ackSent_ = taken_;
            ackAt_ = sentAt_ = now;
            return;
        }
        break;
    case kBye:
        if (fromOwner && size == 1) return End();
        break;
    case kClockAsk:
        if (fromOwner && TakeClockAsk(data, size, out)) return;
        break;
    case kStatusAsk:
    case kDescribeAsk:
        if (size != 1) break;
        if (peer->role == 0) {
            out->reply = Refuse(OSAL_ERR_NOT_OWNER, "say hello first");
            return;
        }
        out->ask = kind == kStatusAsk ? Outcome::kStatusAsk : Outcome::kDescribeAsk;
        return;
    default:
        break;
    }
    ++figures_.refused;
}

void Session::TakeHello(Known *peer, const uint8_t *data, size_t size, Millis now, Outcome *out) {
    Hello hello;
    if (!ReadHello(data, size, &hello)) {
        ++figures_.refused;
        return;
    }
    uint32_t code = 0;
    const std::string why = HelloMismatch(hello, hello.role == kRoleStack ? config_.peerName : "", &code);
    if (!why.empty()) {
        out->reply = Refuse(code, why);
        return;
    }
    Hello welcome;
    welcome.name = config_.name;
    welcome.linkLevel = config_.linkLevel;
    if (hello.role == kRoleMonitor) {
        peer->role = kRoleMonitor;
        out->reply = HelloMessage(kWelcome, welcome);
        return;
    }
    const bool same = open_ && peer->route == owner_.route;
    if (!same && open_) {
        // Another stack peer: it may take the session only as its owner
        // coming back, or from an owner that has gone silent.
        const bool sameKey = !owner_.key.empty() && peer->key == owner_.key;
        const bool sameSession = owner_.key.empty() && hello.session != 0 && hello.session == session_;
        if (!sameKey && !sameSession && now - heardAt_ < kOwnerSilentMs) {
            out->reply = Refuse(OSAL_ERR_NOT_OWNER, "the session belongs to another stack peer (" +
                                                        KeyIdentity(owner_.key) + " at " + owner_.address + ")");
            return;
        }
    }
    peer->role = kRoleStack;
    if (!same) {
        End();
        owner_ = *peer;
        next_ = next_ * 6364136223846793005u + 1442695040888963407u;
        session_ = (next_ >> 1) | 1;  // never 0, which means none
        Begin(now);
    }
    peerLevel_ = hello.linkLevel;
    peerName_ = hello.name;
    welcome.session = session_;
    out->reply = HelloMessage(kWelcome, welcome);
}

void Session::TakeWelcome(const uint8_t *data, size_t size, Millis now, Outcome *out) {
    Hello welcome;
    if (!ReadHello(data, size, &welcome)) {
        ++figures_.refused;
        return;
    }
    uint32_t code = 0;
    const std::string why = HelloMismatch(welcome, config_.peerName, &code);
    if (!why.empty()) {
        ++figures_.refused;
        out->refusedCode = code;
        out->refusedText = why;
        return;
    }
    if (open_ && welcome.session == session_) return;  // the answer to a repeated hello
    End();
    session_ = welcome.session;
    peerLevel_ = welcome.linkLevel;
    peerName_ = welcome.name;
    Begin(now);
    out->opened = true;
}

void Session::Begin(Millis now) {
    open_ = true;
    sent_ = acked_ = expect_ = taken_ = ackSent_ = 0;
    ++figures_.sessions;
    heardAt_ = sentAt_ = ackAt_ = now;
    clock_ = ClockEstimate();
    probes_ = 0;
    probeSentUs_ = lateProbeUs_ = 0;
}

bool Session::TakeClockAsk(const uint8_t *data, size_t size, Outcome *out) {
    ClockAsk ask;
    // An offset that cannot be turned round is no estimate.
    if (config_.clockUs == nullptr || !ReadClockAsk(data, size, &ask) ||
        (ask.estimate.known && ask.estimate.offsetUs == INT64_MIN)) {
        return false;
    }
    ClockAnswer answer;
    answer.askedUs = ask.sentUs;
    answer.receivedUs = answer.answeredUs = config_.clockUs();
    out->reply = ClockAnswerMessage(answer);
    if (ask.estimate.known) {
        ClockEstimate mine = ask.estimate;
        mine.offsetUs = -mine.offsetUs;
        Estimated(mine, out);
    }
    return true;
}

bool Session::TakeClock(const uint8_t *data, size_t size, Outcome *out) {
    ClockAnswer answer;
    // Only the answer to the probe outstanding counts: a late or repeated
    // one would pair stamps of two round trips.
    if (!open_ || !ReadClockAnswer(data, size, &answer)) return false;
    if (answer.askedUs != 0 && answer.askedUs == lateProbeUs_) {
        lateProbeUs_ = 0;  // the probe given up on, answered at last: no fault of the server's
        return true;
    }
    if (probeSentUs_ == 0 || answer.askedUs != probeSentUs_) return false;
    probeSentUs_ = 0;
    const ClockEstimate sample = ClockSample(answer, config_.clockUs());
    if (!sample.known) return false;
    Estimated(sample, out);
    return true;
}

// Keeps e when it is the first or its bound is tighter.
void Session::Estimated(const ClockEstimate &e, Outcome *out) {
    if (clock_.known && e.errorUs >= clock_.errorUs) return;
    clock_ = e;
    out->clockChanged = true;
}

void Session::End() {
    if (open_) figures_.undelivered += sent_ - acked_;
    open_ = false;
    owner_ = Known();
    sent_ = acked_ = 0;
}

void Session::TakeEvents(const uint8_t *data, size_t size, Outcome *out) {
    uint32_t sequence = 0;
    uint32_t ack = 0;
    const LinkLevels levels{peerLevel_, config_.linkLevel};
    if (!open_ || !ReadEvents(data, size, levels, &sequence, &ack, &out->events) || sequence < expect_) {
        for (Event *ev : out->events) ZERA_boDeleteEvent(ev);
        out->events.clear();
        ++figures_.refused;
        return;
    }
    const auto count = static_cast<uint32_t>(out->events.size());
    figures_.missing += sequence - expect_;
    expect_ = sequence + count;
    taken_ += count;
    Acknowledged(ack);
    // Item lists carry a stack's status changes: one from the peer would
    // start or stop levels of this stack, the link's own threads among
    // them, from inside them. They are lost on the way in.
    const auto items = std::remove_if(out->events.begin(), out->events.end(), [](Event *ev) {
        if (ev->i32Type != ZERA_EVENT_ITEMS) return false;
        ZERA_boDeleteEvent(ev);
        return true;
    });
    figures_.missing += static_cast<uint32_t>(out->events.end() - items);
    out->events.erase(items, out->events.end());
    figures_.taken += static_cast<uint32_t>(out->events.size());
    figures_.takenBytes += static_cast<uint32_t>(size);
}

void Session::Acknowledged(uint32_t ack) {
    if (open_ && ack > acked_ && ack <= sent_) acked_ = ack;
}

Bytes Session::Connected(Millis now) {
    connected_ = true;
    if (open_) return Bytes();
    Hello hello;
    hello.name = config_.name;
    hello.linkLevel = config_.linkLevel;
    hello.session = session_;
    helloAt_ = now;
    return HelloMessage(kHello, hello);
}

void Session::Disconnected() {
    End();
    connected_ = false;
}

void Session::Tick(Millis now, Bytes *hello, Bytes *ack, bool *silent, Bytes *probe) {
    if (probe != nullptr) probe->clear();
    hello->clear();
    ack->clear();
    *silent = false;
    if (!config_.server && open_ && now - heardAt_ >= kPeerSilentMs) {
        End();
        *silent = true;
    }
    if (!config_.server && connected_ && !open_ && now - helloAt_ >= kHelloRepeatMs) *hello = Connected(now);
    if (!open_) return;
    if ((taken_ != ackSent_ && now - ackAt_ >= kAckEveryMs) || now - sentAt_ >= kKeepAliveMs) {
        *ack = AckMessage(taken_);
        ackSent_ = taken_;
        ackAt_ = sentAt_ = now;
    }
    if (config_.server || probe == nullptr || config_.clockUs == nullptr) return;
    // One probe out at a time: a slow server's answer would otherwise come
    // after the next probe and pair with nothing. One unanswered for
    // kProbeEveryMs is given up on (its answer, should it come, is ignored).
    const bool waiting = probeSentUs_ != 0 && now - probeAt_ < kProbeEveryMs;
    if (!waiting && now - probeAt_ >= (probes_ < kQuickProbes ? kQuickProbeMs : kProbeEveryMs)) {
        lateProbeUs_ = probeSentUs_;
        ClockAsk ask;
        ask.sentUs = config_.clockUs();
        if (ask.sentUs == 0) ask.sentUs = 1;  // 0 means no probe is out
        ask.estimate = clock_;
        probeSentUs_ = ask.sentUs;
        probeAt_ = sentAt_ = now;
        ++probes_;
        *probe = ClockAskMessage(ask);
    }
}

bool Session::Stamp(uint8_t *message, Millis now) {
    if (!open_) return false;
    PatchEvent(message, sent_, taken_);
    ackSent_ = taken_;
    sentAt_ = now;
    return true;
}

void Session::Sent(uint32_t count, size_t bytes, SendResult result) {
    if (result == kSentOk) {
        sent_ += count;
        figures_.forwarded += count;
        figures_.forwardedBytes += static_cast<uint32_t>(bytes);
        return;
    }
    figures_.undelivered += count;
    if (result == kGone) End();
}

Bytes Session::Bye() {
    const bool open = open_;
    End();
    return open ? Bytes{kBye} : Bytes();
}

std::vector<PeerStatus> Session::Peers() const {
    std::vector<PeerStatus> peers;
    for (const Known &k : peers_) {
        PeerStatus p;
        p.role = k.role;
        p.identity = KeyIdentity(k.key);
        p.address = k.address;
        peers.push_back(p);
    }
    return peers;
}

}  // namespace zlink
