// link/link_wire.cpp - building and reading the link's messages (see
// link_wire.h for their layout).
#include "link_wire.h"

#include <cstring>

namespace zlink {

namespace {

class Writer {
public:
    explicit Writer(Kind kind) { bytes_.push_back(kind); }
    void U8(uint8_t v) { bytes_.push_back(v); }
    void U16(uint16_t v) {
        U8(static_cast<uint8_t>(v >> 8));
        U8(static_cast<uint8_t>(v));
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v >> 16));
        U16(static_cast<uint16_t>(v));
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v >> 32));
        U32(static_cast<uint32_t>(v));
    }
    void Text(const std::string &s) {
        const size_t n = s.size() < 0xFFFF ? s.size() : 0xFFFF;
        U16(static_cast<uint16_t>(n));
        bytes_.insert(bytes_.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    }
    void Raw(const void *p, size_t n) {
        const auto *b = static_cast<const uint8_t *>(p);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    Bytes Take() { return std::move(bytes_); }

private:
    Bytes bytes_;
};

// Reads from a message; any read past the end makes ok() false for good.
class Reader {
public:
    Reader(const uint8_t *data, size_t size, Kind kind) : p_(data), end_(data + size) {
        ok_ = data != nullptr && size >= 1 && *p_ == kind;
        if (ok_) ++p_;
    }
    bool ok() const { return ok_; }
    bool AtEnd() const { return ok_ && p_ == end_; }
    const uint8_t *Take(size_t n) {
        if (!ok_ || static_cast<size_t>(end_ - p_) < n) {
            ok_ = false;
            return nullptr;
        }
        const uint8_t *at = p_;
        p_ += n;
        return at;
    }
    uint8_t U8() {
        const uint8_t *b = Take(1);
        return b != nullptr ? b[0] : 0;
    }
    uint16_t U16() {
        const uint8_t *b = Take(2);
        return b != nullptr ? static_cast<uint16_t>(b[0] << 8 | b[1]) : 0;
    }
    uint32_t U32() {
        const uint32_t high = U16();
        return high << 16 | U16();
    }
    uint64_t U64() {
        const uint64_t high = U32();
        return high << 32 | U32();
    }
    std::string Text(size_t max) {
        const size_t n = U16();
        if (n > max) ok_ = false;
        const uint8_t *b = Take(n);
        return b != nullptr ? std::string(reinterpret_cast<const char *>(b), n) : std::string();
    }
    const uint8_t *Rest(size_t *n) {
        *n = ok_ ? static_cast<size_t>(end_ - p_) : 0;
        return Take(*n);
    }

private:
    const uint8_t *p_;
    const uint8_t *end_;
    bool ok_ = false;
};

// A packet for reading a copy of n bytes (a reading packet takes its buffer
// over and frees it); null with the packet's code.
ZERA_HPACKET ReadingPacket(const uint8_t *bytes, size_t n) {
    void *copy = ZERA_pvMalloc(static_cast<uint32_t>(n));
    if (copy == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return nullptr;
    }
    std::memcpy(copy, bytes, n);
    ZERA_HPACKET packet = ZERA_hMarshalPacketCreate(copy, static_cast<int32_t>(n));
    if (packet == nullptr) ZERA_vFree(copy);
    return packet;
}

// The library's statistics wire form, written and read through a packet.
bool StatisticsToWire(const uint32_t *statistics, Writer *w) {
    ZERA_HPACKET packet = ZERA_hMarshalPacketCreate(nullptr, 0);
    if (packet == nullptr) return false;
    const bool ok = ZERA_boMarshalStatistics(packet, statistics) != 0;
    if (ok) {
        w->Raw(ZERA_pvMarshalGetStartOfData(packet), static_cast<size_t>(ZERA_i32MarshalGetDataSize(packet)));
    }
    ZERA_boMarshalPacketDelete(packet);
    return ok;
}

constexpr size_t kStatisticsWire = 56;

bool StatisticsFromWire(const uint8_t *wire, uint32_t *statistics) {
    ZERA_HPACKET packet = ReadingPacket(wire, kStatisticsWire);
    if (packet == nullptr) return false;
    const bool ok = ZERA_boUnmarshalStatistics(packet, statistics) != 0;
    ZERA_boMarshalPacketDelete(packet);
    return ok;
}

}  // namespace

