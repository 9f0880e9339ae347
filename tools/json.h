// tools/json.h - a small JSON writer for the tool's reports: objects,
// arrays, strings, numbers and booleans, written straight to a FILE with
// the commas placed for the caller; whatever bytes a string holds, the
// output is valid JSON. Included by the tool's sources only.
#ifndef ZERA_TOOLS_JSON_H
#define ZERA_TOOLS_JSON_H

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tool {

class JsonWriter {
public:
    explicit JsonWriter(std::FILE *out) : out_(out) {}

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    // The key of the next value inside an object.
    void Key(const std::string &key) {
        Separate();
        WriteString(key);
        std::fputc(':', out_);
        afterKey_ = true;
    }
    void String(const std::string &s) {
        Separate();
        WriteString(s);
    }
    void Number(uint64_t n) {
        Separate();
        std::fprintf(out_, "%llu", static_cast<unsigned long long>(n));
    }
    void Real(double r) {
        Separate();
        if (std::isfinite(r)) std::fprintf(out_, "%.9g", r);
        else std::fputs("null", out_);  // JSON has no infinities
    }
    void Bool(bool b) {
        Separate();
        std::fputs(b ? "true" : "false", out_);
    }
    // A value already written as JSON text (a number kept as text).
    void Raw(const std::string &text) {
        Separate();
        std::fputs(text.c_str(), out_);
    }
    void Field(const std::string &key, const std::string &s) { Key(key), String(s); }
    void Field(const std::string &key, uint64_t n) { Key(key), Number(n); }
    void End() { std::fputc('\n', out_); }

private:
    void Separate() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (!first_.empty()) {
            if (!first_.back()) std::fputc(',', out_);
            first_.back() = false;
        }
    }
    void Open(char c) {
        Separate();
        std::fputc(c, out_);
        first_.push_back(true);
    }
    void Close(char c) {
        first_.pop_back();
        std::fputc(c, out_);
    }
public:
    // The length of the well-formed UTF-8 sequence at s[i] (2 to 4 bytes:
    // no overlong forms, no surrogates, nothing above U+10FFFF), or 0.
    static size_t Utf8SequenceLength(const std::string &s, size_t i) {
        const auto at = [&s](size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
        const unsigned c = at(i);
        size_t n = 0;
        unsigned low = 0x80, high = 0xBF;  // the range of the second byte
        if (c >= 0xC2 && c <= 0xDF) n = 2;
        else if (c >= 0xE0 && c <= 0xEF) n = 3, low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
        else if (c >= 0xF0 && c <= 0xF4) n = 4, low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
        else return 0;
        if (at(i + 1) < low || at(i + 1) > high) return 0;
        for (size_t k = 2; k < n; ++k) {
            if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
        }
        return n;
    }

private:
    // Strings are bytes: a valid UTF-8 sequence is written as it is, any
    // other byte as the character of that value (\u00XX, as the library
    // widens a narrow string), so the output is always valid JSON.
    void WriteString(const std::string &s) {
        std::fputc('"', out_);
        for (size_t i = 0; i < s.size();) {
            const auto c = static_cast<unsigned char>(s[i]);
            if (c == '"' || c == '\\') {
                std::fprintf(out_, "\\%c", c);
            } else if (c < 0x20 || c == 0x7F) {
                std::fprintf(out_, "\\u%04x", c);
            } else if (c < 0x80) {
                std::fputc(c, out_);
            } else if (const size_t n = Utf8SequenceLength(s, i)) {
                std::fwrite(s.data() + i, 1, n, out_);
                i += n;
                continue;
            } else {
                std::fprintf(out_, "\\u%04x", c);
            }
            ++i;
        }
        std::fputc('"', out_);
    }

    std::FILE *out_;
    std::vector<bool> first_;  // per open container: nothing written in it yet
    bool afterKey_ = false;
};

}  // namespace tool

#endif  // ZERA_TOOLS_JSON_H
