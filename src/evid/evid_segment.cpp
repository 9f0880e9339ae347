// evid/evid_segment.cpp - opening and closing the machine-wide segment of
// identifier blocks at library start and end.
#include "evid/evid.h"

namespace zera {

namespace {
// Written only by OpenIdSegment/CloseIdSegment, which run at library start
// and end while no other operation can.
OSAL_HSHMEM g_idSegment = nullptr;
}  // namespace

void OpenIdSegment() {
    // Another process may be creating or removing the segment at this very
    // moment, so an attempt can fail where the next one succeeds.
    for (int pass = 0; pass < kIdSegmentOpenPasses && g_idSegment == nullptr; ++pass) {
        g_idSegment = OSAL_hSharedMemOpen(kIdSegmentSize, kIdSegmentName, OSAL_SHM_OPEN);
        if (g_idSegment == nullptr) {
            g_idSegment = OSAL_hSharedMemOpen(kIdSegmentSize, kIdSegmentName, OSAL_SHM_CREATE);
        }
    }
}

void CloseIdSegment() {
    if (g_idSegment != nullptr) OSAL_vSharedMemClose(g_idSegment);
    g_idSegment = nullptr;
}

OSAL_HSHMEM IdSegment() { return g_idSegment; }

}  // namespace zera
