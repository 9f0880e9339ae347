// tools/version_command.cpp - `zera version`: the tool's version.
#include <cstdio>

#include "command.h"
#include "json.h"

namespace tool {

namespace {

bool ParseVersion(const CommandLine &line, CommonOptions *) {
    return line.words.empty() || line.Bad("takes no arguments");
}

int Version(const CommonOptions &options) {
    if (options.json) {
        JsonWriter json(stdout);
        json.BeginObject();
        json.Field("tool", "zera");
        json.Field("version", ZERA_TOOL_VERSION);
        json.EndObject();
        json.End();
    } else {
        std::printf("zera %s\n", ZERA_TOOL_VERSION);
    }
    return kExitOk;
}

}  // namespace

int CommandVersion(const CommandLine &line) { return RunParsed<CommonOptions>(line, ParseVersion, Version); }

}  // namespace tool
