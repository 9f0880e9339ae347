// id_space/id_draw.cpp - one side of the test that a 32-bit and a 64-bit
// process of one user draw from one identifier space (id_space_test.sh runs
// one of each at once). Public interface only, as any host of either
// bitness would be built.
//
//     id_draw COUNT START OUT
//
// Waits until the wall clock reaches START (seconds since 1970), draws COUNT
// identifiers through a level-0 manager whose runs are so short (8
// identifiers) that nearly every eighth draw reserves a block in the shared
// segment, writes them to OUT one per line, and prints
// "drew COUNT from FIRST to LAST" (microseconds since 1970) so that the
// caller can see that the two draws overlapped. Exit status 0 when every
// draw gave an identifier.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "ZERA_Host.h"

namespace {

long long NowMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

int Fail(const char *what) {
    std::fprintf(stderr, "id_draw: %s: error %u: %s\n", what, static_cast<unsigned>(OSAL_dwGetLastError()),
                 OSAL_pszGetLastErrorText());
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: id_draw COUNT START OUT\n");
        return 2;
    }
    const size_t count = std::strtoul(argv[1], nullptr, 10);
    const long long start = std::strtoll(argv[2], nullptr, 10);

    // Level 0 alone, complete, with the block requests of its entry table
    // going straight to the segment: the manager draws as a top level does.
    StackHandle *h0 = ZERA_hHostStackCreate(nullptr);
    if (h0 == nullptr) return Fail("level 0");
    h0->apfnEntry[30] = reinterpret_cast<ZERA_PFN>(&ZERA_dwEvIdGetBlock);
    h0->apfnEntry[31] = reinterpret_cast<ZERA_PFN>(&ZERA_boEvIdFreeBlock);
    h0->dwStatus |= ZERA_STATUS_COMPLETE;
    const EvIdManagerConfig config = {16, 3, 0};
    if (!ZERA_boEvIdManagerInit(h0, &h0->stEvIdManager, &config)) return Fail("manager");

    std::vector<uint32_t> ids(count);
    std::this_thread::sleep_until(std::chrono::system_clock::time_point(std::chrono::seconds(start)));
    const long long first = NowMicroseconds();
    for (uint32_t &id : ids) id = ZERA_dwEvIdManagerGetNextId(&h0->stEvIdManager, 0);
    const long long last = NowMicroseconds();

    int status = 0;
    std::FILE *out = std::fopen(argv[3], "w");
    if (out == nullptr) return Fail(argv[3]);
    for (uint32_t id : ids) {
        if (id == 0 || id == ZERA_EVID_NONE) status = 1;
        std::fprintf(out, "%lu\n", static_cast<unsigned long>(id));
    }
    std::fclose(out);
    if (status != 0) std::fprintf(stderr, "id_draw: a draw gave no identifier\n");
    if (!ZERA_boEvIdManagerDeinit(&h0->stEvIdManager) || !ZERA_boHostStackDestroy(h0)) return Fail("teardown");
    std::printf("drew %zu from %lld to %lld\n", count, first, last);
    return status;
}
