// support/soak.h - how many rounds a soak test runs: the full count natively,
// a tenth where each round costs many times more (valgrind, the i386 build
// under qemu, Windows builds under Wine), unless ZERA_SOAK=1 asks for the
// full count everywhere. Included by tests only.
#ifndef ZERA_TESTS_SUPPORT_SOAK_H
#define ZERA_TESTS_SUPPORT_SOAK_H

#include <cstdlib>
#include <cstring>

#if defined(__has_include) && __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

namespace zt {

inline int SoakRounds(int full) {
    const char *soak = std::getenv("ZERA_SOAK");
#if defined(__i386__) || defined(_WIN32)
    const bool slow = true;
#elif defined(RUNNING_ON_VALGRIND)
    const bool slow = RUNNING_ON_VALGRIND != 0;
#else
    const bool slow = false;
#endif
    return slow && !(soak != nullptr && std::strcmp(soak, "1") == 0) ? (full + 9) / 10 : full;
}

}  // namespace zt

#endif  // ZERA_TESTS_SUPPORT_SOAK_H
