// tools/component_info.h - what a component module says about itself,
// read from its exports without adding it to a stack: its name, who made it
// (author, description, licence), its two info blocks, and the exports the library cannot use as they are (one name
// of a pair it looks up whole). Shared by `zera inspect` and `zera list`.
// Included by the tool's sources only.
#ifndef ZERA_TOOLS_COMPONENT_INFO_H
#define ZERA_TOOLS_COMPONENT_INFO_H

#include <string>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "json.h"

namespace tool {

struct ComponentInfo {
    std::string exportedName;  // the name export ("ZERA_hsModuleName"), "" without one
    std::string name;          // the level name the library makes of it
    std::string notComponent;  // why the library takes no level from it, or ""
    std::string author;        // the optional about exports, "" without them
    std::string description;
    std::string licence;
    InfoBlock own{};           // what its levels are
    InfoBlock upper{};         // what they accept on top
    std::vector<std::string> warnings;
};

// Reads a loaded module: its name export, its info blocks (its
// ZERA_vInfoBlockInitialize runs on blocks of the tool's own) and its
// warnings. A module that is no component gets notComponent and no blocks.
ComponentInfo ReadComponent(OSAL_HMODULE module);

// "0.1 (partners from minor 0)".
std::string VersionText(const InfoBlock &b);
// What an upper block takes on top, in words.
std::string AcceptsText(const InfoBlock &upper);
// The author, description and licence lines (text) that a module gives;
// nothing for those it does not.
void PrintAbout(const ComponentInfo &info, const char *indent, int width);
// The same as JSON fields of the open object ("" for those it does not give).
void WriteAboutJson(const ComponentInfo &info, JsonWriter *json);
// An info block's fields as a JSON object.
void WriteInfoBlockJson(const InfoBlock &b, JsonWriter *json);

}  // namespace tool

#endif  // ZERA_TOOLS_COMPONENT_INFO_H
