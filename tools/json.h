// tools/json.h - a small JSON writer for the tool's reports: objects,
// arrays, strings, numbers and booleans, written straight to a FILE with
// the commas placed for the caller. Included by the tool's sources only.
#ifndef ZERA_TOOLS_JSON_H
#define ZERA_TOOLS_JSON_H

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
        std::fprintf(out_, "%.6g", r);
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
    void WriteString(const std::string &s) {
        std::fputc('"', out_);
        for (unsigned char c : s) {
            if (c == '"' || c == '\\') std::fprintf(out_, "\\%c", c);
            else if (c < 0x20) std::fprintf(out_, "\\u%04x", c);
            else std::fputc(c, out_);
        }
        std::fputc('"', out_);
    }

    std::FILE *out_;
    std::vector<bool> first_;  // per open container: nothing written in it yet
    bool afterKey_ = false;
};

}  // namespace tool

#endif  // ZERA_TOOLS_JSON_H
