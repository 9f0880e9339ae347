// tools/describe_command.cpp - `zera describe`: builds a stack and decodes
// the stack description packet that level 0's marshalling hook (entry slot
// 0) writes: one entry per level, from the top down to level 0.
#include <cstdio>
#include <string>

#include "cli.h"
#include "commands.h"
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
        json.Field("level", e.level);
        json.Field("component", e.name);
        json.Field("status", e.status);
        json.Field("status_words", StatusWords(e.status));
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

namespace {

int Describe(const DescribeOptions &options) {
    HostStack stack;
    std::string error;
    if (!stack.Ready(&error) || !stack.Build(options.components, &error)) {
        std::fprintf(stderr, "zera describe: %s\n", error.c_str());
        return kExitFailed;
    }
    auto hook = reinterpret_cast<ZERA_PFN_MARSHAL_LEVEL>(stack.h0()->apfnEntry[ZERA_ENTRY_MARSHAL_LEVEL]);
    if (hook == nullptr) {
        std::fprintf(stderr, "zera describe: level 0 has no level-marshalling hook\n");
        return kExitFailed;
    }
    ZERA_HPACKET packet = hook(stack.h0(), 0, 1);
    if (packet == nullptr) {
        std::fprintf(stderr, "zera describe: no stack description: %s\n", LastErrorText().c_str());
        return kExitFailed;
    }
    const bool printed = PrintDescription(packet, options.json, &error);
    ZERA_vRetrieveStackHandleDone(packet);
    if (!printed) {
        std::fprintf(stderr, "zera describe: %s\n", error.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int CommandDescribe(const std::vector<std::string> &args) {
    return RunParsed<DescribeOptions>(args, ParseDescribe, Describe);
}

}  // namespace tool
