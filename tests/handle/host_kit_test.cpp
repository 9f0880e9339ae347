// handle/host_kit_test.cpp - library start and the host kit: level 0, adds
// from the search path, start and stop, events to and from level 0.
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <string>

#include "evid/evid.h"
#include "handle/test_stack.h"
#include "library/library.h"
#include "stack/stack_test_util.h"

namespace {

void ZERA_CALL CountRelease(void *pv) { ++static_cast<HostStackDescriptor *>(pv)->adwHostData[0]; }

// The kit's own descriptor is released with the stack; a host's stays the host's, its words untouched,
// also by a create that fails at any allocation.
TEST(HostKit, DescriptorOwnOrTheHosts) {
    StackHandle *h0 = ZERA_hHostStackCreate(nullptr);
    ASSERT_TRUE(h0 != nullptr && h0->pvLevelContext != nullptr);
    EXPECT_NE(ZERA_hsComponentNameA(h0, 0), nullptr);  // the name goes with the level too
    EXPECT_TRUE(ZERA_boHostStackDestroy(h0));

    HostStackDescriptor desc = {{0x11111111u, 0x22222222u}, 0, 0xFFu};
    ZERA_vHostDescriptorInit(&desc);
    EXPECT_EQ((std::vector<ZERA_UPTR>{desc.adwHostData[0], desc.adwHostData[1], desc.dwNextLevelLink, desc.dwLevelMask}),
              (std::vector<ZERA_UPTR>{0x11111111u, 0x22222222u, zera::PointerKey(), 1}));
    desc.adwHostData[0] = 0;
    h0 = ZERA_hHostStackCreate(&desc);
    ASSERT_TRUE(h0 != nullptr && h0->pvLevelContext == &desc && h0->pfnLevelContextRelease == nullptr);
    h0->pfnLevelContextRelease = CountRelease;  // a host may ask to hear of the release
    EXPECT_TRUE(ZERA_boHostStackDestroy(h0));
    EXPECT_EQ(desc.adwHostData[0], 1u);

    std::memset(&desc, 0xAB, sizeof desc);
    const HostStackDescriptor before = desc;
    for (HostStackDescriptor *given : {static_cast<HostStackDescriptor *>(nullptr), &desc}) {
        SweepAllocFailures([&] { return ZERA_hHostStackCreate(given); },
                           [&] { return std::memcmp(&desc, &before, sizeof desc) == 0; },
                           [&](StackHandle *made) {
                               EXPECT_TRUE(ZERA_boHostStackDestroy(made));
                               desc = before;
                           });
    }
}

namespace kit {

using st::ComponentTrace;
using st::LastArg;
using st::Stack;
using st::Traced;
using Calls = std::vector<uint32_t>;

// The start and stop calls a component traced, in order.
Calls StartStop(const ComponentTrace &trace) { return trace.Entries({st::kStart, st::kStop}); }

bool Running(const StackHandle *h) {
    return (h->dwStatus & (ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED)) ==
           (ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED);
}
std::vector<bool> RunningLevels(const Stack &stack) {
    std::vector<bool> running;
    for (StackHandle *h = stack.h0(); h != nullptr; h = ZERA_hHandleGetNextLevel(h)) running.push_back(Running(h));
    return running;
}

// A failed start names the level and leaves every level stopped (those that started are stopped again).
TEST(HostKit, StartRefusalsNameTheLevelAndLeaveTheStackStopped) {
    ComponentTrace starter("Starter"), completer("Completer");
    const struct {
        std::vector<const char *> components;
        bool refuse;  // Starter's start export returns false
        uint32_t code;
        const char *argument;
        Calls starterCalls, completerCalls;
    } cases[] = {
        {{}, false, OSAL_ERR_NOT_COMPLETE, "level 0 (VOQ_ZERA)", {}, {}},
        {{"Starter"}, false, OSAL_ERR_NOT_COMPLETE, "level 1 (Starter)", {}, {}},
        {{"Starter", "HalfThreads", "Completer"}, false, OSAL_ERR_MODULE_REFUSED, "level 2 (HalfThreads)", {}, {}},
        {{"Starter", "Completer"}, true, OSAL_ERR_INIT_FAILED, "level 1 (Starter)",
         {Traced(st::kStart, 1)}, {Traced(st::kStart, 2), Traced(st::kStop, 2)}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.argument);
        Stack stack;
        for (const char *name : c.components) EXPECT_NE(ZERA_bHostAddComponentA(stack.h0(), name), 0);
        EXPECT_TRUE(!c.refuse || ZERA_boSetStackParamA(stack.h0(), 1, "Refuse", 1u));
        starter.Clear();
        completer.Clear();
        EXPECT_REFUSED(ZERA_boHostStartStack(stack.h0()), c.code);
        EXPECT_EQ(LastArg(), c.argument);
        EXPECT_EQ(RunningLevels(stack), std::vector<bool>(c.components.size() + 1, false));
        EXPECT_EQ(StartStop(starter), c.starterCalls);
        EXPECT_EQ(StartStop(completer), c.completerCalls);
    }
}

// Start and stop reach every level once; repeating either changes nothing; the host hears each change.
TEST(HostKit, StartAndStopRunThroughEveryLevelOnce) {
    ComponentTrace starter("Starter"), completer("Completer");
    Stack stack;
    ASSERT_EQ(ZERA_bHostAddComponentA(stack.h0(), "Starter"), 1);
    ASSERT_EQ(ZERA_bHostAddComponentA(stack.h0(), "Completer"), 2);
    ZERA_boDeleteEvent(ZERA_pstHostReceiveEvent(stack.h0(), 0));  // "complete", announced by the add
    starter.Clear();
    completer.Clear();
    for (int round = 0; round < 2; ++round) EXPECT_TRUE(ZERA_boHostStartStack(stack.h0())) << st::LastText();
    EXPECT_EQ(RunningLevels(stack), (std::vector<bool>{true, true, true}));
    for (int round = 0; round < 2; ++round) EXPECT_TRUE(ZERA_boHostStopStack(stack.h0()));
    EXPECT_EQ(RunningLevels(stack), (std::vector<bool>{false, false, false}));
    EXPECT_TRUE((stack.h0()->dwStatus & ZERA_STATUS_COMPLETE) != 0);
    EXPECT_EQ(StartStop(starter), (Calls{Traced(st::kStart, 1), Traced(st::kStop, 1)}));
    EXPECT_EQ(StartStop(completer), (Calls{Traced(st::kStart, 2), Traced(st::kStop, 2)}));
    std::vector<uint32_t> statuses;
    while (Event *ev = ZERA_pstHostReceiveEvent(stack.h0(), 0)) {
        EXPECT_EQ(ev->u8Level, 1);
        statuses.push_back(st::StatusOf(ev) & (ZERA_STATUS_COMPLETE | ZERA_STATUS_STARTED));
        ZERA_boDeleteEvent(ev);
    }
    EXPECT_EQ(statuses, (std::vector<uint32_t>{3, 1}));
    EXPECT_EQ(OSAL_dwGetLastError(), 0u);  // nothing came: no error
}

// Host events go up (with and without identifier management) and come down; a refused one stays the caller's.
TEST(HostKit, EventsGoUpAndComeDown) {
    for (const uint32_t status : {0u, static_cast<uint32_t>(ZERA_STATUS_NO_EVID)}) {
        SCOPED_TRACE(status);
        Stack stack({"Starter", "Completer"}, status);
        StackHandle *h2 = stack[2];
        while (Event *ev = ZERA_pstHostReceiveEvent(stack.h0(), 0)) ZERA_boDeleteEvent(ev);

        Event *ev = ZERA_pstHostCreateEvent(stack.h0(), ZERA_EVENT_DATA, 2, 3);
        ASSERT_NE(ev, nullptr);
        std::memcpy(ev->pbData, "abc", 3);
        EXPECT_TRUE(ZERA_boHostSendEvent(stack.h0(), ev, 0)) << st::LastText();
        auto *taken = static_cast<Event *>(OSAL_pvQueueGet(h2->hSendQueue, 0, OSAL_stTimeNoWait));
        ASSERT_NE(taken, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(taken->pbData), taken->dwDataSize), "abc");
        ZERA_boDeleteEvent(taken);

        Event *far = ZERA_pstHostCreateEvent(stack.h0(), ZERA_EVENT_DATA0, 5, 0);
        EXPECT_REFUSED(ZERA_boHostSendEvent(stack.h0(), far, 0), OSAL_ERR_INVALID_LEVEL);
        EXPECT_EQ(LastArg(), "the stack has levels 1 to 2");
        EXPECT_TRUE(ZERA_boDeleteEvent(far));  // still the caller's
        EXPECT_REFUSED(ZERA_pstHostCreateEvent(h2, ZERA_EVENT_DATA0, 1, 0), OSAL_ERR_INVALID_HANDLE);

        Event *up = ZERA_pstCreateEventEx(stack[1], ZERA_EVENT_DATA2, 1, 1, 0, 0);
        ASSERT_NE(up, nullptr);
        ZERA_vInputFilter(stack[1], up);
        Event *down = ZERA_pstHostReceiveEvent(stack.h0(), 1000);
        ASSERT_NE(down, nullptr);
        EXPECT_TRUE(down->i32Type == ZERA_EVENT_DATA2 && down->u8Level == 1);
        ZERA_boDeleteEvent(down);
        EXPECT_REFUSED(ZERA_pstHostReceiveEvent(stack.h0(), 20), 0u);
    }
}

#if !defined(_WIN32)  // a folder with a symbolic link in it
// Bare names are looked for on ZERA_COMPONENT_PATH first (empty and missing folders passed over).
TEST(HostKit, AddFindsBareNamesOnTheComponentPath) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    char folder[] = "/tmp/zera_kit_path_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string alias = std::string(folder) + "/Alias.COMPONENT";
    ASSERT_EQ(symlink((std::string(cwd) + "/Starter.COMPONENT").c_str(), alias.c_str()), 0);
    const std::string sep(1, ZERA_COMPONENT_PATH_SEPARATOR);
    setenv("ZERA_COMPONENT_PATH", ("/no/such/folder" + sep + sep + folder).c_str(), 1);
    Stack stack;
    EXPECT_EQ(ZERA_bHostAddComponentA(stack.h0(), "Alias"), 1) << st::LastText();
    EXPECT_EQ(ZERA_bHostAddComponentA(stack.h0(), "alias.component"), 0);  // the file's name is what counts
    EXPECT_EQ(ZERA_bHostAddComponentA(stack.h0(), alias.c_str()), 2);
    EXPECT_EQ(ZERA_bHostAddComponentA(stack.h0(), "Starter"), 3);  // the current folder
    EXPECT_REFUSED(ZERA_bHostAddComponentA(stack.h0(), "NoSuchThing"), OSAL_ERR_LOAD_FAILED);
    EXPECT_REFUSED(ZERA_bHostAddComponentA(stack.h0(), ""), OSAL_ERR_INVALID_ARG);
    EXPECT_REFUSED(ZERA_bHostAddComponentA(stack[1], "Starter"), OSAL_ERR_INVALID_HANDLE);
    unsetenv("ZERA_COMPONENT_PATH");
    unlink(alias.c_str());
    rmdir(folder);
}
#endif

}  // namespace kit

}  // namespace
