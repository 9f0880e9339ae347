// tools/search_path.cpp - the component search path and the verbose log.
#include "search_path.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "ZERA_Host.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#undef SearchPath  // the system's macro for SearchPathA, not this file's function
#endif

namespace fs = std::filesystem;

namespace tool {

namespace {

bool g_verbose = false;

// ---- The one platform-specific part: the running tool's own file ----
#if defined(_WIN32)
fs::path ToolFolder() {
    wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
    return n == 0 || n >= sizeof path / sizeof path[0] ? fs::path() : fs::path(path).parent_path();
}
// A name with a folder in it is used as given.
bool NamesAFolder(const std::string &name) { return name.find_first_of("/\\:") != std::string::npos; }
#else
fs::path ToolFolder() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : exe.parent_path();
}
bool NamesAFolder(const std::string &name) { return name.find('/') != std::string::npos; }
#endif

std::vector<SearchFolder> Candidates() {
    std::vector<SearchFolder> folders;
    if (const char *path = std::getenv("ZERA_COMPONENT_PATH")) {
        const std::string list = path;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(ZERA_COMPONENT_PATH_SEPARATOR, start);
            if (end == std::string::npos) end = list.size();
            if (end > start) folders.push_back({list.substr(start, end - start), "ZERA_COMPONENT_PATH"});
            start = end + 1;
        }
    }
    std::error_code error;
    const fs::path cwd = fs::current_path(error);
    if (!error) folders.push_back({cwd.string(), "current folder"});
    const fs::path tool = ToolFolder();
    if (!tool.empty()) {
        folders.push_back({tool.string(), "tool's folder"});
        folders.push_back({(tool / ZERA_TOOL_COMPONENT_DIR).lexically_normal().string(), "installed components"});
    }
    return folders;
}

std::string Describe(const std::vector<SearchFolder> &folders) {
    std::string text;
    for (const SearchFolder &f : folders) text += (text.empty() ? "" : ", ") + f.path + " (" + f.role + ")";
    return text.empty() ? "no folder" : text;
}

}  // namespace

std::vector<SearchFolder> SearchPath() {
    std::vector<SearchFolder> folders;
    std::vector<fs::path> seen;
    for (const SearchFolder &f : Candidates()) {
        std::error_code error;
        const fs::path real = fs::canonical(f.path, error);
        if (error || !fs::is_directory(real, error)) continue;
        bool again = false;
        for (const fs::path &p : seen) again = again || p == real;
        if (again) continue;
        seen.push_back(real);
        folders.push_back({real.string(), f.role});
    }
    return folders;
}

std::string ModuleFileName(const std::string &name) {
    const std::string suffix = ".COMPONENT";
    if (name.size() > suffix.size()) {
        std::string tail = name.substr(name.size() - suffix.size());
        for (char &c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (tail == suffix) return name;
    }
    return name + suffix;
}

std::string FindComponent(const std::string &name, std::string *error) {
    const std::string file = ModuleFileName(name);
    if (NamesAFolder(name)) return file;
    const std::vector<SearchFolder> folders = SearchPath();
    for (const SearchFolder &f : folders) {
        const fs::path candidate = fs::path(f.path) / file;
        std::error_code ignored;
        if (fs::exists(candidate, ignored)) return candidate.string();
    }
    *error = "no " + file + " in " + Describe(folders);
    return "";
}

void SetVerbose(bool on) { g_verbose = on; }

void LogVerbose(const std::string &line) {
    if (g_verbose) std::fprintf(stderr, "zera: %s\n", line.c_str());
}

void LogSearchPath() {
    const char *path = std::getenv("ZERA_COMPONENT_PATH");
    LogVerbose(std::string("ZERA_COMPONENT_PATH ") + (path != nullptr ? "'" + std::string(path) + "'" : "not set"));
    LogVerbose("search path: " + Describe(SearchPath()));
}

}  // namespace tool
