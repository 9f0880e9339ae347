// trace/trace_test.cpp - watching a stack: the debug output's settings and
// lines, stored errors logged with their argument, the timeline's file
// (checked by check_trace.py beside this file: the trace-event schema,
// slices nesting per track, an event's stays in order at every level), its
// refusals, and the snapshot.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "ZERA_Host.h"
#include "flow/flow_test_util.h"
#include "trace/trace.h"

namespace {

using namespace st;
namespace tr = zera::trace;

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t CountOf(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Runs the checker on a timeline; "" when python3 cannot run it here.
std::string Check(const std::string &file, const std::string &options) {
#if defined(_WIN32)
    (void)file, (void)options;
    return "";
#else
    if (std::system("python3 -c '' 2>/dev/null") != 0) return "";
    std::string checker = __FILE__;
    checker = checker.substr(0, checker.find_last_of('/') + 1) + "check_trace.py";
    const std::string command = "python3 " + checker + " " + file + " " + options + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "popen failed";
    std::string out;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    pclose(pipe);
    return out;
#endif
}

// Debug output into a file of the test's own, off again at the end.
struct DebugFile {
    explicit DebugFile(const char *settings, const char *name = "trace_test_debug.log") : path(name) {
        std::remove(name);
        ok = ZERA_boHostSetDebug(settings, name) != 0;
    }
    ~DebugFile() {
        ZERA_boHostSetDebug(nullptr, nullptr);
        std::remove(path.c_str());
    }
    std::string Text() const { return ReadAll(path); }
    std::string path;
    bool ok;
};

TEST(DebugOutput, CategoriesAndSeveritiesComeFromTheSetting) {
    struct Case {
        const char *settings;
        bool wellFormed;
        tr::Category category;
        tr::Severity severity;
        bool on;
    };
    const Case cases[] = {
        {"send:debug", true, tr::kSend, tr::kDebug, true},
        {"send:debug", true, tr::kRecv, tr::kErrorLevel, false},
        {"send:info", true, tr::kSend, tr::kDebug, false},
        {"send:info", true, tr::kSend, tr::kWarning, true},
        {"send", true, tr::kSend, tr::kDebug, true},  // no severity: debug
        {"*:warning", true, tr::kModule, tr::kWarning, true},
        {"*:warning", true, tr::kModule, tr::kInfo, false},
        {"*:debug, send:0", true, tr::kSend, tr::kErrorLevel, false},  // a later entry wins
        {" evid : 3 ", false, tr::kEvid, tr::kInfo, false},                // spaces inside an entry: malformed
        {"evid:3", true, tr::kEvid, tr::kInfo, true},
        {"bogus:debug,link:error", false, tr::kLink, tr::kErrorLevel, true},  // the good entry stays
        {"link:loud", false, tr::kLink, tr::kErrorLevel, false},
        {"", true, tr::kStack, tr::kErrorLevel, false},
    };
    for (const Case &c : cases) {
        DebugFile out(c.settings);
        EXPECT_EQ(out.ok, c.wellFormed) << c.settings;
        EXPECT_EQ(tr::LogOn(c.category, c.severity), c.on) << c.settings;
        // Only a category at debug or the timeline turns a flow hook on.
        EXPECT_EQ(tr::Hooked(c.category), tr::LogOn(c.category, tr::kDebug)) << c.settings;
    }
    EXPECT_EQ(tr::g_logMask.load(), 0u);
    EXPECT_EQ(tr::g_hookMask.load(), 0u);
}

TEST(DebugOutput, OneLinePerSendWithLevelAndIdentifierAndNothingWhenOff) {
    FlowStack stack{"Layer", "Layer", "Layer"};
    uint32_t ids[3];
    {
        DebugFile out("send:debug");
        ASSERT_TRUE(out.ok);
        for (uint32_t &id : ids) {
            Event *ev = Data(ZERA_EVENT_DATA, 3);
            id = ev->dwEventId;
            ASSERT_TRUE(Send(stack.h0(), ev, Relative(kSecond)));
        }
        const std::string text = out.Text();
        EXPECT_EQ(CountOf(text, "\n"), 3u) << text;
        for (uint32_t id : ids) {
            EXPECT_NE(text.find("debug   send   level 3: sent type 1 of level 3 id " + std::to_string(id) + "\n"),
                      std::string::npos)
                << text;
        }
    }
    DebugFile off("");
    ASSERT_TRUE(Send(stack.h0(), Data(ZERA_EVENT_DATA, 3), Relative(kSecond)));
    EXPECT_EQ(off.Text(), "");
}

TEST(DebugOutput, StoredErrorsAreLoggedAtWarningWithTheirArgument) {
    FlowStack stack{"Layer"};
    DebugFile out("error:warning");
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(ZERA_bHostAddComponentA(stack.h0(), "NoSuchThing"), 0);
    const uint32_t code = OSAL_dwGetLastError();
    const std::string text = out.Text();
    EXPECT_NE(text.find("warning error  code " + std::to_string(code)), std::string::npos) << text;
    EXPECT_NE(text.find("NoSuchThing"), std::string::npos) << text;
    // Code 0 (cleared) is no error.
    const size_t lines = CountOf(text, "\n");
    OSAL_vSetLastError(OSAL_ERR_NONE);
    EXPECT_EQ(CountOf(out.Text(), "\n"), lines);
}

TEST(Timeline, RefusesWhatItCannotWriteAndAStartTwice) {
    FlowStack stack{"Layer"};
    EXPECT_REFUSED(ZERA_boHostTraceStart(nullptr, nullptr), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_boHostTraceStart(nullptr, ""), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_boHostTraceStart(stack[1], "trace_test_refused.json"), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED(ZERA_boHostTraceStart(nullptr, "no_such_folder/t.json"), OSAL_ERR_SYSTEM);
    EXPECT_FALSE(tr::TimelineOn());
    EXPECT_REFUSED(ZERA_boHostTraceStop(), OSAL_ERR_NOT_AVAILABLE);
    // No timeline to record it in.
    EXPECT_REFUSED(ZERA_boHostTraceLinkPeer(stack[1], "serve", 1, 2, 3), OSAL_ERR_NOT_AVAILABLE);

    ASSERT_TRUE(ZERA_boHostTraceStart(stack.h0(), "trace_test_twice.json"));
    EXPECT_REFUSED(ZERA_boHostTraceLinkPeer(nullptr, "serve", 1, 2, 3), OSAL_ERR_INVALID_HANDLE);
    EXPECT_REFUSED(ZERA_boHostTraceStart(stack.h0(), "trace_test_other.json"), OSAL_ERR_NOT_AVAILABLE);
    EXPECT_TRUE(ZERA_boHostTraceStop());
    EXPECT_FALSE(tr::TimelineOn());
    EXPECT_EQ(tr::g_hookMask.load(), 0u);
    EXPECT_EQ(Check("trace_test_twice.json", "--levels 2"), Check("", "").empty() ? "" : "ok\n");
    std::remove("trace_test_twice.json");
}

// A burst from one thread far beyond what the writer drains between two
// looks is written whole (the thread's buffer grows); the link's records
// carry the identifiers on both sides and the peer's clock exactly.
TEST(Timeline, ABurstIsWrittenWholeWithTheLinksRecords) {
    FlowStack stack{"Layer"};
    const char *file = "trace_test_burst.json";
    Event *ev = Data(ZERA_EVENT_DATA2, 1);
    ASSERT_NE(ev, nullptr);
    ASSERT_TRUE(ZERA_boHostTraceStart(stack.h0(), file));
    constexpr uint32_t kBurst = 100000;
    for (uint32_t i = 0; i < kBurst; ++i) ZERA_vHostTraceLinkArrival(stack[1], ev, 7000000 + i);
    ASSERT_TRUE(ZERA_boHostTraceLinkPeer(stack[1], "se\"rve", 0x0123456789ABCDEFull, -42, 17));
    ASSERT_TRUE(ZERA_boHostTraceStop());
    ZERA_vHostTraceLinkArrival(stack[1], ev, 1);  // no timeline: nothing, and no crash
    ZERA_boDeleteEvent(ev);

    const std::string text = ReadAll(file);
    EXPECT_EQ(CountOf(text, "\"name\":\"link in type 2 L1\""), static_cast<size_t>(kBurst));
    EXPECT_EQ(text.find("records_lost"), std::string::npos);
    EXPECT_NE(text.find("\"peer_id\":7099999,\"level\":1}"), std::string::npos);
    EXPECT_NE(text.find("\"name\":\"link_peer\",\"ts\":0,\"pid\":1,\"tid\":0,\"args\":{\"level\":1,\"peer\":\"se\\\"rve\","
                        "\"session\":\"0123456789abcdef\",\"offset_us\":-42,\"error_us\":17,"),
              std::string::npos);
    EXPECT_EQ(Check(file, "--levels 2"), Check("", "").empty() ? "" : "ok\n");
    std::remove(file);
}

TEST(Timeline, AnEventsStaysAtEveryLevelItPassedAreSlicesInOrder) {
    FlowStack stack{"Layer", "Layer", "Layer"};
    StackHandle *h0 = stack.h0(), *h1 = stack[1], *h3 = stack[3];
    const char *file = "trace_test_timeline.json";
    ASSERT_TRUE(ZERA_boHostTraceStart(h0, file));
    // Level 2 takes nothing, level 1 level 3's events, level 0 levels 1 to 3:
    // an event of level 3 stays in level 2's and then level 1's receive queue.
    ASSERT_TRUE(ZERA_boSetEventTypes(stack[2], 0, kAll));
    ASSERT_TRUE(ZERA_boSetEventTypes(h1, 1u << 3, kAll));
    ASSERT_TRUE(ZERA_boSetEventTypes(h0, 0xE, kAll));

    // Eight events due at once stay in level 3's send queue together.
    constexpr int kEvents = 8;
    for (int i = 0; i < kEvents; ++i) ASSERT_TRUE(Send(h0, Data(ZERA_EVENT_DATA, 3), Relative(20000)));
    OSAL_HMUTEX mutex = OSAL_hMutexCreate();
    BOOL8 broken = 0;
    const TimeVal lead = Relative(0);
    uint32_t chosen = 0;
    for (int i = 0; i < kEvents; ++i) {
        Event *ev = ZERA_pstGetNextSendEvent(h3, &lead, &broken, mutex);
        ASSERT_NE(ev, nullptr);
        if (i == 3) chosen = ev->dwEventId;
        ZERA_vInputFilter(h3, ev);  // the level answers with the event itself
    }
    ZERA_vBreakSendEventWait(h3, &broken, mutex);
    for (int i = 0; i < kEvents; ++i) {
        Event *copy = ReceiveNow(h1), *original = ReceiveNow(h0);
        ASSERT_TRUE(copy != nullptr && original != nullptr);
        ZERA_boDeleteEvent(copy);
        ZERA_boDeleteEvent(original);
    }
    OSAL_vMutexDelete(mutex);
    ASSERT_TRUE(ZERA_boHostTraceStop());

    const std::string text = ReadAll(file);
    EXPECT_EQ(CountOf(text, "\"cat\":\"send queue\""), static_cast<size_t>(kEvents));
    EXPECT_EQ(CountOf(text, "\"cat\":\"receive queue\""), 2u * kEvents);
    EXPECT_EQ(CountOf(text, "\"name\":\"break (send wait)\""), 1u);
    EXPECT_NE(text.find("\"name\":\"level 3 (Layer) send queue 2\""), std::string::npos);  // stays overlapped
    const std::string verdict =
        Check(file, "--levels 4 --max-open 0 --event " + std::to_string(chosen) + " send:3,recv:2,recv:1");
    if (!verdict.empty()) {
        EXPECT_EQ(verdict, "ok\n");
    }
    std::remove(file);
}

TEST(Snapshot, DescribesEveryLevelWithItsQueuesAndStatistics) {
    FlowStack stack{"Layer", "Layer"};
    DebugFile out("");  // a snapshot is written also when no category logs
    ASSERT_TRUE(Send(stack.h0(), Data(ZERA_EVENT_DATA, 2), Relative(kSecond)));
    ASSERT_TRUE(Send(stack.h0(), Data(ZERA_EVENT_DATA, 2), Relative(kSecond)));
    ZERA_vInputFilter(stack[1], Data(ZERA_EVENT_DATA0, 1, 10));
    ASSERT_TRUE(ZERA_boHostSetDebug("", out.path.c_str()));
    ASSERT_TRUE(ZERA_boHostSnapshot(stack.h0()));
    const std::string text = ReadAll(out.path);
    EXPECT_NE(text.find("stack of 2 level(s) above the host"), std::string::npos) << text;
    EXPECT_NE(text.find("level 0 (host): status"), std::string::npos) << text;
    EXPECT_NE(text.find("send queue 2, receive queue 0, dropped 0"), std::string::npos) << text;
    EXPECT_NE(text.find("send queue 0, receive queue 1, dropped 0"), std::string::npos) << text;
    EXPECT_NE(text.find("statistics kind 0: answers 0, data 1, answer bytes 0, data bytes 10"), std::string::npos)
        << text;
    EXPECT_REFUSED(ZERA_boHostSnapshot(stack[1]), OSAL_ERR_INVALID_HANDLE);
}

}  // namespace

#if !defined(_WIN32)
namespace {

std::atomic<int> g_hostSignals{0};
void HostHandler(int) { g_hostSignals.fetch_add(1); }

// The i386 build's tests run under qemu's user-mode emulation, where a
// signal handled on the test's thread made the thread's next join fail with
// EDEADLK (the handler only counts; without the signal the join succeeds).
// There the calls are checked, not the delivery.
#if defined(__i386__)
constexpr bool kDeliver = false;
#else
constexpr bool kDeliver = true;
#endif

TEST(Snapshot, OnSignalOnlyWhereTheHostHasNoHandlerOfItsOwn) {
    FlowStack stack{"Layer"};
    DebugFile out("");
    ASSERT_TRUE(ZERA_boHostSnapshotOnSignal(stack.h0(), 1)) << LastText();
    EXPECT_REFUSED(ZERA_boHostSnapshotOnSignal(stack.h0(), 1), OSAL_ERR_NOT_AVAILABLE);  // one stack answers
    if (kDeliver) {
        std::raise(SIGUSR1);
        std::string text;
        for (int i = 0; i < 500 && text.find("level 1 (") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            text = out.Text();
        }
        EXPECT_EQ(CountOf(text, "snapshot: stack of 1 level(s) above the host"), 1u) << text;
    }
    EXPECT_TRUE(ZERA_boHostSnapshotOnSignal(nullptr, 0));
    EXPECT_REFUSED(ZERA_boHostSnapshotOnSignal(nullptr, 0), OSAL_ERR_NOT_AVAILABLE);

    // A host's own handler stays: the call refuses and the signal reaches the host.
    ASSERT_NE(std::signal(SIGUSR1, HostHandler), SIG_ERR);
    EXPECT_REFUSED(ZERA_boHostSnapshotOnSignal(stack.h0(), 1), OSAL_ERR_NOT_AVAILABLE);
    if (kDeliver) {
        std::raise(SIGUSR1);
        EXPECT_EQ(g_hostSignals.load(), 1);
    }
    std::signal(SIGUSR1, SIG_DFL);
}

// The host tool on the sample stack: what it writes to stderr.
std::string ToolErrors(const std::string &environment, const std::string &options) {
    const std::string command = environment + " ./zera run --duration 0.5 --send 3:100:3 " + options +
                                " 2>trace_test_tool.err >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::string text = ReadAll("trace_test_tool.err");
    std::remove("trace_test_tool.err");
    return text;
}

TEST(HostTool, DebugLinesOnlyWhenAskedAndATimelineOfTheSampleStack) {
    if (std::system("test -x ./zera") != 0) GTEST_SKIP() << "the host tool is not built";
    EXPECT_EQ(ToolErrors("env -u ZERA_DEBUG -u ZERA_TRACE", ""), "");
    const std::string lines = ToolErrors("ZERA_DEBUG=send:debug", "");
    // The three host sends to level 3 (type 0), besides the sample's own.
    EXPECT_EQ(CountOf(lines, "send   level 3: sent type 0 of level 3 id "), 3u) << lines;
    EXPECT_EQ(CountOf(lines, "\n"), CountOf(lines, " debug   send   level ")) << lines;

    EXPECT_EQ(ToolErrors("ZERA_TRACE=trace_test_env.json", ""), "");
    const std::string verdict = Check("trace_test_env.json", "--levels 4 --max-open 1");
    if (!verdict.empty()) {
        EXPECT_EQ(verdict, "ok\n");
    }
    std::remove("trace_test_env.json");
}

}  // namespace
#endif
