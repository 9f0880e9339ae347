// support/soak.h - how many rounds a soak test runs: the full count natively,
// a tenth where every round costs many times more (under valgrind, the i386
// build under qemu, Windows builds under Wine), unless ZERA_SOAK=1 asks for
// the full count everywhere. Included by tests only.
#ifndef ZERA_TESTS_SUPPORT_SOAK_H
#define ZERA_TESTS_SUPPORT_SOAK_H

#include <cstdlib>
#include <cstring>

#if defined(__has_include)
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif
#endif

namespace zt {

inline bool RunsSlowly() {
#if defined(__i386__) || defined(_WIN32)
    return true;
#elif defined(RUNNING_ON_VALGRIND)
    return RUNNING_ON_VALGRIND != 0;
#else
    return false;
#endif
}

inline int SoakRounds(int full) {
    const char *soak = std::getenv("ZERA_SOAK");
    if (soak != nullptr && std::strcmp(soak, "1") == 0) return full;
    return RunsSlowly() ? (full + 9) / 10 : full;
}

}  // namespace zt

#endif  // ZERA_TESTS_SUPPORT_SOAK_H
