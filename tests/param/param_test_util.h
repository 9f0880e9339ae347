// param/param_test_util.h - helpers for the parameter-list, marshalling and
// event tests: an allocation-failure loop, wide literals, packet bytes and a
// small list builder. Included by tests/param, tests/marshal,
// tests/description and, through evid/evid_test_util.h, tests/evid and
// tests/event.
#ifndef ZERA_TESTS_PARAM_TEST_UTIL_H
#define ZERA_TESTS_PARAM_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "common/test_hooks.h"

namespace zt {

// Runs attempt() with the library's allocations failing after n successful
// ones, n = 0, 1, 2, ... until it succeeds. attempt checks the state a failure
// must leave and releases what it made; the leak checker sees the rest.
template <typename Attempt>
void ForEachAllocFailure(Attempt attempt) {
    for (long n = 0;; ++n) {
        ZERA_vTestFailAllocAfter(n);
        bool ok = attempt(n);
        ZERA_vTestFailAllocAfter(-1);
        if (ok) {
            EXPECT_GT(n, 0) << "the operation allocates nothing";
            return;
        }
        ASSERT_LT(n, 10000) << "never succeeded";
    }
}

inline const WCHAR16 *W(const char16_t *s) { return reinterpret_cast<const WCHAR16 *>(s); }

inline std::u16string WStr(const void *s) {
    return s == nullptr ? std::u16string() : std::u16string(static_cast<const char16_t *>(s));
}

inline std::string NStr(const void *s) { return s == nullptr ? std::string() : std::string(static_cast<const char *>(s)); }

// The additional text behind the name in a name block.
inline std::string NText(const void *block) {
    const char *s = static_cast<const char *>(block);
    return std::string(s + std::strlen(s) + 1);
}

inline std::u16string WText(const void *block) {
    const char16_t *s = static_cast<const char16_t *>(block);
    return std::u16string(s + std::char_traits<char16_t>::length(s) + 1);
}

// The bytes written to a packet so far.
inline std::vector<uint8_t> Bytes(ZERA_HPACKET h) {
    const uint8_t *p = static_cast<const uint8_t *>(ZERA_pvMarshalGetStartOfData(h));
    return std::vector<uint8_t>(p, p + ZERA_i32MarshalGetDataSize(h));
}

// A reading packet over a copy of the bytes; the caller deletes it.
inline ZERA_HPACKET ReadPacket(const std::vector<uint8_t> &bytes) {
    void *buffer = ZERA_pvMalloc(bytes.size());
    std::memcpy(buffer, bytes.data(), bytes.size());
    return ZERA_hMarshalPacketCreate(buffer, static_cast<int32_t>(bytes.size()));
}

// Builds narrow or wide lists through the exported operations.
struct ListBuilder {
    Param *list = nullptr;
    uint32_t count = 0;
    ParamValue **cursor = nullptr;
    bool wide = false;

    explicit ListBuilder(bool w = false) : wide(w) { EXPECT_TRUE(ZERA_boCreateParListA(&list)); }
    ~ListBuilder() { wide ? ZERA_vDeleteParamListW(list) : ZERA_vDeleteParamListA(list); }
    ListBuilder(const ListBuilder &) = delete;
    ListBuilder &operator=(const ListBuilder &) = delete;

    // name may hold "name\0text" when twoStrings is set.
    void Str(const char *name, const char *value, uint8_t attr = 0, bool twoStrings = false) {
        if (wide) {
            std::u16string n = Widen(name, twoStrings), v = Widen(value, false);
            EXPECT_TRUE(ZERA_boAddParamW(1, 0, &list, &count, &cursor, ZERA_PARAM_STRING, 1, attr, 0, twoStrings,
                                         W(n.c_str()), value ? W(v.c_str()) : nullptr));
        } else {
            EXPECT_TRUE(ZERA_boAddParamA(1, 0, &list, &count, &cursor, ZERA_PARAM_STRING, 1, attr, 0, twoStrings,
                                         name, value));
        }
    }
    void DWord(const char *name, uint32_t value, uint32_t type = ZERA_PARAM_DWORD, uint32_t access = 1) {
        std::u16string n = Widen(name, false);
        EXPECT_TRUE(wide ? ZERA_boAddParamW(1, 0, &list, &count, &cursor, type, access, 0x10, 7, 0, W(n.c_str()), value)
                         : ZERA_boAddParamA(1, 0, &list, &count, &cursor, type, access, 0x10, 7, 0, name, value));
    }
    void Real(const char *name, double value) {
        std::u16string n = Widen(name, false);
        EXPECT_TRUE(wide ? ZERA_boAddParamW(1, 0, &list, &count, &cursor, ZERA_PARAM_REAL, 5, 0, 0, 0, W(n.c_str()), value)
                         : ZERA_boAddParamA(1, 0, &list, &count, &cursor, ZERA_PARAM_REAL, 5, 0, 0, 0, name, value));
    }
    // Values for the parameter added last; `type` must be its type.
    void StrValue(uint32_t kind, const char *from, const char *to, uint32_t tag) {
        std::u16string f = Widen(from, false), t = Widen(to, false);
        EXPECT_TRUE(wide ? ZERA_boAddValueW(&cursor, ZERA_PARAM_STRING, tag, kind, from ? W(f.c_str()) : nullptr,
                                            to ? W(t.c_str()) : nullptr)
                         : ZERA_boAddValueA(&cursor, ZERA_PARAM_STRING, tag, kind, from, to));
    }
    void DWordValue(uint32_t kind, uint32_t from, uint32_t to, uint32_t tag) {
        EXPECT_TRUE(wide ? ZERA_boAddValueW(&cursor, ZERA_PARAM_DWORD, tag, kind, from, to)
                         : ZERA_boAddValueA(&cursor, ZERA_PARAM_DWORD, tag, kind, from, to));
    }
    void RealValue(uint32_t kind, double from, double to, uint32_t tag) {
        EXPECT_TRUE(wide ? ZERA_boAddValueW(&cursor, ZERA_PARAM_REAL, tag, kind, from, to)
                         : ZERA_boAddValueA(&cursor, ZERA_PARAM_REAL, tag, kind, from, to));
    }

    static std::u16string Widen(const char *s, bool twoStrings) {
        std::u16string w;
        if (s == nullptr) return w;
        size_t n = std::strlen(s);
        if (twoStrings) n += 1 + std::strlen(s + n + 1);
        for (size_t i = 0; i < n; ++i) w.push_back(static_cast<char16_t>(static_cast<unsigned char>(s[i])));
        return w;
    }
};

}  // namespace zt

#endif  // ZERA_TESTS_PARAM_TEST_UTIL_H
