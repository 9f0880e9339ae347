/*
 * evid/evid.h - what the event-identifier subsystem offers the rest of the
 * library: the machine-wide segment of identifier blocks, opened when the
 * library is loaded and closed when it is unloaded.
 *
 * Internal: included by src/ and by tests only.
 */
#ifndef ZERA_EVID_EVID_H
#define ZERA_EVID_EVID_H

#include <cstdint>

#include "VOQ_ZERA_Comp.h"
#include "common/common.h"

namespace zera {

// ---- The shared segment of identifier blocks ---------------------------------

constexpr uint32_t kIdSegmentSize = 65532;
constexpr const char *kIdSegmentName = "ZERA_EVENT_ID";
// Attempts to open the segment at library start; each pass tries an existing
// segment first, then creating it.
constexpr int kIdSegmentOpenPasses = 1000;

// Opens the segment; called once at library start, after the platform layer
// started. A failure leaves the segment null (every later block request then
// fails) and is not reported.
void OpenIdSegment();
// Closes the segment; called once at library end.
void CloseIdSegment();
// The open segment, or null. Set only at library start and end, so it is read
// without a lock; its contents are guarded by the segment's own lock
// (OSAL_boSharedMemLock).
ZERA_TEST_VISIBLE OSAL_HSHMEM IdSegment();

}  // namespace zera

#endif  // ZERA_EVID_EVID_H
