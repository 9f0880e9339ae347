// library/library_start.cpp - what happens when a process loads and unloads
// the library: the platform layer's start (the ready flag), the process key
// that masks the link from level 0 to level 1, and the identifier segment.
//
// The loader notifications arrive through a constructor/destructor pair on
// ELF platforms and through DllMain on Windows; both call OnProcessAttach and
// OnProcessDetach and nothing else.
#include "evid/evid.h"
#include "handle/handle.h"
#include "library/library.h"
#include "trace/trace.h"

namespace zera {

namespace {
// Written once in OnProcessAttach, before any operation of the library can
// run, and read without a lock afterwards.
bool g_ready = false;

void OnProcessAttach() {
    g_ready = OSAL_boInit() != 0;
    TimeVal now{};
    OSAL_vGetSystemTime(&now);
    SetPointerKey(MakePointerKey(now.i32Seconds));
    OpenIdSegment();
    trace::ConfigureDebugFromEnvironment();
    trace::StartTimelineFromEnvironment();
}

void OnProcessDetach() {
    trace::Shutdown();
    // The platform layer counts its starts; only a successful one is undone.
    if (g_ready) OSAL_vDeinit();
    g_ready = false;
    CloseIdSegment();
}
}  // namespace

bool LibraryReady() { return g_ready; }

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
