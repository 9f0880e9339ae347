// link/link_test.cpp - stacks split across two processes: the Link component
// at the top of `zera run`'s stack and `zera serve` holding the rest, over
// tcp on the loopback address and over ipc; a server killed with SIGKILL and
// started again; peers that send garbage to either end. Runs the built tool
// as child processes from the test's folder (the build's bin folder).
#include <gtest/gtest.h>

#if ZERA_LINK_TESTS && !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zmq.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ZERA_Host.h"
#include "link_wire.h"

// libzmq is not built for the thread sanitizer, which cannot see how
// ZeroMQ's threads hand messages over and reports what libzmq allocates on
// one thread and frees on another as races: the link is not tested there.
#if defined(__SANITIZE_THREAD__)
#define ZERA_LINK_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZERA_LINK_TSAN 1
#endif
#endif

namespace {

// The process tests need the host tool and the sample components.
class LinkProcesses : public ::testing::Test {
protected:
    void SetUp() override {
#if ZERA_LINK_TSAN
        GTEST_SKIP() << "libzmq is not built for the thread sanitizer";
#endif
        if (access("./zera", X_OK) != 0 || access("Echo.COMPONENT", R_OK) != 0) {
            GTEST_SKIP() << "the host tool or the sample components are not built";
        }
    }
};

// A child process of the host tool whose stdout the test reads.
class Tool {
public:
    explicit Tool(const std::vector<std::string> &args) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            std::vector<char *> argv{const_cast<char *>("./zera")};
            for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv("./zera", argv.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fdopen(fds[0], "r");
    }
    ~Tool() {
        if (pid_ > 0) {
            Signal(SIGKILL);
            Wait();
        }
        if (out_ != nullptr) fclose(out_);
    }
    std::string Line() {
        char buf[512];
        return out_ != nullptr && fgets(buf, sizeof buf, out_) != nullptr ? buf : "";
    }
    std::string Rest() {
        std::string all;
        for (std::string l; !(l = Line()).empty();) all += l;
        return all;
    }
    void Signal(int sig) { kill(pid_, sig); }
    int Wait() {
        int status = 0;
        if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    FILE *out_ = nullptr;
};

// `zera serve <components...> --bind endpoint`; Endpoint() is what it bound.
struct Server {
    Server(const std::string &bind, const std::vector<std::string> &components) : tool(Args(bind, components)) {
        const std::string first = tool.Line();
        const size_t at = first.rfind(" at ");
        if (at != std::string::npos) endpoint = first.substr(at + 4, first.size() - at - 5);
    }
    static std::vector<std::string> Args(const std::string &bind, std::vector<std::string> components) {
        components.insert(components.begin(), "serve");
        for (const char *a : {"--bind", bind.c_str()}) components.push_back(a);
        return components;
    }
    Tool tool;
    std::string endpoint;
};

// Echo without its greeting, which would go out before a Link is there.
const std::vector<std::string> kEcho = {"Echo", "--set", "1:Greeting="};

// An ipc endpoint of this test run alone (the segment prefix names the
// build folder); its file goes with it, also after a killed server.
struct IpcEndpoint {
    IpcEndpoint() {
        const char *tag = std::getenv("VOQ_OSAL_SHM_PREFIX");
        path = "/tmp/" + std::string(tag != nullptr ? tag : "zera_link_") + std::to_string(getpid()) + ".sock";
    }
    ~IpcEndpoint() { unlink(path.c_str()); }
    operator std::string() const { return "ipc://" + path; }
    std::string path;
};

// The figures of a run report: "L.kind" -> the four counters of the
// statistics table, "host L" -> sent, taken, queued, received, "link" ->
// to the peer, from it, lost, not delivered, missing, refused packets, sessions.
using Figures = std::map<std::string, std::vector<unsigned long>>;

// The runs of digits in text, as numbers.
std::vector<unsigned long> Numbers(std::string text) {
    for (char &c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) c = ' ';
    }
    std::istringstream in(text);
    std::vector<unsigned long> v;
    for (unsigned long n; in >> n;) v.push_back(n);
    return v;
}

Figures ReadReport(const std::string &report) {
    Figures f;
    std::istringstream lines(report);
    std::string level, section;
    for (std::string line; std::getline(lines, line);) {
        const size_t kind = line.find(" kind");
        if (line.rfind("host events", 0) == 0 || line.rfind("stack parameters", 0) == 0) section = line;
        if (kind != std::string::npos && section.empty()) {
            if (std::isdigit(static_cast<unsigned char>(line[0]))) level = line.substr(0, line.find(' '));
            const std::vector<unsigned long> n = Numbers(line.substr(kind + 6));
            if (n.size() >= 4) f[level + "." + line.substr(kind + 5, 1)] = std::vector<unsigned long>(n.begin(), n.begin() + 4);
        } else if (section.rfind("host events", 0) == 0 && line.size() > 2 && std::isdigit(static_cast<unsigned char>(line[2]))) {
            const std::vector<unsigned long> n = Numbers(line);
            if (n.size() >= 5) f["host " + std::to_string(n[0])] = std::vector<unsigned long>(n.begin() + 1, n.begin() + 5);
        } else if (line.rfind("link at level", 0) == 0) {
            f["link"] = Numbers(line.substr(line.find(':')));
        }
    }
    return f;
}

std::string RunTool(const std::vector<std::string> &components, std::vector<std::string> options) {
    std::vector<std::string> args{"run"};
    args.insert(args.end(), components.begin(), components.end());
    args.insert(args.end(), options.begin(), options.end());
    Tool run(args);
    std::string out = run.Rest();
    EXPECT_EQ(run.Wait(), 0) << out;
    return out;
}

// The sample stack's answers to 40 host events, in one process and split
// after level 2, give the same figures on every level below the link and
// on the link's own level as the input filter counts them.
TEST_F(LinkProcesses, SplitStackReportsTheSameFiguresAsOneProcess) {
    const std::vector<std::string> send{"--send", "3:5:40", "--duration", "2"};
    std::vector<std::string> local = send;
    local.insert(local.end(), {"--set", "3:Greeting="});
    const Figures one = ReadReport(RunTool({"Counter", "Loopback", "Echo"}, local));
    ASSERT_EQ(one.at("1.0"), (std::vector<unsigned long>{40, 0, 320, 0}));
    const IpcEndpoint ipc;
    for (const std::string &bind : {std::string("tcp://127.0.0.1:*"), std::string(ipc)}) {
        SCOPED_TRACE(bind);
        Server server(bind, kEcho);
        ASSERT_FALSE(server.endpoint.empty());
        std::vector<std::string> split = send;
        split.insert(split.end(), {"--set", "3:Endpoint=" + server.endpoint, "--set", "3:OnFull=1"});
        const Figures two = ReadReport(RunTool({"Counter", "Loopback", "Link"}, split));
        for (const char *key : {"1.0", "1.1", "1.2", "2.0", "2.1", "2.2", "3.0", "host 1", "host 2", "host 3"}) {
            EXPECT_EQ(two.at(key), one.at(key)) << key;
        }
        // 40 out, 40 back, nothing lost or refused, one session.
        EXPECT_EQ(two.at("link"), (std::vector<unsigned long>{40, 40, 0, 0, 0, 0, 1}));
    }
}

// A server killed mid-run and started again: the run reconnects by itself,
// goes on, and every event it sent is either answered or counted lost.
TEST_F(LinkProcesses, KilledServerIsCountedAndTheRunGoesOn) {
    const IpcEndpoint ipc;
    const std::string endpoint = ipc;
    auto first = std::make_unique<Server>(endpoint, kEcho);
    ASSERT_EQ(first->endpoint, endpoint);
    Tool run({"run", "Counter", "Loopback", "Link", "--set", "3:Endpoint=" + endpoint, "--send", "3:10", "--duration",
              "4"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    first->tool.Signal(SIGKILL);
    first.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Server second(endpoint, kEcho);
    const std::string report = run.Rest();
    ASSERT_EQ(run.Wait(), 0) << report;
    const Figures f = ReadReport(report);
    const unsigned long sent = f.at("host 3")[0];
    const unsigned long received = f.at("host 1")[3];
    const unsigned long lost = f.at("link")[2];
    EXPECT_EQ(f.at("link")[6], 2u) << report;  // two sessions: before and after the kill
    EXPECT_GT(lost, 0u) << report;
    EXPECT_GT(received, f.at("link")[1] / 2) << report;  // answers came before and after
    // Only events the dead server had taken (and confirmed) but not yet
    // answered escape the count: a few, more on a loaded machine.
    EXPECT_LE(received + lost, sent) << report;
    EXPECT_GE(received + lost + 5 + sent / 20, sent) << report;
}

// The levels of a description message, top first ("1 Echo, 0 VOQ_ZERA"), or the
// code ReadDescription refused it with.
std::string DescribedLevels(const zlink::Bytes &message) {
    ZERA_HPACKET packet = nullptr;
    if (!zlink::ReadDescription(message.data(), message.size(), &packet)) return std::to_string(OSAL_dwGetLastError());
    std::string levels;
    uint8_t count = 0;
    ZERA_boUnmarshalByte(packet, &count);
    for (uint8_t i = 0; i < count; ++i) {
        StackHandle *level = nullptr;
        uint32_t status = 0;
        char *name = nullptr;
        if (!ZERA_boUnmarshalStackDescriptionEntryA(packet, &level, &status, &name)) break;
        levels += (i == 0 ? "" : ", ") + std::to_string(level->u8Level) + " " + (name != nullptr ? name : "");
        ZERA_vFree(name);
        ZERA_vDeleteStackHandleLevel(level);
    }
    ZERA_boMarshalPacketDelete(packet);
    return levels;
}

// A peer of `zera serve` that sends garbage: each bad packet is refused and
// counted, a hello of another version is answered with a refusal that says
// why, and the server goes on serving.
TEST_F(LinkProcesses, ServerRefusesAndCountsGarbage) {
    Server server("tcp://127.0.0.1:*", kEcho);
    void *ctx = zmq_ctx_new();
    void *s = zmq_socket(ctx, ZMQ_DEALER);
    int linger = 0, timeout = 5000;
    zmq_setsockopt(s, ZMQ_LINGER, &linger, sizeof linger);
    zmq_setsockopt(s, ZMQ_RCVTIMEO, &timeout, sizeof timeout);
    ASSERT_EQ(zmq_connect(s, server.endpoint.c_str()), 0);
    auto send = [&](const zlink::Bytes &b) { zmq_send(s, b.data(), b.size(), 0); };
    uint8_t buf[4096];
    auto receive = [&] { return zmq_recv(s, buf, sizeof buf, 0); };

    // The hello of version 1, which had no link level.
    send({zlink::kHello, 'Z', 'L', 'N', 'K', 0, 1, zlink::kRoleStack, 0, 4, 'l', 'i', 'n', 'k'});
    zlink::Refusal refusal;
    const int n = receive();
    ASSERT_TRUE(n > 0 && zlink::ReadRefuse(buf, static_cast<size_t>(n), &refusal));
    EXPECT_EQ(refusal.code, 2057u);
    EXPECT_NE(refusal.text.find("version 1, this end version 2"), std::string::npos) << refusal.text;

    zlink::Bytes event;
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_DATA0, 1, 5);
    ASSERT_TRUE(zlink::EventMessage(ev, &event));
    ZERA_boDeleteEvent(ev);
    zlink::Bytes truncated(event.begin(), event.end() - 3);
    zlink::Bytes badType = event;
    badType[zlink::kEventHeader] = 5;
    zlink::Bytes badHello = zlink::HelloMessage(zlink::kHello, zlink::Hello());
    badHello[1] ^= 0xFF;
    const std::vector<zlink::Bytes> garbage = {{}, {'Z', 1, 2}, badHello, event /* before a hello */};
    for (const zlink::Bytes &g : garbage) send(g);
    send(zlink::HelloMessage(zlink::kHello, zlink::Hello()));
    zlink::Hello welcome;
    const int w = receive();
    ASSERT_TRUE(w > 0 && zlink::ReadHello(buf, static_cast<size_t>(w), &welcome));
    EXPECT_EQ(welcome.name, "serve");
    for (const zlink::Bytes &g : {truncated, badType, zlink::Bytes{zlink::kAck, 0, 0}}) send(g);
    send({zlink::kStatusAsk});
    zlink::Status status;
    const int t = receive();
    ASSERT_TRUE(t > 0 && zlink::ReadStatus(buf, static_cast<size_t>(t), &status));
    EXPECT_EQ(status.link[3], 1u + garbage.size() + 3u);  // the old hello, the garbage, three bad packets
    EXPECT_EQ(status.link[0], 0u);
    ASSERT_EQ(status.levels.size(), 1u);
    EXPECT_EQ(status.levels[0].component, "Echo");

    // The stack description, top first; every cut copy of it is refused.
    send({zlink::kDescribeAsk});
    const int d = receive();
    ASSERT_TRUE(d > 0 && static_cast<size_t>(d) <= sizeof buf);
    const zlink::Bytes description(buf, buf + d);
    EXPECT_EQ(DescribedLevels(description), "1 Echo, 0 VOQ_ZERA");
    for (size_t cut = 1; cut < description.size(); ++cut) {
        ZERA_HPACKET packet = &cut;  // must come back null
        EXPECT_FALSE(zlink::ReadDescription(description.data(), cut, &packet)) << cut;
        EXPECT_EQ(packet, nullptr) << cut;
    }
    EXPECT_EQ(OSAL_dwGetLastError(), 1032u);  // the count says more entries than there are
    zlink::Bytes longer = description;
    longer.push_back(0);
    EXPECT_EQ(DescribedLevels(longer), "1034");
    EXPECT_EQ(DescribedLevels({zlink::kDescription}), "1032");
    Tool top({"top", server.endpoint, "--describe"});
    const std::string shown = top.Rest();
    EXPECT_EQ(top.Wait(), 0) << shown;
    EXPECT_EQ(shown.rfind("stack description: 2 levels, top first\nlevel 1  Echo  status", 0), 0u) << shown;
    zmq_close(s);
    zmq_ctx_term(ctx);
    server.tool.Signal(SIGTERM);
    EXPECT_EQ(server.tool.Wait(), 0);
}

// ---- The Link component in this process, against a peer played by the test ----

class FakePeer {
public:
    FakePeer() {
        ctx_ = zmq_ctx_new();
        socket_ = zmq_socket(ctx_, ZMQ_ROUTER);
        int linger = 0;
        zmq_setsockopt(socket_, ZMQ_LINGER, &linger, sizeof linger);
        zmq_bind(socket_, "tcp://127.0.0.1:*");
        char last[256] = {};
        size_t size = sizeof last;
        zmq_getsockopt(socket_, ZMQ_LAST_ENDPOINT, last, &size);
        endpoint = last;
        zmq_msg_init(&id_);
    }
    ~FakePeer() {
        if (thread_.joinable()) thread_.join();
        zmq_msg_close(&id_);
        zmq_close(socket_);
        zmq_ctx_term(ctx_);
    }
    // On the Link's hello, answers with `answer` and then sends `after`.
    void Answer(zlink::Bytes answer, std::vector<zlink::Bytes> after) {
        thread_ = std::thread([this, answer, after] {
            if (Next().empty()) return;
            Send(answer);
            for (const zlink::Bytes &m : after) Send(m);
        });
    }
    void Join() { thread_.join(); }
    // The next message of the Link (empty after 5 s), whose id answers go to.
    zlink::Bytes Next() {
        zmq_pollitem_t item = {socket_, 0, ZMQ_POLLIN, 0};
        uint8_t body[512];
        if (zmq_poll(&item, 1, 5000) <= 0 || zmq_msg_recv(&id_, socket_, 0) < 0) return {};
        const int n = zmq_recv(socket_, body, sizeof body, 0);
        return zlink::Bytes(body, body + (n > 0 ? std::min<size_t>(n, sizeof body) : 0));
    }
    void Send(const zlink::Bytes &m) {
        zmq_send(socket_, zmq_msg_data(&id_), zmq_msg_size(&id_), ZMQ_SNDMORE);
        zmq_send(socket_, m.data(), m.size(), 0);
    }
    std::string endpoint;

private:
    void *ctx_;
    void *socket_;
    zmq_msg_t id_;
    std::thread thread_;
};

zlink::Bytes Welcome(const std::string &name) {
    zlink::Hello w;
    w.session = 7;
    w.name = name;
    return zlink::HelloMessage(zlink::kWelcome, w);
}

zlink::Bytes Numbered(uint32_t sequence, uint8_t byte) {
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_DATA2, 1, 1);
    ev->pbData[0] = byte;
    zlink::Bytes m;
    zlink::EventMessage(ev, &m);
    ZERA_boDeleteEvent(ev);
    zlink::PatchEvent(m.data(), sequence, 0);
    return m;
}

// `zera top --describe` given a description it cannot read says so and
// fails instead of printing part of it.
TEST_F(LinkProcesses, TopRefusesAMalformedDescription) {
    FakePeer peer;
    peer.Answer(Welcome("serve"), {{zlink::kDescription, 1, 0xFF}});
    Tool top({"top", peer.endpoint, "--describe"});
    EXPECT_EQ(top.Rest(), "");
    EXPECT_EQ(top.Wait(), 1);
}

struct LinkStack {
    explicit LinkStack(const std::string &endpoint, const char *peerName = "") {
        h0 = ZERA_hHostStackCreate(nullptr);
        level = ZERA_bHostAddComponentA(h0, "Link");
        ZERA_boSetStackParamA(h0, 1, "Endpoint", endpoint.c_str());
        ZERA_boSetStackParamA(h0, 1, "PeerName", peerName);
    }
    ~LinkStack() { ZERA_boHostStackDestroy(h0); }
    StackHandle *h0;
    uint8_t level;
};

// What a call writes to stderr.
template <typename Call>
std::string Stderr(Call call) {
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    FILE *capture = std::tmpfile();
    dup2(fileno(capture), STDERR_FILENO);
    call();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::rewind(capture);
    std::string text;
    for (int c; (c = std::fgetc(capture)) != EOF;) text += static_cast<char>(c);
    std::fclose(capture);
    return text;
}

class LinkComponent : public ::testing::Test {
protected:
    void SetUp() override {
#if ZERA_LINK_TSAN
        GTEST_SKIP() << "libzmq is not built for the thread sanitizer";
#endif
    }
};

// A hello answered with a refusal, another version or another name fails
// the start with the Link's own code and reason, the host kit naming the
// Link's level; the Link says why on stderr; nothing is left running.
TEST_F(LinkComponent, MismatchedPeerFailsTheStartWithTheReason) {
    zlink::Hello other;
    other.version = 9;
    other.session = 1;
    const struct {
        zlink::Bytes answer;
        const char *peerName;
        uint32_t code;
        const char *reason;
    } cases[] = {
        {zlink::RefuseMessage(2055, "expects 'x'"), "", 2055, "the peer says: expects 'x'"},
        {zlink::HelloMessage(zlink::kWelcome, other), "", 2057, "the peer speaks link protocol version 9, this end version 2"},
        {Welcome("other"), "serve", 2055, "the peer is named 'other', this end expects 'serve'"},
    };
    for (const auto &c : cases) {
        FakePeer peer;
        peer.Answer(c.answer, {});
        LinkStack stack(peer.endpoint, c.peerName);
        ASSERT_EQ(stack.level, 1);
        BOOL8 started = 1;
        const std::string said = Stderr([&] { started = ZERA_boHostStartStack(stack.h0); });
        EXPECT_FALSE(started);
        EXPECT_EQ(OSAL_dwGetLastError(), c.code);
        const std::string text = OSAL_pszGetLastErrorText();
        EXPECT_NE(text.find(std::string("did not start: Link: ") + c.reason + ": level 1 (Link)"), std::string::npos)
            << text;
        EXPECT_NE(said.find(c.reason), std::string::npos) << said;
    }
}

// Garbage from the peer after its welcome is refused and counted; a gap in
// its numbering is counted lost; good events still come down to level 0.
TEST_F(LinkComponent, RefusesAndCountsGarbageFromThePeer) {
    FakePeer peer;
    zlink::Bytes truncated = Numbered(0, 1);
    truncated.resize(truncated.size() - 1);
    zlink::Bytes badType = Numbered(0, 1);
    badType[zlink::kEventHeader] = 7;
    zlink::Bytes trailing = Numbered(0, 1);
    trailing.push_back(0);
    zlink::Bytes cut = Welcome("serve");
    cut.resize(3);
    peer.Answer(Welcome("serve"),
                {truncated, badType, trailing, {zlink::kEvent, 1}, {'?'}, cut, Numbered(0, 0xA1),
                 Numbered(3, 0xA2) /* 1 and 2 missing */, Numbered(3, 0xA3) /* again */});
    LinkStack stack(peer.endpoint);
    ASSERT_TRUE(ZERA_boHostStartStack(stack.h0)) << OSAL_pszGetLastErrorText();
    std::vector<uint8_t> got;
    for (int i = 0; i < 2; ++i) {
        Event *ev = ZERA_pstHostReceiveEvent(stack.h0, 5000);
        ASSERT_NE(ev, nullptr);
        if (ev->i32Type == ZERA_EVENT_ITEMS) {
            --i;  // the stack's status
        } else {
            EXPECT_EQ(ev->u8Level, 1);
            got.push_back(ev->pbData[0]);
        }
        ZERA_boDeleteEvent(ev);
    }
    EXPECT_EQ(got, (std::vector<uint8_t>{0xA1, 0xA2}));
    uint32_t stats[ZERA_STATS_WORDS];
    for (int wait = 0; wait < 100; ++wait) {  // the last packet may still be on its way
        ASSERT_TRUE(ZERA_boGetStatistics(stack.h0, 1, stats));
        if (stats[10] == 7) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(stats[5], 2u);   // taken from the peer
    EXPECT_EQ(stats[9], 2u);   // missing from the peer
    EXPECT_EQ(stats[10], 7u);  // refused packets
    EXPECT_EQ(stats[11], 1u);  // sessions
    EXPECT_TRUE(ZERA_boHostStopStack(stack.h0));
}

// Gives ev a narrow attachment for `level`: Gain = value.
void Attach(Event *ev, uint8_t level, uint32_t value) {
    Attachment *node = *ZERA_ppstCheckParListA(ev, level, 0, 1, 0);
    uint32_t count = 0;
    ParamValue **values = nullptr;
    ASSERT_TRUE(ZERA_boAddParamA(1, 0, &node->pParList, &count, &values, ZERA_PARAM_DWORD, ZERA_ACCESS_ALWAYS,
                                 ZERA_ATTR_ATTACHABLE, 0, 0, "Gain", value));
}

// An event's attachments as "level name=value" lines.
std::string Attachments(const Event *ev) {
    std::string text;
    for (const Attachment *a = ev->pstAttachments; a != nullptr; a = a->pstNext) {
        text += std::to_string(a->u8Level) + " " + static_cast<const char *>(a->pParList[0].pName) + "=" +
                std::to_string(a->pParList[0].uValue.dw) + "\n";
    }
    return text;
}

// Attachments keep their level across processes both ways: this process's
// Link at level 1 stands for level 0 of `zera serve`, whose stack is a Link
// at level 1 to a peer played here (level 0 of a third stack). Level 3 here
// is serve's level 2, and the far peer's level 1 is serve's level 2 too.
TEST_F(LinkProcesses, AttachmentsArriveAtTheirLevelInTheOtherProcess) {
    FakePeer far;
    far.Answer(Welcome("far"), {});
    Server server("tcp://127.0.0.1:*", {"Link", "--set", "1:Endpoint=" + far.endpoint});
    far.Join();
    ASSERT_FALSE(server.endpoint.empty());
    LinkStack near(server.endpoint);
    ASSERT_TRUE(ZERA_boHostStartStack(near.h0)) << OSAL_pszGetLastErrorText();
    Event *ev = ZERA_pstHostCreateEvent(near.h0, ZERA_EVENT_DATA0, 1, 1);
    Attach(ev, 1, 11);  // for the Link itself: stays here
    Attach(ev, 3, 5);
    ASSERT_TRUE(ZERA_boHostSendEvent(near.h0, ev, 0));
    const zlink::Bytes forwarded = far.Next();
    uint32_t sequence = 0, ack = 0;
    Event *got = nullptr;
    ASSERT_TRUE(zlink::ReadEvent(forwarded.data(), forwarded.size(), {}, &sequence, &ack, &got));
    EXPECT_EQ(Attachments(got), "2 Gain=5\n");
    ZERA_boDeleteEvent(got);

    Event *back = ZERA_pstCreateEvent(ZERA_EVENT_DATA2, 1, 1);
    Attach(back, 1, 7);
    zlink::Bytes message;
    ASSERT_TRUE(zlink::EventMessage(back, &message));
    ZERA_boDeleteEvent(back);
    zlink::PatchEvent(message.data(), 0, 1);
    far.Send(message);
    for (got = nullptr; got == nullptr || got->i32Type == ZERA_EVENT_ITEMS;) {
        if (got != nullptr) ZERA_boDeleteEvent(got);
        got = ZERA_pstHostReceiveEvent(near.h0, 5000);
        ASSERT_NE(got, nullptr);
    }
    EXPECT_EQ(Attachments(got), "3 Gain=7\n");
    ZERA_boDeleteEvent(got);
}

}  // namespace

#else
TEST(Link, NotBuilt) { GTEST_SKIP() << "the Link component is not built (no libzmq)"; }
#endif
