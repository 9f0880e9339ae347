/*
 * common/contract.h - ZERA_ASSERT, the check of a contract that only a bug
 * can break (a lock the caller must hold, a field written once). Debug
 * builds stop the process with the broken contract's text; builds with
 * NDEBUG compile the check and its text out entirely. Caller mistakes and
 * failures of the environment are error codes, never asserts.
 *
 * Internal: included by src/ only (both libraries; header-only).
 */
#ifndef ZERA_COMMON_CONTRACT_H
#define ZERA_COMMON_CONTRACT_H

#if defined(NDEBUG)
#define ZERA_ASSERT(cond) ((void)0)
#else
#include <cstdio>
#include <cstdlib>

namespace zera {
[[noreturn]] inline void ContractBroken(const char *cond, const char *file, int line) {
    std::fprintf(stderr, "contract broken: %s (%s:%d)\n", cond, file, line);
    std::abort();
}
}  // namespace zera

#define ZERA_ASSERT(cond) ((cond) ? (void)0 : ::zera::ContractBroken(#cond, __FILE__, __LINE__))
#endif

#endif  // ZERA_COMMON_CONTRACT_H
