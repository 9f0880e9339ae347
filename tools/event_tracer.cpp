// tools/event_tracer.cpp - the records of `zera run --trace`.
#include "event_tracer.h"

#include <cstring>

#include "host_stack.h"
#include "params.h"

namespace tool {

namespace {

std::string Hex(const uint8_t *bytes, uint32_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    const uint32_t shown = size < kTraceBytes ? size : kTraceBytes;
    for (uint32_t i = 0; bytes != nullptr && i < shown; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0xF];
    }
    return hex;
}

double SecondsSince(const TimeVal &start, const TimeVal &t) {
    return static_cast<double>(t.i32Seconds - start.i32Seconds) +
           (static_cast<double>(t.dwMicroseconds & OSAL_TIME_USEC_MASK) -
            static_cast<double>(start.dwMicroseconds & OSAL_TIME_USEC_MASK)) / 1e6;
}

TraceEntry Describe(const TimeVal &start, const Event *ev) {
    TraceEntry e;
    e.seconds = SecondsSince(start, ev->stTimeStamp);
    e.level = ev->u8Level;
    e.type = ev->i32Type;
    e.id = ev->dwEventId;
    if (ev->i32Type >= ZERA_EVENT_DATA0 && ev->i32Type <= ZERA_EVENT_DATA2) {
        e.size = ev->dwDataSize;
        e.hex = Hex(ev->pbData, ev->dwDataSize);
    } else if (ev->i32Type == ZERA_EVENT_ITEMS) {
        e.size = ev->dwItemsSize;
        e.hex = Hex(ev->pbItems, ev->dwItemsSize);
        uint32_t item[3];
        if (ev->dwItemCount == 1 && ev->dwItemsSize >= sizeof item && ev->pbItems != nullptr) {
            std::memcpy(item, ev->pbItems, sizeof item);
            if (item[0] == 0) e.detail = "status " + StatusWords(item[2]);
        }
    } else if (ev->i32Type == ZERA_EVENT_INTERVAL) {
        e.detail = "interval " + std::to_string(ev->stInterval.i32Seconds) + " s " +
                   std::to_string(ev->stInterval.dwMicroseconds & OSAL_TIME_USEC_MASK) + " us";
    }
    for (const Attachment *a = ev->pstAttachments; a != nullptr; a = a->pstNext) {
        e.attachments.push_back({a->u8Level, a->u8Selector, ViewParams(a->pParList, ev->boWideAttach != 0)});
    }
    return e;
}

void Print(const TraceEntry &e, std::FILE *out) {
    std::fprintf(out, "trace %10.6f level %u type %d id 0x%08x size %u data %s%s", e.seconds, e.level, e.type, e.id,
                 e.size, e.hex.empty() ? "-" : e.hex.c_str(), e.size > kTraceBytes ? "..." : "");
    if (!e.detail.empty()) std::fprintf(out, " (%s)", e.detail.c_str());
    std::fprintf(out, " attachments");
    if (e.attachments.empty()) std::fprintf(out, " -");
    for (const TraceEntry::Attached &a : e.attachments) {
        std::fprintf(out, " [level %u selector %u:", a.level, a.selector);
        for (const ParamView &p : a.params) std::fprintf(out, " %s=%s", p.name.c_str(), p.Shown().c_str());
        std::fprintf(out, "]");
    }
    std::fputc('\n', out);
    std::fflush(out);
}

}  // namespace

Tracer::Tracer(bool print, std::FILE *out) : print_(print), out_(out) { OSAL_vGetSystemTime(&start_); }

void Tracer::Record(const Event *ev) {
    TraceEntry entry = Describe(start_, ev);
    std::lock_guard<std::mutex> lock(mutex_);
    if (print_) Print(entry, out_);
    else entries_.push_back(std::move(entry));
}

std::vector<TraceEntry> Tracer::Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

}  // namespace tool
