// tools/params.cpp - showing and setting stack parameters.
#include "params.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host_stack.h"

namespace tool {

namespace {

// Narrow copy of a 16-bit string (units above 0xFF become '?').
std::string Narrow(const WCHAR16 *s) {
    std::string out;
    if (s == nullptr) return out;
    for (; *s != 0; ++s) out += *s > 0xFF ? '?' : static_cast<char>(*s);
    return out;
}

// The name and the additional text that follows it in the name block.
void NameAndText(const Param &p, bool wide, std::string *name, std::string *text) {
    if (wide) {
        const auto *block = static_cast<const WCHAR16 *>(p.pName);
        *name = Narrow(block);
        size_t n = 0;
        while (block[n] != 0) ++n;
        *text = Narrow(block + n + 1);
    } else {
        const auto *block = static_cast<const char *>(p.pName);
        *name = block;
        *text = block + std::strlen(block) + 1;
    }
}

std::string TypeText(uint32_t type) {
    switch (type) {
    case ZERA_PARAM_STRING: return "string";
    case ZERA_PARAM_DWORD: return "dword";
    case ZERA_PARAM_DWORD2: return "dword2";
    case ZERA_PARAM_REAL: return "real";
    default: return "type " + std::to_string(type);
    }
}

std::string DataText(const ParamData &d, uint32_t type, bool wide) {
    switch (type) {
    case ZERA_PARAM_STRING:
        if (wide) return d.ls != nullptr ? "\"" + Narrow(d.ls) + "\"" : "(null)";
        return d.hs != nullptr ? "\"" + std::string(d.hs) + "\"" : "(null)";
    case ZERA_PARAM_DWORD:
    case ZERA_PARAM_DWORD2: return std::to_string(d.dw);
    case ZERA_PARAM_REAL: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", d.r);
        return buf;
    }
    default: return "-";
    }
}

std::string AttributeText(uint32_t attributes) {
    std::string out;
    if (attributes & ZERA_ATTR_SETTABLE) out += "settable";
    if (attributes & ZERA_ATTR_ATTACHABLE) out += out.empty() ? "attachable" : ", attachable";
    const uint32_t other = attributes & ~(ZERA_ATTR_SETTABLE | ZERA_ATTR_ATTACHABLE);
    if (other != 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%02X", other);
        out += out.empty() ? hex : std::string(", ") + hex;
    }
    return out.empty() ? "-" : out;
}

bool ParseDWord(const std::string &text, uint32_t *out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || v > 0xFFFFFFFFull) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

bool ParseReal(const std::string &text, double *out) {
    char *end = nullptr;
    *out = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(*out);
}

// Whether the chain of permitted values (none: anything) admits the value.
bool Permitted(const Param &p, uint32_t dw, double r, const std::string &s) {
    if (p.pstValues == nullptr) return true;
    for (const ParamValue *v = p.pstValues; v != nullptr; v = v->pstNext) {
        const bool range = v->dwKind == ZERA_VALUE_RANGE;
        switch (p.dwType) {
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2:
            if (range ? dw >= v->uFrom.dw && dw <= v->uTo.dw : dw == v->uFrom.dw) return true;
            break;
        case ZERA_PARAM_REAL:
            if (range ? r >= v->uFrom.r && r <= v->uTo.r : r == v->uFrom.r) return true;
            break;
        case ZERA_PARAM_STRING:
            if (v->uFrom.hs != nullptr && s == v->uFrom.hs) return true;
            break;
        default: return true;
        }
    }
    return false;
}

}  // namespace

const char *AccessText(uint32_t access) {
    switch (access) {
    case ZERA_ACCESS_TOPMOST: return "while the level is the topmost";
    case ZERA_ACCESS_BELOW_INCOMPLETE: return "while a level is above it and the stack is not complete";
    case ZERA_ACCESS_INCOMPLETE: return "while the stack is not complete";
    case ZERA_ACCESS_COMPLETE: return "while the stack is complete";
    case ZERA_ACCESS_STOPPED: return "while the stack is not started";
    case ZERA_ACCESS_STARTED: return "while the stack is started";
    case ZERA_ACCESS_NEVER: return "never";
    case ZERA_ACCESS_READY: return "while the stack is complete and not started";
    case ZERA_ACCESS_WIDE_READY: return "stack-wide, while the stack is complete and not started";
    case ZERA_ACCESS_WIDE_RUNNING: return "stack-wide, while the stack is complete and started";
    default: return "always";
    }
}

std::vector<ParamView> ViewParams(const Param *list, bool wide) {
    std::vector<ParamView> views;
    for (const Param *p = list; p != nullptr && p->pName != nullptr; ++p) {
        ParamView v;
        NameAndText(*p, wide, &v.name, &v.text);
        v.type = TypeText(p->dwType);
        v.access = p->dwAccess;
        v.accessText = AccessText(p->dwAccess);
        v.attributes = p->u8Attributes;
        v.attributeText = AttributeText(p->u8Attributes);
        v.value = DataText(p->uValue, p->dwType, wide);
        v.valueIsNumber = p->dwType >= ZERA_PARAM_DWORD && p->dwType <= ZERA_PARAM_REAL;
        for (const ParamValue *pv = p->pstValues; pv != nullptr; pv = pv->pstNext) {
            std::string text = DataText(pv->uFrom, p->dwType, wide);
            if (pv->dwKind == ZERA_VALUE_RANGE) text += ".." + DataText(pv->uTo, p->dwType, wide);
            v.permitted.push_back(text);
        }
        views.push_back(v);
    }
    return views;
}

bool SetParamFromText(StackHandle *h0, uint32_t level, const std::string &name, const std::string &value,
                      std::string *error) {
    const std::string where = "parameter '" + name + "' of level " + std::to_string(level);
    const Param *p = ZERA_pstGetStackParamA(h0, level, name.c_str());
    if (p == nullptr) {
        *error = "no " + where + " (" + LastErrorText() + ")";
        return false;
    }
    uint32_t dw = 0;
    double r = 0;
    bool parsed = true;
    if (p->dwType == ZERA_PARAM_DWORD || p->dwType == ZERA_PARAM_DWORD2) parsed = ParseDWord(value, &dw);
    else if (p->dwType == ZERA_PARAM_REAL) parsed = ParseReal(value, &r);
    else if (p->dwType != ZERA_PARAM_STRING) {
        *error = where + " has type " + std::to_string(p->dwType) + ", which the tool cannot set";
        return false;
    }
    if (!parsed) {
        *error = "bad value '" + value + "' for " + where + " (a " + TypeText(p->dwType) + ")";
        return false;
    }
    if (!Permitted(*p, dw, r, value)) {
        std::string list;
        for (const ParamValue *pv = p->pstValues; pv != nullptr; pv = pv->pstNext) {
            list += (list.empty() ? "" : ", ") + DataText(pv->uFrom, p->dwType, false);
            if (pv->dwKind == ZERA_VALUE_RANGE) list += ".." + DataText(pv->uTo, p->dwType, false);
        }
        *error = "value '" + value + "' is not permitted for " + where + " (permitted: " + list + ")";
        return false;
    }
    BOOL8 ok = 0;
    if (p->dwType == ZERA_PARAM_STRING) ok = ZERA_boSetStackParamA(h0, level, name.c_str(), value.c_str());
    else if (p->dwType == ZERA_PARAM_REAL) ok = ZERA_boSetStackParamA(h0, level, name.c_str(), r);
    else ok = ZERA_boSetStackParamA(h0, level, name.c_str(), dw);
    if (!ok) {
        const Param *now = ZERA_pstGetStackParamA(h0, level, name.c_str());
        *error = "cannot set " + where + " to " + value + ": " + LastErrorText();
        if (now != nullptr) *error += " (its value is " + DataText(now->uValue, now->dwType, false) + ")";
        return false;
    }
    return true;
}

}  // namespace tool
