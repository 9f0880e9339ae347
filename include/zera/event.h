/*
 * zera/event.h - placeholder for the event family; filled by its subsystem.
 *
 * Pure C (C11 and C++17 clean). Included through VOQ_ZERA_Comp.h.
 */
#ifndef ZERA_EVENT_H
#define ZERA_EVENT_H

#include "zera/types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif
