// trace/debug_log.cpp - the debug output: which categories log at which
// severity (ZERA_DEBUG), where the lines go (stderr or ZERA_DEBUG_FILE), the
// line format, the thread numbers, and the watch that logs every error code
// the library stores.
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "VOQ_OSAL.h"
#include "common/lock_order.h"
#include "trace/trace.h"

namespace zera {
namespace trace {

std::atomic<uint32_t> g_logMask{0};
std::atomic<uint32_t> g_hookMask{0};

namespace {

const char *const kCategoryNames[kCategories] = {"stack", "send", "filter", "recv", "evid", "module", "link", "error"};
const char *const kSeverityNames[] = {"off", "error", "warning", "info", "debug"};

// Guards g_out and the writing of a line to it; lines never interleave.
zera::Ranked<zera::LockRank::kTraceOutput, std::mutex> g_outLock;
FILE *g_out = nullptr;  // null: stderr; else a file of ZERA_DEBUG_FILE's
std::atomic<uint32_t> g_nextThread{0};
thread_local uint32_t t_thread = 0;

void OSAL_CALL WatchError(uint32_t code, const char *arg) {
    if (!LogOn(kError, kWarning)) return;
    const char *text = OSAL_pszGetErrorText(code);
    Log(kError, kWarning, "code %u (%s)%s%s", static_cast<unsigned>(code), text != nullptr ? text : "unknown",
        arg != nullptr && arg[0] != '\0' ? ": " : "", arg != nullptr ? arg : "");
}

// The mask bits of one category from `severity` down to error.
uint32_t CategoryBits(uint32_t category, uint32_t severity) {
    uint32_t bits = 0;
    for (uint32_t s = 1; s <= severity; ++s) bits |= 1u << (4 * category + s - 1);
    return bits;
}

bool ParseSeverity(const char *text, size_t n, uint32_t *severity) {
    if (n == 0) {
        *severity = kDebug;
        return true;
    }
    if (n == 1 && text[0] >= '0' && text[0] <= '4') {
        *severity = static_cast<uint32_t>(text[0] - '0');
        return true;
    }
    for (uint32_t s = 0; s <= kDebug; ++s) {
        if (std::strlen(kSeverityNames[s]) == n && std::strncmp(kSeverityNames[s], text, n) == 0) {
            *severity = s;
            return true;
        }
    }
    return false;
}

// One "category[:severity]" entry into *mask; false when malformed.
bool ParseEntry(const char *entry, size_t n, uint32_t *mask) {
    while (n > 0 && (*entry == ' ' || *entry == '\t')) ++entry, --n;
    while (n > 0 && (entry[n - 1] == ' ' || entry[n - 1] == '\t')) --n;
    if (n == 0) return true;
    const char *colon = static_cast<const char *>(std::memchr(entry, ':', n));
    const size_t nameLength = colon != nullptr ? static_cast<size_t>(colon - entry) : n;
    uint32_t severity = kDebug;
    if (colon != nullptr && !ParseSeverity(colon + 1, n - nameLength - 1, &severity)) return false;
    for (uint32_t c = 0; c < kCategories; ++c) {
        const bool all = nameLength == 1 && entry[0] == '*';
        const bool named = std::strlen(kCategoryNames[c]) == nameLength &&
                           std::strncmp(kCategoryNames[c], entry, nameLength) == 0;
        if (!all && !named) continue;
        *mask = (*mask & ~CategoryBits(c, kDebug)) | CategoryBits(c, severity);
        if (!all) return true;
    }
    return nameLength == 1 && entry[0] == '*';
}

void WriteLocked(const char *text, size_t n) {
    FILE *out = g_out != nullptr ? g_out : stderr;
    std::fwrite(text, 1, n, out);
    std::fflush(out);
}

}  // namespace

namespace {

// Guards g_timelineHooked and every store of g_hookMask, which is derived from it
// and from g_logMask.
zera::Ranked<zera::LockRank::kTraceHooks, std::mutex> g_hooksLock;
bool g_timelineHooked = false;

void RecomputeHooks() {
    std::lock_guard<decltype(g_hooksLock)> hold(g_hooksLock);
    const uint32_t log = g_logMask.load(std::memory_order_relaxed);
    uint32_t hooks = g_timelineHooked ? ((1u << kCategories) - 1) | kTimelineBit : 0;
    for (uint32_t c = 0; c < kCategories; ++c) {
        if (log & (1u << (4 * c + kDebug - 1))) hooks |= 1u << c;
    }
    g_hookMask.store(hooks, std::memory_order_relaxed);
}

}  // namespace

void SetTimelineHooks(bool on) {
    {
        std::lock_guard<decltype(g_hooksLock)> hold(g_hooksLock);
        g_timelineHooked = on;
    }
    RecomputeHooks();
}

bool ConfigureDebug(const char *settings, const char *file) {
    uint32_t mask = 0;
    bool wellFormed = true;
    for (const char *at = settings; at != nullptr && *at != '\0';) {
        const char *comma = std::strchr(at, ',');
        const size_t n = comma != nullptr ? static_cast<size_t>(comma - at) : std::strlen(at);
        if (!ParseEntry(at, n, &mask)) {
            wellFormed = false;
            char line[160];
            const int length = std::snprintf(line, sizeof line, "ZERA_DEBUG: entry '%.*s' ignored (category:severity)\n",
                                             static_cast<int>(n > 80 ? 80 : n), at);
            std::lock_guard<decltype(g_outLock)> hold(g_outLock);
            WriteLocked(line, static_cast<size_t>(length));
        }
        at = comma != nullptr ? comma + 1 : nullptr;
    }
    bool opened = true;
    {
        std::lock_guard<decltype(g_outLock)> hold(g_outLock);
        if (g_out != nullptr) std::fclose(g_out);
        g_out = nullptr;
        // Snapshots go there too, whether or not a category logs.
        if (file != nullptr && file[0] != '\0') {
            g_out = std::fopen(file, "ab");  // the same line ends on every platform
            opened = g_out != nullptr;
        }
    }
    if (!opened) Log(kStack, kWarning, "ZERA_DEBUG_FILE '%s' cannot be opened: writing to stderr", file);
    g_logMask.store(mask, std::memory_order_relaxed);
    RecomputeHooks();
    OSAL_vSetErrorWatch((mask & CategoryBits(kError, kWarning)) != 0 ? WatchError : nullptr);
    return wellFormed && opened;
}

void ConfigureDebugFromEnvironment() {
    const char *settings = std::getenv("ZERA_DEBUG");
    const char *file = std::getenv("ZERA_DEBUG_FILE");
    if ((settings != nullptr && settings[0] != '\0') || (file != nullptr && file[0] != '\0')) ConfigureDebug(settings, file);
}

void CloseDebugOutput() {
    OSAL_vSetErrorWatch(nullptr);
    g_logMask.store(0, std::memory_order_relaxed);
    RecomputeHooks();
    std::lock_guard<decltype(g_outLock)> hold(g_outLock);
    if (g_out != nullptr) std::fclose(g_out);
    g_out = nullptr;
}

uint32_t ThreadNumber() {
    if (t_thread == 0) t_thread = g_nextThread.fetch_add(1, std::memory_order_relaxed) + 1;
    return t_thread;
}

void Log(Category c, Severity s, const char *format, ...) {
    char line[1024];
    const uint64_t ns = ClockNs();
    int used = std::snprintf(line, sizeof line, "%4llu.%06llu t%-3u %-7s %-6s ",
                             static_cast<unsigned long long>(ns / 1000000000u),
                             static_cast<unsigned long long>(ns / 1000u % 1000000u), ThreadNumber(), kSeverityNames[s],
                             kCategoryNames[c]);
    va_list args;
    va_start(args, format);
    const int text = std::vsnprintf(line + used, sizeof line - static_cast<size_t>(used) - 1, format, args);
    va_end(args);
    if (text > 0) used += text;
    if (static_cast<size_t>(used) > sizeof line - 2) used = static_cast<int>(sizeof line - 2);
    line[used++] = '\n';
    std::lock_guard<decltype(g_outLock)> hold(g_outLock);
    WriteLocked(line, static_cast<size_t>(used));
}

void WriteDebugText(const char *text) {
    std::lock_guard<decltype(g_outLock)> hold(g_outLock);
    WriteLocked(text, std::strlen(text));
}

}  // namespace trace
}  // namespace zera
