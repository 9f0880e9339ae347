// link/session_test.cpp - the link's session state machine without sockets:
// who owns a server's session and who is refused with which code, what
// each end counts as undelivered, missing and refused, and the timers that
// say hello again, keep a quiet session alive and end a silent one.
#include <gtest/gtest.h>

#if ZERA_LINK_TESTS
#include <string>
#include <tuple>
#include <vector>

#include "link/link_test_util.h"
#include "link_session.h"

namespace {

using linktest::Numbered;
using zlink::Bytes;
using zlink::Outcome;
using zlink::PeerId;
using zlink::Session;

PeerId Route(const std::string &route, const std::string &key = "") {
    return PeerId{Bytes(route.begin(), route.end()), key, "tcp://127.0.0.1:" + route};
}

Bytes HelloFrom(uint8_t role, uint64_t session = 0, uint16_t version = zlink::kVersion) {
    return zlink::HelloMessage(zlink::kHello, zlink::Hello{version, role, session, 0, "peer"});
}

// The reply as "W<session>", "R<code>", "A<n>", or "-" for none; an ask as "ask S"/"ask D".
std::string Shown(const Outcome &o) {
    if (o.ask != Outcome::kNoAsk) return o.ask == Outcome::kStatusAsk ? "ask S" : "ask D";
    if (o.reply.empty()) return "-";
    zlink::Hello w;
    zlink::Refusal r;
    uint32_t ack = 0;
    if (zlink::ReadHello(o.reply.data(), o.reply.size(), &w)) return "W" + std::string(w.session != 0 ? "+" : "0");
    if (zlink::ReadRefuse(o.reply.data(), o.reply.size(), &r)) return "R" + std::to_string(r.code) + " " + r.text;
    if (zlink::ReadAck(o.reply.data(), o.reply.size(), &ack)) return "A" + std::to_string(ack);
    return "?";
}

// One stack peer owns a server's session; the table walks through who may
// take it and what every other peer is told.
TEST(LinkSession, OneStackPeerOwnsTheSession) {
    Session s(Session::Config{true, "serve", "", 0, 7});
    Outcome o;
    uint64_t first = 0;
    const auto take = [&](const PeerId &from, const Bytes &m, zlink::Millis now) {
        s.Take(from, m.data(), m.size(), now, &o);
        zlink::Hello w;
        if (zlink::ReadHello(o.reply.data(), o.reply.size(), &w) && first == 0) first = w.session;
        return Shown(o);
    };
    const std::string held = "R2058 the session belongs to another stack peer (anonymous at tcp://127.0.0.1:a)";
    EXPECT_EQ(take(Route("m"), Bytes{zlink::kStatusAsk}, 0), "R2058 say hello first");
    EXPECT_EQ(take(Route("m"), HelloFrom(zlink::kRoleMonitor), 0), "W0");
    EXPECT_EQ(take(Route("m"), Bytes{zlink::kDescribeAsk}, 0), "ask D");
    EXPECT_EQ(take(Route("a"), HelloFrom(zlink::kRoleStack), 10), "W+");
    EXPECT_EQ(take(Route("b"), HelloFrom(zlink::kRoleStack), 20), held);
    EXPECT_EQ(take(Route("b"), HelloFrom(zlink::kRoleStack, first + 1), 30), held);  // a guessed session
    EXPECT_EQ(take(Route("b"), HelloFrom(zlink::kRoleStack, 0, 4), 30),
              "R2057 the peer speaks link protocol version 4, this end version 6");
    EXPECT_EQ(take(Route("b"), Bytes{zlink::kFlush}, 40), "-");  // not the owner's: refused
    EXPECT_EQ(take(Route("a"), Bytes{zlink::kFlush}, 40), "A0");
    EXPECT_EQ(s.figures().sessions, 1u);
    // The owner back on a new connection, with the session its welcome gave.
    EXPECT_EQ(take(Route("a2"), HelloFrom(zlink::kRoleStack, first), 50), "W+");
    EXPECT_EQ(s.OwnerRoute(), Route("a2").route);
    EXPECT_EQ(take(Route("a"), Bytes{zlink::kFlush}, 60), "-");
    // Silent long enough, the owner loses the session to another.
    EXPECT_EQ(take(Route("c"), HelloFrom(zlink::kRoleStack), 60 + zlink::kOwnerSilentMs), "W+");
    // A goodbye frees it at once.
    EXPECT_EQ(take(Route("c"), Bytes{zlink::kBye}, 70 + zlink::kOwnerSilentMs), "-");
    EXPECT_FALSE(s.Open());
    EXPECT_EQ(take(Route("d"), HelloFrom(zlink::kRoleStack), 80 + zlink::kOwnerSilentMs), "W+");
    EXPECT_EQ(s.figures().sessions, 4u);
    EXPECT_EQ(s.figures().refused, 6u);  // the early ask, b's two hellos, the old version, two flushes
    // With CURVE the key names the owner: the same key on another
    // connection takes the session back, another allowed key is refused.
    EXPECT_EQ(take(Route("k", "KEY-K"), HelloFrom(zlink::kRoleStack), 90 + zlink::kOwnerSilentMs * 2), "W+");
    EXPECT_EQ(take(Route("e", "KEY-E"), HelloFrom(zlink::kRoleStack), 91 + zlink::kOwnerSilentMs * 2),
              "R2058 the session belongs to another stack peer (key KEY-K at tcp://127.0.0.1:k)");
    EXPECT_EQ(take(Route("k2", "KEY-K"), HelloFrom(zlink::kRoleStack), 92 + zlink::kOwnerSilentMs * 2), "W+");
    EXPECT_EQ(s.Peers().size(), 9u);
    EXPECT_EQ(s.Peers().at(7).identity, "key KEY-E");
}

// A client's figures through a session: what it took, what went missing
// (gaps and item lists, which never reach the stack), what it refused, and
// what the server did not confirm when the connection broke.
TEST(LinkSession, ClientCountsEveryEvent) {
    Session s(Session::Config{false, "link", "", 3, 1});
    Outcome o;
    const PeerId server;
    ASSERT_EQ(s.Connected(0)[0], zlink::kHello);
    EXPECT_FALSE(s.Open());
    const Bytes early = Numbered(0, {0});
    s.Take(server, early.data(), early.size(), 1, &o);  // before the welcome: refused
    zlink::Hello w;
    w.session = 99;
    const Bytes welcome = zlink::HelloMessage(zlink::kWelcome, w);
    s.Take(server, welcome.data(), welcome.size(), 2, &o);
    ASSERT_TRUE(o.opened);
    s.Take(server, welcome.data(), welcome.size(), 3, &o);  // the answer to a repeated hello
    EXPECT_FALSE(o.opened);
    const std::pair<Bytes, size_t> steps[] = {  // a message, the events it delivers
        {Numbered(0, {0, 0, 0}), 3},  // 0..2
        {Numbered(5, {0, 0}, 0, 1), 1},  // 3 and 4 missing, 5 an item list, 6
        {Numbered(6, {0}), 0},  // 6 again: refused
        {Numbered(7, {0, 0, 0, 0}, 0, 0, 8), 4},  // confirms 8 of ours, more than were sent: not taken
    };
    for (const auto &step : steps) {
        s.Take(server, step.first.data(), step.first.size(), 4, &o);
        EXPECT_EQ(o.events.size(), step.second);
        for (Event *ev : o.events) {
            EXPECT_NE(ev->i32Type, ZERA_EVENT_ITEMS);
            ZERA_boDeleteEvent(ev);
        }
    }
    Bytes out = Numbered(0, std::vector<uint8_t>(10));
    ASSERT_TRUE(s.Stamp(out.data(), 5));
    s.Sent(10, out.size(), Session::kSentOk);
    const Bytes ack = zlink::AckMessage(4);
    s.Take(server, ack.data(), ack.size(), 6, &o);
    EXPECT_FALSE(s.Confirmed());
    s.Sent(2, 0, Session::kNotSent);
    s.Disconnected();
    EXPECT_FALSE(s.Stamp(out.data(), 7));
    const zlink::Figures &f = s.figures();
    // taken, missing, refused, forwarded, undelivered (6 unconfirmed, 2 not sent), sessions
    EXPECT_EQ(std::vector<uint32_t>({f.taken, f.missing, f.refused, f.forwarded, f.undelivered, f.sessions}),
              std::vector<uint32_t>({8, 3, 2, 10, 8, 1}));
}

// The client says hello again while no welcome came, acknowledges a quiet
// session, and ends one whose server stays silent.
TEST(LinkSession, TimersRepeatTheHelloKeepAliveAndEndASilentSession) {
    Session s(Session::Config{});
    Bytes hello, ack;
    bool silent = false;
    s.Connected(0);
    s.Tick(zlink::kHelloRepeatMs - 1, &hello, &ack, &silent);
    EXPECT_TRUE(hello.empty());
    s.Tick(zlink::kHelloRepeatMs, &hello, &ack, &silent);
    ASSERT_FALSE(hello.empty());
    zlink::Hello w;
    w.session = 5;
    const Bytes welcome = zlink::HelloMessage(zlink::kWelcome, w);
    Outcome o;
    s.Take(zlink::PeerId(), welcome.data(), welcome.size(), 1000, &o);
    s.Tick(1000 + zlink::kKeepAliveMs - 1, &hello, &ack, &silent);
    EXPECT_TRUE(ack.empty());
    s.Tick(1000 + zlink::kKeepAliveMs, &hello, &ack, &silent);
    EXPECT_EQ(ack, zlink::AckMessage(0));
    s.Tick(1000 + zlink::kPeerSilentMs, &hello, &ack, &silent);
    EXPECT_TRUE(silent);
    EXPECT_FALSE(s.Open());
    ASSERT_FALSE(hello.empty());  // and it asks again, for the session it held
    zlink::Hello again;
    ASSERT_TRUE(zlink::ReadHello(hello.data(), hello.size(), &again));
    EXPECT_EQ(again.session, 5u);
}

// What one round trip says of the server's clock: exact offsets (rounded
// down) and bounds (rounded up), and stamps that cannot be.
TEST(LinkSession, ClockSampleFromOneRoundTrip) {
    struct Row {
        uint64_t t0, t1, t2, t3;
        bool known;
        int64_t offset;
        uint64_t error;
    };
    const Row rows[] = {
        {100, 1100, 1100, 200, true, 950, 50},  // the server's clock ahead
        {100, 50, 60, 300, true, -145, 95},     // behind; 10 us spent there
        {0, 0, 0, 3, true, -2, 2},              // odd sums round down, odd bounds up
        {100, 0, 0, 50, false, 0, 0},           // the answer before the probe
        {0, 10, 5, 20, false, 0, 0},            // answered before taken
        {0, 0, 100, 50, false, 0, 0},           // longer there than the whole trip
    };
    for (const Row &r : rows) {
        const zlink::ClockEstimate e = zlink::ClockSample(zlink::ClockAnswer{r.t0, r.t1, r.t2}, r.t3);
        EXPECT_EQ(std::make_tuple(e.known, e.offsetUs, e.errorUs), std::make_tuple(r.known, r.offset, r.error))
            << r.t0 << " " << r.t1 << " " << r.t2 << " " << r.t3;
    }
}

uint64_t g_clientUs = 0;
uint64_t g_serverUs = 0;
uint64_t ClientClock() { return g_clientUs; }
uint64_t ServerClock() { return g_serverUs; }

// A client and a server with clocks, in one open session.
struct Clocked : ::testing::Test {
    Session client{Session::Config{false, "link", "", 3, 1, ClientClock}};
    Session server{Session::Config{true, "serve", "", 0, 1, ServerClock}};
    const PeerId owner = Route("a");
    Outcome o;
    Bytes hello, ack, probe;
    bool silent = false;
    void SetUp() override {
        Bytes m = client.Connected(0);
        server.Take(owner, m.data(), m.size(), 0, &o);
        client.Take(PeerId(), o.reply.data(), o.reply.size(), 0, &o);
        ASSERT_TRUE(client.Open());
    }
    Bytes Answered(const Bytes &ask) {  // the server's answer to a probe
        server.Take(owner, ask.data(), ask.size(), 0, &o);
        return o.reply;
    }
};

// The client keeps the estimate of its quickest round trip, takes only the
// answer to the probe outstanding, and hands its estimate to the server,
// which keeps it turned round.
TEST_F(Clocked, ProbesKeepTheTightestEstimateOnBothEnds) {
    // Each probe: sent at the client's `sent`, taken at the server's `there`,
    // answered at the client's `back`.
    struct Row {
        uint64_t sent, there, back;
        bool kept;         // the client keeps it (tighter)
        uint64_t error;    // the client's bound afterwards
        bool serverKept;   // the server learnt a tighter one with this probe
    };
    const Row rows[] = {
        {1000, 5000, 1200, true, 100, false},   // the first; the server has none to learn yet
        {2000, 6000, 2300, false, 100, true},   // slower: not kept; the probe carried the first
        {3000, 7010, 3040, true, 20, false},    // quicker: kept
        {4000, 8000, 4100, false, 20, true},    // the server learns the 20
    };
    zlink::Millis now = 0;
    for (const Row &r : rows) {
        now += zlink::kProbeEveryMs;
        g_clientUs = r.sent;
        client.Tick(now, &hello, &ack, &silent, &probe);
        ASSERT_EQ(probe.size(), 26u);
        g_serverUs = r.there;
        server.Take(owner, probe.data(), probe.size(), now, &o);
        EXPECT_EQ(o.clockChanged, r.serverKept) << r.sent;
        const Bytes answer = o.reply;
        g_clientUs = r.back;
        client.Take(PeerId(), answer.data(), answer.size(), now, &o);
        EXPECT_EQ(o.clockChanged, r.kept) << r.sent;
        EXPECT_EQ(client.PeerClock().errorUs, r.error) << r.sent;
        // The same answer again pairs with no probe: refused, nothing kept.
        const uint32_t refused = client.figures().refused;
        client.Take(PeerId(), answer.data(), answer.size(), now, &o);
        EXPECT_FALSE(o.clockChanged);
        EXPECT_EQ(client.figures().refused, refused + 1);
    }
    EXPECT_EQ(client.PeerClock().offsetUs, 3990);
    EXPECT_TRUE(server.PeerClock().known);
    EXPECT_EQ(server.PeerClock().offsetUs, -3990);
    EXPECT_EQ(server.PeerClock().errorUs, 20u);
    EXPECT_EQ(server.SessionNumber(), client.SessionNumber());
    EXPECT_EQ(server.PeerName(), "link");
    EXPECT_EQ(client.PeerName(), "serve");
}

// A slow server: no second probe while one is out; one given up on after
// kProbeEveryMs is answered late without counting against the server.
TEST_F(Clocked, OneProbeOutAndALateAnswerIsNoFault) {
    g_clientUs = 1000;
    client.Tick(zlink::kQuickProbeMs, &hello, &ack, &silent, &probe);
    const Bytes late = Answered(probe);
    client.Tick(3 * zlink::kQuickProbeMs, &hello, &ack, &silent, &probe);
    EXPECT_TRUE(probe.empty());
    g_clientUs = 2000;
    client.Tick(zlink::kQuickProbeMs + zlink::kProbeEveryMs, &hello, &ack, &silent, &probe);
    client.Take(PeerId(), late.data(), late.size(), 0, &o);
    EXPECT_FALSE(client.PeerClock().known);
    const Bytes answer = Answered(probe);
    g_clientUs = 2100;
    client.Take(PeerId(), answer.data(), answer.size(), 0, &o);
    client.Take(PeerId(), late.data(), late.size(), 0, &o);  // twice late: no probe of ours
    EXPECT_TRUE(client.PeerClock().known);
    EXPECT_EQ(client.figures().refused, 1u);
}

}  // namespace
#endif
