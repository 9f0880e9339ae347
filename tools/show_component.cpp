// tools/show_component.cpp - `zera inspect`: what a component module says
// about itself: its name, its info blocks and its stack parameters.
//
// The library decides whether it takes a module, so the module is first
// added to a stack of its own; a refusal is reported as the library words
// it. A module that is taken but does not fit directly on the host level
// (its info blocks ask for another level below) is still inspected. The
// info blocks and parameters are then read from the module's own exports,
// as the binding reads them.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "ZERA_Component.h"
#include "cli.h"
#include "commands.h"
#include "host_stack.h"
#include "params.h"
#include "report.h"

namespace tool {

namespace {

std::string FileName(const std::string &component) {
    const std::string suffix = ".COMPONENT";
    if (component.size() >= suffix.size()) {
        std::string tail = component.substr(component.size() - suffix.size());
        for (char &c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (tail == suffix) return component;
    }
    return component + suffix;
}

// How the add went: taken (and whether on the host level), or refused.
struct AddOutcome {
    bool refused = false;
    bool wide = false;
    bool onHostLevel = false;
    std::string note;  // why it does not sit on the host level, or the refusal
};

bool FitsNotOnHost(uint32_t code) { return code == OSAL_ERR_INFO_MISMATCH || code == OSAL_ERR_VERSION_MISMATCH; }

AddOutcome TryAdd(const std::string &component) {
    AddOutcome outcome;
    HostStack stack;
    std::string error;
    if (!stack.Ready(&error)) {
        outcome.refused = true;
        outcome.note = error;
        return outcome;
    }
    if (ZERA_bAddToStackA(stack.h0(), component.c_str()) != 0) {
        outcome.onHostLevel = true;
        return outcome;
    }
    uint32_t code = OSAL_dwGetLastError();
    std::string text = LastErrorText();
    if (code == OSAL_ERR_MODULE_REFUSED) {
        // A component may offer the wide binding only.
        std::u16string wide(component.begin(), component.end());
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

void PrintInfoBlock(const char *title, const InfoBlock &b) {
    std::printf("%s\n", title);
    std::printf("  version      %u.%u (partners from minor %u)\n", b.dwVersion >> 16, b.dwVersion & 0xFFFFu,
                b.u16MinPartnerMinor);
    std::printf("  flags        0x%08X%s\n", b.dwFlags, b.dwFlags == ZERA_INFO_COMPLETES_STACK ? " (completes the stack)" : "");
    std::printf("  range A      %u..%u\n", b.dwRangeALow, b.dwRangeAHigh);
    std::printf("  range B      %u..%u\n", b.dwRangeBLow, b.dwRangeBHigh);
}

template <typename Fn>
Fn Export(OSAL_HMODULE module, const char *name) {
    return reinterpret_cast<Fn>(OSAL_pfnGetProcAddress(module, name));
}

// The level name the library makes of a module's name export: without a
// path and without one of the module suffixes.
std::string LevelName(const char *exported) {
    std::string name = exported;
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    for (const char *suffix : {".DLL", ".EXE", ".COMPONENT", ".PLUGIN"}) {
        const size_t n = std::strlen(suffix);
        if (name.size() <= n) continue;
        std::string tail = name.substr(name.size() - n);
        for (char &c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (tail == suffix) {
            name.erase(name.size() - n);
            break;
        }
    }
    return name;
}

int Inspect(const std::string &component) {
    const std::string file = FileName(component);
    OSAL_HMODULE module = OSAL_hLoadLibraryA(file.c_str());
    if (module == nullptr) {
        std::fprintf(stderr, "zera inspect: cannot load %s: %s\n", file.c_str(), LastErrorText().c_str());
        return kExitFailed;
    }
    const AddOutcome outcome = TryAdd(component);
    if (outcome.refused) {
        OSAL_boFreeLibrary(module);
        std::fprintf(stderr, "zera inspect: %s is refused: %s\n", file.c_str(), outcome.note.c_str());
        return kExitFailed;
    }
    auto infoInit = Export<ZERA_PFN_INFOBLOCK_INIT>(module, "ZERA_vInfoBlockInitialize");
    auto setup = Export<ZERA_PFN_SETUP_PARLIST>(module, outcome.wide ? "ZERA_boSetupParListW" : "ZERA_boSetupParListA");
    InfoBlock *own = ZERA_pstInfoBlockCreate();
    InfoBlock *upper = ZERA_pstInfoBlockCreate();
    Param *params = nullptr;
    int status = kExitOk;
    if (infoInit == nullptr || setup == nullptr || own == nullptr || upper == nullptr) {
        std::fprintf(stderr, "zera inspect: cannot read %s: %s\n", file.c_str(), LastErrorText().c_str());
        status = kExitFailed;
    } else {
        infoInit(own, upper);
        if (!setup(own->dwFlags, &params)) {
            std::fprintf(stderr, "zera inspect: the parameter setup of %s failed: %s\n", file.c_str(),
                         LastErrorText().c_str());
            status = kExitFailed;
        }
    }
    if (status == kExitOk) {
        const auto *name = reinterpret_cast<const char *>(OSAL_pfnGetProcAddress(module, "ZERA_hsModuleName"));
        if (name != nullptr) std::printf("component    %s (exports \"%s\")\n", LevelName(name).c_str(), name);
        else std::printf("component    (exports no name)\n");
        std::printf("module       %s%s\n", file.c_str(), outcome.wide ? " (wide binding only)" : "");
        std::printf("host level   %s\n", outcome.onHostLevel ? "sits directly on the host level"
                                                             : ("needs another level below it (" + outcome.note + ")").c_str());
        PrintInfoBlock("info block (own)", *own);
        PrintInfoBlock("info block (accepted above it)", *upper);
        std::printf("stack parameters\n");
        PrintParams(ViewParams(params, outcome.wide), 2, stdout);
    }
    if (outcome.wide) ZERA_vDeleteParamListW(params);
    else ZERA_vDeleteParamListA(params);
    ZERA_boInfoBlockDelete(own);
    ZERA_boInfoBlockDelete(upper);
    OSAL_boFreeLibrary(module);
    return status;
}

}  // namespace

int CommandInspect(const std::vector<std::string> &args) {
    std::string component;
    bool help = false;
    if (!ParseInspect(args, &component, &help)) return kExitUsage;
    if (help) return kExitOk;
    return Inspect(component);
}

}  // namespace tool
