/* tests/osal/modules/mod_base.c - a module that another test module depends
 * on; the loader tests check that its exports are not found through the
 * module that depends on it. Built by tests/CMakeLists.txt. */
#include "mod_export.h"

EXPORT int OsalTestBaseValue(void);
EXPORT int OsalTestBaseValue(void) { return 7; }

EXPORT extern const int OsalTestBaseData;
const int OsalTestBaseData = 5;
