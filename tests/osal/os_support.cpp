// tests/osal/os_support.cpp - the system side of the platform tests (see
// os_support.h) for POSIX and Windows, and the program's main: a helper
// process on Windows is this program started again with the routine's name,
// so main runs that routine instead of the tests.
#include "osal/os_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace ot {

namespace {

std::map<std::string, ChildRoutine> &Routines() {
    static std::map<std::string, ChildRoutine> routines;
    return routines;
}

#if defined(_WIN32)
HANDLE g_toParent = nullptr;  // in a helper process: the pipe's writing end
#else
int g_toParent = -1;
#endif

constexpr const char *kChildFlag = "--osal-child=";

}  // namespace

bool RegisterChildRoutine(const char *name, ChildRoutine routine) {
    Routines()[name] = routine;
    return true;
}

void Tell() {
    char c = 1;
#if defined(_WIN32)
    DWORD written = 0;
    if (!WriteFile(g_toParent, &c, 1, &written, nullptr) || written != 1) ExitProcess(3);
#else
    if (write(g_toParent, &c, 1) != 1) _exit(3);
#endif
}

void WaitToBeKilled() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

bool WaitsFor(const std::function<bool()> &lock, const std::function<void()> &unlock,
              const std::function<void()> &release) {
    std::atomic<bool> took{false};
    std::thread taker([&] {
        took = lock();
        if (took) unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const bool waited = !took;
    release();
    taker.join();
    return waited && took;
}

#if defined(_WIN32)

struct Child::State {
    PROCESS_INFORMATION process{};
    HANDLE fromChild = nullptr;
    bool running = false;
};

Child::Child(const char *routine, const std::string &arg) : state_(new State) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    // "<program>" --osal-child=<routine> <pipe> "<arg>"
    std::string line = std::string("\"") + self + "\" " + kChildFlag + routine + " " +
                       std::to_string(reinterpret_cast<uintptr_t>(writeEnd)) + " \"" + arg + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    state_->running = CreateProcessA(self, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                     &state_->process) != 0;
    CloseHandle(writeEnd);
    state_->fromChild = readEnd;
}

Child::Child(const std::function<int()> &) : state_(new State) {}

Child::~Child() {
    Kill();
    if (state_->fromChild) CloseHandle(state_->fromChild);
    delete state_;
}

bool Child::Heard(int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        DWORD available = 0;
        if (!state_->fromChild || !PeekNamedPipe(state_->fromChild, nullptr, 0, nullptr, &available, nullptr))
            return false;  // no child, or it ended
        if (available > 0) {
            char c;
            DWORD got = 0;
            return ReadFile(state_->fromChild, &c, 1, &got, nullptr) && got == 1;
        }
        if (std::chrono::steady_clock::now() >= until) return false;
        Sleep(5);
    }
}

void Child::Kill() {
    if (!state_->running) return;
    TerminateProcess(state_->process.hProcess, 137);
    Wait();
}

int Child::Wait() {
    if (!state_->running) return -1;
    WaitForSingleObject(state_->process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(state_->process.hProcess, &code);
    CloseHandle(state_->process.hProcess);
    CloseHandle(state_->process.hThread);
    state_->running = false;
    return code == 137 ? -1 : static_cast<int>(code);
}

const bool kHaveFork = false;
unsigned long ProcessId() { return GetCurrentProcessId(); }

void SetEnv(const char *name, const char *value) { _putenv_s(name, value ? value : ""); }

const std::string &ProgramDirectory() {
    static const std::string dir = [] {
        char path[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
        return std::filesystem::path(std::string(path, n)).parent_path().string();
    }();
    return dir;
}

std::string ModuleFile(const char *base) { return std::string(base) + ".dll"; }
const char *const kSystemModule = "kernel32.dll";
const char *const kSystemModuleExport = "GetTickCount";
const char *const kSystemModuleForeign = "AcquireSRWLockExclusive";  // forwarded to ntdll

std::vector<std::string> SegmentFiles(const std::string &, const std::string &) { return {}; }
const bool kSegmentsAreFiles = false;

#else  // POSIX

struct Child::State {
    pid_t pid = -1;
    int fromChild = -1;
};

Child::Child(const char *routine, const std::string &arg)
    : Child([routine, &arg] {
          const auto found = Routines().find(routine);
          return found == Routines().end() ? 2 : found->second(arg);
      }) {}

Child::Child(const std::function<int()> &body) : state_(new State) {
    int fds[2];
    if (pipe(fds) != 0) return;
    std::fflush(nullptr);  // nothing buffered is written twice
    state_->pid = fork();
    if (state_->pid == 0) {
        close(fds[0]);
        g_toParent = fds[1];
        _exit(body());
    }
    close(fds[1]);
    state_->fromChild = fds[0];
}

Child::~Child() {
    Kill();
    if (state_->fromChild >= 0) close(state_->fromChild);
    delete state_;
}

bool Child::Heard(int timeoutMs) {
    pollfd pfd{state_->fromChild, POLLIN, 0};
    char c;
    return state_->pid > 0 && poll(&pfd, 1, timeoutMs) == 1 && read(state_->fromChild, &c, 1) == 1;
}

void Child::Kill() {
    if (state_->pid <= 0) return;
    kill(state_->pid, SIGKILL);
    Wait();
}

int Child::Wait() {
    if (state_->pid <= 0) return -1;
    int status = 0;
    const pid_t pid = waitpid(state_->pid, &status, 0);
    state_->pid = -1;
    return pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const bool kHaveFork = true;
unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

void SetEnv(const char *name, const char *value) { value ? setenv(name, value, 1) : unsetenv(name); }

const std::string &ProgramDirectory() {
    static const std::string dir = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    return dir;
}

std::string ModuleFile(const char *base) { return std::string(base) + ".so"; }
const char *const kSystemModule = "libm.so.6";
const char *const kSystemModuleExport = "cos";
const char *const kSystemModuleForeign = "malloc";  // the C library's

const bool kSegmentsAreFiles = true;

std::string SegmentFolder() {
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (runtime != nullptr && runtime[0] == '/' && lstat(runtime, &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == geteuid() && (st.st_mode & 0777) == 0700)
        return std::string(runtime) + "/VOQ_OSAL";
    return "/dev/shm/VOQ_OSAL-" + std::to_string(geteuid());
}

std::vector<std::string> SegmentFiles(const std::string &prefix, const std::string &name) {
    const std::string start = prefix + std::to_string(geteuid()) + "_" + name;
    std::vector<std::string> files;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(SegmentFolder(), error)) {
        const std::string file = entry.path().filename().string();
        if (file.compare(0, start.size(), start) == 0) files.push_back(file);
    }
    return files;
}

#endif

}  // namespace ot

int main(int argc, char **argv) {
    // ProgramDirectory is taken before any test changes the current folder
    // (an emulator may answer /proc/self/exe relative to it).
    ot::ProgramDirectory();
#if defined(_WIN32)
    if (argc >= 4 && std::strncmp(argv[1], ot::kChildFlag, std::strlen(ot::kChildFlag)) == 0) {
        const auto found = ot::Routines().find(argv[1] + std::strlen(ot::kChildFlag));
        if (found == ot::Routines().end()) return 2;
        ot::g_toParent = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(argv[2], nullptr, 10)));
        return found->second(argv[3]);
    }
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
