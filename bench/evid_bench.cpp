// bench/evid_bench.cpp - cost of event identifiers: identifiers per second
// from one level's manager with one thread and with two threads on the same
// manager, beside an atomic increment as the floor; a request that exchanges
// a run every time (a manager of one slot with two identifiers per run); and
// one reservation plus return of a block on the shared segment. Beside the
// manager, in the same run, the peer: identifiers handed out from reserved
// runs under a plain std::mutex, batched the same way.
//
// The program works on a segment of its own: it runs itself again with
// VOQ_OSAL_SHM_PREFIX set when that is not set already, since the library
// opens the segment as it is loaded.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "VOQ_ZERA_Comp.h"
#include "ZERA_Host.h"

namespace {

// A complete level 0 with two managers, made once and kept for the run.
struct Level {
    StackHandle *h0 = nullptr;
    EvIdManager plain{};     // default: 3 slots of 16384 identifiers
    EvIdManager exchange{};  // 1 slot of 2: every request exchanges its run

    Level() {
        h0 = ZERA_hHostStackCreate(nullptr);
        if (h0 == nullptr) std::abort();
        h0->dwStatus |= ZERA_STATUS_COMPLETE;
        const EvIdManagerConfig plainConfig{0, 0, 0}, exchangeConfig{2, 1, 0};
        if (!ZERA_boEvIdManagerInit(h0, &plain, &plainConfig) ||
            !ZERA_boEvIdManagerInit(h0, &exchange, &exchangeConfig))
            std::abort();
    }
};

Level &TheLevel() {
    static Level level;
    return level;
}

std::atomic<uint32_t> g_counter{0};

void BM_AtomicIncrementFloor(benchmark::State &state) {
    for (auto _ : state) benchmark::DoNotOptimize(g_counter.fetch_add(2, std::memory_order_relaxed));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AtomicIncrementFloor)->Threads(1)->Threads(2)->UseRealTime();

void BM_ManagerNextId(benchmark::State &state) {
    EvIdManager *m = &TheLevel().plain;
    for (auto _ : state) benchmark::DoNotOptimize(ZERA_dwEvIdManagerGetNextId(m, 0));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ManagerNextId)->Threads(1)->Threads(2)->UseRealTime();

// The peer's manager: three runs of 16384 identifiers, every second one
// handed out, a spent run exchanged for a fresh one taken from a counter
// under a second mutex (standing in for the segment and its lock).
struct PeerManager {
    static constexpr uint32_t kRun = 16384;
    std::mutex lock;  // guards runs, current and next
    uint32_t runs[3] = {0, kRun, 2 * kRun};
    uint32_t current = 0;
    uint32_t next = 2;  // 0 is no identifier
};
std::mutex g_peerSegmentLock;  // guards g_peerNextRun
uint32_t g_peerNextRun = 3 * PeerManager::kRun;

uint32_t PeerReserveRun() {
    std::lock_guard<std::mutex> hold(g_peerSegmentLock);
    const uint32_t run = g_peerNextRun;
    g_peerNextRun += PeerManager::kRun;
    return run;
}

uint32_t PeerNextId(PeerManager &m) {
    std::lock_guard<std::mutex> hold(m.lock);
    const uint32_t id = m.next;
    m.next += 2;
    if (m.next >= m.runs[m.current] + PeerManager::kRun) {
        m.current = (m.current + 1) % 3;
        m.runs[m.current] = PeerReserveRun();
        m.next = m.runs[m.current];
    }
    return id;
}

PeerManager g_peerManager;

void BM_PeerMutexNextId(benchmark::State &state) {
    for (auto _ : state) benchmark::DoNotOptimize(PeerNextId(g_peerManager));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PeerMutexNextId)->Threads(1)->Threads(2)->UseRealTime();

void BM_ManagerNextIdWithExchange(benchmark::State &state) {
    EvIdManager *m = &TheLevel().exchange;
    for (auto _ : state) benchmark::DoNotOptimize(ZERA_dwEvIdManagerGetNextId(m, 0));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ManagerNextIdWithExchange);

void BM_SegmentReserveAndReturn(benchmark::State &state) {
    StackHandle *h0 = TheLevel().h0;
    for (auto _ : state) {
        uint32_t first = ZERA_dwEvIdGetBlock(h0, ZERA_EVID_BLOCK_SIZE);
        benchmark::DoNotOptimize(ZERA_boEvIdFreeBlock(h0, first));
    }
}
BENCHMARK(BM_SegmentReserveAndReturn);

}  // namespace

int main(int argc, char **argv) {
    if (std::getenv("VOQ_OSAL_SHM_PREFIX") == nullptr) {
        setenv("VOQ_OSAL_SHM_PREFIX", "zbench_", 1);
        execv("/proc/self/exe", argv);  // on failure, go on with the shared segment
    }
    // The C library takes and gives its mutexes without atomic operations
    // while a process has never had a second thread, which would flatter
    // whichever side runs before the first two-thread case: both sides run
    // as in a process with threads, as the library's users are.
    std::thread([] {}).join();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
