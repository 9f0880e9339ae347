/*
 * zera/stack.h - placeholder for the stack family; filled by its subsystem.
 *
 * Pure C (C11 and C++17 clean). Included through VOQ_ZERA_Comp.h.
 */
#ifndef ZERA_STACK_H
#define ZERA_STACK_H

#include "zera/types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif
