// tools/params.cpp - showing and setting stack parameters.
#include "params.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command.h"
#include "host_stack.h"
#include "json.h"

namespace tool {

namespace {

// UTF-8 of a 16-bit string (UTF-16; a lone surrogate becomes U+FFFD).
std::string Utf8(const WCHAR16 *s) {
    std::string out;
    if (s == nullptr) return out;
    for (; *s != 0; ++s) {
        uint32_t c = static_cast<uint16_t>(*s);
        if (c >= 0xD800 && c <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(*++s) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// UTF-16 of UTF-8 text; a byte that starts no valid sequence stands for the
// character of its value, as the library widens narrow strings.
std::u16string Utf16(const std::string &s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = JsonWriter::Utf8SequenceLength(s, i);
        if (c < 0x80 || n == 0) {
            out += static_cast<char16_t>(c);
            ++i;
            continue;
        }
        uint32_t code = c & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
        for (size_t k = 1; k < n; ++k) code = code << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        if (code >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += n;
    }
    return out;
}

const WCHAR16 *W(const std::u16string &s) { return reinterpret_cast<const WCHAR16 *>(s.c_str()); }

// The name and the additional text that follows it in the name block.
void NameAndText(const Param &p, bool wide, std::string *name, std::string *text) {
    if (wide) {
        const auto *block = static_cast<const WCHAR16 *>(p.pName);
        *name = Utf8(block);
        size_t n = 0;
        while (block[n] != 0) ++n;
        *text = Utf8(block + n + 1);
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

// A value as text: a string's characters (UTF-8 when wide), a number's
// digits; *isNull for a string without a value.
std::string DataText(const ParamData &d, uint32_t type, bool wide, bool *isNull = nullptr) {
    if (isNull != nullptr) *isNull = false;
    switch (type) {
    case ZERA_PARAM_STRING:
        if (wide ? d.ls == nullptr : d.hs == nullptr) {
            if (isNull != nullptr) *isNull = true;
            return "";
        }
        return wide ? Utf8(d.ls) : std::string(d.hs);
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

// A value as the text report shows it: a string in quotes.
std::string ShownData(const ParamData &d, uint32_t type, bool wide) {
    bool isNull = false;
    const std::string text = DataText(d, type, wide, &isNull);
    if (type != ZERA_PARAM_STRING) return text;
    return isNull ? "(null)" : "\"" + text + "\"";
}

std::string PermittedText(const ParamValue &v, uint32_t type, bool wide) {
    std::string text = ShownData(v.uFrom, type, wide);
    if (v.dwKind == ZERA_VALUE_RANGE) text += ".." + ShownData(v.uTo, type, wide);
    return text;
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

bool ParseDWord(const std::string &text, uint32_t *out) { return ParseNumber(text, 0xFFFFFFFFu, out); }

bool ParseReal(const std::string &text, double *out) {
    char *end = nullptr;
    *out = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(*out);
}

// The text as the bytes the host kit's typed setters widen one to a unit
// for a wide level: false when a character lies beyond U+00FF.
bool Latin1(const std::string &utf8, std::string *out) {
    out->clear();
    for (const char16_t unit : Utf16(utf8)) {
        if (unit > 0xFF) return false;
        *out += static_cast<char>(unit);
    }
    return true;
}

// A parameter's value (or permitted value) of p's type: a JSON number for a
// finite number, null for a string without value, else a string.
void WriteValueJson(const ParamView &p, const std::string &value, JsonWriter *json) {
    if (p.valueIsNumber && std::isfinite(std::strtod(value.c_str(), nullptr))) json->Raw(value);
    else if (p.valueIsNull && &value == &p.value) json->Raw("null");
    else json->String(value);
}

}  // namespace

void PrintParams(const std::vector<ParamView> &params, int indent, std::FILE *out) {
    if (params.empty()) {
        std::fprintf(out, "%*s(no stack parameters)\n", indent, "");
        return;
    }
    for (const ParamView &p : params) {
        std::fprintf(out, "%*s%-12s %-7s = %-10s access %u (%s); attributes %s", indent, "", p.name.c_str(),
                     p.type.c_str(), p.Shown().c_str(), p.access, p.accessText.c_str(), p.attributeText.c_str());
        if (!p.permittedShown.empty()) {
            std::string list;
            for (const std::string &v : p.permittedShown) list += (list.empty() ? "" : ", ") + v;
            std::fprintf(out, "; permitted %s", list.c_str());
        }
        if (!p.text.empty()) std::fprintf(out, "; \"%s\"", p.text.c_str());
        std::fputc('\n', out);
    }
}

void WriteParamsJson(const std::vector<ParamView> &params, JsonWriter *json) {
    json->BeginArray();
    for (const ParamView &p : params) {
        json->BeginObject();
        json->Field("name", p.name);
        if (!p.text.empty()) json->Field("text", p.text);
        json->Field("type", p.type);
        json->Key("value");
        WriteValueJson(p, p.value, json);
        json->Field("access", p.access);
        json->Field("settable_when", p.accessText);
        json->Field("attributes", p.attributes);
        json->Key("permitted");
        json->BeginArray();
        for (const ParamView::Permitted &v : p.permitted) {
            if (!v.range) {
                WriteValueJson(p, v.from, json);
                continue;
            }
            json->BeginObject();
            json->Key("from");
            WriteValueJson(p, v.from, json);
            json->Key("to");
            WriteValueJson(p, v.to, json);
            json->EndObject();
        }
        json->EndArray();
        json->EndObject();
    }
    json->EndArray();
}

bool ParseParamSetting(const std::string &text, ParamSetting *out) {
    const size_t colon = text.find(':');
    const size_t equals = text.find('=');
    if (colon == std::string::npos || equals == std::string::npos || equals < colon) return false;
    out->name = text.substr(colon + 1, equals - colon - 1);
    out->value = text.substr(equals + 1);
    return ParseLevel(text.substr(0, colon), &out->level) && !out->name.empty();
}

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

std::string ParamView::Shown() const {
    if (type != "string") return value;
    return valueIsNull ? "(null)" : "\"" + value + "\"";
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
        v.value = DataText(p->uValue, p->dwType, wide, &v.valueIsNull);
        v.valueIsNumber = p->dwType >= ZERA_PARAM_DWORD && p->dwType <= ZERA_PARAM_REAL;
        for (const ParamValue *pv = p->pstValues; pv != nullptr; pv = pv->pstNext) {
            v.permitted.push_back({DataText(pv->uFrom, p->dwType, wide),
                                   pv->dwKind == ZERA_VALUE_RANGE ? DataText(pv->uTo, p->dwType, wide) : "",
                                   pv->dwKind == ZERA_VALUE_RANGE});
            v.permittedShown.push_back(PermittedText(*pv, p->dwType, wide));
        }
        views.push_back(v);
    }
    return views;
}

bool SetParamFromText(StackHandle *h0, uint32_t level, bool wide, const std::string &name, const std::string &value,
                      std::string *error) {
    const std::string where = "parameter '" + name + "' of level " + std::to_string(level);
    const std::u16string wideName = Utf16(name);
    auto get = [&] {
        return wide ? ZERA_pstGetStackParamW(h0, level, W(wideName)) : ZERA_pstGetStackParamA(h0, level, name.c_str());
    };
    const Param *p = get();
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
    // The host kit checks the access class and the permitted values before
    // it sets anything, and its refusal names what is permitted.
    std::string setName = name, setValue = value;
    if (wide && !(Latin1(name, &setName) && Latin1(value, &setValue))) {
        *error = "cannot set " + where + " to " + value + ": a wide level takes characters up to U+00FF from the "
                 "command line";
        return false;
    }
    const auto at = static_cast<uint8_t>(level);
    BOOL8 ok = 0;
    if (p->dwType == ZERA_PARAM_STRING) ok = ZERA_boHostSetParamString(h0, at, setName.c_str(), setValue.c_str());
    else if (p->dwType == ZERA_PARAM_REAL) ok = ZERA_boHostSetParamReal(h0, at, setName.c_str(), r);
    else ok = ZERA_boHostSetParamDWord(h0, at, setName.c_str(), dw);
    if (!ok) {
        *error = "cannot set " + where + " to " + value + ": " + LastErrorText();
        if (const Param *now = get()) *error += " (its value is " + ShownData(now->uValue, now->dwType, wide) + ")";
        return false;
    }
    return true;
}

}  // namespace tool
