// tools/report.cpp - the tool's reports as text tables and JSON.
#include "report.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "host_stack.h"

namespace tool {

namespace {

const char *const kKindNames[ZERA_STATS_KINDS] = {"kind0", "kind1", "kind2"};
const char *const kColumnNames[4] = {"eventsA", "eventsB", "bytesA", "bytesB"};

uint32_t Low(uint32_t word) { return word & 0xFFFFu; }
uint32_t High(uint32_t word) { return word >> 16; }

// A Link level keeps the link's figures in its statistics: kind 1 the
// traffic, kind 2 the faults (see components/link/Link.cpp).
bool IsLink(const LevelReport &l) { return l.component == "Link"; }
uint32_t LinkForwarded(const LevelReport &l) { return l.statistics[4]; }
uint32_t LinkTaken(const LevelReport &l) { return l.statistics[5]; }
uint32_t LinkUndelivered(const LevelReport &l) { return l.statistics[8]; }
uint32_t LinkMissing(const LevelReport &l) { return l.statistics[9]; }
uint32_t LinkRefused(const LevelReport &l) { return l.statistics[10]; }
uint32_t LinkSessions(const LevelReport &l) { return l.statistics[11]; }

double Rate(uint64_t n, double seconds) { return seconds > 0 ? static_cast<double>(n) / seconds : 0; }

// A line of the host events' table.
void PrintHostEvents(const std::string &label, const LevelReport &l, double seconds, std::FILE *out) {
    std::fprintf(out, "  %-5s %10llu %10llu %10llu %10llu %12llu %10.1f\n", label.c_str(),
                 static_cast<unsigned long long>(l.hostSent), static_cast<unsigned long long>(l.hostTaken),
                 static_cast<unsigned long long>(l.hostQueued), static_cast<unsigned long long>(l.dropped),
                 static_cast<unsigned long long>(l.received), Rate(l.received, seconds));
}

void WriteTraceJson(const std::vector<TraceEntry> &entries, JsonWriter *json) {
    json->BeginArray();
    for (const TraceEntry &e : entries) {
        json->BeginObject();
        json->Key("time");
        json->Real(e.seconds);
        json->Field("level", e.level);
        json->Key("type");
        json->Raw(std::to_string(e.type));
        json->Field("id", e.id);
        json->Field("size", e.size);
        json->Field("data", e.hex);
        if (!e.detail.empty()) json->Field("detail", e.detail);
        json->Key("attachments");
        json->BeginArray();
        for (const TraceEntry::Attached &a : e.attachments) {
            json->BeginObject();
            json->Field("level", a.level);
            json->Field("selector", a.selector);
            json->Key("params");
            WriteParamsJson(a.params, json);
            json->EndObject();
        }
        json->EndArray();
        json->EndObject();
    }
    json->EndArray();
}

// The host events' figures of a level, or of all (the totals).
void WriteHostFiguresJson(const LevelReport &l, JsonWriter *json) {
    json->Field("sent", l.hostSent);
    json->Field("taken", l.hostTaken);
    json->Field("queued", l.hostQueued);
    json->Field("dropped", l.dropped);
    json->Field("received", l.received);
}

}  // namespace

void WriteLevelJson(uint32_t level, const std::string &component, uint32_t status, JsonWriter *json) {
    json->Field("level", level);
    json->Field("component", component);
    json->Field("status", status);
    json->Field("status_words", StatusWords(status));
}

void PrintRunReport(const RunReport &report, std::FILE *out) {
    std::string stack;
    for (const std::string &c : report.components) stack += (stack.empty() ? "" : " ") + c;
    std::fprintf(out, "stack: %s; ran %.2f s%s\n\n", stack.c_str(), report.seconds,
                 report.interrupted ? " (interrupted)" : "");
    std::fprintf(out, "%-5s %-12s %-18s %-6s %10s %10s %12s %12s %11s %11s\n", "level", "component", "status", "kind",
                 "eventsA", "eventsB", "bytesA", "bytesB", "loadA (max)", "loadB (max)");
    for (const LevelReport &l : report.levels) {
        for (uint32_t kind = 0; kind < ZERA_STATS_KINDS; ++kind) {
            const uint32_t *c = &l.statistics[kind * 4];
            const bool first = kind == 0;
            std::fprintf(out, "%-5s %-12s %-18s %-6s %10u %10u %12u %12u", first ? std::to_string(l.level).c_str() : "",
                         first ? l.component.c_str() : "", first ? StatusWords(l.status).c_str() : "",
                         kKindNames[kind], c[0], c[1], c[2], c[3]);
            if (first) {
                const std::string a = std::to_string(Low(l.statistics[12])) + " (" + std::to_string(Low(l.statistics[13])) + ")";
                const std::string b = std::to_string(High(l.statistics[12])) + " (" + std::to_string(High(l.statistics[13])) + ")";
                std::fprintf(out, " %11s %11s\n", a.c_str(), b.c_str());
            } else {
                std::fputc('\n', out);
            }
        }
    }
    std::fprintf(out, "\nstack parameters\n");
    for (const LevelReport &l : report.levels) {
        std::fprintf(out, "  level %u (%s)\n", l.level, l.component.c_str());
        PrintParams(l.params, 4, out);
    }
    std::fprintf(out, "\nhost events\n");
    std::fprintf(out, "  %-5s %10s %10s %10s %10s %12s %10s\n", "level", "sent", "taken", "queued", "dropped", "received",
                 "recv/s");
    for (const LevelReport &l : report.levels) PrintHostEvents(std::to_string(l.level), l, report.seconds, out);
    const LevelReport total = report.Totals();
    PrintHostEvents("total", total, report.seconds, out);
    std::fprintf(out, "  sent %llu = taken %llu + still queued %llu + dropped %llu\n",
                 static_cast<unsigned long long>(total.hostSent), static_cast<unsigned long long>(total.hostTaken),
                 static_cast<unsigned long long>(total.hostQueued), static_cast<unsigned long long>(total.dropped));
    std::fprintf(out, "  received at level 0: %llu data events, %llu other (stack status) events\n",
                 static_cast<unsigned long long>(total.received), static_cast<unsigned long long>(total.receivedOther));
    if (report.sendFailures != 0) {
        std::fprintf(out, "  %llu sends refused, the last with %s\n",
                     static_cast<unsigned long long>(report.sendFailures), report.lastSendError.c_str());
    }
    for (const LevelReport &l : report.levels) {
        if (!IsLink(l)) continue;
        std::fprintf(out,
                     "\nlink at level %u: %u events to the peer, %u from it; lost across the link %u "
                     "(%u not delivered or not confirmed, %u missing from the peer); %u packets refused; "
                     "%u sessions\n",
                     l.level, LinkForwarded(l), LinkTaken(l), LinkUndelivered(l) + LinkMissing(l), LinkUndelivered(l),
                     LinkMissing(l), LinkRefused(l), LinkSessions(l));
    }
}

void PrintRunReportJson(const RunReport &report, std::FILE *out) {
    JsonWriter json(out);
    json.BeginObject();
    json.Key("components");
    json.BeginArray();
    for (const std::string &c : report.components) json.String(c);
    json.EndArray();
    json.Key("seconds");
    json.Real(report.seconds);
    json.Key("interrupted");
    json.Bool(report.interrupted);
    json.Key("levels");
    json.BeginArray();
    for (const LevelReport &l : report.levels) {
        json.BeginObject();
        WriteLevelJson(l.level, l.component, l.status, &json);
        json.Key("statistics");
        json.BeginObject();
        for (uint32_t kind = 0; kind < ZERA_STATS_KINDS; ++kind) {
            json.Key(kKindNames[kind]);
            json.BeginObject();
            for (uint32_t col = 0; col < 4; ++col) json.Field(kColumnNames[col], l.statistics[kind * 4 + col]);
            json.EndObject();
        }
        json.EndObject();
        json.Key("load");
        json.BeginObject();
        json.Field("a", Low(l.statistics[12]));
        json.Field("b", High(l.statistics[12]));
        json.Field("a_max", Low(l.statistics[13]));
        json.Field("b_max", High(l.statistics[13]));
        json.EndObject();
        json.Key("host_events");
        json.BeginObject();
        WriteHostFiguresJson(l, &json);
        json.Field("received_status", l.receivedOther);
        json.EndObject();
        if (IsLink(l)) {
            json.Key("link");
            json.BeginObject();
            json.Field("to_peer", LinkForwarded(l));
            json.Field("from_peer", LinkTaken(l));
            json.Field("lost", static_cast<uint64_t>(LinkUndelivered(l)) + LinkMissing(l));
            json.Field("undelivered", LinkUndelivered(l));
            json.Field("missing_from_peer", LinkMissing(l));
            json.Field("refused_packets", LinkRefused(l));
            json.Field("sessions", LinkSessions(l));
            json.EndObject();
        }
        json.Key("params");
        WriteParamsJson(l.params, &json);
        json.EndObject();
    }
    json.EndArray();
    json.Key("totals");
    json.BeginObject();
    const LevelReport total = report.Totals();
    WriteHostFiguresJson(total, &json);
    json.Field("send_failures", report.sendFailures);
    json.EndObject();
    if (report.traced) {
        json.Key("trace");
        WriteTraceJson(report.trace, &json);
    }
    json.EndObject();
    json.End();
}

}  // namespace tool
