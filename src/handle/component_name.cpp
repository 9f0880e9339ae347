// handle/component_name.cpp - the name of each level: found in the level's
// component module (or the library's own name at level 0), cut down to the
// bare component name, kept in the level's pvComponentName.
//
// A level's name is built from the source of the level's own width (boWide):
// the narrow data export "ZERA_hsModuleName" or the fallback "VOQ_ZERA.dll" on
// a narrow level, the wide export "ZERA_lsModuleName" or "VOQ_ZERA.component"
// on a wide one. Its block holds the name in both widths, so the narrow and
// the wide operation give the same name whichever width the level has. The
// level's width is set by binding, before any request can reach the level.
#include <cstring>
#include <type_traits>

#include "handle/handle.h"

namespace {

constexpr const char *kNarrowNameExport = "ZERA_hsModuleName";
constexpr const char *kWideNameExport = "ZERA_lsModuleName";
constexpr const char *kNarrowLibraryName = "VOQ_ZERA.dll";
constexpr const char *kWideLibraryName = "VOQ_ZERA.component";
constexpr const char *kSuffixes[] = {".DLL", ".EXE", ".COMPONENT", ".PLUGIN"};
constexpr size_t kMaxWideConstant = 32;  // room for the wide forms of the names above

template <typename Char>
size_t Length(const Char *s) {
    size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

unsigned FoldCase(unsigned c) { return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c; }

template <typename Char>
unsigned Unit(Char c) {
    return static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(c));
}

// Whether name[0..length) ends with `suffix`, ASCII case ignored.
template <typename Char>
bool EndsWithNoCase(const Char *name, size_t length, const char *suffix) {
    const size_t n = std::strlen(suffix);
    if (length < n) return false;
    const Char *tail = name + (length - n);
    for (size_t i = 0; i < n; ++i) {
        if (FoldCase(Unit(tail[i])) != FoldCase(static_cast<unsigned char>(suffix[i]))) return false;
    }
    return true;
}

template <typename Char>
zera::NameSpan FindComponentName(const Char *name) {
    const size_t length = Length(name);
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        if (name[i] == ':' || name[i] == '\\' || name[i] == '/') start = i + 1;
    }
    zera::NameSpan span{start, length - start};
    for (const char *suffix : kSuffixes) {
        const size_t n = std::strlen(suffix);
        if (span.length > n && EndsWithNoCase(name + span.offset, span.length, suffix)) {
            span.length -= n;
            break;
        }
    }
    return span;
}

size_t EvenUp(size_t n) { return (n + 1) & ~static_cast<size_t>(1); }

// Builds the level's name block from its own source; null when the module
// has no name export (its code stays stored) or memory runs out.
void *BuildOwnName(const StackHandle *h) {
    if (h->boWide) {
        WCHAR16 wideSymbol[kMaxWideConstant];
        const WCHAR16 *source;
        if (h->hModule != nullptr) {
            zera::NarrowToWide(wideSymbol, kMaxWideConstant, kWideNameExport);
            source = reinterpret_cast<const WCHAR16 *>(OSAL_pfnGetProcAddressW(h->hModule, wideSymbol));
        } else {
            zera::NarrowToWide(wideSymbol, kMaxWideConstant, kWideLibraryName);
            source = wideSymbol;
        }
        return source != nullptr ? zera::BuildLevelName(source) : nullptr;
    }
    const char *source = h->hModule != nullptr
                             ? reinterpret_cast<const char *>(OSAL_pfnGetProcAddress(h->hModule, kNarrowNameExport))
                             : kNarrowLibraryName;
    return source != nullptr ? zera::BuildLevelName(source) : nullptr;
}

}  // namespace

