// tools/description.cpp - a stack description packet decoded level by
// level and printed as text or JSON (zera describe, zera top --describe).
#include "description.h"

#include <cstdio>
#include <string>
#include <vector>

#include "host_stack.h"
#include "json.h"
#include "params.h"
#include "report.h"

namespace tool {

namespace {

struct LevelEntry {
    uint32_t level = 0;
    uint32_t status = 0;
    std::string name;
    std::vector<ParamView> params;
};

// Reads every entry of the packet; false with a message when it is short
// or malformed.
bool Decode(ZERA_HPACKET packet, std::vector<LevelEntry> *entries, std::string *error) {
    uint8_t count = 0;
    if (!ZERA_boUnmarshalByte(packet, &count)) {
        *error = "cannot read the entry count: " + LastErrorText();
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        StackHandle *record = nullptr;
        uint32_t status = 0;
        char *name = nullptr;
        if (!ZERA_boUnmarshalStackDescriptionEntryA(packet, &record, &status, &name)) {
            *error = "cannot read entry " + std::to_string(i + 1) + " of " + std::to_string(count) + ": " +
                     LastErrorText();
            return false;
        }
        LevelEntry entry;
        entry.level = record->u8Level;
        entry.status = status;
        entry.name = name != nullptr ? name : "";
        entry.params = ViewParams(record->pstStackParams, false);
        entries->push_back(entry);
        ZERA_vFree(name);
        ZERA_vDeleteStackHandleLevel(record);
    }
    return true;
}

void PrintText(const std::vector<LevelEntry> &entries) {
    std::printf("stack description: %zu levels, top first\n", entries.size());
    for (const LevelEntry &e : entries) {
        std::printf("level %u  %s  status 0x%08X (%s)\n", e.level, e.name.empty() ? "(unnamed)" : e.name.c_str(),
                    e.status, StatusWords(e.status).c_str());
        PrintParams(e.params, 2, stdout);
    }
}

void PrintJson(const std::vector<LevelEntry> &entries) {
    JsonWriter json(stdout);
    json.BeginObject();
    json.Key("levels");
    json.BeginArray();
    for (const LevelEntry &e : entries) {
        json.BeginObject();
        WriteLevelJson(e.level, e.name, e.status, &json);
        json.Key("params");
        WriteParamsJson(e.params, &json);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    json.End();
}

}  // namespace

bool PrintDescription(ZERA_HPACKET packet, bool json, std::string *error) {
    std::vector<LevelEntry> entries;
    if (!Decode(packet, &entries, error)) return false;
    if (json) PrintJson(entries);
    else PrintText(entries);
    return true;
}

}  // namespace tool
