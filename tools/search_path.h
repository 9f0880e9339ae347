// tools/search_path.h - where the tool finds component modules, for every
// command: the folders of ZERA_COMPONENT_PATH, then the current folder, the
// tool's own folder and the installed components folder (found relative to
// the tool, so an installed tree works wherever it lies). Also the verbose
// log on stderr. Included by the tool's sources only.
#ifndef ZERA_TOOLS_SEARCH_PATH_H
#define ZERA_TOOLS_SEARCH_PATH_H

#include <string>
#include <vector>

namespace tool {

struct SearchFolder {
    std::string path;
    std::string role;  // "ZERA_COMPONENT_PATH", "current folder", "tool's folder", "installed components"
};

// The folders in search order, each once (by its real path); folders that
// do not exist are left out.
std::vector<SearchFolder> SearchPath();

// "<name>.COMPONENT", or the name itself when it ends with that suffix (in
// any case), as the library names module files.
std::string ModuleFileName(const std::string &name);

// The module file to load for a component name: a name with a folder in it
// as given (with the suffix added as the library adds it); a bare name in
// the first folder of the search path that has its module file. Empty, with
// *error saying where it looked, when none has it.
std::string FindComponent(const std::string &name, std::string *error);

// The verbose log: lines on stderr, "zera: " first, when switched on.
void SetVerbose(bool on);
void LogVerbose(const std::string &line);
// Logs the search path (once per run of the tool).
void LogSearchPath();

}  // namespace tool

#endif  // ZERA_TOOLS_SEARCH_PATH_H
