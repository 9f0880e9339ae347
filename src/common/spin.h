/*
 * common/spin.h - waiting a few instructions' worth for another thread
 * without a system call: the processor's spin hint, and a lock for
 * critical sections so short that putting a contender to sleep (and waking
 * it again) costs far more than the section itself.
 *
 * Internal: header-only, included by src/ (the library and the platform
 * layer).
 */
#ifndef ZERA_COMMON_SPIN_H
#define ZERA_COMMON_SPIN_H

#include <atomic>
#include <thread>

#if defined(_MSC_VER)
#include <intrin.h>
#endif
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
#include <sys/single_threaded.h>
#define ZERA_SPIN_KNOWS_SINGLE_THREAD 1
#endif

namespace spin {

// Tells the processor that the caller is spinning (lets the other hardware
// thread of the core run, saves power); nothing where there is no such hint.
inline void CpuRelax() {
#if defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
    __asm__ __volatile__("yield");
#elif defined(_MSC_VER) && (defined(_M_IX86) || defined(_M_X64))
    _mm_pause();
#endif
}

// Meets the standard's Lockable requirements (std::lock_guard works). A
// contender spins for a while, then gives the processor away between looks,
// so a holder that lost its processor is not starved by the spinners. For
// memory of one process only: in a process with one thread it skips the
// atomic operation, which another process could not see.
class SpinLock {
public:
    void lock() noexcept {
#if defined(ZERA_SPIN_KNOWS_SINGLE_THREAD)
        // With no second thread in the process nobody can contend, and the
        // next thread to start sees this store through its creation: the
        // C library's own locks skip the atomic operation the same way.
        if (__libc_single_threaded) {
            locked_.store(true, std::memory_order_relaxed);
            return;
        }
#endif
        unsigned spins = 0;
        while (locked_.exchange(true, std::memory_order_acquire)) {
            while (locked_.load(std::memory_order_relaxed)) {
                if (++spins < kSpinsBeforeYield) {
                    CpuRelax();
                } else {
                    std::this_thread::yield();
                }
            }
        }
    }
    bool try_lock() noexcept {
        return !locked_.load(std::memory_order_relaxed) && !locked_.exchange(true, std::memory_order_acquire);
    }
    void unlock() noexcept { locked_.store(false, std::memory_order_release); }

private:
    static constexpr unsigned kSpinsBeforeYield = 256;
    std::atomic<bool> locked_{false};
};

}  // namespace spin

#endif  // ZERA_COMMON_SPIN_H
