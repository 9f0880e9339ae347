/* tests/osal/modules/mod_alt.c - a stand-in with the same export as mod_top
 * but another answer; the search-order test puts it in the current
 * directory under mod_top's file name. Built by tests/CMakeLists.txt. */
#if defined(_WIN32)
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

EXPORT int OsalTestWhere(void);
EXPORT int OsalTestWhere(void) { return 2; }
