// tools/list_command.cpp - `zera list`: every component on the search path,
// once (the first found, which the other commands load), with its name,
// file, version and what it accepts on top of it.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include "command.h"
#include "component_info.h"
#include "host_stack.h"
#include "search_path.h"

namespace fs = std::filesystem;

namespace tool {

namespace {

struct Entry {
    std::string file;
    std::string folderRole;
    std::string loadError;  // the module could not be loaded
    ComponentInfo info;
};

bool IsModuleFile(const fs::path &p) {
    std::string name = p.filename().string();
    for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string suffix = ".COMPONENT";
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The module files of every folder, in search order, each file name once.
std::vector<Entry> Collect() {
    std::vector<Entry> entries;
    std::set<std::string> seen;
    for (const SearchFolder &folder : SearchPath()) {
        std::vector<fs::path> files;
        std::error_code error;
        for (fs::directory_iterator it(folder.path, error), end; !error && it != end; it.increment(error)) {
            if (IsModuleFile(it->path())) files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path &f : files) {
            if (!seen.insert(f.filename().string()).second) continue;
            Entry e;
            e.file = f.string();
            e.folderRole = folder.role;
            OSAL_HMODULE module = OSAL_hLoadLibraryA(e.file.c_str());
            if (module == nullptr) {
                e.loadError = LastErrorText();
            } else {
                LogVerbose("loaded " + e.file);
                e.info = ReadComponent(module);
                OSAL_boFreeLibrary(module);
            }
            entries.push_back(e);
        }
    }
    return entries;
}

void PrintText(const std::vector<Entry> &entries) {
    if (entries.empty()) {
        std::printf("no components on the search path (see zera help list)\n");
        return;
    }
    for (const Entry &e : entries) {
        const std::string name = !e.info.name.empty() ? e.info.name : fs::path(e.file).stem().string();
        std::printf("%-12s %s (%s)\n", name.c_str(), e.file.c_str(), e.folderRole.c_str());
        if (!e.loadError.empty()) {
            std::printf("             cannot be loaded: %s\n", e.loadError.c_str());
        } else if (!e.info.notComponent.empty()) {
            std::printf("             no component: %s\n", e.info.notComponent.c_str());
        } else {
            PrintAbout(e.info, "             ", 11);
            std::printf("             version %s%s\n", VersionText(e.info.own).c_str(),
                        e.info.own.dwFlags == ZERA_INFO_COMPLETES_STACK ? ", completes the stack" : "");
            std::printf("             accepts on top: %s\n", AcceptsText(e.info.upper).c_str());
            for (const std::string &w : e.info.warnings) std::printf("             warning: %s\n", w.c_str());
        }
    }
}

void PrintJson(const std::vector<Entry> &entries) {
    JsonWriter json(stdout);
    json.BeginObject();
    json.Key("search_path");
    json.BeginArray();
    for (const SearchFolder &f : SearchPath()) {
        json.BeginObject();
        json.Field("folder", f.path);
        json.Field("role", f.role);
        json.EndObject();
    }
    json.EndArray();
    json.Key("components");
    json.BeginArray();
    for (const Entry &e : entries) {
        json.BeginObject();
        json.Field("component", e.info.name);
        json.Field("file", e.file);
        json.Field("folder_role", e.folderRole);
        if (!e.loadError.empty()) {
            json.Field("load_error", e.loadError);
        } else if (!e.info.notComponent.empty()) {
            json.Field("not_component", e.info.notComponent);
        } else {
            WriteAboutJson(e.info, &json);
            json.Key("info_block");
            WriteInfoBlockJson(e.info.own, &json);
            json.Key("accepts");
            WriteInfoBlockJson(e.info.upper, &json);
            json.Field("accepts_text", AcceptsText(e.info.upper));
            json.Key("warnings");
            json.BeginArray();
            for (const std::string &w : e.info.warnings) json.String(w);
            json.EndArray();
        }
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    json.End();
}

bool ParseList(const CommandLine &line, CommonOptions *) {
    return line.words.empty() || line.Bad("takes no component names");
}

}  // namespace

int CommandList(const CommandLine &line) {
    return RunParsed<CommonOptions>(line, ParseList, [](const CommonOptions &options) {
        LogSearchPath();
        const std::vector<Entry> entries = Collect();
        if (options.json) PrintJson(entries);
        else PrintText(entries);
        return kExitOk;
    });
}

}  // namespace tool
