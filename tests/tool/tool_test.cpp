// tool/tool_test.cpp - end-to-end tests of the host tool: runs the built
// `zera` program as a child process on the sample and test components and
// checks its output and exit status, and the JSON report's figures against
// each other. Skipped where the tool or the samples are not built.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

bool ToolBuilt() { return access("./zera", X_OK) == 0 && access("./Ticker.COMPONENT", R_OK) == 0; }

// Runs a shell command line in the test's folder.
Result Shell(const std::string &line) {
    char errPath[] = "/tmp/zera_tool_test_XXXXXX";
    const int fd = mkstemp(errPath);
    Result r;
    if (fd < 0) return r;
    close(fd);
    const std::string command = "( " + line + " ) 2>" + errPath;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
    const int raw = pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream err(errPath);
    std::stringstream ss;
    ss << err.rdbuf();
    r.err = ss.str();
    unlink(errPath);
    return r;
}

// Runs ./zera with the arguments (a shell word list) in the test's folder.
Result Zera(const std::string &args) { return Shell("./zera " + args); }

#define SKIP_UNLESS_BUILT() \
    if (!ToolBuilt()) GTEST_SKIP() << "the host tool or the samples are not built"

// The number after "key": in the text starting at `from` (or -1).
long long Number(const std::string &json, const std::string &key, size_t from = 0) {
    const size_t at = json.find("\"" + key + "\":", from);
    if (at == std::string::npos) return -1;
    return std::stoll(json.substr(at + key.size() + 3));
}

// Where the object of level n starts in a report's "levels" array.
size_t LevelAt(const std::string &json, int n) {
    return json.find("{\"level\":" + std::to_string(n) + ",");
}

TEST(ToolInspect, EverySampleComponent) {
    SKIP_UNLESS_BUILT();
    struct Case {
        const char *name;
        const char *param;
        const char *flags;
    } cases[] = {{"Counter", "Forward      dword   = 1", "0x00000000"},
                 {"Loopback", "Echo         dword   = 1", "0x00000000"},
                 {"Ticker", "Period       dword   = 1000", "0x00000008 (completes the stack)"}};
    for (const Case &c : cases) {
        const Result r = Zera(std::string("inspect ") + c.name);
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        EXPECT_NE(r.out.find(std::string("component    ") + c.name), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("version      0.1"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.flags), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.param), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("info block (accepted above it)"), std::string::npos) << r.out;
    }
    const Result counter = Zera("inspect Counter");
    EXPECT_NE(counter.out.find("access 5 (while the stack is not started); attributes settable"), std::string::npos);
    EXPECT_NE(counter.out.find("range B      2..2"), std::string::npos) << "Counter takes Loopback (place 2) above it";
}

TEST(ToolInspect, WideOnlyComponentIsReadThroughItsWideExports) {
    SKIP_UNLESS_BUILT();
    const Result r = Zera("inspect WideOnly");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("(wide binding only)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Label        string  = \"wide\""), std::string::npos) << r.out;
}

TEST(ToolInspect, RefusedAndMissingModulesFailWithTheLibrarysCode) {
    SKIP_UNLESS_BUILT();
    const Result notComponent = Zera("inspect NotComponent");
    EXPECT_EQ(notComponent.status, 1);
    EXPECT_EQ(notComponent.out, "");
    EXPECT_NE(notComponent.err.find("error 1035"), std::string::npos) << notComponent.err;
    EXPECT_NE(notComponent.err.find("ZERA_boDeleteStack"), std::string::npos) << notComponent.err;

    const Result noBinding = Zera("inspect NoBinding");
    EXPECT_EQ(noBinding.status, 1);
    EXPECT_NE(noBinding.err.find("error 1035"), std::string::npos) << noBinding.err;

    const Result missing = Zera("inspect NoSuchThing");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("error 1030"), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("NoSuchThing.COMPONENT"), std::string::npos) << missing.err;
}

