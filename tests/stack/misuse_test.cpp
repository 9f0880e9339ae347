// stack/misuse_test.cpp - the library's entry points given a null handle, a
// level whose handle check fails (its magic broken), a level out of range or
// a null argument: each refuses with its exact code and changes nothing.
#include "stack/stack_test_util.h"

namespace {

using Call = std::function<bool(StackHandle *)>;  // true: the call did its work
struct HandleRow {
    const char *name;
    Call call;
};

constexpr uint32_t kAll = 0xFFFFFFFFu;

// Entry points that take a level's handle first: null and a broken level
// are both refused with 1001.
TEST(Misuse, EveryHandleEntryPointRefusesANullOrBrokenHandle) {
    st::Stack stack{"Layer"};
    StackHandle *h1 = stack[1];
    uint32_t levels = 0, types = 0, stats[16] = {};
    uint64_t dropped = 0;
    TimeVal now{};
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_DATA0, 1, 4);
    ASSERT_NE(ev, nullptr);
    const HandleRow rows[] = {
        {"SetEventTypes", [&](StackHandle *h) { return ZERA_boSetEventTypes(h, 0, 0); }},
        {"GetEventTypes", [&](StackHandle *h) { return ZERA_boGetEventTypes(h, &levels, &types); }},
        {"ReceiveEvent", [&](StackHandle *h) { return ZERA_pstReceiveEvent(h, kAll, kAll, &OSAL_stTimeNoWait); }},
        {"WaitEvent", [&](StackHandle *h) { return ZERA_boWaitEvent(h, kAll, kAll, &OSAL_stTimeNoWait); }},
        {"SendEvent", [&](StackHandle *h) { return ZERA_boSendEvent(h, ev, 0, &OSAL_stTimeNoWait); }},
        {"SetStackParam", [&](StackHandle *h) { return ZERA_boSetStackParamA(h, 1, "A0", 1u); }},
        {"GetStackParam", [&](StackHandle *h) { return ZERA_pstGetStackParamA(h, 1, "A0"); }},
        {"GetStatistics", [&](StackHandle *h) { return ZERA_boGetStatistics(h, 1, stats); }},
        {"ResetStatistics", [&](StackHandle *h) { return ZERA_boResetStatistics(h, 1); }},
        {"GetTime", [&](StackHandle *h) { return ZERA_boGetTime(h, 0, &now); }},
        {"AddToStack", [&](StackHandle *h) { return ZERA_bAddToStackA(h, "Layer"); }},
        {"RemoveFromStack", [&](StackHandle *h) { return ZERA_boRemoveFromStackA(h, 1); }},
        {"ComponentName", [&](StackHandle *h) { return ZERA_hsComponentNameA(h, 1); }},
        {"HandleCheck", [&](StackHandle *h) { return ZERA_boHandleCheck(h, 1); }},
        {"HandleClose", [&](StackHandle *h) { return ZERA_boHandleClose(h); }},
        {"CreateEventEx", [&](StackHandle *h) { return ZERA_pstCreateEventEx(h, 1, 0, 0, 0, 0); }},
        {"SetEventID", [&](StackHandle *h) { return ZERA_boSetEventID(ev, h, 5); }},
        {"EvIdGetBlock", [&](StackHandle *h) { return ZERA_dwEvIdGetBlock(h, 1) != ZERA_EVID_NONE; }},
        {"EvIdFreeBlock", [&](StackHandle *h) { return ZERA_boEvIdFreeBlock(h, 0); }},
        {"ConfigInputFilter", [&](StackHandle *h) { return ZERA_boConfigInputFilter(h, 1, &levels, &types, 1); }},
        {"HostAddComponent", [&](StackHandle *h) { return ZERA_bHostAddComponentA(h, "Layer"); }},
        {"HostCreateEvent", [&](StackHandle *h) { return ZERA_pstHostCreateEvent(h, ZERA_EVENT_DATA0, 1, 0); }},
        {"HostSendEvent", [&](StackHandle *h) { return ZERA_boHostSendEvent(h, ev, 0); }},
        {"HostGetDropCount", [&](StackHandle *h) { return ZERA_boHostGetDropCount(h, 1, &dropped); }},
        {"HostGetStatistics", [&](StackHandle *h) { return ZERA_boHostGetStatistics(h, 1, nullptr); }},
        {"HostStartStack", [&](StackHandle *h) { return ZERA_boHostStartStack(h); }},
        {"HostStopStack", [&](StackHandle *h) { return ZERA_boHostStopStack(h); }},
        {"HostStackDestroy", [&](StackHandle *h) { return ZERA_boHostStackDestroy(h); }},
        {"ModuleBindLevel", [&](StackHandle *h) { return ZERA_boModuleBindLevelA(h); }},
    };
    const st::StackShape before = st::ShapeOf(stack);
    for (const HandleRow &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_REFUSED(row.call(nullptr), OSAL_ERR_INVALID_HANDLE);
        h1->dwMagic ^= 1;
        EXPECT_REFUSED(row.call(h1), OSAL_ERR_INVALID_HANDLE);
        h1->dwMagic ^= 1;
    }
    EXPECT_TRUE(st::ShapeOf(stack) == before);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

struct ArgRow {
    const char *name;
    std::function<bool()> call;  // true: the call did its work
    uint32_t code;
};

// Null arguments and out-pointers, levels out of range, null packets.
TEST(Misuse, NullArgumentsAndLevelsOutOfRangeAreRefusedWithTheirCode) {
    st::Stack stack{"Layer", "Layer"};
    StackHandle *h0 = stack.h0(), *h1 = stack[1];
    uint32_t levels = 0, types = 0, dw = 0, stats[16] = {};
    void *data = nullptr;
    Event *ev = ZERA_pstCreateEvent(ZERA_EVENT_DATA0, 1, 4), *read = nullptr;
    ZERA_HPACKET p = ZERA_hMarshalPacketCreate(nullptr, 0);
    ASSERT_TRUE(ev != nullptr && p != nullptr);
    Param param{};
    const ArgRow rows[] = {
        {"ReceiveEvent timeout", [&] { return ZERA_pstReceiveEvent(h1, kAll, kAll, nullptr); }, OSAL_ERR_INVALID_ARG},
        {"ConfigInputFilter levels", [&] { return ZERA_boConfigInputFilter(h1, 1, nullptr, &types, 1); },
         OSAL_ERR_INVALID_ARG},
        {"GetEventTypes types", [&] { return ZERA_boGetEventTypes(h1, &levels, nullptr); }, OSAL_ERR_INVALID_ARG},
        {"HostGetDropCount out", [&] { return ZERA_boHostGetDropCount(h0, 1, nullptr); }, OSAL_ERR_INVALID_ARG},
        {"SendEvent event", [&] { return ZERA_boSendEvent(h1, nullptr, 0, &OSAL_stTimeNoWait); }, OSAL_ERR_INVALID_ARG},
        {"HostSendEvent event", [&] { return ZERA_boHostSendEvent(h0, nullptr, 0); }, OSAL_ERR_INVALID_ARG},
        {"CloneEvent", [] { return ZERA_pstCloneEvent(nullptr); }, OSAL_ERR_INVALID_ARG},
        {"CloneAndSplit", [] { return ZERA_pstInternalCloneEventAndSplitAttachment(nullptr, 1); }, OSAL_ERR_INVALID_ARG},
        {"DeleteEvent", [] { return ZERA_boDeleteEvent(nullptr); }, OSAL_ERR_INVALID_ARG},
        {"SetEventID event", [&] { return ZERA_boSetEventID(nullptr, h1, 5); }, OSAL_ERR_INVALID_ARG},
        {"CheckParList event", [] { return ZERA_ppstCheckParListA(nullptr, 3, 0, 1, 0); }, OSAL_ERR_INVALID_ARG},
        {"SetStackParam name", [&] { return ZERA_boSetStackParamA(h1, 1, nullptr, 1u); }, OSAL_ERR_INVALID_ARG},
        {"SetStackParam level", [&] { return ZERA_boSetStackParamA(h1, 5, "A0", 1u); }, OSAL_ERR_INVALID_HANDLE},
        {"AddToStack name", [&] { return ZERA_bAddToStackA(h0, nullptr); }, OSAL_ERR_INVALID_ARG},
        {"GetTime out", [&] { return ZERA_boGetTime(h0, 0, nullptr); }, OSAL_ERR_INVALID_ARG},
        {"ComponentName level", [&] { return ZERA_hsComponentNameA(h0, 5); }, OSAL_ERR_INVALID_HANDLE},
        {"HostDescriptorInit", [] { return ZERA_vHostDescriptorInit(nullptr), false; }, OSAL_ERR_INVALID_ARG},
        {"ModuleInitAPI", [] { return ZERA_boModuleInitAPIW(nullptr); }, OSAL_ERR_INVALID_HANDLE},
        {"PacketCreate size", [] { return ZERA_hMarshalPacketCreate(nullptr, -1); }, OSAL_ERR_INVALID_SIZE},
        {"PacketCreate buffer", [] { return ZERA_hMarshalPacketCreate(nullptr, 5); }, OSAL_ERR_INVALID_ARG},
        {"PacketDelete", [] { return ZERA_boMarshalPacketDelete(nullptr); }, OSAL_ERR_INVALID_HANDLE},
        {"GetDataSize", [] { return ZERA_i32MarshalGetDataSize(nullptr) != -1; }, OSAL_ERR_INVALID_HANDLE},
        {"MarshalDWord packet", [&] { return ZERA_boMarshalDWord(nullptr, &dw); }, OSAL_ERR_INVALID_HANDLE},
        {"MarshalDWord value", [&] { return ZERA_boMarshalDWord(p, nullptr); }, OSAL_ERR_INVALID_ARG},
        {"UnmarshalReal value", [&] { return ZERA_boUnmarshalReal(p, nullptr); }, OSAL_ERR_INVALID_ARG},
        {"MarshalByteStream", [&] { return ZERA_boMarshalByteStream(p, nullptr, 3); }, OSAL_ERR_INVALID_ARG},
        {"MarshalByteStreamRaw", [&] { return ZERA_boMarshalByteStreamRaw(p, nullptr, 1); }, OSAL_ERR_INVALID_ARG},
        {"UnmarshalByteStream out", [&] { return ZERA_i32UnmarshalByteStream(p, nullptr, 1) != -1; },
         OSAL_ERR_INVALID_ARG},
        {"UnmarshalByteStream packet", [&] { return ZERA_i32UnmarshalByteStream(nullptr, &data, 1) != -1; },
         OSAL_ERR_INVALID_HANDLE},
        {"UnmarshalEvent packet", [&] { return ZERA_boUnmarshalZERAEvent(nullptr, &read, 0); }, OSAL_ERR_INVALID_HANDLE},
        {"MarshalEvent packet", [&] { return ZERA_boMarshalZERAEvent(nullptr, ev); }, OSAL_ERR_INVALID_HANDLE},
        {"MarshalLevel level", [&] { return ZERA_boMarshalStackHandleLevel(p, nullptr, 0); }, OSAL_ERR_INVALID_ARG},
        {"MarshalLevel packet", [&] { return ZERA_boMarshalStackHandleLevel(nullptr, h1, 0); }, OSAL_ERR_INVALID_HANDLE},
        {"MarshalStatistics block", [&] { return ZERA_boMarshalStatistics(p, nullptr); }, OSAL_ERR_INVALID_ARG},
        {"MarshalStatistics packet", [&] { return ZERA_boMarshalStatistics(nullptr, stats); }, OSAL_ERR_INVALID_HANDLE},
        {"MarshalParam param", [&] { return ZERA_boMarshalParamA(p, nullptr); }, OSAL_ERR_INVALID_ARG},
        {"MarshalParam packet", [&] { return ZERA_boMarshalParamA(nullptr, &param); }, OSAL_ERR_INVALID_HANDLE},
        {"MarshalParamList list", [&] { return ZERA_boMarshalParamListA(p, nullptr, 0); }, OSAL_ERR_INVALID_ARG},
        {"UnmarshalParam param", [&] { return ZERA_boUnmarshalParamA(p, nullptr, 0); }, OSAL_ERR_INVALID_ARG},
    };
    const st::StackShape before = st::ShapeOf(stack);
    for (const ArgRow &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_REFUSED(row.call(), row.code);
    }
    EXPECT_TRUE(st::ShapeOf(stack) == before);
    EXPECT_EQ(ZERA_i32MarshalGetDataSize(p), 0);
    EXPECT_TRUE(ZERA_boMarshalPacketDelete(p) && ZERA_boDeleteEvent(ev));
}

}  // namespace
