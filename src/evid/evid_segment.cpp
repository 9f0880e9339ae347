// evid/evid_segment.cpp - opening and closing the machine-wide segment of
// identifier blocks at library start and end, and a fresh handle for a
// child process made by fork.
#include "evid/evid.h"

namespace zera {

namespace {
// Written only by OpenIdSegment/CloseIdSegment, which run at library start
// and end while no other operation can, and by ReopenIdSegmentAfterFork in a
// child that has one thread.
OSAL_HSHMEM g_idSegment = nullptr;

OSAL_HSHMEM OpenWithRetries() {
    // Another process may be creating or removing the segment at this very
    // moment, so an attempt can fail where the next one succeeds.
    OSAL_HSHMEM segment = nullptr;
    for (int pass = 0; pass < kIdSegmentOpenPasses && segment == nullptr; ++pass) {
        segment = OSAL_hSharedMemOpen(kIdSegmentSize, kIdSegmentName, OSAL_SHM_OPEN);
        if (segment == nullptr) segment = OSAL_hSharedMemOpen(kIdSegmentSize, kIdSegmentName, OSAL_SHM_CREATE);
    }
    return segment;
}
}  // namespace

void OpenIdSegment() {
    if (g_idSegment == nullptr) g_idSegment = OpenWithRetries();
}

void CloseIdSegment() {
    if (g_idSegment != nullptr) OSAL_vSharedMemClose(g_idSegment);
    g_idSegment = nullptr;
}

OSAL_HSHMEM IdSegment() { return g_idSegment; }

bool ReopenIdSegmentAfterFork() {
    // The inherited handle stays open and unused: its files are the parent's.
    g_idSegment = OpenWithRetries();
    return g_idSegment != nullptr;
}

}  // namespace zera
