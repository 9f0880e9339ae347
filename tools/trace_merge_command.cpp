// tools/trace_merge_command.cpp - `zera trace merge A B > C`: the timelines
// of two processes joined by a link, as one.
//
// Each process's timeline records (metadata "link_peer") the session of its
// link and its estimate of the peer's clock less its own, with an error
// bound. The merge takes the tightest estimate of a session that both files
// name, moves B's time stamps onto A's clock, gives B's records process ids
// after A's, and draws a flow arrow from an event's last slice on one side
// to its first slice on the other: each "link in" mark names the event's
// identifier on both sides. The files are read whole with a small JSON
// reader of their own (bounded depth), so a damaged or foreign file is
// refused with the place it went wrong, never half merged.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "command.h"

namespace tool {

namespace {

struct Json {
    enum Type { kNull, kBool, kNumber, kString, kArray, kObject } type = kNull;
    std::string text;  // a string's value, a number's source, "true"/"false"
    double number = 0;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> fields;

    const Json *Find(const char *key) const {
        for (const auto &f : fields) {
            if (f.first == key) return &f.second;
        }
        return nullptr;
    }
    Json *Find(const char *key) { return const_cast<Json *>(static_cast<const Json *>(this)->Find(key)); }
    // The number at key, or `otherwise`.
    double NumberAt(const char *key, double otherwise) const {
        const Json *v = Find(key);
        return v != nullptr && v->type == kNumber ? v->number : otherwise;
    }
    std::string StringAt(const char *key) const {
        const Json *v = Find(key);
        return v != nullptr && v->type == kString ? v->text : std::string();
    }
};

// Reads one JSON document; false with the reason and the byte it was found at.
class Reader {
public:
    explicit Reader(const std::string &text) : at_(text.data()), begin_(text.data()), end_(text.data() + text.size()) {}

    bool Document(Json *out, std::string *error) {
        const bool ok = Value(out, 0) && (Space(), at_ == end_ || Fail("bytes after the document"));
        if (!ok) *error = why_ + " at byte " + std::to_string(at_ - begin_);
        return ok;
    }

private:
    static constexpr int kMaxDepth = 32;

    bool Fail(const char *why) {
        if (why_.empty()) why_ = why;
        return false;
    }
    void Space() {
        while (at_ < end_ && (*at_ == ' ' || *at_ == '\n' || *at_ == '\r' || *at_ == '\t')) ++at_;
    }
    bool Literal(const char *word) {
        const size_t n = std::strlen(word);
        if (static_cast<size_t>(end_ - at_) < n || std::memcmp(at_, word, n) != 0) return Fail("not JSON");
        at_ += n;
        return true;
    }

    bool Value(Json *out, int depth) {
        Space();
        if (at_ == end_) return Fail("the document ends early");
        if (depth > kMaxDepth) return Fail("nested too deeply");
        switch (*at_) {
            case '{': return Object(out, depth);
            case '[': return Array(out, depth);
            case '"': out->type = Json::kString; return String(&out->text);
            case 't': out->type = Json::kBool; out->text = "true"; return Literal("true");
            case 'f': out->type = Json::kBool; out->text = "false"; return Literal("false");
            case 'n': out->type = Json::kNull; return Literal("null");
            default: return Number(out);
        }
    }

    bool Number(Json *out) {
        const char *start = at_;
        if (at_ < end_ && *at_ == '-') ++at_;
        while (at_ < end_ && (std::isdigit(static_cast<unsigned char>(*at_)) || *at_ == '.' || *at_ == 'e' ||
                              *at_ == 'E' || *at_ == '+' || *at_ == '-')) {
            ++at_;
        }
        out->type = Json::kNumber;
        out->text.assign(start, at_);
        char *stop = nullptr;
        out->number = std::strtod(out->text.c_str(), &stop);
        if (out->text.empty() || stop != out->text.c_str() + out->text.size() || !std::isfinite(out->number)) {
            at_ = start;
            return Fail("not JSON");
        }
        return true;
    }

    bool Hex4(uint32_t *unit) {
        if (end_ - at_ < 4) return Fail("a short \\u escape");
        *unit = 0;
        for (int i = 0; i < 4; ++i, ++at_) {
            const char c = *at_;
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0) return Fail("a bad \\u escape");
            *unit = *unit << 4 | static_cast<uint32_t>(digit);
        }
        return true;
    }

