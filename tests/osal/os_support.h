// tests/osal/os_support.h - what the platform tests need from the system, in
// one form on both halves (helper processes, environment, folders, module and
// segment file names), so tests/osal runs unchanged on Linux and under Wine.
// Included by tests/osal only.
#ifndef ZERA_TESTS_OSAL_OS_SUPPORT_H
#define ZERA_TESTS_OSAL_OS_SUPPORT_H

#include <functional>
#include <string>
#include <vector>

namespace ot {

// A helper process's routine: its parent's argument in, its exit code out.
using ChildRoutine = int (*)(const std::string &arg);
bool RegisterChildRoutine(const char *name, ChildRoutine routine);

// Defines a routine `name` that Child can start by that name.
#define OSAL_CHILD_ROUTINE(name)                                                  \
    int name(const std::string &arg);                                             \
    const bool name##Registered = ::ot::RegisterChildRoutine(#name, &name);       \
    int name(const std::string &arg)

// True when lock(), run on another thread, still waits after a while and
// succeeds once release() has run (unlock() then undoes it on that thread):
// a lock that excludes until released.
bool WaitsFor(const std::function<bool()> &lock, const std::function<void()> &unlock,
              const std::function<void()> &release);

// In a helper process: tells the parent one step.
void Tell();
// In a helper process: waits for the parent to kill it.
[[noreturn]] void WaitToBeKilled();

// A helper process running a routine of this program (a forked copy on
// POSIX, this program started again on Windows); killed by the destructor.
class Child {
public:
    Child(const char *routine, const std::string &arg);
    // A forked child that runs body (POSIX only: see kHaveFork).
    explicit Child(const std::function<int()> &body);
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // True when the child reports a step within the time.
    bool Heard(int timeoutMs);
    // Kills the child and waits until it is gone.
    void Kill();
    // Waits for the child to end: its exit code, or -1 when it was killed.
    int Wait();

private:
    struct State;
    State *state_;
};

// Processes can be forked (POSIX); a Windows process has no fork.
extern const bool kHaveFork;
// The system's id of this process.
unsigned long ProcessId();
// Sets (value null: removes) a variable of this process's environment.
void SetEnv(const char *name, const char *value);
// The folder of the running program, without a trailing separator.
const std::string &ProgramDirectory();
// The file name of a test module ("name.so", "name.dll").
std::string ModuleFile(const char *base);
// A system module every machine has, one of its exports, and a name the
// system's lookup through it finds in another module.
extern const char *const kSystemModule;
extern const char *const kSystemModuleExport;
extern const char *const kSystemModuleForeign;
// Files of the segment `name` under `prefix` (none on Windows: kSegmentsAreFiles).
std::vector<std::string> SegmentFiles(const std::string &prefix, const std::string &name);
// The folder of this user's segments: $XDG_RUNTIME_DIR/VOQ_OSAL when that is
// the user's private folder, else /dev/shm/VOQ_OSAL-<uid> (POSIX only).
std::string SegmentFolder();
extern const bool kSegmentsAreFiles;

}  // namespace ot

#endif  // ZERA_TESTS_OSAL_OS_SUPPORT_H
