// tools/host_stack.cpp - the tool's host stack: level 0 from the host kit,
// components added on top, started and stopped by stack status events.
#include "host_stack.h"

#include <cstring>

namespace tool {

std::string LastErrorText() {
    const uint32_t code = OSAL_dwGetLastError();
    const char *text = OSAL_pszGetLastErrorText();
    return "error " + std::to_string(code) + ": " + (text != nullptr ? text : "(no text)");
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
    for (const std::string &name : components) {
        if (ZERA_bAddToStackA(h0_, name.c_str()) == 0) {
            *error = "cannot add component '" + name + "' on level " + std::to_string(Height() + 1) + ": " +
                     LastErrorText();
            return false;
        }
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

bool HostStack::SetRunning(bool start) {
    StackHandle *top = Top();
    if (top == h0_) return false;
    const uint32_t bits = ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED;
    const uint32_t status = start ? top->dwStatus | bits : top->dwStatus & ~ZERA_STATUS_STARTED;
    // A stack status event of the top level, entered at the top's filter:
    // every level takes it over on its way down to level 0, and the
    // components start or stop their threads.
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_ITEMS, top->u8Level, 12);
    if (ev == nullptr) return false;
    const uint32_t item[3] = {0, 12, status};
    std::memcpy(ev->pbItems, item, sizeof item);
    ev->dwItemCount = 1;
    ZERA_vInputFilter(top, ev);
    return ((h0_->dwStatus & ZERA_STATUS_STARTED) != 0) == start;
}

}  // namespace tool
