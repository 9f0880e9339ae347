// param/param_test_util.h - helpers for the parameter-list, marshalling and
// event tests: string helpers and a small list
// builder. Included by tests/param, tests/marshal, tests/description and,
// through evid/evid_test_util.h, tests/evid and tests/event.
#ifndef ZERA_TESTS_PARAM_TEST_UTIL_H
#define ZERA_TESTS_PARAM_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "VOQ_ZERA_Comp.h"
#include "support/alloc_sweep.h"

namespace zt {

inline const WCHAR16 *W(const char16_t *s) { return reinterpret_cast<const WCHAR16 *>(s); }
inline std::u16string WStr(const void *s) { return s ? std::u16string(static_cast<const char16_t *>(s)) : u""; }
inline std::string NStr(const void *s) { return s ? std::string(static_cast<const char *>(s)) : ""; }

// Bytes as 16-bit units; with twoStrings "name\0text" whole.
inline std::u16string Widen(const char *s, bool twoStrings = false) {
    const size_t n = s == nullptr ? 0 : std::strlen(s) + (twoStrings ? 1 + std::strlen(s + std::strlen(s) + 1) : 0);
    std::u16string w;
    for (size_t i = 0; i < n; ++i) w.push_back(static_cast<unsigned char>(s[i]));
    return w;
}

// A string of a list of either width as 16-bit units.
inline std::u16string Str16(const void *s, bool wide) { return wide ? WStr(s) : Widen(static_cast<const char *>(s)); }

// The additional text behind the name in a name block of either width.
inline std::u16string Text16(const void *block, bool wide) {
    return wide ? WStr(static_cast<const char16_t *>(block) + WStr(block).size() + 1)
                : Widen(static_cast<const char *>(block) + NStr(block).size() + 1);
}

// Builds narrow or wide lists through the exported operations; each add
// gives its result and, unless `expectOk` is cleared, expects success. The
// list is deleted with the builder.
struct ListBuilder {
    Param *list = nullptr;
    uint32_t count = 0;
    ParamValue **cursor = nullptr;
    bool wide = false, expectOk = true;

    explicit ListBuilder(bool w = false) : wide(w) { EXPECT_TRUE(ZERA_boCreateParListA(&list)); }
    ~ListBuilder() { wide ? ZERA_vDeleteParamListW(list) : ZERA_vDeleteParamListA(list); }
    ListBuilder(const ListBuilder &) = delete;
    ListBuilder &operator=(const ListBuilder &) = delete;

    // name may hold "name\0text" when twoStrings is set.
    bool Str(const char *name, const char *value, uint8_t attr = 0, bool twoStrings = false) {
        const std::u16string n = Widen(name, twoStrings), v = Widen(value);
        return Check(wide ? ZERA_boAddParamW(1, 0, &list, &count, &cursor, ZERA_PARAM_STRING, 1, attr, 0, twoStrings,
                                            W(n.c_str()), value ? W(v.c_str()) : nullptr)
                         : ZERA_boAddParamA(1, 0, &list, &count, &cursor, ZERA_PARAM_STRING, 1, attr, 0, twoStrings,
                                            name, value));
    }
    void DWord(const char *name, uint32_t value, uint32_t type = ZERA_PARAM_DWORD, uint32_t access = 1) {
        Add(name, type, access, 0x10, 7, value);
    }
    void Real(const char *name, double value) { Add(name, ZERA_PARAM_REAL, 5, 0, 0, value); }

    // Values for the parameter added last, of its type.
    bool StrValue(uint32_t kind, const char *from, const char *to, uint32_t tag) {
        const std::u16string f = Widen(from), t = Widen(to);
        return Check(wide ? ZERA_boAddValueW(&cursor, ZERA_PARAM_STRING, tag, kind, from ? W(f.c_str()) : nullptr,
                                            to ? W(t.c_str()) : nullptr)
                         : ZERA_boAddValueA(&cursor, ZERA_PARAM_STRING, tag, kind, from, to));
    }
    template <typename V>
    void Value(uint32_t type, uint32_t kind, V from, V to, uint32_t tag) {
        EXPECT_TRUE(wide ? ZERA_boAddValueW(&cursor, type, tag, kind, from, to)
                         : ZERA_boAddValueA(&cursor, type, tag, kind, from, to));
    }

    // Every kind of value and chain: "Mode" with a text, a range and a single
    // string value, "Gain" with a range, "Id" of access 200, "Rate" with a
    // single real value and "Empty" with a null string.
    void FillEveryKind() {
        Str("Mode\0how it runs", "fast", 0x30, true);
        StrValue(ZERA_VALUE_RANGE, "a", "m", 1);
        StrValue(ZERA_VALUE_SINGLE, "z", nullptr, 2);
        DWord("Gain", 5);
        Value<uint32_t>(ZERA_PARAM_DWORD, ZERA_VALUE_RANGE, 1, 9, 3);
        DWord("Id", 0xFFFFFFFF, ZERA_PARAM_DWORD2, 200);
        Real("Rate", -2.25);
        Value(ZERA_PARAM_REAL, ZERA_VALUE_SINGLE, 0.5, 0.0, 4);
        Str("Empty", nullptr);
    }

private:
    bool Check(bool ok) {
        EXPECT_TRUE(ok || !expectOk);
        return ok;
    }
    template <typename V>
    void Add(const char *name, uint32_t type, uint32_t access, uint8_t attr, uint8_t tag, V value) {
        const std::u16string n = Widen(name);
        EXPECT_TRUE(wide ? ZERA_boAddParamW(1, 0, &list, &count, &cursor, type, access, attr, tag, 0, W(n.c_str()),
                                            value)
                         : ZERA_boAddParamA(1, 0, &list, &count, &cursor, type, access, attr, tag, 0, name, value));
    }
};

}  // namespace zt

#endif  // ZERA_TESTS_PARAM_TEST_UTIL_H
