// osal/win/word_wait.cpp - waits on a word: WaitOnAddress and its wake.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "osal/platform.h"

namespace osal {

void WordWait(std::atomic<uint32_t> *word, uint32_t expected) {
    // Without a time limit it fails only on an address that is not a word.
    if (!WaitOnAddress(word, &expected, sizeof expected, INFINITE)) SystemCallFailed("WaitOnAddress", LastSystemError());
}

void WordWakeOne(std::atomic<uint32_t> *word) { WakeByAddressSingle(word); }

}  // namespace osal
