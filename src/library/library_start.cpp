// library/library_start.cpp - what happens when a process loads and unloads
// the library: the platform layer's start (the ready flag), the process key
// that masks the link from level 0 to level 1, and the identifier segment.
//
// The loader notifications arrive through a constructor/destructor pair on
// ELF platforms and through DllMain on Windows; both call OnProcessAttach and
// OnProcessDetach and nothing else.
#include <cstdlib>

#include "evid/evid.h"
#include "handle/handle.h"

namespace zera {

namespace {
// Both written once in OnProcessAttach, before any operation of the library
// can run, and read without a lock afterwards.
bool g_ready = false;
ZERA_UPTR g_pointerKey = 0;

uint32_t DrawKeyWord() {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) word = word * 256u + static_cast<uint32_t>(std::rand());
    return word;
}

void OnProcessAttach() {
    g_ready = OSAL_boInit() != 0;
    TimeVal now{};
    OSAL_vGetSystemTime(&now);
    g_pointerKey = MakePointerKey(now.i32Seconds);
    OpenIdSegment();
}

void OnProcessDetach() {
    // The platform layer counts its starts; only a successful one is undone.
    if (g_ready) OSAL_vDeinit();
    g_ready = false;
    CloseIdSegment();
}
}  // namespace

bool LibraryReady() { return g_ready; }

ZERA_UPTR PointerKey() { return g_pointerKey; }

ZERA_UPTR MakePointerKey(int32_t i32Seconds) {
    std::srand(static_cast<unsigned>(i32Seconds));
    ZERA_UPTR key = DrawKeyWord();
#if UINTPTR_MAX > 0xFFFFFFFFu
    // Pointer-wide builds mask a pointer-wide link: the high half comes from
    // the next four draws, so the low half is the same key a 32-bit build makes.
    key |= static_cast<ZERA_UPTR>(DrawKeyWord()) << 32;
#endif
    return key;
}

}  // namespace zera

#if defined(_WIN32)
// The Windows loader's notifications; thread attach and detach need nothing.
// The DLL always reports success, also when the platform layer did not start.
extern "C" int __stdcall DllMain(void * /*hinstDll*/, unsigned long dwReason, void * /*pvReserved*/) {
    constexpr unsigned long kProcessDetach = 0, kProcessAttach = 1;
    if (dwReason == kProcessAttach) zera::OnProcessAttach();
    if (dwReason == kProcessDetach) zera::OnProcessDetach();
    return 1;
}
#else
__attribute__((constructor)) static void ZeraLibraryAttach() { zera::OnProcessAttach(); }
__attribute__((destructor)) static void ZeraLibraryDetach() { zera::OnProcessDetach(); }
#endif
