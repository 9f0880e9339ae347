// event/event_test_util.h - helpers for the event tests: attachment nodes
// built by hand, a look at a node's parameters, and stack parameters on a
// level. Included by tests/event only.
#ifndef ZERA_TESTS_EVENT_EVENT_TEST_UTIL_H
#define ZERA_TESTS_EVENT_EVENT_TEST_UTIL_H

#include <string>
#include <vector>

#include "evid/evid_test_util.h"

namespace zt {

// The levels of the event's nodes, head first.
inline std::vector<int> NodeLevels(const Event *ev) {
    std::vector<int> levels;
    for (const Attachment *n = ev->pstAttachments; n != nullptr; n = n->pstNext) levels.push_back(n->u8Level);
    return levels;
}

inline size_t NodeCount(const Event *ev) { return NodeLevels(ev).size(); }

// A narrow or wide string as a std::string (wide units cut to bytes).
inline std::string Text(const void *s, bool wide) {
    if (!wide) return static_cast<const char *>(s);
    std::string narrow;
    for (const WCHAR16 *u = static_cast<const WCHAR16 *>(s); *u != 0; ++u) narrow += static_cast<char>(*u);
    return narrow;
}

inline std::string Name(const Param &p, bool wide) { return Text(p.pName, wide); }

// Adds a parameter to a node's list (narrow or wide by `wide`); the value
// follows as for ZERA_boAddParamA/W, with narrow strings widened.
inline void AddToNode(Attachment *node, bool wide, const char *name, uint32_t type, uint32_t access,
                      uint8_t attributes, ParamData value) {
    uint32_t count = 0;
    while (node->pParList[count].pName != nullptr) ++count;
    ParamValue **cursor = nullptr;
    std::u16string wname(name, name + std::strlen(name));
    std::u16string wvalue;
    if (type == ZERA_PARAM_STRING) {
        const char *s = static_cast<const char *>(value.pv);
        wvalue.assign(s, s + std::strlen(s));
    }
    const WCHAR16 *wn = W(wname.c_str());
    bool ok = false;
    switch (type) {
        case ZERA_PARAM_STRING:
            ok = wide ? ZERA_boAddParamW(1, 0, &node->pParList, &count, &cursor, type, access, attributes, 7, 0, wn,
                                         W(wvalue.c_str()))
                      : ZERA_boAddParamA(1, 0, &node->pParList, &count, &cursor, type, access, attributes, 7, 0, name,
                                         static_cast<const char *>(value.pv));
            break;
        case ZERA_PARAM_REAL:
            ok = wide ? ZERA_boAddParamW(1, 0, &node->pParList, &count, &cursor, type, access, attributes, 7, 0, wn,
                                         value.r)
                      : ZERA_boAddParamA(1, 0, &node->pParList, &count, &cursor, type, access, attributes, 7, 0, name,
                                         value.r);
            break;
        default:
            ok = wide ? ZERA_boAddParamW(1, 0, &node->pParList, &count, &cursor, type, access, attributes, 7, 0, wn,
                                         value.dw)
                      : ZERA_boAddParamA(1, 0, &node->pParList, &count, &cursor, type, access, attributes, 7, 0, name,
                                         value.dw);
            break;
    }
    EXPECT_TRUE(ok) << name;
}

inline ParamData DWordValue(uint32_t dw) {
    ParamData v;
    v.qw = 0;
    v.dw = dw;
    return v;
}

inline ParamData StringValue(const char *s) {
    ParamData v;
    v.qw = 0;
    v.pv = const_cast<char *>(s);
    return v;
}

}  // namespace zt

#endif  // ZERA_TESTS_EVENT_EVENT_TEST_UTIL_H
