// tool/tool_test.cpp - end-to-end tests of the host tool: runs the built
// `zera` program as a child process on the sample and test components and
// checks its output and exit status, and the JSON report's figures against
// each other. Skipped where the tool or the samples are not built.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Shell() hands the command line to cmd.exe on Windows, to sh elsewhere.
#if defined(_WIN32)
const std::string kTool = ".\\zera.exe";
#else
const std::string kTool = "./zera";
#endif

struct Result {
    int status = -1;
    std::string out, err;
};

std::string Slurp(const std::string &path) {
    std::ifstream f(path);
    std::string text{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    unlink(path.c_str());
    return text;
}

// Runs a shell command line in the test's folder.
Result Shell(const std::string &line) {
    const std::string base = "zera_tool_test_" + std::to_string(getpid());
#if defined(_WIN32)
    // cmd.exe: the lines run there are single commands, and its result is
    // the program's exit code itself. It has no grouping that redirects
    // well, so a line that merges its standard error into its standard
    // output gets both sent to the one file.
    const std::string merge = " 2>&1";
    const bool merged = line.size() > merge.size() && line.compare(line.size() - merge.size(), merge.size(), merge) == 0;
    const std::string command = merged ? line.substr(0, line.size() - merge.size()) + " >" + base + ".out 2>&1"
                                       : line + " >" + base + ".out 2>" + base + ".err";
    const int status = std::system(command.c_str());
#else
    const int raw = std::system(("( " + line + " ) >" + base + ".out 2>" + base + ".err").c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    return Result{status, Slurp(base + ".out"), Slurp(base + ".err")};
}

#define SKIP_UNLESS_BUILT()                                                         \
    if (access(kTool.c_str(), R_OK) != 0 || access("Ticker.COMPONENT", R_OK) != 0) \
    GTEST_SKIP() << "the host tool or the samples are not built"

// The number after "key": in the text starting at `from` (or -1).
long long Number(const std::string &json, const std::string &key, size_t from = 0) {
    const size_t at = json.find("\"" + key + "\":", from);
    return at == std::string::npos ? -1 : std::stoll(json.substr(at + key.size() + 3));
}

// Each command with its exit status and the texts it must show in this order:
// on standard output when it succeeds, on standard error (and nothing on
// standard output) when it fails.
TEST(Tool, CommandsShowTheirTextsAndStatus) {
    SKIP_UNLESS_BUILT();
    const struct {
        const char *args;
        int status;
        std::vector<const char *> texts;
    } cases[] = {
        {"inspect Counter", 0, {"component    Counter", "Counter.COMPONENT", "version      0.1", "flags        0x00000000",
                                "info block (accepted above it)", "range B      2..2", "Forward      dword   = 1",
                                "access 5 (while the stack is not started); attributes settable"}},
        {"inspect Ticker", 0, {"component    Ticker", "flags        0x00000008 (completes the stack)",
                               "info block (accepted above it)", "Period       dword   = 1000"}},
        {"inspect WideOnly", 0, {"(wide binding only)", "Label        string  = \"wide\""}},
        {"inspect HalfThreads", 0, {"warning      exports ZERA_boModuleStartCommuThreadsA but not "
                                    "ZERA_boModuleStartCommuThreadsW"}},
        {"describe Counter Loopback Ticker", 0,
         {"stack description: 4 levels, top first", "level 3  Ticker  status 0x00000001 (complete)",
          "Period       dword   = 1000", "level 2  Loopback", "level 1  Counter", "level 0  VOQ_ZERA"}},
        {"list", 0, {"Counter", "Echo", "Loopback", "Ticker"}}, {"help list", 0, {"usage: zera list"}},
        {"--help", 0, {"usage: zera <command>", "commands:", "ZERA_COMPONENT_PATH"}},
        {"run --help", 0, {"usage: zera run", "--trace"}}, {"help run", 0, {"usage: zera run", "--trace"}},
        {"help nosuch", 2, {"no command 'nosuch'"}}, {"inspect", 2, {"name exactly one component"}},
        {"inspect NotComponent", 1, {"error 1035: Component module refused: the module exports \"ZERA_boDeleteStack\""}},
        {"inspect NoSuchThing", 1, {"cannot find component 'NoSuchThing': no NoSuchThing.COMPONENT in"}},
        {"", 2, {"usage: zera <command>"}}, {"frobnicate", 2, {"unknown command 'frobnicate'"}},
        {"run --bogus", 2, {"unknown option '--bogus'"}}, {"run --json=yes", 2, {"--json takes no value"}},
        {"run --duration", 2, {"--duration needs a value"}}, {"run --duration -1", 2, {"bad duration '-1'"}},
        {"run --duration=-1", 2, {"bad duration '-1'"}}, {"run --send 3:0", 2, {"bad --send '3:0'"}},
        {"run --set Kind=1", 2, {"bad --set 'Kind=1'"}}, {"run --set 1:Kind=3", 2, {"error 1034"}},
        {"run -- --bogus", 1, {"cannot find component '--bogus' on level 1"}},
        {"run NoSuchThing", 1, {"cannot find component 'NoSuchThing' on level 1"}},
        {"run Counter Ticker", 1, {"cannot add component 'Ticker' on level 2", "error 2055"}},
        {"run Counter", 1, {"the stack did not start: error 2060", "level 1 (Counter)"}},
        {"run HalfThreads Completer", 1, {"error 1035", "ZERA_boModuleStartCommuThreadsW", "level 1 (HalfThreads)"}},
        {"run --set 1:NoSuch=1", 2, {"no parameter 'NoSuch' of level 1"}},
        {"run --set 1:Kind=abc", 2, {"bad value 'abc' for parameter 'Kind' of level 1"}},
        {"run --set 3:Period=5", 2, {"(its value is 10)"}},
        {"run --send 4:100", 2, {"--send to level 4, but the stack has levels 1 to 3"}},
        {"describe Counter Nope", 1, {"cannot find component 'Nope' on level 2"}},
        // Any sample sits on level 0, and each takes only the next on top.
        {"run --duration=0.2 -- Loopback Ticker", 0, {"stack: Loopback Ticker"}},
        // The greeting, then the answers to the host's two events; the stop.
        {"run Echo --duration 0.3 --trace --send=1:50:2", 0,
         {"level 1 type 2", "data 68656c6c6f", "level 1 type 2", "data 0000000000000000", "data 0100000000000000",
          "(status complete)", "stack: Echo"}},
        {"run -v Echo --duration 0.2 2>&1", 0, {"zera: search path: ", "level 1: Echo loaded from ", "stack: Echo"}},
        // Common options before the command; numbers in hexadecimal.
        {"-v list 2>&1", 0, {"zera: search path: ", "Echo"}},
        {"run --duration 0.2 --set 0x1:Answer=0x0 --send 0x1:0x32:0x1 Echo", 0, {"Answer       dword   = 0"}},
        {"run --set 1:Answer=0x Echo", 2, {"bad value '0x' for parameter 'Answer' of level 1"}},
        {"run --set 1:Answer=2 Echo", 2,
         {"cannot set parameter 'Answer' of level 1 to 2: error 1034", "permitted are 0..1", "(its value is 1)"}},
        {"version", 0, {"zera "}}, {"help version", 0, {"usage: zera version [--json]", "Exit status: 0"}},
        {"help help", 0, {"usage: zera help [<command> | --man]"}},
        {"help --man", 0, {".TH ZERA 1", ".SH RUN", "usage: zera run", ".SH INSPECT", "\\-\\-exists"}},
        {"inspect Limits", 0, {"description  Parameters with permitted values", "author       Test Author",
                               "licence      MIT", "Rate"}},
        {"inspect --exists Echo", 0, {}}, {"inspect --exists NoSuchThing", 1, {}}, {"inspect --exists NotComponent", 1, {}},
        {"inspect --exists", 2, {"name exactly one component"}},
        {"version --bogus", 2, {"unknown option '--bogus'"}}, {"help --json", 2, {"no command '--json'"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        const Result r = Shell(kTool + " " + c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_TRUE(c.status == 0 || r.out.empty()) << r.out;
        const std::string &shown = c.status == 0 ? r.out : r.err;
        size_t at = 0;
        for (const char *text : c.texts) ASSERT_NE(at = shown.find(text, at), std::string::npos) << text << "\n" << shown;
        // A library error shows its code once.
        const size_t code = shown.find("error ");
        if (code != std::string::npos && std::isdigit(static_cast<unsigned char>(shown[code + 6]))) {
            EXPECT_EQ(shown.find("(" + shown.substr(code + 6, 4) + ")"), std::string::npos) << shown;
        }
    }
}

// Every command whose help lists --json prints JSON that a strict parser
// reads (UTF-8 that decodes, no NaN or infinity), one document per line;
// each row's expression over the first document d (or all of them, docs)
// shows what it holds: string values carry no display quotes, and whatever
// bytes a parameter value holds come out as characters (valid UTF-8 as it
// is, any other byte as the character of its value).
TEST(Tool, EveryCommandThatListsJsonPrintsStrictJson) {
    SKIP_UNLESS_BUILT();
#if defined(_WIN32)
    GTEST_SKIP() << "the strict parser is a python3 program fed through a POSIX shell's pipe and quoting";
#endif
    if (std::system("python3 -c '' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
    // Prints the JSON (ASCII only) of an expression over the documents.
    const std::string check = R"( | python3 -c 'import json, sys
def refuse(constant): raise ValueError(constant)
text = sys.stdin.buffer.read().decode("utf-8")
docs = [json.loads(l, parse_constant=refuse) for l in text.splitlines() if l.strip()]
d = docs[0]
print(json.dumps(eval(sys.argv[1])))' )";
    const std::string endpoint = "ipc:///tmp/zera_tool_test_" + std::to_string(getpid()) + ".sock";
    // Top starts once serve has said where it serves (seconds under the thread sanitizer on a loaded machine).
    const std::string serveOut = "/tmp/zera_tool_test_" + std::to_string(getpid()) + ".served";
    const std::string serve = "rm -f " + serveOut + "; " + kTool + " serve Echo --set 1:Greeting= --bind " + endpoint +
                              " >" + serveOut + " & pid=$!; for i in $(seq 300); do grep -q ' at ' " + serveOut +
                              " && break; sleep 0.1; done; ";
    const struct {
        const char *command;
        std::string args;
        const char *expression, *expected;
    } cases[] = {
        {"run", "run --duration 0.3 --set 3:Period=20 --trace --json",
         R"([e["detail"] for e in d["trace"] if e["type"] == 3])",
         R"(["status complete", "status complete, started", "status complete"])"},
        {"run", "run Echo --duration 0.2 --json --set 1:Greeting=grüße✓", R"(d["levels"][0]["params"][0]["value"])",
         R"("gr\u00fc\u00dfe\u2713")"},
        {"run", R"x(run Echo --duration 0.2 --json --trace --set "1:Greeting=$(printf '\377a"\\\001')")x",
         R"([d["levels"][0]["params"][0]["value"]] + [e["data"] for e in d["trace"] if e["type"] == 2])",
         R"(["\u00ffa\"\\\u0001", "ff61225c01"])"},
        {"run", "run --duration 0.2 --json", "len(docs)", "1"},
        {"run", "run Echo --duration 0.2 --trace --send 1:50:2 --json", "len(docs)", "1"},
        {"inspect", "inspect Echo --json", R"([p["value"] for p in d["params"]])", R"(["hello", 1])"},
        {"inspect", "inspect WideOnly --json", R"(d["params"][0]["value"])", R"("wide")"},
        {"inspect", "inspect HalfThreads --json", R"(len(d["warnings"]))", "2"},
        {"inspect", "inspect Limits --json", "len(docs)", "1"},
        {"describe", "describe Counter Loopback Ticker --json",
         R"([[l["level"], l["component"], l["status"]] for l in d["levels"]])",
         R"([[3, "Ticker", 1], [2, "Loopback", 1], [1, "Counter", 1], [0, "VOQ_ZERA", 1]])"},
        {"describe", "describe Params Limits --json", "len(docs)", "1"},
        {"list", "list --json",
         R"([c["file"].replace("\\", "/").endswith("/Echo.COMPONENT") for c in d["components"] if c["component"] == "Echo"])",
         "[true]"},
        {"list", "--json -v list", "len(docs)", "1"},
        {"version", "version --json", "len(docs)", "1"},
        {"version", "--json version", "len(docs)", "1"},
        {"top", serve + kTool + " top " + endpoint + " --count 2 --json", "len(docs) >= 2", "true"},
        {"top", serve + kTool + " top " + endpoint + " --describe --json", "len(docs)", "1"},
    };
    // The commands the tool lists, each checked against the table.
    const Result usage = Shell(kTool + " --help");
    size_t listed = 0;
    for (size_t at = usage.out.find("\n  "); at != std::string::npos; at = usage.out.find("\n  ", at + 1)) {
        // Its name: the words before the synopsis ("<name>", "[...]") or the summary.
        const size_t end = std::min(usage.out.find("  ", at + 3), usage.out.find_first_of("<[\n", at + 3));
        std::string command = usage.out.substr(at + 3, end - at - 3);
        while (!command.empty() && command.back() == ' ') command.pop_back();
        if (command.empty() || !std::isalpha(static_cast<unsigned char>(command[0]))) continue;
        if (Shell(kTool + " help " + command).out.find("--json ") == std::string::npos) continue;
        ++listed;
        size_t rows = 0;
        for (const auto &c : cases) {
            if (command != c.command) continue;
            SCOPED_TRACE(c.args);
            ++rows;
            const bool served = c.args.rfind(serve, 0) == 0;
            const std::string tool = (served ? c.args : kTool + " " + c.args) + check + "'" + c.expression + "'";
            const Result r = Shell(served ? "(" + tool + "; kill $pid; wait $pid)" : tool);
            EXPECT_TRUE(r.status == 0 || served) << r.err;
            EXPECT_EQ(r.out, std::string(c.expected) + "\n") << r.err;
        }
        EXPECT_GT(rows, 0u) << "no JSON case for " << command;
    }
    std::remove(serveOut.c_str());
    EXPECT_GE(listed, 5u);
}

// -q leaves the standard output empty and the exit status as it was; the common options a command lists are
// the ones it takes.
TEST(Tool, QuietAndTheOptionsEachCommandLists) {
    SKIP_UNLESS_BUILT();
    for (const char *args : {"run -q --duration 0.2 Echo", "-q list", "inspect Echo --quiet", "version -q --json"}) {
        const Result r = Shell(kTool + " " + args);
        EXPECT_EQ(r.status, 0) << args << r.err;
        EXPECT_EQ(r.out, "") << args;
    }
    const Result failed = Shell(kTool + " run -q Counter");
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("error 2060"), std::string::npos) << failed.err;
    const struct {
        const char *command;
        bool json, verbose;
    } cases[] = {{"run", true, true},   {"inspect", true, true},  {"describe", true, true}, {"list", true, true},
                 {"version", true, false}, {"serve", false, true}, {"top", true, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        const Result r = Shell(kTool + " help " + c.command);
        if (r.status != 0) continue;  // serve and top need the Link
        EXPECT_EQ(r.out.find("--json ") != std::string::npos, c.json) << r.out;
        EXPECT_EQ(r.out.find("-v, --verbose") != std::string::npos, c.verbose) << r.out;
        EXPECT_NE(r.out.find("-q, --quiet"), std::string::npos) << r.out;
        if (!c.json) {
            EXPECT_EQ(Shell(kTool + " " + c.command + " --json Echo").status, 2);
        }
    }
}

TEST(Tool, JsonReportWithSettingsMatchesTheStatistics) {
    SKIP_UNLESS_BUILT();
    const Result r = Shell(kTool + " run --duration 1.5 --set 3:Period=20 --set 1:Kind=2 --set 2:Echo=0 --send 2:100:3 --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string &j = r.out;
    size_t l[4];
    for (int n = 1; n <= 3; ++n) ASSERT_NE(l[n] = j.find("{\"level\":" + std::to_string(n) + ","), std::string::npos);

    // The settings took: Period 20 ms gives many ticks; Counter counts in kind 2.
    EXPECT_EQ(Number(j, "value", j.find("\"name\":\"Period\"")), 20);
    EXPECT_EQ(Number(j, "value", j.find("\"name\":\"Kind\"")), 2);
    EXPECT_GE(Number(j, "eventsB", j.find("\"kind0\"", l[3])), 20);

    // Every answer Counter counted reached the host: the stack stopped before
    // the figures were read, and level 0's queue was drained.
    const long long counted = Number(j, "eventsA", j.find("\"kind2\"", l[1]));
    EXPECT_GT(counted, 0);
    EXPECT_EQ(Number(j, "received", j.find("\"host_events\"", l[1])), counted);
    EXPECT_EQ(Number(j, "received", j.find("\"totals\"")), counted);
    // Echo 0: the answers Loopback counted carry no bytes. Host events to
    // Loopback's level stay queued there.
    EXPECT_EQ(Number(j, "bytesA", j.find("\"kind0\"", l[2])), 0);
    EXPECT_GT(Number(j, "eventsA", j.find("\"kind0\"", l[2])), 0);
    const size_t totals = j.find("\"totals\"");
    EXPECT_EQ(Number(j, "sent", totals), 3);
    EXPECT_EQ(Number(j, "queued", totals), 3);
    EXPECT_EQ(Number(j, "dropped", totals), 0);
}

// Nothing takes events from Counter's send queue, so its four stay queued;
// Ticker's thread takes every event sent to it, none is left when it stops.
TEST(Tool, InterruptEndsTheRunWithAReportThatAddsUp) {
    SKIP_UNLESS_BUILT();
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no way to send one background process a Ctrl+C (SIGINT): "
                    "console control events go to every process of the console";
#endif
    const Result r = Shell("./zera run --duration 60 --send 3:50 --send 1:100:4 & pid=$!; sleep 1; kill -INT $pid; wait $pid");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("stack: Counter Loopback Ticker; ran"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(interrupted)"), std::string::npos) << r.out;
    const size_t line = r.out.find("\n  sent ");
    ASSERT_NE(line, std::string::npos) << r.out;
    unsigned long long sent = 0, taken = 0, queued = 0, dropped = ~0ull;
    ASSERT_EQ(std::sscanf(r.out.c_str() + line, "\n  sent %llu = taken %llu + still queued %llu + dropped %llu", &sent,
                          &taken, &queued, &dropped),
              4)
        << r.out;
    EXPECT_EQ(sent, taken + queued + dropped);
    EXPECT_EQ(dropped, 0u);
    EXPECT_EQ(queued, 4u);
    EXPECT_GE(sent, 10u);
}

// The test components lie in a folder of their own: list shows them when
// ZERA_COMPONENT_PATH names it (as CTest sets it), the samples alone when not.
TEST(Tool, ListShowsTestComponentsOnlyWhenAsked) {
    SKIP_UNLESS_BUILT();
    const char *path = std::getenv("ZERA_COMPONENT_PATH");
    if (path == nullptr) GTEST_SKIP() << "ZERA_COMPONENT_PATH does not name the test components' folder";
    const std::string saved = std::string("ZERA_COMPONENT_PATH=") + path;
    const Result asked = Shell(kTool + " list");
#if defined(_WIN32)
    _putenv("ZERA_COMPONENT_PATH=");
    const Result plain = Shell(kTool + " list");
    _putenv(saved.c_str());
#else
    unsetenv("ZERA_COMPONENT_PATH");
    const Result plain = Shell(kTool + " list");
    setenv("ZERA_COMPONENT_PATH", saved.c_str() + saved.find('=') + 1, 1);
#endif
    EXPECT_NE(asked.out.find("Starter"), std::string::npos) << asked.out;
    EXPECT_EQ(plain.out.find("Starter"), std::string::npos) << plain.out;
    EXPECT_EQ(plain.out.find("NoBinding"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("Ticker"), std::string::npos) << plain.out;
}

}  // namespace