    static void Utf8(uint32_t code, std::string *out) {
        if (code < 0x80) {
            *out += static_cast<char>(code);
        } else if (code < 0x800) {
            *out += static_cast<char>(0xC0 | code >> 6);
            *out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *out += static_cast<char>(0xE0 | code >> 12);
            *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | code >> 18);
            *out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool String(std::string *out) {
        ++at_;  // the opening quote
        out->clear();
        while (at_ < end_ && *at_ != '"') {
            const char c = *at_++;
            if (static_cast<unsigned char>(c) < 0x20) return Fail("a control character in a string");
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (at_ == end_) break;
            const char e = *at_++;
            static const char kFrom[] = "\"\\/bfnrt";
            static const char kTo[] = "\"\\/\b\f\n\r\t";
            if (const char *known = e != '\0' ? std::strchr(kFrom, e) : nullptr) {
                *out += kTo[known - kFrom];
            } else if (e == 'u') {
                uint32_t unit = 0;
                if (!Hex4(&unit)) return false;
                if (unit >= 0xD800 && unit < 0xDC00) {
                    uint32_t low = 0;
                    if (!Literal("\\u") || !Hex4(&low) || low < 0xDC00 || low >= 0xE000) {
                        return Fail("a broken surrogate pair");
                    }
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                } else if (unit >= 0xDC00 && unit < 0xE000) {
                    return Fail("a broken surrogate pair");
                }
                Utf8(unit, out);
            } else {
                return Fail("a bad escape");
            }
        }
        if (at_ == end_) return Fail("a string does not end");
        ++at_;
        return true;
    }

    // The items of an array or the members of an object, from its opening
    // bracket: item() reads one; a ',' goes on to the next, `close` ends it.
    template <class Item>
    bool Sequence(char close, const char *unended, Item item) {
        ++at_;
        Space();
        if (at_ < end_ && *at_ == close) return ++at_, true;
        for (;;) {
            if (!item()) return false;
            Space();
            if (at_ < end_ && *at_ == ',') {
                ++at_;
                continue;
            }
            if (at_ < end_ && *at_ == close) return ++at_, true;
            return Fail(unended);
        }
    }

    bool Array(Json *out, int depth) {
        out->type = Json::kArray;
        return Sequence(']', "an array without ',' or ']'", [&] {
            out->items.emplace_back();
            return Value(&out->items.back(), depth + 1);
        });
    }

    bool Object(Json *out, int depth) {
        out->type = Json::kObject;
        return Sequence('}', "an object without ',' or '}'", [&] {
            Space();
            if (at_ == end_ || *at_ != '"') return Fail("an object key is not a string");
            out->fields.emplace_back();
            if (!String(&out->fields.back().first)) return false;
            Space();
            if (at_ == end_ || *at_ != ':') return Fail("an object without ':'");
            ++at_;
            return Value(&out->fields.back().second, depth + 1);
        });
    }

    const char *at_;
    const char *begin_;
    const char *end_;
    std::string why_;
};

void Write(const Json &v, std::string *out) {
    switch (v.type) {
        case Json::kNull: *out += "null"; return;
        case Json::kBool:
        case Json::kNumber: *out += v.text; return;
        case Json::kString: {
            *out += '"';
            for (const char c : v.text) {
                if (c == '"' || c == '\\') {
                    *out += '\\';
                    *out += c;
                } else if (static_cast<unsigned char>(c) < 0x20) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(c));
                    *out += hex;
                } else {
                    *out += c;
                }
            }
            *out += '"';
            return;
        }
        case Json::kArray:
            *out += '[';
            for (size_t i = 0; i < v.items.size(); ++i) {
                if (i != 0) *out += ',';
                Write(v.items[i], out);
            }
            *out += ']';
            return;
        case Json::kObject:
            *out += '{';
            for (size_t i = 0; i < v.fields.size(); ++i) {
                if (i != 0) *out += ',';
                Json key;
                key.type = Json::kString;
                key.text = v.fields[i].first;
                Write(key, out);
                *out += ':';
                Write(v.fields[i].second, out);
            }
            *out += '}';
            return;
    }
}

Json NumberValue(double n) {
    Json v;
    v.type = Json::kNumber;
    v.number = n;
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", n);
    v.text = text;
    return v;
}

// One timeline as read: its records, checked to have what the merge reads.
struct Timeline {
    std::string path;
    Json document;
    std::vector<Json> *records = nullptr;
    double maxPid = 0;
};

bool Load(const std::string &path, Timeline *t, std::string *error) {
    t->path = path;
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char chunk[1 << 16];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) != 0;) text.append(chunk, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        *error = path + ": cannot be read";
        return false;
    }
    std::string why;
    if (!Reader(text).Document(&t->document, &why)) {
        *error = path + ": " + why;
        return false;
    }
    Json *events = t->document.type == Json::kObject ? t->document.Find("traceEvents") : nullptr;
    if (events == nullptr || events->type != Json::kArray) {
        *error = path + ": no timeline (no traceEvents list)";
        return false;
    }
    t->records = &events->items;
    size_t n = 0;
    for (const Json &r : *t->records) {
        const Json *ts = r.Find("ts");
        const Json *pid = r.Find("pid");
        if (r.type != Json::kObject || ts == nullptr || ts->type != Json::kNumber || pid == nullptr ||
            pid->type != Json::kNumber || r.StringAt("ph").empty()) {
            *error = path + ": record " + std::to_string(n) + " has no ph, ts or pid";
            return false;
        }
        t->maxPid = std::max(t->maxPid, pid->number);
        ++n;
    }
    return true;
}

