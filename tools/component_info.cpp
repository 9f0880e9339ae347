// tools/component_info.cpp - reading a component module's own account of
// itself, and the warnings about exports the library cannot use.
#include "component_info.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "ZERA_Component.h"

namespace tool {

namespace {

bool Has(OSAL_HMODULE module, const char *name) { return OSAL_pfnGetProcAddress(module, name) != nullptr; }

// The level name the library makes of a module's name export: without a
// path and without one of the module suffixes.
std::string LevelName(const char *exported) {
    std::string name = exported;
    const size_t slash = name.find_last_of("/\\:");
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

// Why the library would take no level from the module, or "".
std::string NotComponent(OSAL_HMODULE module) {
    if (Has(module, "ZERA_boDeleteStack")) return "it exports \"ZERA_boDeleteStack\": it is no component";
    if (!Has(module, "ZERA_boModuleInitAPIA") && !Has(module, "ZERA_boModuleInitAPIW")) {
        return "it exports no binding (\"ZERA_boModuleInitAPIA\" or \"W\")";
    }
    for (const char *required : {"ZERA_vInfoBlockInitialize", "ZERA_boModuleInit", "ZERA_boModuleDeinit"}) {
        if (!Has(module, required)) return std::string("it does not export \"") + required + "\"";
    }
    if (!Has(module, "ZERA_boSetupParListA") && !Has(module, "ZERA_boSetupParListW")) {
        return "it exports no parameter setup (\"ZERA_boSetupParListA\" or \"W\")";
    }
    return "";
}

// Exports of pairs that the library uses whole, or per width.
std::vector<std::string> Warnings(OSAL_HMODULE module) {
    std::vector<std::string> warnings;
    const struct {
        const char *a, *w, *half, *none;
    } pairs[] = {
        {"ZERA_boModuleStartCommuThreadsA", "ZERA_boModuleStartCommuThreadsW",
         "the library starts a level's threads only through both names, so its levels never start",
         "its levels never take the started status, so a host's start fails on them"},
        {"ZERA_boModuleStopCommuThreadsA", "ZERA_boModuleStopCommuThreadsW",
         "the library stops a level's threads only through both names, so they are never stopped",
         "the library never stops its levels' threads, so a host's start fails on them"},
        {"ZERA_vModuleNotifyA", "ZERA_vModuleNotifyW", nullptr, nullptr},
    };
    for (const auto &p : pairs) {
        const bool a = Has(module, p.a), w = Has(module, p.w);
        if (a == w) {
            if (!a && p.none != nullptr) warnings.push_back(std::string("exports neither ") + p.a + " nor " + p.w + ": " + p.none);
            continue;
        }
        const char *has = a ? p.a : p.w, *lacks = a ? p.w : p.a;
        std::string why = p.half != nullptr ? p.half
                                            : std::string("levels added ") + (a ? "wide" : "narrow") +
                                                  " are not told of changes";
        warnings.push_back(std::string("exports ") + has + " but not " + lacks + ": " + why);
    }
    return warnings;
}

}  // namespace

ComponentInfo ReadComponent(OSAL_HMODULE module) {
    ComponentInfo info;
    const auto *exported = reinterpret_cast<const char *>(OSAL_pfnGetProcAddress(module, "ZERA_hsModuleName"));
    if (exported != nullptr) {
        info.exportedName = exported;
        info.name = LevelName(exported);
    }
    const struct {
        const char *exportName;
        std::string *field;
    } about[] = {{"ZERA_hsComponentAuthor", &info.author},
                 {"ZERA_hsComponentDescription", &info.description},
                 {"ZERA_hsComponentLicence", &info.licence}};
    for (const auto &a : about) {
        if (const auto *text = reinterpret_cast<const char *>(OSAL_pfnGetProcAddress(module, a.exportName))) {
            *a.field = text;
        }
    }
    info.notComponent = NotComponent(module);
    if (!info.notComponent.empty()) return info;
    info.warnings = Warnings(module);
    auto infoInit = reinterpret_cast<ZERA_PFN_INFOBLOCK_INIT>(OSAL_pfnGetProcAddress(module, "ZERA_vInfoBlockInitialize"));
    InfoBlock *own = ZERA_pstInfoBlockCreate();
    InfoBlock *upper = ZERA_pstInfoBlockCreate();
    if (own != nullptr && upper != nullptr) {
        infoInit(own, upper);
        info.own = *own;
        info.upper = *upper;
    }
    ZERA_boInfoBlockDelete(own);
    ZERA_boInfoBlockDelete(upper);
    return info;
}

std::string VersionText(const InfoBlock &b) {
    return std::to_string(b.dwVersion >> 16) + "." + std::to_string(b.dwVersion & 0xFFFFu) + " (partners from minor " +
           std::to_string(b.u16MinPartnerMinor) + ")";
}

std::string AcceptsText(const InfoBlock &q) {
    const std::string family = "version " + std::to_string(q.dwVersion >> 16) + ".x from minor " +
                               std::to_string(q.u16MinPartnerMinor);
    if ((q.dwFlags & ZERA_INFO_ACCEPTS_ANY) != 0) return "any component of " + family;
    if ((q.dwFlags & (ZERA_INFO_FITS_ANY | ZERA_INFO_COMPLETES_STACK)) != 0 && (q.dwFlags & ZERA_INFO_TAKES_ON_TOP) == 0) {
        return "nothing (only a component of " + family + " whose own flags have ZERA_INFO_FITS_ANY, 0x04)";
    }
    if (q.dwFlags == ZERA_INFO_NEVER_MATCHES) return "nothing (flags ZERA_INFO_NEVER_MATCHES)";
    std::string text = "components of " + family;
    if (q.dwRangeALow != 0 || q.dwRangeAHigh != 0) {
        text += ", range A covering " + std::to_string(q.dwRangeALow) + ".." + std::to_string(q.dwRangeAHigh);
    }
    if (q.dwRangeBLow != 0 || q.dwRangeBHigh != 0) {
        text += ", range B within " + std::to_string(q.dwRangeBLow) + ".." + std::to_string(q.dwRangeBHigh);
    }
    return text;
}

void PrintAbout(const ComponentInfo &info, const char *indent, int width) {
    const struct {
        const char *label;
        const std::string &text;
    } lines[] = {{"description", info.description}, {"author", info.author}, {"licence", info.licence}};
    for (const auto &l : lines) {
        if (!l.text.empty()) std::printf("%s%-*s %s\n", indent, width, l.label, l.text.c_str());
    }
}

void WriteAboutJson(const ComponentInfo &info, JsonWriter *json) {
    json->Field("author", info.author);
    json->Field("description", info.description);
    json->Field("licence", info.licence);
}

void WriteInfoBlockJson(const InfoBlock &b, JsonWriter *json) {
    json->BeginObject();
    json->Field("version_major", b.dwVersion >> 16);
    json->Field("version_minor", b.dwVersion & 0xFFFFu);
    json->Field("min_partner_minor", b.u16MinPartnerMinor);
    json->Field("flags", b.dwFlags);
    json->Key("range_a");
    json->BeginArray();
    json->Number(b.dwRangeALow);
    json->Number(b.dwRangeAHigh);
    json->EndArray();
    json->Key("range_b");
    json->BeginArray();
    json->Number(b.dwRangeBLow);
    json->Number(b.dwRangeBHigh);
    json->EndArray();
    json->EndObject();
}

}  // namespace tool
