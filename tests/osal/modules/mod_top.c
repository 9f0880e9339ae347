/* tests/osal/modules/mod_top.c - a module with function and data exports of
 * its own that depends on mod_base. Built by tests/CMakeLists.txt. */
#include "mod_export.h"

int OsalTestBaseValue(void); /* from mod_base */

EXPORT int OsalTestTopValue(void);
EXPORT int OsalTestTopValue(void) { return OsalTestBaseValue() + 1; }

/* Which copy of the module was loaded: 1 here, 2 in mod_alt. */
EXPORT int OsalTestWhere(void);
EXPORT int OsalTestWhere(void) { return 1; }

EXPORT extern const int OsalTestTopData;
const int OsalTestTopData = 42;