// A file's estimates of its peers' clocks, by session.
struct PeerNote {
    double offsetUs;  // the peer's clock less this file's
    double errorUs;
};

std::map<std::string, PeerNote> PeerNotes(const Timeline &t) {
    std::map<std::string, PeerNote> notes;
    for (const Json &r : *t.records) {
        if (r.StringAt("ph") != "M" || r.StringAt("name") != "link_peer") continue;
        const Json *args = r.Find("args");
        if (args == nullptr) continue;
        const std::string session = args->StringAt("session");
        const PeerNote note{args->NumberAt("offset_us", 0), args->NumberAt("error_us", -1)};
        if (session.empty() || note.errorUs < 0) continue;
        const auto known = notes.find(session);
        if (known == notes.end() || note.errorUs < known->second.errorUs) notes[session] = note;
    }
    return notes;
}

// B's clock less A's, from the tightest estimate of a session both name.
bool Offset(const Timeline &a, const Timeline &b, PeerNote *out, std::string *session) {
    const std::map<std::string, PeerNote> fromA = PeerNotes(a);
    const std::map<std::string, PeerNote> fromB = PeerNotes(b);
    bool found = false;
    for (const auto &n : fromA) {
        const auto other = fromB.find(n.first);
        if (other == fromB.end()) continue;
        const PeerNote turned{-other->second.offsetUs, other->second.errorUs};
        const PeerNote &best = n.second.errorUs <= turned.errorUs ? n.second : turned;
        if (!found || best.errorUs < out->errorUs) {
            *out = best;
            *session = n.first;
            found = true;
        }
    }
    return found;
}

struct Slice {
    double ts, dur, pid, tid;
};

// The slices of each event identifier, by start.
std::map<double, std::vector<Slice>> SlicesById(const std::vector<Json> &records, size_t from, size_t to) {
    std::map<double, std::vector<Slice>> byId;
    for (size_t i = from; i < to; ++i) {
        const Json &r = records[i];
        const Json *args = r.Find("args");
        if (r.StringAt("ph") != "X" || args == nullptr || args->Find("id") == nullptr) continue;
        byId[args->NumberAt("id", 0)].push_back(
            Slice{r.NumberAt("ts", 0), r.NumberAt("dur", 0), r.NumberAt("pid", 0), r.NumberAt("tid", 0)});
    }
    for (auto &s : byId) {
        std::sort(s.second.begin(), s.second.end(), [](const Slice &x, const Slice &y) { return x.ts < y.ts; });
    }
    return byId;
}

Json FlowRecord(const char *phase, uint32_t id, const Slice &s, double ts) {
    Json r;
    r.type = Json::kObject;
    auto text = [](const char *t) {
        Json v;
        v.type = Json::kString;
        v.text = t;
        return v;
    };
    r.fields.emplace_back("ph", text(phase));
    r.fields.emplace_back("cat", text("link"));
    r.fields.emplace_back("name", text("over the link"));
    r.fields.emplace_back("id", NumberValue(id));
    r.fields.back().second.text = std::to_string(id);
    r.fields.emplace_back("ts", NumberValue(ts));
    r.fields.emplace_back("pid", NumberValue(s.pid));
    r.fields.back().second.text = std::to_string(static_cast<long long>(s.pid));
    r.fields.emplace_back("tid", NumberValue(s.tid));
    r.fields.back().second.text = std::to_string(static_cast<long long>(s.tid));
    if (phase[0] == 'f') r.fields.emplace_back("bp", text("e"));
    return r;
}

// Arrows for the events that came in over the link on the side of
// records [inFrom, inTo): from the event's last slice on the other side
// (records [outFrom, outTo)) that began by the arrival (within the error),
// to its first slice on this side that began at the arrival or later.
void AddFlows(std::vector<Json> *records, size_t outFrom, size_t outTo, size_t inFrom, size_t inTo, double errorUs,
              uint32_t *flows, std::vector<Json> *out) {
    const auto there = SlicesById(*records, outFrom, outTo);
    const auto here = SlicesById(*records, inFrom, inTo);
    const double eps = 0.0015;
    for (size_t i = inFrom; i < inTo; ++i) {
        const Json &r = (*records)[i];
        const Json *args = r.Find("args");
        if (r.StringAt("ph") != "i" || args == nullptr || r.StringAt("name").compare(0, 8, "link in ") != 0) continue;
        const double at = r.NumberAt("ts", 0);
        const auto from = there.find(args->NumberAt("peer_id", -1));
        const auto to = here.find(args->NumberAt("id", -1));
        if (from == there.end() || to == here.end()) continue;
        const Slice *source = nullptr;
        for (const Slice &s : from->second) {
            if (s.ts > at + errorUs + eps) break;
            source = &s;
        }
        const Slice *target = nullptr;
        for (const Slice &s : to->second) {
            if (s.ts + eps >= at) {
                target = &s;
                break;
            }
        }
        if (source == nullptr || target == nullptr) continue;
        ++*flows;
        out->push_back(FlowRecord("s", *flows, *source, source->ts));
        out->push_back(FlowRecord("f", *flows, *target, target->ts));
    }
}