namespace zera {

NameSpan ComponentNameSpan(const char *name) { return FindComponentName(name); }
NameSpan ComponentNameSpan(const WCHAR16 *name) { return FindComponentName(name); }

void *BuildLevelName(const char *source) {
    const NameSpan span = FindComponentName(source);
    const size_t wideOffset = EvenUp(span.length + 1);
    auto *block = static_cast<char *>(Alloc(wideOffset + (span.length + 1) * sizeof(WCHAR16)));
    if (block == nullptr) return nullptr;
    auto *wide = reinterpret_cast<WCHAR16 *>(block + wideOffset);
    for (size_t i = 0; i < span.length; ++i) {
        block[i] = source[span.offset + i];
        wide[i] = static_cast<WCHAR16>(static_cast<unsigned char>(source[span.offset + i]));
    }
    block[span.length] = 0;
    wide[span.length] = 0;
    return block;
}

void *BuildLevelName(const WCHAR16 *source) {
    const NameSpan span = FindComponentName(source);
    const size_t narrowOffset = (span.length + 1) * sizeof(WCHAR16);
    auto *block = static_cast<char *>(Alloc(narrowOffset + span.length + 1));
    if (block == nullptr) return nullptr;
    auto *wide = reinterpret_cast<WCHAR16 *>(block);
    char *narrow = block + narrowOffset;
    for (size_t i = 0; i < span.length; ++i) {
        const WCHAR16 unit = source[span.offset + i];
        wide[i] = unit;
        narrow[i] = unit > 0xFF ? '?' : static_cast<char>(unit);
    }
    wide[span.length] = 0;
    narrow[span.length] = 0;
    return block;
}

const char *LevelNameNarrow(const void *block, bool wideFirst) {
    if (block == nullptr) return nullptr;
    const char *bytes = static_cast<const char *>(block);
    if (!wideFirst) return bytes;
    return bytes + (StringUnits(reinterpret_cast<const WCHAR16 *>(bytes)) + 1) * sizeof(WCHAR16);
}

const WCHAR16 *LevelNameWide(const void *block, bool wideFirst) {
    if (block == nullptr) return nullptr;
    const char *bytes = static_cast<const char *>(block);
    if (wideFirst) return reinterpret_cast<const WCHAR16 *>(bytes);
    return reinterpret_cast<const WCHAR16 *>(bytes + EvenUp(std::strlen(bytes) + 1));
}

}  // namespace zera

namespace {

constexpr uint8_t kLevelBits = 0x3F;  // only the low 6 bits of a wanted level count

// One name request, in the width that `read` gives: h's own name when the
// wanted level is h's or below, else the answer of the next level's `slot`.
// Null (1027) for an invalid handle or a wanted level above the top.
template <typename Pfn, typename Char>
const Char *NameRequest(StackHandle *h, uint8_t u8Level, int slot, const Char *(*read)(const void *, bool)) {
    if (!ZERA_boHandleCheck(h, 1)) return nullptr;
    const uint8_t wanted = u8Level & kLevelBits;
    if (wanted > h->u8Level) {
        StackHandle *next = zera::NextLevelOf(h);
        if (!ZERA_boHandleCheck(next, 0)) return nullptr;
        auto forward = reinterpret_cast<Pfn>(next->apfnEntry[slot]);
        if (forward == nullptr) {  // a level whose table is not filled yet
            OSAL_vSetLastError(OSAL_ERR_INVALID_HANDLE);
            return nullptr;
        }
        return forward(next, wanted);
    }
    if (h->pvComponentName == nullptr) h->pvComponentName = BuildOwnName(h);
    return read(h->pvComponentName, h->boWide != 0);
}

}  // namespace

extern "C" {

ZERA_API const char *ZERA_CALL ZERA_hsComponentNameA(StackHandle *h, uint8_t u8Level) {
    return NameRequest<zera::PfnComponentNameA>(h, u8Level, zera::kEntryComponentNameA, zera::LevelNameNarrow);
}

ZERA_API const WCHAR16 *ZERA_CALL ZERA_lsComponentNameW(StackHandle *h, uint8_t u8Level) {
    return NameRequest<zera::PfnComponentNameW>(h, u8Level, zera::kEntryComponentNameW, zera::LevelNameWide);
}

}  // extern "C"
