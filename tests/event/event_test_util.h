// event/event_test_util.h - helpers for the event tests: the area behind an
// event's header, the levels of its nodes, a list's parameters as text.
// Included by tests/event only.
#ifndef ZERA_TESTS_EVENT_EVENT_TEST_UTIL_H
#define ZERA_TESTS_EVENT_EVENT_TEST_UTIL_H

#include <string>
#include <utility>
#include <vector>

#include "event/event.h"
#include "evid/evid_test_util.h"

namespace zt {

inline uint8_t *Area(Event *ev) { return reinterpret_cast<uint8_t *>(ev + 1); }

// The levels of the event's nodes, head first.
inline std::vector<int> NodeLevels(const Event *ev) {
    std::vector<int> levels;
    for (const Attachment *n = ev->pstAttachments; n != nullptr; n = n->pstNext) levels.push_back(n->u8Level);
    return levels;
}

// The list's parameters as "name=value", in order (wide units cut to bytes).
inline std::vector<std::string> Entries(const Param *list, bool wide) {
    auto text = [wide](const void *s) {
        const std::u16string u = Str16(s, wide);
        return std::string(u.begin(), u.end());
    };
    std::vector<std::string> out;
    for (const Param *p = list; p != nullptr && p->pName != nullptr; ++p) {
        out.push_back(text(p->pName) + "=" +
                      (p->dwType == ZERA_PARAM_STRING ? text(p->uValue.pv)
                       : p->dwType == ZERA_PARAM_REAL ? std::to_string(p->uValue.r)
                                                      : std::to_string(p->uValue.dw)));
    }
    return out;
}

}  // namespace zt

#endif  // ZERA_TESTS_EVENT_EVENT_TEST_UTIL_H
