/*
 * VOQ_ZERA_Comp.h - the library's public interface: includes every family
 * header and nothing else. Pure C (C11 and C++17 clean).
 */
#ifndef VOQ_ZERA_COMP_H
#define VOQ_ZERA_COMP_H

#include "VOQ_OSAL.h"
#include "zera/types.h"
#include "zera/handle.h"
#include "zera/param.h"
#include "zera/marshal.h"
#include "zera/evid.h"
#include "zera/event.h"
#include "zera/stack.h"

#endif /* VOQ_ZERA_COMP_H */