Bytes HelloMessage(Kind kind, const Hello &hello) {
    Writer w(kind);
    w.U32(kMagic);
    w.U16(hello.version);
    if (kind == kHello) w.U8(hello.role);
    w.U64(hello.session);
    w.U8(hello.linkLevel);
    w.Text(hello.name.substr(0, kMaxName));
    return w.Take();
}

Bytes RefuseMessage(uint32_t code, const std::string &text) {
    Writer w(kRefuse);
    w.U32(code);
    w.Text(text);
    return w.Take();
}

Bytes AckMessage(uint32_t acknowledged) {
    Writer w(kAck);
    w.U32(acknowledged);
    return w.Take();
}

Bytes StatusMessage(const Status &status) {
    Writer w(kStatus);
    w.U32(status.uptimeMs);
    for (uint32_t v : status.link) w.U32(v);
    const size_t count = status.levels.size() < 255 ? status.levels.size() : 255;
    w.U8(static_cast<uint8_t>(count));
    for (size_t i = 0; i < count; ++i) {
        const LevelStatus &l = status.levels[i];
        w.U8(l.level);
        w.U32(l.status);
        w.Text(l.component.substr(0, kMaxName));
        if (!StatisticsToWire(l.statistics, &w)) return Bytes();
        w.U32(l.sendQueue);
        w.U32(l.recvQueue);
        w.U32(l.dropped);
    }
    const size_t peers = status.peers.size() < 255 ? status.peers.size() : 255;
    w.U8(static_cast<uint8_t>(peers));
    for (size_t i = 0; i < peers; ++i) {
        w.U8(status.peers[i].role);
        w.Text(status.peers[i].identity.substr(0, kMaxName));
        w.Text(status.peers[i].address.substr(0, kMaxName));
    }
    return w.Take();
}

Bytes ClockAskMessage(const ClockAsk &ask) {
    Writer w(kClockAsk);
    w.U64(ask.sentUs);
    w.U8(ask.estimate.known ? 1 : 0);
    w.U64(static_cast<uint64_t>(ask.estimate.offsetUs));
    w.U64(ask.estimate.errorUs);
    return w.Take();
}

Bytes ClockAnswerMessage(const ClockAnswer &answer) {
    Writer w(kClock);
    w.U64(answer.askedUs);
    w.U64(answer.receivedUs);
    w.U64(answer.answeredUs);
    return w.Take();
}

ClockEstimate ClockSample(const ClockAnswer &answer, uint64_t backUs) {
    ClockEstimate e;
    if (backUs < answer.askedUs || answer.answeredUs < answer.receivedUs) return e;
    const uint64_t away = answer.answeredUs - answer.receivedUs;
    const uint64_t round = backUs - answer.askedUs;
    if (away > round) return e;
    // Differences of two clocks that both count from their process's start
    // stay far inside 63 bits.
    const int64_t there = static_cast<int64_t>(answer.receivedUs - answer.askedUs);
    const int64_t back = static_cast<int64_t>(answer.answeredUs - backUs);
    const int64_t sum = there + back;
    e.known = true;
    e.offsetUs = sum >= 0 ? sum / 2 : -((-sum + 1) / 2);
    e.errorUs = (round - away + 1) / 2;
    return e;
}

bool EventMessage(Event *ev, Bytes *out) {
    out->clear();
    EventBatch batch;
    uint32_t dropped = 0;
    if (!batch.Add(ev, &dropped)) return false;
    out->resize(batch.MessageSize());
    batch.CopyMessage(out->data());
    return true;
}

bool DescriptionMessage(StackHandle *h0, Bytes *out) {
    out->clear();
    if (h0 == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return false;
    }
    auto hook = reinterpret_cast<ZERA_PFN_MARSHAL_LEVEL>(h0->apfnEntry[ZERA_ENTRY_MARSHAL_LEVEL]);
    if (hook == nullptr) {
        OSAL_vSetLastError(1027);
        return false;
    }
    ZERA_HPACKET packet = hook(h0, 0, 1);
    if (packet == nullptr) return false;
    const auto *data = static_cast<const uint8_t *>(ZERA_pvMarshalGetStartOfData(packet));
    out->push_back(kDescription);
    out->insert(out->end(), data, data + ZERA_i32MarshalGetDataSize(packet));
    ZERA_vRetrieveStackHandleDone(packet);
    return true;
}

void PatchEvent(uint8_t *message, uint32_t sequence, uint32_t acknowledged) {
    for (int i = 0; i < 4; ++i) {
        message[1 + i] = static_cast<uint8_t>(sequence >> (24 - 8 * i));
        message[5 + i] = static_cast<uint8_t>(acknowledged >> (24 - 8 * i));
    }
}

bool ReadHello(const uint8_t *data, size_t size, Hello *out) {
    const bool welcome = data != nullptr && size > 0 && data[0] == kWelcome;
    Reader r(data, size, welcome ? kWelcome : kHello);
    Hello h;
    if (r.U32() != kMagic) return false;
    h.version = r.U16();
    if (!r.ok()) return false;
    if (h.version != kVersion) {
        // The rest is laid out as that version has it: the version is
        // enough to refuse it.
        *out = h;
        return true;
    }
    if (!welcome) h.role = r.U8();
    h.session = r.U64();
    h.linkLevel = r.U8();
    h.name = r.Text(kMaxName);
    if (!r.AtEnd() || (!welcome && h.role != kRoleStack && h.role != kRoleMonitor)) return false;
    *out = h;
    return true;
}

bool ReadRefuse(const uint8_t *data, size_t size, Refusal *out) {
    Reader r(data, size, kRefuse);
    Refusal f;
    f.code = r.U32();
    f.text = r.Text(0xFFFF);
    if (!r.AtEnd()) return false;
    *out = f;
    return true;
}

bool ReadAck(const uint8_t *data, size_t size, uint32_t *out) {
    Reader r(data, size, kAck);
    const uint32_t v = r.U32();
    if (!r.AtEnd()) return false;
    *out = v;
    return true;
}

bool ReadClockAsk(const uint8_t *data, size_t size, ClockAsk *out) {
    Reader r(data, size, kClockAsk);
    ClockAsk ask;
    ask.sentUs = r.U64();
    const uint8_t known = r.U8();
    ask.estimate.offsetUs = static_cast<int64_t>(r.U64());
    ask.estimate.errorUs = r.U64();
    if (!r.AtEnd() || known > 1) return false;
    ask.estimate.known = known == 1;
    *out = ask;
    return true;
}

bool ReadClockAnswer(const uint8_t *data, size_t size, ClockAnswer *out) {
    Reader r(data, size, kClock);
    ClockAnswer answer;
    answer.askedUs = r.U64();
    answer.receivedUs = r.U64();
    answer.answeredUs = r.U64();
    if (!r.AtEnd()) return false;
    *out = answer;
    return true;
}

bool ReadStatus(const uint8_t *data, size_t size, Status *out) {
    Reader r(data, size, kStatus);
    Status s;
    s.uptimeMs = r.U32();
    for (uint32_t &v : s.link) v = r.U32();
    const uint8_t count = r.U8();
    for (uint8_t i = 0; i < count && r.ok(); ++i) {
        LevelStatus l;
        l.level = r.U8();
        l.status = r.U32();
        l.component = r.Text(kMaxName);
        const uint8_t *wire = r.Take(kStatisticsWire);
        if (wire == nullptr || !StatisticsFromWire(wire, l.statistics)) return false;
        l.sendQueue = r.U32();
        l.recvQueue = r.U32();
        l.dropped = r.U32();
        s.levels.push_back(l);
    }
    const uint8_t peers = r.U8();
    for (uint8_t i = 0; i < peers && r.ok(); ++i) {
        PeerStatus p;
        p.role = r.U8();
        p.identity = r.Text(kMaxName);
        p.address = r.Text(kMaxName);
        s.peers.push_back(p);
    }
    if (!r.AtEnd()) return false;
    *out = s;
    return true;
}

bool ReadEvents(const uint8_t *data, size_t size, const LinkLevels &levels, uint32_t *sequence,
                uint32_t *acknowledged, std::vector<Event *> *events) {
    const bool batch = data != nullptr && size > 0 && data[0] == kBatch;
    Reader r(data, size, batch ? kBatch : kEvent);
    const uint32_t seq = r.U32();
    const uint32_t ack = r.U32();
    const uint32_t count = batch ? r.U16() : 1;
    size_t rest = 0;
    const uint8_t *wire = r.Rest(&rest);
    if (!r.ok() || rest == 0 || rest > 0x7FFFFFFF || (batch && (count < 2 || count > kMaxBatch))) {
        OSAL_vSetLastError(OSAL_ERR_SHORT_PACKET);
        return false;
    }
    ZERA_HPACKET packet = ReadingPacket(wire, rest);
    if (packet == nullptr) return false;
    std::vector<Event *> read;
    read.reserve(count);
    bool ok = true;
    for (uint32_t i = 0; ok && i < count; ++i) {
        uint8_t wide = 0;
        Event *ev = nullptr;
        ok = ZERA_boUnmarshalByte(packet, &wide) != 0;
        if (ok && wide > 1) {
            OSAL_vSetLastError(OSAL_ERR_INVALID_SIZE);
            ok = false;
        }
        if (ok) ok = ZERA_boUnmarshalZERAEvent(packet, &ev, wide) != 0;
        if (ok) read.push_back(ev);
    }
    // Bytes behind the last event mean the two ends do not agree on the format.
    if (ok && ZERA_i32MarshalGetCurReadPos(packet) != static_cast<int32_t>(rest)) {
        OSAL_vSetLastError(1034);
        ok = false;
    }
    ZERA_boMarshalPacketDelete(packet);
    if (!ok) {
        for (Event *ev : read) ZERA_boDeleteEvent(ev);
        return false;
    }
    for (Event *ev : read) RenumberAttachments(ev, levels);
    events->insert(events->end(), read.begin(), read.end());
    *sequence = seq;
    *acknowledged = ack;
    return true;
}

void RenumberAttachments(Event *ev, const LinkLevels &levels) {
    for (Attachment **link = &ev->pstAttachments; Attachment *node = *link;) {
        const int level = node->u8Level - levels.peer + levels.own;
        if (level >= 1 && level <= 255) {
            node->u8Level = static_cast<uint8_t>(level);
            link = &node->pstNext;
            continue;
        }
        *link = node->pstNext;
        if (ev->boWideAttach) ZERA_vDeleteParamListW(node->pParList);
        else ZERA_vDeleteParamListA(node->pParList);
        ZERA_vFree(node);
    }
}

bool ReadDescription(const uint8_t *data, size_t size, ZERA_HPACKET *packet) {
    *packet = nullptr;
    Reader r(data, size, kDescription);
    size_t rest = 0;
    const uint8_t *wire = r.Rest(&rest);
    if (!r.ok() || rest == 0 || rest > 0x7FFFFFFF) {
        OSAL_vSetLastError(OSAL_ERR_SHORT_PACKET);
        return false;
    }
    // Read every entry once here, so that whoever decodes the packet after
    // meets no surprise part-way.
    ZERA_HPACKET check = ReadingPacket(wire, rest);
    if (check == nullptr) return false;
    uint8_t count = 0;
    bool ok = ZERA_boUnmarshalByte(check, &count) != 0;
    for (uint32_t i = 0; ok && i < count; ++i) {
        StackHandle *level = nullptr;
        uint32_t status = 0;
        char *name = nullptr;
        ok = ZERA_boUnmarshalStackDescriptionEntryA(check, &level, &status, &name) != 0;
        if (ok) {
            ZERA_vFree(name);
            ZERA_vDeleteStackHandleLevel(level);
        }
    }
    if (ok && ZERA_i32MarshalGetCurReadPos(check) != static_cast<int32_t>(rest)) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_SIZE);
        ok = false;
    }
    ZERA_boMarshalPacketDelete(check);
    if (!ok) return false;
    *packet = ReadingPacket(wire, rest);
    return *packet != nullptr;
}

bool EventBatch::Add(Event *ev, uint32_t *dropped) {
    *dropped = 0;
    if (packet_ == nullptr) {
        packet_ = ZERA_hMarshalPacketCreate(nullptr, 0);
        const uint8_t header[kBatchHeader] = {kBatch};
        if (packet_ == nullptr || !ZERA_boMarshalByteStreamRaw(packet_, header, kBatchHeader)) {
            Clear();
            return false;
        }
    }
    const size_t before = Bytes();
    const uint8_t wide = ev != nullptr && ev->boWideAttach != 0 ? 1 : 0;
    bool written = ZERA_boMarshalByte(packet_, &wide) && ZERA_boMarshalZERAEvent(packet_, ev);
    if (written && Bytes() - before > 1 + kMaxEventBytes) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_SIZE);  // no peer would take the message
        written = false;
    }
    if (written) {
        ++count_;
        return true;
    }
    // The width (and, when memory ran out, part of the event) went in: the
    // packet cannot be cut back, so what came before moves to a new one.
    const uint32_t code = OSAL_dwGetLastError();
    ZERA_HPACKET kept = ZERA_hMarshalPacketCreate(nullptr, 0);
    if (kept != nullptr &&
        ZERA_boMarshalByteStreamRaw(kept, ZERA_pvMarshalGetStartOfData(packet_), static_cast<int32_t>(before))) {
        ZERA_boMarshalPacketDelete(packet_);
        packet_ = kept;
    } else {
        if (kept != nullptr) ZERA_boMarshalPacketDelete(kept);
        *dropped = count_;
        Clear();
    }
    OSAL_vSetLastError(code);
    return false;
}

size_t EventBatch::Bytes() const {
    return packet_ != nullptr ? static_cast<size_t>(ZERA_i32MarshalGetDataSize(packet_)) : 0;
}

// One event goes as an 'E' message: the 'B' header without its count.
size_t EventBatch::MessageSize() const {
    if (count_ == 0) return 0;
    return count_ == 1 ? kEventHeader - 1 + Bytes() - kBatchHeader : Bytes();
}

void EventBatch::CopyMessage(uint8_t *out) const {
    if (count_ == 0) return;
    const auto *bytes = static_cast<const uint8_t *>(ZERA_pvMarshalGetStartOfData(packet_));
    if (count_ == 1) {
        std::memcpy(out, bytes, kEventHeader - 1);
        out[0] = kEvent;
        std::memcpy(out + kEventHeader - 1, bytes + kBatchHeader, Bytes() - kBatchHeader);
        return;
    }
    std::memcpy(out, bytes, Bytes());
    out[kBatchHeader - 2] = static_cast<uint8_t>(count_ >> 8);
    out[kBatchHeader - 1] = static_cast<uint8_t>(count_);
}

ZERA_HPACKET EventBatch::TakeMessage(uint8_t **bytes, size_t *size) {
    if (count_ < 2) return nullptr;
    *size = Bytes();
    *bytes = static_cast<uint8_t *>(ZERA_pvMarshalGetStartOfData(packet_));
    (*bytes)[kBatchHeader - 2] = static_cast<uint8_t>(count_ >> 8);
    (*bytes)[kBatchHeader - 1] = static_cast<uint8_t>(count_);
    ZERA_HPACKET packet = packet_;
    packet_ = nullptr;
    count_ = 0;
    return packet;
}

void EventBatch::Clear() {
    if (packet_ != nullptr) ZERA_boMarshalPacketDelete(packet_);
    packet_ = nullptr;
    count_ = 0;
}

bool Outbox::Fill(EventBatch *batch, uint32_t *lost) {
    batch->Clear();
    *lost = 0;
    bool any = false;
    // What the producer added while the batch was written goes in as well:
    // fewer, fuller messages cost the sockets less.
    while (!batch->Full()) {
        if (next_ == taken_.size()) {
            taken_.clear();
            next_ = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                taken_.swap(added_);
            }
            room_.notify_one();
            if (taken_.empty()) break;
        }
        any = true;
        for (; next_ < taken_.size() && !batch->Full(); ++next_) {
            uint32_t dropped = 0;
            if (!batch->Add(taken_[next_], &dropped)) *lost += 1 + dropped;
            ZERA_boDeleteEvent(taken_[next_]);
        }
    }
    return any;
}

bool Outbox::Sleep() {
    if (next_ != taken_.size()) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    asleep_ = added_.empty();
    return asleep_;
}

uint32_t Outbox::Discard() {
    std::lock_guard<std::mutex> lock(mutex_);
    taken_.insert(taken_.end(), added_.begin(), added_.end());
    added_.clear();
    const auto left = static_cast<uint32_t>(taken_.size() - next_);
    for (; next_ < taken_.size(); ++next_) ZERA_boDeleteEvent(taken_[next_]);
    taken_.clear();
    next_ = 0;
    return left;
}

std::string HelloMismatch(const Hello &hello, const std::string &expected, uint32_t *code) {
    if (hello.version != kVersion) {
        *code = 2057;
        return "the peer speaks link protocol version " + std::to_string(hello.version) + ", this end version " +
               std::to_string(kVersion);
    }
    if (!expected.empty() && hello.name != expected) {
        *code = 2055;
        return "the peer is named '" + hello.name + "', this end expects '" + expected + "'";
    }
    *code = 0;
    return std::string();
}

}  // namespace zlink
