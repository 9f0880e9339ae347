// tools/host_stack.cpp - the tool's host stack: level 0 from the host kit,
// components from the search path added on top, started and stopped by the
// kit.
#include "host_stack.h"

#include <cstdio>

#include "search_path.h"

namespace tool {

std::string LastErrorText() {
    const uint32_t code = OSAL_dwGetLastError();
    const char *stored = OSAL_pszGetLastErrorText();
    std::string text = stored != nullptr ? stored : "(no text)";
    const std::string number = " (" + std::to_string(code) + ")";
    const size_t at = text.find(number);
    if (at != std::string::npos) text.erase(at, number.size());
    return "error " + std::to_string(code) + ": " + text;
}

std::string StatusWords(uint32_t status) {
    std::string words;
    const auto add = [&words](const char *word) { words += words.empty() ? word : std::string(", ") + word; };
    if (status & ZERA_STATUS_COMPLETE) add("complete");
    if (status & ZERA_STATUS_STARTED) add("started");
    if (status & ZERA_STATUS_NO_EVID) add("no-evid");
    if (status & ZERA_STATUS_BIT31) add("bit31");
    const uint32_t other = status & ~(ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED | ZERA_STATUS_NO_EVID | ZERA_STATUS_BIT31);
    if (other != 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", other);
        add(hex);
    }
    return words.empty() ? "-" : words;
}

HostStack::HostStack() : h0_(ZERA_hHostStackCreate(nullptr)) {
    if (h0_ == nullptr) createError_ = "cannot create the host level: " + LastErrorText();
}

HostStack::~HostStack() {
    if (h0_ != nullptr) ZERA_boHostStackDestroy(h0_);
}

bool HostStack::Ready(std::string *error) const {
    if (h0_ != nullptr) return true;
    *error = createError_;
    return false;
}

bool HostStack::Build(const std::vector<std::string> &components, std::string *error) {
    LogSearchPath();
    for (const std::string &name : components) {
        const std::string where = "component '" + name + "' on level " + std::to_string(Height() + 1);
        std::string missing;
        const std::string file = FindComponent(name, &missing);
        if (file.empty()) {
            *error = "cannot find " + where + ": " + missing;
            return false;
        }
        const uint8_t level = ZERA_bHostAddComponentA(h0_, file.c_str());
        if (level == 0) {
            *error = "cannot add " + where + " (" + file + "): " + LastErrorText();
            return false;
        }
        LogVerbose("level " + std::to_string(level) + ": " + name + " loaded from " + file);
    }
    return true;
}

StackHandle *HostStack::Level(uint32_t n) const {
    StackHandle *h = h0_;
    while (h != nullptr && h->u8Level < n) h = ZERA_hHandleGetNextLevel(h);
    return h != nullptr && h->u8Level == n ? h : nullptr;
}

StackHandle *HostStack::Top() const {
    StackHandle *h = h0_;
    while (StackHandle *next = ZERA_hHandleGetNextLevel(h)) h = next;
    return h;
}

uint32_t HostStack::Height() const { return Top()->u8Level; }

bool HostStack::Start(std::string *error) {
    if (ZERA_boHostStartStack(h0_)) return true;
    *error = LastErrorText();
    return false;
}

void HostStack::Stop() { ZERA_boHostStopStack(h0_); }

}  // namespace tool
