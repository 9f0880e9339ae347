/* tests/osal/modules/mod_export.h - how the test modules mark their exports.
 * Included by the modules of this folder only. */
#ifndef OSAL_TEST_MOD_EXPORT_H
#define OSAL_TEST_MOD_EXPORT_H

#if defined(_WIN32)
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

#endif /* OSAL_TEST_MOD_EXPORT_H */
