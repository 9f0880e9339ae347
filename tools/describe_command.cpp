// tools/describe_command.cpp - `zera describe`: builds a stack and decodes
// the stack description packet that level 0's marshalling hook (entry slot
// 0) writes: one entry per level, from the top down to level 0.
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "description.h"
#include "host_stack.h"

namespace tool {

namespace {

struct DescribeOptions : CommonOptions {
    std::vector<std::string> components;
};

bool ParseDescribe(const CommandLine &line, DescribeOptions *out) {
    out->components = line.words;
    return !out->components.empty() || line.Bad("name the components of the stack, bottom to top");
}

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

int CommandDescribe(const CommandLine &line) {
    return RunParsed<DescribeOptions>(line, ParseDescribe, Describe);
}

}  // namespace tool
