/*
 * zera/param.h - placeholder for the param family; filled by its subsystem.
 *
 * Pure C (C11 and C++17 clean). Included through VOQ_ZERA_Comp.h.
 */
#ifndef ZERA_PARAM_H
#define ZERA_PARAM_H

#include "zera/types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif
