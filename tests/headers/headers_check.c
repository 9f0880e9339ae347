/* Every public header, compiled as C11: components may be written in C. */
#include "VOQ_OSAL.h"
#include "VOQ_ZERA_Comp.h"
#include "ZERA_Component.h"
#include "ZERA_Host.h"

/* The component kit's binding macro expands to valid C. */
ZERA_COMPONENT_BINDING()

int zera_c_headers_compile(void);
int zera_c_headers_compile(void) { return (int)sizeof(StackHandle); }
