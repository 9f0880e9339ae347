/*
 * zera/evid.h - placeholder for the evid family; filled by its subsystem.
 *
 * Pure C (C11 and C++17 clean). Included through VOQ_ZERA_Comp.h.
 */
#ifndef ZERA_EVID_H
#define ZERA_EVID_H

#include "zera/types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif
