/*
 * library/library.h - what the top of the library shares among its files
 * and offers its tests: the host kit's level-0 check, the
 * ready flag set when the process loaded the library, and the receive
 * queue's error-marking function that binding gives every level. Library
 * start, binding (which fills a level's entry table) and the host kit sit
 * above every subsystem; nothing in src/ below this folder includes it.
 *
 * Internal: included by src/library and by tests only.
 */
#ifndef ZERA_LIBRARY_LIBRARY_H
#define ZERA_LIBRARY_LIBRARY_H

#include <cstdint>

#include "VOQ_ZERA_Comp.h"
#include "common/common.h"

namespace zera {

// Whether the platform layer started when the library was loaded. Written
// once before any other operation can run; read without a lock.
ZERA_TEST_VISIBLE bool LibraryReady();

// The receive queue's error-marking function (given to every bound level's
// hRecvQueue): sets ZERA_EVF_ERROR_MARK in the event's dwFlags and stores the
// value, limited to 255, in its u8Error.
ZERA_TEST_VISIBLE void OSAL_CALL MarkReceiveError(void *pvEvent, uint32_t dwValue);

// Whether h is a level 0 made by the host kit (ZERA_hHostStackCreate);
// else false with 1027 stored. The kit's calls begin with it.
bool IsHostLevel(StackHandle *h);

}  // namespace zera

#endif  // ZERA_LIBRARY_LIBRARY_H
