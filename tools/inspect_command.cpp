// tools/inspect_command.cpp - `zera inspect`: what a component module says
// about itself: its file, name, info blocks, stack parameters, and the
// exports the library cannot use as they are.
//
// The library decides whether it takes a module, so the module is first
// added to a stack of its own; a refusal is reported as the library words
// it. A module that is taken but does not fit directly on the host level
// (its info blocks ask for another level below) is still inspected. The
// info blocks and parameters are then read from the module's own exports,
// as the binding reads them.
#include <cstdio>
#include <string>

#include "ZERA_Component.h"
#include "command.h"
#include "component_info.h"
#include "host_stack.h"
#include "params.h"
#include "search_path.h"

namespace tool {

namespace {

struct InspectOptions : CommonOptions {
    std::string component;
    bool exists = false;  // only the exit status: 0 a component the library takes, 1 not
};

bool ParseInspect(const CommandLine &line, InspectOptions *out) {
    if (line.words.size() != 1) return line.Bad("name exactly one component");
    out->component = line.words[0];
    out->exists = !line.options.empty();  // --exists, its only option
    return true;
}

// How the add went: taken (and whether on the host level), or refused.
struct AddOutcome {
    bool refused = false;
    bool wide = false;
    bool onHostLevel = false;
    std::string note;  // why it does not sit on the host level, or the refusal
};

bool FitsNotOnHost(uint32_t code) { return code == OSAL_ERR_INFO_MISMATCH || code == OSAL_ERR_VERSION_MISMATCH; }

AddOutcome TryAdd(const std::string &file) {
    AddOutcome outcome;
    HostStack stack;
    std::string error;
    if (!stack.Ready(&error)) {
        outcome.refused = true;
        outcome.note = error;
        return outcome;
    }
    if (ZERA_bAddToStackA(stack.h0(), file.c_str()) != 0) {
        outcome.onHostLevel = true;
        return outcome;
    }
    uint32_t code = OSAL_dwGetLastError();
    std::string text = LastErrorText();
    if (code == OSAL_ERR_MODULE_REFUSED) {
        // A component may offer the wide binding only.
        std::u16string wide(file.begin(), file.end());
        if (ZERA_bAddToStackW(stack.h0(), reinterpret_cast<const WCHAR16 *>(wide.c_str())) != 0) {
            outcome.wide = outcome.onHostLevel = true;
            return outcome;
        }
        if (FitsNotOnHost(OSAL_dwGetLastError())) {
            outcome.wide = true;
            code = OSAL_dwGetLastError();
            text = LastErrorText();
        }
    }
    if (FitsNotOnHost(code)) {
        outcome.note = text;
        return outcome;
    }
    outcome.refused = true;
    outcome.note = text;
    return outcome;
}

void PrintInfoBlock(const char *title, const InfoBlock &b, bool own) {
    std::printf("%s\n", title);
    std::printf("  version      %s\n", VersionText(b).c_str());
    std::printf("  flags        0x%08X%s\n", b.dwFlags,
                own && b.dwFlags == ZERA_INFO_COMPLETES_STACK ? " (completes the stack)" : "");
    std::printf("  range A      %u..%u\n", b.dwRangeALow, b.dwRangeAHigh);
    std::printf("  range B      %u..%u\n", b.dwRangeBLow, b.dwRangeBHigh);
}

void PrintText(const std::string &file, const ComponentInfo &info, const AddOutcome &outcome,
               const std::vector<ParamView> &params) {
    if (!info.exportedName.empty()) std::printf("component    %s (exports \"%s\")\n", info.name.c_str(), info.exportedName.c_str());
    else std::printf("component    (exports no name)\n");
    std::printf("module       %s%s\n", file.c_str(), outcome.wide ? " (wide binding only)" : "");
    PrintAbout(info, "", 12);
    std::printf("host level   %s\n", outcome.onHostLevel ? "sits directly on the host level"
                                                         : ("needs another level below it (" + outcome.note + ")").c_str());
    PrintInfoBlock("info block (own)", info.own, true);
    PrintInfoBlock("info block (accepted above it)", info.upper, false);
    std::printf("accepts      %s\n", AcceptsText(info.upper).c_str());
    std::printf("stack parameters\n");
    PrintParams(params, 2, stdout);
    for (const std::string &w : info.warnings) std::printf("warning      %s\n", w.c_str());
}

void PrintJson(const std::string &file, const ComponentInfo &info, const AddOutcome &outcome,
               const std::vector<ParamView> &params) {
    JsonWriter json(stdout);
    json.BeginObject();
    json.Field("component", info.name);
    json.Field("name_export", info.exportedName);
    json.Field("file", file);
    WriteAboutJson(info, &json);
    json.Key("wide_only");
    json.Bool(outcome.wide);
    json.Key("on_host_level");
    json.Bool(outcome.onHostLevel);
    if (!outcome.onHostLevel) json.Field("host_level_note", outcome.note);
    json.Key("info_block");
    WriteInfoBlockJson(info.own, &json);
    json.Key("accepts");
    WriteInfoBlockJson(info.upper, &json);
    json.Field("accepts_text", AcceptsText(info.upper));
    json.Key("params");
    WriteParamsJson(params, &json);
    json.Key("warnings");
    json.BeginArray();
    for (const std::string &w : info.warnings) json.String(w);
    json.EndArray();
    json.EndObject();
    json.End();
}

// --exists: only the exit status says whether the library takes the component.
int Exists(const InspectOptions &options) {
    std::string missing;
    const std::string file = FindComponent(options.component, &missing);
    if (file.empty()) return kExitFailed;
    return TryAdd(file).refused ? kExitFailed : kExitOk;
}

int Inspect(const InspectOptions &options) {
    if (options.exists) return Exists(options);
    LogSearchPath();
    std::string missing;
    const std::string file = FindComponent(options.component, &missing);
    if (file.empty()) {
        std::fprintf(stderr, "zera inspect: cannot find component '%s': %s\n", options.component.c_str(), missing.c_str());
        return kExitFailed;
    }
    OSAL_HMODULE module = OSAL_hLoadLibraryA(file.c_str());
    if (module == nullptr) {
        std::fprintf(stderr, "zera inspect: cannot load %s: %s\n", file.c_str(), LastErrorText().c_str());
        return kExitFailed;
    }
    LogVerbose(options.component + " loaded from " + file);
    const AddOutcome outcome = TryAdd(file);
    if (outcome.refused) {
        OSAL_boFreeLibrary(module);
        std::fprintf(stderr, "zera inspect: %s is refused: %s\n", file.c_str(), outcome.note.c_str());
        return kExitFailed;
    }
    const ComponentInfo info = ReadComponent(module);
    auto setup = reinterpret_cast<ZERA_PFN_SETUP_PARLIST>(
        OSAL_pfnGetProcAddress(module, outcome.wide ? "ZERA_boSetupParListW" : "ZERA_boSetupParListA"));
    Param *params = nullptr;
    int status = kExitOk;
    if (setup == nullptr || !setup(info.own.dwFlags, &params)) {
        std::fprintf(stderr, "zera inspect: the parameter setup of %s failed: %s\n", file.c_str(), LastErrorText().c_str());
        status = kExitFailed;
    } else if (options.json) {
        PrintJson(file, info, outcome, ViewParams(params, outcome.wide));
    } else {
        PrintText(file, info, outcome, ViewParams(params, outcome.wide));
    }
    if (outcome.wide) ZERA_vDeleteParamListW(params);
    else ZERA_vDeleteParamListA(params);
    OSAL_boFreeLibrary(module);
    return status;
}

}  // namespace

int CommandInspect(const CommandLine &line) {
    return RunParsed<InspectOptions>(line, ParseInspect, Inspect);
}

}  // namespace tool
