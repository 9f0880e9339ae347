// link/link_test.cpp - stacks split across two processes: the Link component
// at the top of `zera run`'s stack and `zera serve` holding the rest, over
// tcp on the loopback address and over ipc; a server killed with SIGKILL and
// started again; peers that send garbage to either end; attachments that
// cross with their levels renumbered; refused handshakes. Runs the built
// tool as child processes from the test's folder (the build's bin folder);
// the test plays the far end itself on a raw socket where it needs one.
#include <gtest/gtest.h>

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

#if ZERA_LINK_TESTS && !defined(_WIN32) && !defined(ZERA_LINK_TSAN)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zmq.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ZERA_Host.h"
#include "link/link_test_util.h"
#include "support/refusal.h"

namespace {

using linktest::Attach;
using linktest::Numbered;
using zlink::Bytes;

class Link : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("./zera", X_OK) != 0 || access("Echo.COMPONENT", R_OK) != 0) {
            GTEST_SKIP() << "the host tool or the sample components are not built";
        }
    }
};

// `zera <arguments>` as a child process whose output the test reads. The
// shell says its process number and then becomes the tool.
class Tool {
public:
    explicit Tool(const std::string &arguments) : out_(popen(("echo $$; exec ./zera " + arguments).c_str(), "r")) {
        pid_ = std::atoi(Line().c_str());
    }
    ~Tool() { Stop(SIGKILL); }
    std::string Line() {
        char buf[512];
        return out_ != nullptr && fgets(buf, sizeof buf, out_) != nullptr ? buf : "";
    }
    std::string Rest() {
        std::string all;
        for (std::string l; !(l = Line()).empty();) all += l;
        return all;
    }
    // Sends sig (0: none) and waits for the end, reading what is left (a
    // closed pipe would end it too): the exit status, or 128 + the signal
    // that ended it.
    int Stop(int sig = 0) {
        if (out_ == nullptr) return -1;
        if (sig != 0 && pid_ > 0) kill(pid_, sig);
        Rest();
        const int status = pclose(out_);
        out_ = nullptr;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    FILE *out_;
    pid_t pid_ = 0;
};

// `zera serve <arguments> --bind <bind>`; endpoint is what it bound.
struct Server {
    Server(const std::string &bind, const std::string &arguments)
        : tool("serve " + arguments + " --bind '" + bind + "'") {
        const std::string first = tool.Line();
        const size_t at = first.rfind(" at ");
        if (at != std::string::npos) endpoint = first.substr(at + 4, first.size() - at - 5);
    }
    Tool tool;
    std::string endpoint;
};

// Echo without its greeting, which would go out before a Link is there.
const char *const kEcho = "Echo --set 1:Greeting=";

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

std::string RunTool(const std::string &arguments) {
    Tool run("run " + arguments);
    const std::string report = run.Rest();
    EXPECT_EQ(run.Stop(), 0) << report;
    return report;
}

// In a `zera run --json` report, the flat object `key` ("kind0",
// "host_events", "link") of level `level`'s entry.
std::string Part(const std::string &json, int level, const std::string &key) {
    const size_t at = json.find("\"" + key + "\":{", json.find("{\"level\":" + std::to_string(level) + ","));
    return at == std::string::npos ? "none" : json.substr(at, json.find('}', at) - at);
}

// The sample stack's answers to 40 host events, in one process and split
// after level 2, give the same figures on every level below the link and
// on the link's own level as the input filter counts them.
TEST_F(Link, SplitStackReportsTheSameFiguresAsOneProcess) {
    const std::string send = " --send 3:5:40 --duration 2 --json";
    const std::string one = RunTool("Counter Loopback Echo --set 3:Greeting=" + send);
    ASSERT_EQ(Part(one, 1, "kind0"), R"("kind0":{"eventsA":40,"eventsB":0,"bytesA":320,"bytesB":0)");
    const std::pair<int, const char *> same[] = {{1, "kind0"}, {1, "kind1"}, {1, "kind2"}, {1, "host_events"},
                                                 {2, "kind0"}, {2, "kind1"}, {2, "kind2"}, {2, "host_events"},
                                                 {3, "kind0"}, {3, "host_events"}};
    const IpcEndpoint ipc;
    for (const std::string &bind : {std::string("tcp://127.0.0.1:*"), std::string(ipc)}) {
        SCOPED_TRACE(bind);
        Server server(bind, kEcho);
        ASSERT_FALSE(server.endpoint.empty());
        const std::string two = RunTool("Counter Loopback Link --set 3:OnFull=1 --set 3:Endpoint=" + server.endpoint +
                                    send);
        for (const auto &p : same) EXPECT_EQ(Part(two, p.first, p.second), Part(one, p.first, p.second));
        // 40 out, 40 back, nothing lost or refused, one session.
        EXPECT_EQ(Part(two, 3, "link"), R"("link":{"to_peer":40,"from_peer":40,"lost":0,"undelivered":0,)"
                                        R"("missing_from_peer":0,"refused_packets":0,"sessions":1)");
    }
}

// The numbers in the line of text that begins with `begin`.
std::vector<unsigned long> NumbersOf(const std::string &text, const std::string &begin) {
    const size_t at = text.find("\n" + begin);
    std::string line = at == std::string::npos ? "" : text.substr(at + 1, text.find('\n', at + 1) - at - 1);
    std::replace_if(line.begin(), line.end(), [](unsigned char c) { return !std::isdigit(c); }, ' ');
    std::istringstream in(line);
    std::vector<unsigned long> v;
    for (unsigned long n; in >> n;) v.push_back(n);
    return v;
}

// A server killed mid-run and started again: the run reconnects by itself,
// goes on, and every event it sent is either answered or counted lost.
TEST_F(Link, KilledServerIsCountedAndTheRunGoesOn) {
    const IpcEndpoint ipc;
    auto server = std::make_unique<Server>(ipc, std::string(kEcho) + " --interval 100");
    ASSERT_EQ(server->endpoint, std::string(ipc));
    Tool run("run Counter Loopback Link --send 3:10 --duration 4 --set 3:Endpoint=" + std::string(ipc));
    // Killed once its status (every 100 ms) says events came, however slow the run was to start.
    for (std::string l = server->tool.Line(); !l.empty(); l = server->tool.Line()) {
        if (l.rfind("status", 0) == 0 && l.find("from the peer 0,") == std::string::npos) break;
    }
    server.reset();  // SIGKILL
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    server = std::make_unique<Server>(ipc, kEcho);
    const std::string report = run.Rest();
    ASSERT_EQ(run.Stop(), 0) << report;
    const unsigned long sent = NumbersOf(report, "  sent ").at(0);
    const unsigned long received = NumbersOf(report, "  received at level 0:").at(1);
    // Level 3: to the peer, from it, lost, not delivered, missing, refused packets, sessions.
    const std::vector<unsigned long> link = NumbersOf(report, "link at level");
    ASSERT_EQ(link.size(), 8u) << report;
    EXPECT_EQ(link[7], 2u) << report;  // before and after the kill
    EXPECT_GT(link[3], 0u) << report;
    EXPECT_GT(received, link[2] / 2) << report;  // answers came before and after
    // Only events the dead server had taken (and confirmed) but not yet
    // answered escape the count: a few, more on a loaded machine.
    EXPECT_LE(received + link[3], sent) << report;
    EXPECT_GE(received + link[3] + 5 + sent / 20, sent) << report;
}

// A link end played by the test on a DEALER socket (a DEALER talks to a
// DEALER or a ROUTER alike): connected to a server's endpoint, or else bound
// on the loopback address for a Link or `zera top` to connect to.
class Peer {
public:
    explicit Peer(const std::string &server = "") : endpoint(server) {
        int linger = 0;
        zmq_setsockopt(socket_, ZMQ_LINGER, &linger, sizeof linger);
        if (!server.empty()) {
            zmq_connect(socket_, server.c_str());
            return;
        }
        zmq_bind(socket_, "tcp://127.0.0.1:*");
        char last[256] = {};
        size_t size = sizeof last;
        zmq_getsockopt(socket_, ZMQ_LAST_ENDPOINT, last, &size);
        endpoint = last;
    }
    ~Peer() {
        zmq_close(socket_);
        zmq_ctx_term(ctx_);
    }
    // The next message but the Link's clock probes (left unanswered); empty after 5 s.
    Bytes Next() {
        zmq_pollitem_t item = {socket_, 0, ZMQ_POLLIN, 0};
        zmq_msg_t msg;
        zmq_msg_init(&msg);
        Bytes body;
        while ((body.empty() || body[0] == zlink::kClockAsk) && zmq_poll(&item, 1, 5000) > 0 &&
               zmq_msg_recv(&msg, socket_, 0) >= 0) {
            const auto *data = static_cast<const uint8_t *>(zmq_msg_data(&msg));
            body.assign(data, data + zmq_msg_size(&msg));
        }
        zmq_msg_close(&msg);
        return body.empty() || body[0] != zlink::kClockAsk ? body : Bytes();
    }
    void Send(const Bytes &m) { zmq_send(socket_, m.data(), m.size(), 0); }
    std::string endpoint;

private:
    void *ctx_ = zmq_ctx_new();
    void *socket_ = zmq_socket(ctx_, ZMQ_DEALER);
};

Bytes Welcome(const std::string &name, uint16_t version = zlink::kVersion) {
    zlink::Hello w;
    w.version = version;
    w.name = name;
    return zlink::HelloMessage(zlink::kWelcome, w);
}

// The event's first data byte and its attachments, as "161 at 3: Gain=161".
std::string Shown(const Event *ev) {
    std::string shown = std::to_string(ev->pbData[0]);
    for (const Attachment *a = ev->pstAttachments; a != nullptr; a = a->pstNext) {
        const Param &p = a->pParList[0];
        shown += " at " + std::to_string(a->u8Level) + ": " + static_cast<const char *>(p.pName) + "=" +
                 std::to_string(p.uValue.dw);
    }
    return shown;
}

// A Link at level 1 of a stack in this process; it waits ConnectWaitMs for
// the welcome at its start.
struct LinkStack {
    explicit LinkStack(const std::string &endpoint, const char *peerName = "", uint32_t waitMs = 2000) {
        ZERA_boSetStackParamA(h0, 1, "Endpoint", endpoint.c_str());
        ZERA_boSetStackParamA(h0, 1, "PeerName", peerName);
        ZERA_boSetStackParamA(h0, 1, "ConnectWaitMs", waitMs);
    }
    ~LinkStack() { ZERA_boHostStackDestroy(h0); }
    // The next data event that comes down to level 0, shown; "" after 5 s.
    std::string Receive() {
        while (Event *ev = ZERA_pstHostReceiveEvent(h0, 5000)) {
            const std::string shown = ev->i32Type != ZERA_EVENT_ITEMS ? Shown(ev) : "";
            ZERA_boDeleteEvent(ev);
            if (!shown.empty()) return shown;
        }
        return "";
    }
    // The Link's figures: taken from the peer, missing from it, refused
    // packets, sessions; waited for up to 2 s to become `expected` (the
    // last packet may still be on its way).
    std::vector<uint32_t> Figures(const std::vector<uint32_t> &expected) {
        std::vector<uint32_t> figures;
        uint32_t stats[ZERA_STATS_WORDS] = {};
        for (int wait = 0; wait < 100 && figures != expected && ZERA_boGetStatistics(h0, 1, stats); ++wait) {
            figures = {stats[5], stats[9], stats[10], stats[11]};
            if (figures != expected) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return figures;
    }
    StackHandle *h0 = ZERA_hHostStackCreate(nullptr);
    uint8_t level = ZERA_bHostAddComponentA(h0, "Link");
};

// Attachments keep their level across processes both ways: this process's
// Link at level 1 stands for level 0 of `zera serve`, whose stack is a Link
// at level 1 to a peer played here (level 0 of a third stack). Level 3 here
// is serve's level 2, and so is the far peer's level 1. Events that wait at
// a Link go out together: serve's Link holds the first until the far peer's
// welcome (OnFull 1) and gathers the others meanwhile.
TEST_F(Link, AttachmentsArriveAtTheirLevelInTheOtherProcess) {
    Peer far;
    Server server("tcp://127.0.0.1:*", "Link --set 1:ConnectWaitMs=0 --set 1:OnFull=1 --set 1:Endpoint=" + far.endpoint);
    LinkStack near(server.endpoint);
    ASSERT_EQ(far.Next()[0], zlink::kHello);
    ASSERT_TRUE(ZERA_boHostStartStack(near.h0)) << OSAL_pszGetLastErrorText();
    for (uint8_t byte = 0xB1; byte <= 0xB4; ++byte) {
        Event *ev = ZERA_pstHostCreateEvent(near.h0, ZERA_EVENT_DATA0, 1, 1);
        ev->pbData[0] = byte;
        if (byte == 0xB1) Attach(ev, 1, 11);  // for this Link itself: it has no level over there
        if (byte == 0xB1) Attach(ev, 3, 5);
        ASSERT_TRUE(ZERA_boHostSendEvent(near.h0, ev, 0));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    far.Send(Welcome("far"));
    std::string kinds, shown;  // the kinds of the messages, the events
    std::vector<Event *> got;
    for (Bytes m = far.Next(); !m.empty() && got.size() < 4; m = far.Next()) {
        if (m[0] == zlink::kHello) continue;  // repeated while there was no welcome
        uint32_t sequence = 0, ack = 0;
        const size_t before = got.size();
        ASSERT_TRUE(zlink::ReadEvents(m.data(), m.size(), {}, &sequence, &ack, &got));
        EXPECT_EQ(sequence, before);
        kinds += static_cast<char>(m[0]);
    }
    for (Event *ev : got) {
        shown += (shown.empty() ? "" : ", ") + Shown(ev);
        ZERA_boDeleteEvent(ev);
    }
    EXPECT_EQ(shown, "177 at 2: Gain=5, 178, 179, 180");
    // The one held, then the others in one message (or all of them in one).
    EXPECT_LE(kinds.size(), 2u) << kinds;
    far.Send(Numbered(0, {0xA1}, 1));
    EXPECT_EQ(near.Receive(), "161 at 3: Gain=161");
}

// The code ReadDescription refuses a message with ("0": it is read), and
// whether a packet came back against the result.
std::string DescriptionCode(const Bytes &message) {
    ZERA_HPACKET packet = &packet;
    const bool read = zlink::ReadDescription(message.data(), message.size(), &packet);
    const std::string code = read ? "0" : std::to_string(OSAL_dwGetLastError());
    if (read && packet != nullptr) ZERA_boMarshalPacketDelete(packet);
    return read == (packet != nullptr) ? code : "a packet against the result";
}

// Messages no end takes, once it has said welcome.
std::vector<Bytes> Garbage() {
    const Bytes event = Numbered(0, {1});
    const Bytes batch = Numbered(0, {1, 2, 3});
    const size_t second = zlink::kBatchHeader + (batch.size() - zlink::kBatchHeader) / 3;
    std::vector<Bytes> g = {{}, {'?'}, {zlink::kEvent, 1}, {zlink::kAck, 0, 0}, Welcome("serve"),
                            zlink::HelloMessage(zlink::kHello, zlink::Hello()), event, event, event, event,
                            batch, batch, batch, batch, batch, batch, {zlink::kBatch, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}};
    g[4].resize(3);                     // a welcome cut short
    g[5][1] ^= 0xFF;                    // a hello with a bad magic number
    g[6].pop_back();                    // an event cut short
    g[7].push_back(0);                  // bytes behind an event
    g[8][zlink::kEventHeader] = 7;      // an event of a bad type
    g[9][zlink::kEventHeader - 1] = 2;  // a bad width of its attachments
    g[10][zlink::kBatchHeader - 1] = 4;  // a batch that says more events than it holds
    g[11][zlink::kBatchHeader - 1] = 2;  // ... and fewer
    g[12][zlink::kBatchHeader - 1] = 1;  // a batch of one, which goes as an event
    g[13][zlink::kBatchHeader - 2] = zlink::kMaxBatch >> 8;  // a batch of more than the largest
    g[14].pop_back();                    // a batch cut short
    g[15][second] = 2;                   // a bad width of its second event's attachments
    return g;                            // (g[16]: a batch header and no events)
}

// A peer of `zera serve` that sends garbage: each bad packet is refused and
// counted, a hello of an old version is answered with a refusal that says
// why, and the server goes on serving; its stack description reads back,
// and every cut copy of it is refused.
TEST_F(Link, ServerRefusesAndCountsGarbage) {
    Server server("tcp://127.0.0.1:*", kEcho);
    Peer peer(server.endpoint);
    for (uint8_t version = 1; version <= 4; ++version) {
        // Version 1 had no link level; 2 to 4 had no session number in the hello.
        Bytes hello = {zlink::kHello, 'Z', 'L', 'N', 'K', 0, version, zlink::kRoleStack, 3, 0, 1, 'l'};
        if (version == 1) hello = {zlink::kHello, 'Z', 'L', 'N', 'K', 0, 1, zlink::kRoleStack, 0, 4, 'l', 'i', 'n', 'k'};
        peer.Send(hello);
        const std::string why = "the peer speaks link protocol version " + std::to_string(version) +
                                ", this end version " + std::to_string(zlink::kVersion);
        EXPECT_EQ(peer.Next(), zlink::RefuseMessage(2057, why));
    }
    peer.Send(Numbered(0, {1}));  // before a hello
    peer.Send(zlink::HelloMessage(zlink::kHello, zlink::Hello()));
    ASSERT_EQ(peer.Next()[0], zlink::kWelcome);
    for (const Bytes &g : Garbage()) peer.Send(g);
    peer.Send({zlink::kStatusAsk});
    zlink::Status status;
    const Bytes m = peer.Next();
    ASSERT_TRUE(zlink::ReadStatus(m.data(), m.size(), &status));
    EXPECT_EQ(status.link[3], 5u + Garbage().size());  // the old hellos, the event before the welcome, the garbage
    EXPECT_EQ(status.link[0], 0u);
    EXPECT_EQ(status.levels.at(0).component, "Echo");

    peer.Send({zlink::kDescribeAsk});
    Bytes description = peer.Next();
    EXPECT_EQ(DescriptionCode(description), "0");
    for (size_t cut = 1; cut < description.size(); ++cut) {
        // The count says more entries than there are.
        EXPECT_EQ(DescriptionCode(Bytes(description.begin(), description.begin() + cut)), "1032") << cut;
    }
    description.push_back(0);
    EXPECT_EQ(DescriptionCode(description), "1034");
    Tool top("top " + server.endpoint + " --describe");
    const std::string shown = top.Rest();
    EXPECT_EQ(top.Stop(), 0) << shown;
    EXPECT_EQ(shown.rfind("stack description: 2 levels, top first\nlevel 1  Echo  status", 0), 0u) << shown;
    EXPECT_EQ(server.tool.Stop(SIGTERM), 0);
}

// `zera top --describe` given a description it cannot read says so and
// fails instead of printing part of it.
TEST_F(Link, TopRefusesAMalformedDescription) {
    Peer peer;
    Tool top("top " + peer.endpoint + " --describe");
    ASSERT_EQ(peer.Next()[0], zlink::kHello);
    peer.Send({zlink::kDescription, 1, 0xFF});
    EXPECT_EQ(top.Rest(), "");
    EXPECT_EQ(top.Stop(), 1);
}

// A hello answered with a refusal, another version or another name fails
// the start with the Link's own code and reason, the host kit naming the
// Link's level; nothing is left running.
TEST_F(Link, MismatchedPeerFailsTheStartWithTheReason) {
    const struct {
        Bytes answer;
        const char *peerName;
        uint32_t code;
        const char *reason;
    } cases[] = {
        {zlink::RefuseMessage(2055, "expects 'x'"), "", 2055, "the peer says: expects 'x'"},
        {Welcome("serve", 9), "", 2057, "the peer speaks link protocol version 9, this end version 6"},
        {Welcome("other"), "serve", 2055, "the peer is named 'other', this end expects 'serve'"},
    };
    for (const auto &c : cases) {
        Peer peer;
        LinkStack stack(peer.endpoint, c.peerName);
        std::thread answer([&] {
            peer.Next();
            peer.Send(c.answer);
        });
        EXPECT_REFUSED(ZERA_boHostStartStack(stack.h0), c.code);
        answer.join();
        const std::string text = OSAL_pszGetLastErrorText();
        EXPECT_EQ(text.substr(text.find("): ") + 3),
                  std::string("did not start: Link: ") + c.reason + ": level 1 (Link)");
        EXPECT_EQ(ZERA_hHandleGetNextLevel(stack.h0)->dwStatus & ZERA_STATUS_STARTED, 0u);
    }
}

// Starts the Link's stack and welcomes its hello as `zera serve` would.
void StartWelcomed(LinkStack &stack, Peer &peer) {
    ASSERT_TRUE(ZERA_boHostStartStack(stack.h0)) << OSAL_pszGetLastErrorText();
    ASSERT_EQ(peer.Next()[0], zlink::kHello);
    peer.Send(Welcome("serve"));
}

// Garbage from the peer after its welcome is refused and counted; a gap in
// its numbering is counted lost; good events still come down to level 0.
TEST_F(Link, RefusesAndCountsGarbageFromThePeer) {
    Peer peer;
    LinkStack stack(peer.endpoint, "", 0);
    ASSERT_NO_FATAL_FAILURE(StartWelcomed(stack, peer));
    for (const Bytes &m : Garbage()) peer.Send(m);
    // 1, then 2 with the numbers 1 and 2 missing, then 2's number again,
    // then 4 and 5 in one message, then 5's number again.
    for (const Bytes &m : {Numbered(0, {1}), Numbered(3, {2}), Numbered(3, {3}), Numbered(4, {4, 5}), Numbered(5, {6})}) {
        peer.Send(m);
    }
    for (const char *expected : {"1", "2", "4", "5"}) EXPECT_EQ(stack.Receive(), expected);
    const std::vector<uint32_t> figures = {4, 2, static_cast<uint32_t>(Garbage().size()) + 2, 1};
    EXPECT_EQ(stack.Figures(figures), figures);
    EXPECT_TRUE(ZERA_boHostStopStack(stack.h0));
}

// The events due with the one the Link takes go along with it, in order;
// one due later waits in the send queue for its time.
TEST_F(Link, ForwardsWhatIsDueAndKeepsTheRestForItsTime) {
    Peer peer;
    LinkStack stack(peer.endpoint, "", 0);
    ASSERT_NO_FATAL_FAILURE(StartWelcomed(stack, peer));
    uint32_t stats[ZERA_STATS_WORDS] = {};
    for (int wait = 0; wait < 100 && stats[11] == 0; ++wait) {  // the session begins
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(ZERA_boGetStatistics(stack.h0, 1, stats));
    }
    const auto start = std::chrono::steady_clock::now();
    for (const std::pair<uint8_t, uint32_t> byteAndDelay : {std::make_pair(9, 600), {1, 100}, {2, 100}, {3, 100}}) {
        Event *ev = ZERA_pstHostCreateEvent(stack.h0, ZERA_EVENT_DATA2, 1, 1);
        ev->pbData[0] = byteAndDelay.first;
        ASSERT_TRUE(ZERA_boHostSendEvent(stack.h0, ev, byteAndDelay.second));
    }
    std::string arrived;
    while (arrived.size() < 4) {
        const Bytes m = peer.Next();
        uint32_t sequence = 0, ack = 0;
        std::vector<Event *> events;
        ASSERT_TRUE(zlink::ReadEvents(m.data(), m.size(), {}, &sequence, &ack, &events));
        for (Event *ev : events) {
            arrived += std::to_string(ev->pbData[0]);
            ZERA_boDeleteEvent(ev);
        }
        if (arrived.size() == 3) {
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
        }
    }
    EXPECT_EQ(arrived, "1239");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(550));
    EXPECT_TRUE(ZERA_boHostStopStack(stack.h0));
}

// A server that sends the Link every kind of message, an event of the
// stack's status (an item list) among them, and messages of the server's
// side that a Link never takes: the Link's process lives on, the item list
// is counted missing and never reaches the stack, the rest are refused and
// counted, a flush is answered, and an event after all of it still arrives.
TEST_F(Link, FakeServerSendsEveryKindAndTheLinkLivesOn) {
    Peer peer;
    LinkStack stack(peer.endpoint, "", 0);
    ASSERT_NO_FATAL_FAILURE(StartWelcomed(stack, peer));
    Event *items = ZERA_pstCreateEvent(ZERA_EVENT_ITEMS, 1, 0);
    Bytes status;
    ASSERT_TRUE(zlink::EventMessage(items, &status));
    ZERA_boDeleteEvent(items);
    zlink::Status report;
    report.levels.resize(1);
    const Bytes kinds[] = {
        status,                                              // the status event, sequence 0
        Welcome("serve"),                                    // repeated: taken as the answer to a hello
        zlink::HelloMessage(zlink::kHello, zlink::Hello()),  // refused from here on: a server's side
        {zlink::kStatusAsk}, {zlink::kDescribeAsk}, {zlink::kBye},
        zlink::StatusMessage(report), {zlink::kDescription, 0},
        zlink::AckMessage(0),
        zlink::ClockAskMessage(zlink::ClockAsk()),           // a server's side
        zlink::ClockAnswerMessage(zlink::ClockAnswer{0, 2, 3}),  // to no probe of the Link's
    };
    for (const Bytes &m : kinds) peer.Send(m);
    peer.Send({zlink::kFlush});
    Bytes answer;
    while ((answer = peer.Next()).size() == 5 && answer != zlink::AckMessage(1)) {
    }
    EXPECT_EQ(answer, zlink::AckMessage(1));  // the item list was taken (and dropped)
    peer.Send(Numbered(1, {0x42}));
    EXPECT_EQ(stack.Receive(), "66");
    EXPECT_EQ(stack.Figures({1, 1, 8, 1}), (std::vector<uint32_t>{1, 1, 8, 1}));
    EXPECT_NE(ZERA_hHandleGetNextLevel(stack.h0)->dwStatus & ZERA_STATUS_STARTED, 0u);
    EXPECT_TRUE(ZERA_boHostStopStack(stack.h0));
}

// A stack peer sends 50 full batches at once to a served Echo, which
// answers every event: serve takes them all, and every answer is either
// forwarded, counted undelivered, or counted dropped at level 0 (the
// stack answered faster than serve took); what serve forwarded is what
// the peer received, none missing.
TEST_F(Link, FiftyBatchBurstIsCountedExactlyOnBothEnds) {
    Server server("tcp://127.0.0.1:*", kEcho);
    Peer peer(server.endpoint);
    peer.Send(zlink::HelloMessage(zlink::kHello, zlink::Hello()));
    ASSERT_EQ(peer.Next()[0], zlink::kWelcome);
    constexpr uint32_t kBatches = 50;
    std::vector<uint8_t> bytes(zlink::kMaxBatch);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    for (uint32_t b = 0; b < kBatches; ++b) peer.Send(Numbered(b * zlink::kMaxBatch, bytes));
    uint32_t received = 0, expect = 0;  // the events, and the next number (no gap: the same)
    zlink::Status status;
    // Until serve confirmed everything a few times over (it does so while idle).
    for (int quiet = 0; quiet < 3;) {
        const Bytes m = peer.Next();
        if (m.empty() || m[0] == zlink::kAck) {
            quiet += m.empty() ? 3 : m == zlink::AckMessage(kBatches * zlink::kMaxBatch);
            continue;
        }
        uint32_t sequence = 0, ack = 0;
        std::vector<Event *> events;
        ASSERT_TRUE(zlink::ReadEvents(m.data(), m.size(), {}, &sequence, &ack, &events)) << m[0];
        expect = sequence + static_cast<uint32_t>(events.size());
        received += static_cast<uint32_t>(events.size());
        for (Event *ev : events) ZERA_boDeleteEvent(ev);
    }
    peer.Send({zlink::kStatusAsk});
    const Bytes m = peer.Next();
    ASSERT_TRUE(zlink::ReadStatus(m.data(), m.size(), &status));
    const uint32_t *f = status.link;
    EXPECT_EQ(f[zlink::kTaken], kBatches * zlink::kMaxBatch);
    EXPECT_EQ(f[zlink::kForwarded] + f[zlink::kUndelivered] + f[zlink::kDropped], f[zlink::kTaken]);
    EXPECT_EQ(received, f[zlink::kForwarded]);
    EXPECT_EQ(expect, received);
    EXPECT_EQ(f[zlink::kRefused], 0u);
    std::fprintf(stderr, "burst: taken %u = forwarded %u + undelivered %u + dropped %u; the peer received %u\n",
                 f[zlink::kTaken], f[zlink::kForwarded], f[zlink::kUndelivered], f[zlink::kDropped], received);
    EXPECT_EQ(server.tool.Stop(SIGTERM), 0);
}

// The outbox asks for one wake-up per sleep of its consumer: one lost
// leaves events waiting a whole round, one too many costs system calls.
TEST(LinkOutbox, AsksForOneWakeUpPerSleep) {
    zlink::Outbox outbox;
    zlink::EventBatch batch;
    uint32_t lost = 0;
    const auto add = [&outbox] {
        return outbox.Add(ZERA_pstCreateEvent(ZERA_EVENT_DATA0, 1, 1), 50, [] { return false; });
    };
    EXPECT_EQ(zlink::Outbox::kAddedWake, add());  // it starts asleep
    EXPECT_EQ(zlink::Outbox::kAdded, add());
    EXPECT_FALSE(outbox.Sleep());  // events wait: it stays awake
    EXPECT_EQ(zlink::Outbox::kAdded, add());
    ASSERT_TRUE(outbox.Fill(&batch, &lost));
    EXPECT_EQ(3u, batch.Count());
    EXPECT_FALSE(outbox.Fill(&batch, &lost));
    EXPECT_TRUE(outbox.Sleep());
    EXPECT_EQ(zlink::Outbox::kAddedWake, add());
    EXPECT_EQ(1u, outbox.Discard());
}

}  // namespace

#else
TEST(Link, NotBuilt) { GTEST_SKIP() << "no Link component (no libzmq), or a thread-sanitizer build"; }
#endif
