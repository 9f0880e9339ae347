// evid/evid_segment.cpp - opening and closing the machine-wide segment of
// identifier blocks at library start and end, opening it again for a draw
// when start could not, and a fresh handle for a child process made by fork.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/lock_order.h"
#include "common/spin.h"
#include "evid/evid.h"

namespace zera {

namespace {

// Set at library start and end, by a draw that opens what start could not
// (under g_openLock), and by ReopenIdSegmentAfterFork in a child that has
// one thread; read without a lock.
std::atomic<OSAL_HSHMEM> g_idSegment{nullptr};

// Serialises opening the segment for draws, so that two draws never both
// open it. Guards g_openFailure.
zera::Ranked<zera::LockRank::kIdSegmentOpen, spin::SpinLock> g_openLock;

// Why the last open failed: its code and argument, stored again for every
// draw that cannot have the segment (an ordinary open refusal would
// otherwise reach the caller as "nothing available").
struct OpenFailure {
    uint32_t code = OSAL_ERR_NOT_AVAILABLE;
    char arg[512] = "";
};
OpenFailure g_openFailure;

void RememberFailure() {
    g_openFailure.code = OSAL_dwGetLastError();
    const char *arg = OSAL_pszGetLastErrorArg();
    std::snprintf(g_openFailure.arg, sizeof g_openFailure.arg, "%s", arg != nullptr ? arg : "");
}

void StoreFailure() {
    if (g_openFailure.arg[0] != '\0') {
        OSAL_vSetLastErrorArgs(g_openFailure.code, OSAL_ARG_STRING, g_openFailure.arg);
    } else {
        OSAL_vSetLastError(g_openFailure.code);
    }
}

// Up to `passes` attempts; the code of the last failure stays stored.
OSAL_HSHMEM OpenWithRetries(int passes) {
    // Another process may be creating or removing the segment at this very
    // moment, so an attempt can fail where the next one succeeds. A folder
    // or file that is not the user's own stays so: no point in trying again.
    OSAL_HSHMEM segment = nullptr;
    for (int pass = 0; pass < passes && segment == nullptr; ++pass) {
        segment = OSAL_hSharedMemOpen(kIdSegmentSize, kIdSegmentName, OSAL_SHM_OPEN);
        if (segment == nullptr && OSAL_dwGetLastError() == OSAL_ERR_NOT_PRIVATE) break;
        if (segment == nullptr) segment = OSAL_hSharedMemOpen(kIdSegmentSize, kIdSegmentName, OSAL_SHM_CREATE);
        if (segment == nullptr && OSAL_dwGetLastError() == OSAL_ERR_NOT_PRIVATE) break;
    }
    if (segment == nullptr) RememberFailure();
    return segment;
}

// A draw that finds no segment tries this many passes, not start's
// thousand: it stands in a caller's event creation.
constexpr int kDrawOpenPasses = 10;

}  // namespace

void OpenIdSegment() {
    if (g_idSegment.load(std::memory_order_acquire) != nullptr) return;
    std::lock_guard<decltype(g_openLock)> hold(g_openLock);
    // The failure stays the loading thread's last error, so that a host can
    // see at start why no identifier will be drawn.
    g_idSegment.store(OpenWithRetries(kIdSegmentOpenPasses), std::memory_order_release);
}

void CloseIdSegment() {
    OSAL_HSHMEM segment = g_idSegment.exchange(nullptr, std::memory_order_acq_rel);
    if (segment != nullptr) OSAL_vSharedMemClose(segment);
}

OSAL_HSHMEM IdSegment() { return g_idSegment.load(std::memory_order_acquire); }

OSAL_HSHMEM UsableIdSegment() {
    OSAL_HSHMEM segment = g_idSegment.load(std::memory_order_acquire);
    if (segment != nullptr) return segment;
    std::lock_guard<decltype(g_openLock)> hold(g_openLock);
    segment = g_idSegment.load(std::memory_order_acquire);
    if (segment == nullptr) {
        segment = OpenWithRetries(kDrawOpenPasses);
        g_idSegment.store(segment, std::memory_order_release);
    }
    if (segment == nullptr) StoreFailure();
    return segment;
}

bool ReopenIdSegmentAfterFork() {
    // The inherited handle stays open and unused: its files are the parent's.
    g_idSegment.store(OpenWithRetries(kIdSegmentOpenPasses), std::memory_order_release);
    return IdSegment() != nullptr;
}

}  // namespace zera
