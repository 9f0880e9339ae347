// tools/params.h - stack parameters as the tool shows and sets them: their
// names, types, access classes, values and permitted values as a table or
// JSON, and a set from the command line's text through the host kit.
// Included by the tool's sources only.
#ifndef ZERA_TOOLS_PARAMS_H
#define ZERA_TOOLS_PARAMS_H

#include <cstdio>
#include <string>
#include <vector>

#include "VOQ_ZERA_Comp.h"
#include "json.h"

namespace tool {

// A parameter as shown. Names, texts and string values of a wide list are
// turned into UTF-8; those of a narrow list are kept as the bytes they are.
struct ParamView {
    std::string name;
    std::string text;  // the additional text after the name, may be empty
    std::string type;  // "string", "dword", "dword2", "real" or "type N"
    uint32_t access = 0;
    std::string accessText;  // when it may be set
    uint32_t attributes = 0;
    std::string attributeText;
    std::string value;                   // the value itself: a string's characters, a number's digits
    bool valueIsNumber = false;
    bool valueIsNull = false;            // a string parameter without a value
    struct Permitted {
        std::string from, to;  // as `value`; `to` for a range only
        bool range = false;
    };
    std::vector<Permitted> permitted;
    std::vector<std::string> permittedShown;  // as the text report shows them: "5", "10..20", "\"a\""
    // The value as the text report shows it: strings in quotes.
    std::string Shown() const;
};

// Reads a terminated array of parameters of a narrow (wide false) or wide list.
std::vector<ParamView> ViewParams(const Param *list, bool wide);

// A table of parameters, each line indented by `indent` spaces.
void PrintParams(const std::vector<ParamView> &params, int indent, std::FILE *out);
// The parameters as a JSON array.
void WriteParamsJson(const std::vector<ParamView> &params, JsonWriter *json);

// When a parameter of access class `access` may be set.
const char *AccessText(uint32_t access);

// A parameter to set before the stack starts: --set LEVEL:NAME=VALUE.
struct ParamSetting {
    uint32_t level = 0;
    std::string name;
    std::string value;  // parsed by the parameter's type once the stack is built
};

// Reads LEVEL:NAME=VALUE (LEVEL 1 to 31, a name); false when it is not that.
bool ParseParamSetting(const std::string &text, ParamSetting *out);

// Sets the parameter `name` of level `level` (a wide level when `wide`) to
// the value written as text, parsed by the parameter's type, through the
// host kit's typed setters, which check it against the access class and the
// permitted values first; for a wide level the text is read as UTF-8 and
// may hold characters up to U+00FF. False with a message on a bad value or
// a refusal by the library.
bool SetParamFromText(StackHandle *h0, uint32_t level, bool wide, const std::string &name, const std::string &value,
                      std::string *error);

}  // namespace tool

#endif  // ZERA_TOOLS_PARAMS_H