TEST(ToolRun, SampleStackReportAddsUp) {
    SKIP_UNLESS_BUILT();
    const Result r = Zera("run --duration 1.5 --send 3:50 --send 1:100:4");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("stack: Counter Loopback Ticker"), std::string::npos) << r.out;
    for (const char *name : {"1     Counter", "2     Loopback", "3     Ticker", "Period", "Forward", "Echo"}) {
        EXPECT_NE(r.out.find(name), std::string::npos) << name << "\n" << r.out;
    }
    // Nothing takes events from Counter's send queue: all four stay queued.
    EXPECT_NE(r.out.find("  1              4          0          4"), std::string::npos) << r.out;
    const size_t line = r.out.find("\n  sent ");
    ASSERT_NE(line, std::string::npos) << r.out;
    unsigned long long sent = 0, taken = 0, queued = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str() + line, "\n  sent %llu = taken %llu + still queued %llu", &sent, &taken, &queued), 3);
    EXPECT_EQ(sent, taken + queued);
    EXPECT_GE(sent, 10u);
}

TEST(ToolRun, JsonReportWithSettingsMatchesTheStatistics) {
    SKIP_UNLESS_BUILT();
    const Result r = Zera("run --duration 1.5 --set 3:Period=20 --set 1:Kind=2 --set 2:Echo=0 --send 2:100:3 --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string &j = r.out;
    ASSERT_EQ(j.front(), '{');
    const size_t l1 = LevelAt(j, 1), l2 = LevelAt(j, 2), l3 = LevelAt(j, 3);
    ASSERT_NE(l1, std::string::npos);
    ASSERT_NE(l2, std::string::npos);
    ASSERT_NE(l3, std::string::npos);

    // The settings took: Period 20 ms gives many ticks; Counter counts in kind 2.
    EXPECT_EQ(Number(j, "value", j.find("\"name\":\"Period\"")), 20);
    EXPECT_EQ(Number(j, "value", j.find("\"name\":\"Kind\"")), 2);
    EXPECT_EQ(Number(j, "value", j.find("\"name\":\"Echo\"")), 0);
    const long long ticks = Number(j, "eventsB", j.find("\"kind0\"", l3));
    EXPECT_GE(ticks, 20);

    // Every answer Counter counted reached the host: the stack stopped before
    // the figures were read, and level 0's queue was drained.
    const long long counted = Number(j, "eventsA", j.find("\"kind2\"", l1));
    EXPECT_EQ(Number(j, "eventsA", j.find("\"kind0\"", l1)), 0);
    EXPECT_EQ(Number(j, "received", j.find("\"host_events\"", l1)), counted);
    EXPECT_EQ(Number(j, "received", j.find("\"totals\"")), counted);
    EXPECT_GT(counted, 0);
    // Echo 0: the answers Loopback counted carry no bytes.
    EXPECT_EQ(Number(j, "bytesA", j.find("\"kind0\"", l2)), 0);
    EXPECT_GT(Number(j, "eventsA", j.find("\"kind0\"", l2)), 0);

    // Host events to Loopback's level stay queued there.
    const size_t totals = j.find("\"totals\"");
    EXPECT_EQ(Number(j, "sent", totals), 3);
    EXPECT_EQ(Number(j, "queued", totals), 3);
    EXPECT_EQ(Number(j, "taken", totals), 0);
    EXPECT_EQ(Number(j, "send_failures", totals), 0);
}

TEST(ToolRun, HostEventsToTheTickerAreTaken) {
    SKIP_UNLESS_BUILT();
    const Result r = Zera("run --duration 1 --send 3:20 --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t totals = r.out.find("\"totals\"");
    const long long sent = Number(r.out, "sent", totals);
    EXPECT_GE(sent, 10);
    EXPECT_EQ(Number(r.out, "taken", totals) + Number(r.out, "queued", totals), sent);
    // Ticker's thread takes every due event; none is left when it stops.
    EXPECT_EQ(Number(r.out, "queued", totals), 0);
}

TEST(ToolRun, InterruptEndsTheRunWithAFullReport) {
    SKIP_UNLESS_BUILT();
    const Result r = Shell("./zera run --duration 60 --send 1:50 --json & pid=$!; sleep 1; kill -INT $pid; wait $pid");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"interrupted\":true"), std::string::npos) << r.out;
    const size_t totals = r.out.find("\"totals\"");
    EXPECT_GT(Number(r.out, "sent", totals), 5);
    EXPECT_EQ(Number(r.out, "queued", totals), Number(r.out, "sent", totals));
}

