// tools/usage.cpp - the tool's usage texts and manual page, made from the
// rows of the command table and the texts every command shares.
#include <string>
#include <vector>

#include "command.h"

namespace tool {

namespace {

constexpr const char *kSearchText =
    "Components (<Name>.COMPONENT) are looked for in the folders of\n"
    "ZERA_COMPONENT_PATH (separated as in PATH: ';' on Windows, ':' elsewhere),\n"
    "then the current folder, the tool's folder and the installed components\n"
    "folder; the first one found is used. A name with a folder in it is used\n"
    "as given.\n";

constexpr const char *kJsonOption = "  --json                   print the result as one JSON object\n";
constexpr const char *kVerboseOption = "  -v, --verbose            say on stderr which module was loaded from where\n";
constexpr const char *kOtherCommonOptions =
    "  -q, --quiet              print nothing on stdout (errors still go to stderr)\n"
    "  -h, --help               show this text\n"
    "Options take their value as --name VALUE or --name=VALUE; -- ends the options.\n"
    "Numbers may be decimal or hexadecimal (0x10).\n";

constexpr const char *kExitText =
    "Exit status: 0 success; 1 a stack or module failure (a component not found,\n"
    "refused or not started; for inspect --exists: no such component); 2 a bad\n"
    "command line.\n";

// The command list's columns: the name and synopsis, then the summary.
constexpr size_t kSummaryColumn = 27;

std::string CommandListLine(const Command &c) {
    std::string line = std::string("  ") + c.name + (*c.synopsis != '\0' ? " " : "") + c.synopsis;
    line.resize(line.size() < kSummaryColumn - 1 ? kSummaryColumn - 1 : line.size(), ' ');
    line += ' ';
    for (const char *s = c.summary; *s != '\0'; ++s) {
        line += *s;
        if (*s == '\n') line.append(kSummaryColumn, ' ');
    }
    return line + "\n";
}

std::string MainUsage() {
    std::string text = "usage: zera <command> [options]\n\ncommands:\n";
    for (const Command &c : Commands()) text += CommandListLine(c);
    text += "\n-v, -q and --json may also stand before the command (zera -v list).\n\n";
    return text + kSearchText + "\n" + kExitText;
}

// The rows whose names begin with the word `group` ("trace" of "trace
// merge"); none for a word that begins no command of several words.
std::vector<const Command *> GroupRows(const std::string &group) {
    std::vector<const Command *> rows;
    for (const Command &c : Commands()) {
        if (std::string(c.name).rfind(group + " ", 0) == 0) rows.push_back(&c);
    }
    return rows;
}

std::string GroupUsage(const std::string &group, const std::vector<const Command *> &rows) {
    std::string text = "usage: zera " + group + " <subcommand> ...\n\nsubcommands:\n";
    for (const Command *c : rows) text += CommandListLine(*c);
    return text + "\nzera help " + group + " <subcommand> shows a subcommand's options.\n\n" + kExitText;
}

std::string CommandUsage(const Command &c) {
    const bool verbose = (c.takes & kTakesVerbose) != 0;
    std::string text = std::string(c.usage) + "\n";
    if ((c.takes & kTakesJson) != 0) text += kJsonOption;
    if (verbose) text += kVerboseOption;
    text += std::string(kOtherCommonOptions) + "\n";
    if (verbose) text += std::string(kSearchText) + "\n";
    return text + kExitText;
}

// Text as man(7) wants it: a backslash doubled, a line that starts with a
// dot or an apostrophe protected, a leading minus of an option escaped.
void PutManText(const std::string &text, std::FILE *to) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        std::string out;
        if (!line.empty() && (line[0] == '.' || line[0] == '\'')) out = "\\&";
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\') out += "\\e";
            else if (line[i] == '-' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '[' || line[i - 1] == '-' ||
                                        line[i - 1] == '|' || line[i - 1] == ',')) out += "\\-";
            else out += line[i];
        }
        std::fprintf(to, "%s\n", out.empty() ? ".sp" : out.c_str());
    }
}

}  // namespace

void PrintMainUsage(std::FILE *to) { std::fputs(MainUsage().c_str(), to); }

bool PrintCommandUsage(const std::string &name, std::FILE *to) {
    for (const Command &c : Commands()) {
        if (name != c.name) continue;
        std::fputs(CommandUsage(c).c_str(), to);
        return true;
    }
    const std::vector<const Command *> rows = GroupRows(name);
    if (!rows.empty()) std::fputs(GroupUsage(name, rows).c_str(), to);
    return !rows.empty();
}

bool IsCommandGroup(const std::string &word) { return !GroupRows(word).empty(); }

void PrintManual(std::FILE *to) {
    std::fprintf(to, ".TH ZERA 1 \"\" \"zera %s\" \"User Commands\"\n", ZERA_TOOL_VERSION);
    std::fputs(".SH NAME\nzera \\- build, run, inspect and serve stacks of components\n", to);
    std::fputs(".SH SYNOPSIS\n.nf\n", to);
    PutManText(MainUsage(), to);
    std::fputs(".fi\n", to);
    for (const Command &c : Commands()) {
        std::string title = c.name;
        for (char &ch : title) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
        std::fprintf(to, ".SH %s\n.nf\n", title.c_str());
        PutManText(CommandUsage(c), to);
        std::fputs(".fi\n", to);
    }
    std::fputs(".SH SEE ALSO\nZERA_Host(3), ZERA_Component(3), VOQ_ZERA_Comp(3)\n", to);
}

}  // namespace tool
