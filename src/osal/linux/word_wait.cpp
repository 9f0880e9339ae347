// osal/linux/word_wait.cpp - waits on a word on private futexes.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "osal/platform.h"

namespace osal {

// Private futexes: a word lives in one process's memory.
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the futex is the word itself");
// A word that changed before the sleep (EAGAIN) and a signal (EINTR) send
// the caller to look again; any other failure is a word that is not one.
void WordWait(std::atomic<uint32_t> *word, uint32_t expected) {
    const long rc =
        syscall(SYS_futex, reinterpret_cast<uint32_t *>(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
    if (rc != 0 && errno != EAGAIN && errno != EINTR) SystemCallFailed("futex wait", LastSystemError());
}

void WordWakeOne(std::atomic<uint32_t> *word) {
    if (syscall(SYS_futex, reinterpret_cast<uint32_t *>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0) < 0)
        SystemCallFailed("futex wake", LastSystemError());
}

}  // namespace osal
