/* tests/osal/modules/mod_alt.c - a stand-in with the same export as mod_top
 * but another answer; the search-order test puts it in the current
 * directory under mod_top's file name. Built by tests/CMakeLists.txt. */
#include "mod_export.h"

EXPORT int OsalTestWhere(void);
EXPORT int OsalTestWhere(void) { return 2; }
