/*
 * zera/marshal.h - placeholder for the marshal family; filled by its subsystem.
 *
 * Pure C (C11 and C++17 clean). Included through VOQ_ZERA_Comp.h.
 */
#ifndef ZERA_MARSHAL_H
#define ZERA_MARSHAL_H

#include "zera/types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif
