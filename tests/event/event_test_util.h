// event/event_test_util.h - helpers for the event tests: the levels of an
// event's nodes, a list's parameters as text, and nodes filled through the
// list builder. Included by tests/event only.
#ifndef ZERA_TESTS_EVENT_EVENT_TEST_UTIL_H
#define ZERA_TESTS_EVENT_EVENT_TEST_UTIL_H

#include <string>
#include <utility>
#include <vector>

#include "event/event.h"
#include "evid/evid_test_util.h"

namespace zt {

// The area behind the event's header.
inline uint8_t *Area(Event *ev) { return reinterpret_cast<uint8_t *>(ev + 1); }

// The levels of the event's nodes, head first.
inline std::vector<int> NodeLevels(const Event *ev) {
    std::vector<int> levels;
    for (const Attachment *n = ev->pstAttachments; n != nullptr; n = n->pstNext) levels.push_back(n->u8Level);
    return levels;
}

// A narrow or wide string as a std::string (wide units cut to bytes).
inline std::string Text(const void *s, bool wide) {
    if (!wide) return static_cast<const char *>(s);
    std::string narrow;
    for (const WCHAR16 *u = static_cast<const WCHAR16 *>(s); *u != 0; ++u) narrow += static_cast<char>(*u);
    return narrow;
}

// The list's parameters as "name=value", in order.
inline std::vector<std::string> Entries(const Param *list, bool wide) {
    std::vector<std::string> out;
    for (const Param *p = list; p != nullptr && p->pName != nullptr; ++p) {
        std::string value = p->dwType == ZERA_PARAM_STRING ? Text(p->uValue.pv, wide)
                            : p->dwType == ZERA_PARAM_REAL ? std::to_string(p->uValue.r)
                                                           : std::to_string(p->uValue.dw);
        out.push_back(Text(p->pName, wide) + "=" + value);
    }
    return out;
}

// Puts the builder's list into the node; the builder frees the node's old one.
inline void GiveList(ListBuilder &b, Attachment *node) { std::swap(b.list, node->pParList); }

}  // namespace zt

#endif  // ZERA_TESTS_EVENT_EVENT_TEST_UTIL_H