// Renames the file's process_name records "<name> (<file>)".
void NameProcesses(std::vector<Json> *records, size_t from, size_t to, const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    for (size_t i = from; i < to; ++i) {
        Json &r = (*records)[i];
        Json *args = r.Find("args");
        Json *name = args != nullptr ? args->Find("name") : nullptr;
        if (r.StringAt("ph") == "M" && r.StringAt("name") == "process_name" && name != nullptr &&
            name->type == Json::kString) {
            name->text += " (" + file + ")";
        }
    }
}

int Merge(const std::string &pathA, const std::string &pathB) {
    Timeline a, b;
    std::string error;
    if (!Load(pathA, &a, &error) || !Load(pathB, &b, &error)) {
        std::fprintf(stderr, "zera trace merge: %s\n", error.c_str());
        return kExitFailed;
    }
    PeerNote offset{0, 0};
    std::string session;
    if (!Offset(a, b, &offset, &session)) {
        std::fprintf(stderr,
                     "zera trace merge: %s and %s record no link session in common, so their clocks cannot be "
                     "lined up (was each written while its link was up?)\n",
                     pathA.c_str(), pathB.c_str());
        return kExitFailed;
    }
    // B's records onto A's clock and after A's process ids; then all of
    // them later by what keeps every time stamp at 0 or above.
    double lowest = 0;
    for (Json &r : *b.records) {
        Json *ts = r.Find("ts");
        Json *pid = r.Find("pid");
        *pid = NumberValue(pid->number + a.maxPid);
        pid->text = std::to_string(static_cast<long long>(pid->number));
        if (r.StringAt("ph") == "M") continue;
        *ts = NumberValue(ts->number - offset.offsetUs);
        lowest = std::min(lowest, ts->number);
    }
    std::vector<Json> &records = *a.records;
    const size_t countA = records.size();
    records.insert(records.end(), std::make_move_iterator(b.records->begin()),
                   std::make_move_iterator(b.records->end()));
    if (lowest < 0) {
        for (Json &r : records) {
            if (r.StringAt("ph") != "M") *r.Find("ts") = NumberValue(r.Find("ts")->number - lowest);
        }
    }
    NameProcesses(&records, 0, countA, pathA);
    NameProcesses(&records, countA, records.size(), pathB);
    std::vector<Json> flows;
    uint32_t flowCount = 0;
    AddFlows(&records, 0, countA, countA, records.size(), offset.errorUs, &flowCount, &flows);
    AddFlows(&records, countA, records.size(), 0, countA, offset.errorUs, &flowCount, &flows);

    std::string out = "{\"displayTimeUnit\":\"ns\",\"otherData\":{\"merged\":";
    Json files;
    files.type = Json::kArray;
    for (const std::string *p : {&pathA, &pathB}) {
        files.items.emplace_back();
        files.items.back().type = Json::kString;
        files.items.back().text = *p;
    }
    Write(files, &out);
    char numbers[160];
    std::snprintf(numbers, sizeof numbers,
                  ",\"session\":\"%s\",\"offset_us\":%.3f,\"offset_error_us\":%.3f,\"shift_us\":%.3f,\"flows\":%u},"
                  "\n\"traceEvents\":[",
                  session.c_str(), offset.offsetUs, offset.errorUs, -lowest, flowCount);
    out += numbers;
    bool first = true;
    for (const std::vector<Json> *list : {&records, &flows}) {
        for (const Json &r : *list) {
            out += first ? "\n" : ",\n";
            first = false;
            Write(r, &out);
            if (out.size() > (1u << 20)) {
                std::fwrite(out.data(), 1, out.size(), stdout);
                out.clear();
            }
        }
    }
    out += "\n]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "zera trace merge: cannot write the merged timeline\n");
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int CommandTraceMerge(const CommandLine &line) {
    if (line.words.size() != 2) {
        line.Bad("usage: zera trace merge A B > C");
        return kExitUsage;
    }
    return Merge(line.words[0], line.words[1]);
}

}  // namespace tool