TEST(ToolDescribe, ThreeLevelStackTopFirst) {
    SKIP_UNLESS_BUILT();
    const Result r = Zera("describe Counter Loopback Ticker");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("stack description: 4 levels, top first"), std::string::npos) << r.out;
    const size_t top = r.out.find("level 3  Ticker  status 0x00000001 (complete)");
    const size_t mid = r.out.find("level 2  Loopback");
    const size_t low = r.out.find("level 1  Counter");
    const size_t host = r.out.find("level 0  VOQ_ZERA");
    ASSERT_NE(top, std::string::npos) << r.out;
    EXPECT_LT(top, mid);
    EXPECT_LT(mid, low);
    EXPECT_LT(low, host);
    EXPECT_NE(r.out.find("Period       dword   = 1000", top), std::string::npos);

    const Result j = Zera("describe Counter Loopback Ticker --json");
    ASSERT_EQ(j.status, 0) << j.err;
    EXPECT_NE(j.out.find("{\"levels\":[{\"level\":3,\"component\":\"Ticker\",\"status\":1"), std::string::npos) << j.out;
    EXPECT_NE(j.out.find("{\"level\":0,\"component\":\"VOQ_ZERA\""), std::string::npos) << j.out;
}

TEST(ToolErrors, BadInputsExitNonZeroWithAMessage) {
    SKIP_UNLESS_BUILT();
    struct Case {
        const char *args;
        int status;
        const char *message;
    } cases[] = {
        {"", 2, "usage: zera <command>"},
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {"run --bogus", 2, "unknown option '--bogus'"},
        {"run --duration", 2, "--duration needs a value"},
        {"run --duration -1", 2, "bad duration '-1'"},
        {"run --set Kind=1", 2, "bad --set 'Kind=1'"},
        {"run --send 3", 2, "bad --send '3'"},
        {"run --send 3:0", 2, "bad --send '3:0'"},
        {"run NoSuchThing", 1, "cannot add component 'NoSuchThing' on level 1: error 1030"},
        {"run NotComponent", 1, "error 1035"},
        {"run Counter Ticker", 1, "error 2055"},
        {"run Counter", 1, "the stack is not complete"},
        {"run --set 1:NoSuch=1", 2, "no parameter 'NoSuch' of level 1"},
        {"run --set 1:Kind=abc", 2, "bad value 'abc' for parameter 'Kind' of level 1"},
        {"run --set 1:Kind=3", 2, "error 1034"},
        {"run --set 3:Period=5", 2, "(its value is 10)"},
        {"run --set 4:Kind=1", 2, "--set on level 4, but the stack has levels 1 to 3"},
        {"run --send 4:100", 2, "--send to level 4, but the stack has levels 1 to 3"},
        {"inspect", 2, "name exactly one component"},
        {"inspect Counter --json", 2, "unknown option '--json'"},
        {"describe", 2, "name the components"},
        {"describe Counter Nope", 1, "cannot add component 'Nope' on level 2"},
    };
    for (const Case &c : cases) {
        const Result r = Zera(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(r.out, "") << c.args;
    }
}

TEST(ToolErrors, EveryCommandHasHelp) {
    SKIP_UNLESS_BUILT();
    for (const char *command : {"run", "inspect", "describe"}) {
        const Result r = Zera(std::string(command) + " --help");
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("usage: zera ") + command, 0), 0u) << r.out;
    }
    const Result r = Zera("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("commands:"), std::string::npos);
}

}  // namespace
