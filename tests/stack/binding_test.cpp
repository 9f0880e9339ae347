// stack/binding_test.cpp - binding a level to its component module: the
// entry table, the refusals that change nothing, the wide binding, and the
// receive queue's error mark.
#include <cstring>

#include "handle/handle.h"
#include "stack/stack_test_util.h"

namespace {

bool IsEmptyTable(const StackHandle *h) {
    for (ZERA_PFN entry : h->apfnEntry) {
        if (entry != nullptr) return false;
    }
    return true;
}

template <typename Fn>
ZERA_PFN Entry(Fn fn) {
    return reinterpret_cast<ZERA_PFN>(fn);
}

TEST(EntryTable, HooksUpFillsOnlyItsFourSlots) {
    ZERA_PFN table[ZERA_ENTRY_COUNT] = {};
    ZERA_vModuleInitAPIHooksUp(table);
    for (int slot = 0; slot < ZERA_ENTRY_COUNT; ++slot) {
        const bool up = slot == 22 || slot == 32 || slot == 33 || slot == 35;
        EXPECT_EQ(table[slot] != nullptr, up) << "slot " << slot;
    }
    EXPECT_EQ(table[zera::kEntryInputFilter], Entry(ZERA_vInputFilter));
    EXPECT_EQ(table[zera::kEntrySendEventIntl], Entry(ZERA_boSendEventIntl));
}

TEST(EntryTable, HooksDownWithoutModuleLeavesTheComponentSlotsEmpty) {
    ZERA_PFN table[ZERA_ENTRY_COUNT] = {};
    ZERA_vModuleInitAPIHooksDown(table, nullptr);
    for (int slot = 0; slot < ZERA_ENTRY_COUNT; ++slot) {
        const bool empty = slot == 1 || slot == 2 || slot == 11 || slot == 12 || slot == 22 || slot == 35;
        EXPECT_EQ(table[slot] == nullptr, empty) << "slot " << slot;
    }
    // The library's own operations, slot by slot.
    const ZERA_PFN expected[][2] = {
        {table[3], Entry(ZERA_bAddToStackA)},          {table[4], Entry(ZERA_bAddToStackW)},
        {table[5], Entry(ZERA_boRemoveFromStackA)},    {table[6], Entry(ZERA_boRemoveFromStackW)},
        {table[7], Entry(ZERA_boSetStackParamA)},      {table[8], Entry(ZERA_boSetStackParamW)},
        {table[9], Entry(ZERA_pstGetStackParamA)},     {table[10], Entry(ZERA_pstGetStackParamW)},
        {table[13], Entry(ZERA_pstCreateEvent)},       {table[14], Entry(ZERA_boDeleteEvent)},
        {table[15], Entry(ZERA_pstCloneEvent)},        {table[16], Entry(ZERA_boSendEvent)},
        {table[17], Entry(ZERA_boSetEventTypes)},      {table[18], Entry(ZERA_boAttachParamA)},
        {table[19], Entry(ZERA_boAttachParamW)},       {table[20], Entry(ZERA_vBreakRecvEventWaitIntl)},
        {table[21], Entry(ZERA_boConfigInputFilter)},  {table[23], Entry(ZERA_vSetRestoreParams)},
        {table[24], Entry(ZERA_boGetTime)},            {table[25], Entry(ZERA_boGetStatistics)},
        {table[26], Entry(ZERA_boResetStatistics)},    {table[27], Entry(ZERA_hsComponentNameA)},
        {table[28], Entry(ZERA_lsComponentNameW)},     {table[29], Entry(ZERA_dwEvIdGetBlockSize)},
        {table[30], Entry(ZERA_dwEvIdGetBlock)},       {table[31], Entry(ZERA_boEvIdFreeBlock)},
        {table[34], Entry(ZERA_pstReceiveEventIntl)},
    };
    for (const auto &pair : expected) EXPECT_EQ(pair[0], pair[1]);

    // Down and Up agree on the two slots they share.
    ZERA_PFN up[ZERA_ENTRY_COUNT] = {};
    ZERA_vModuleInitAPIHooksUp(up);
    EXPECT_EQ(table[32], up[32]);
    EXPECT_EQ(table[33], up[33]);
}

// A level made by hand above a host level 0, with a module of the test
// components, as the add makes it before it binds.
class Binding : public ::testing::Test {
protected:
    void Load(const char *file) {
        module_ = OSAL_hLoadLibraryA(file);
        ASSERT_NE(module_, nullptr) << st::LastText();
        h_ = ZERA_hHandleCreate(stack_.h0());
        ASSERT_NE(h_, nullptr);
        h_->hModule = module_;
    }
    void TearDown() override {
        if (h_ != nullptr) {
            ZERA_vDeleteParamListA(h_->pstStackParams);
            EXPECT_TRUE(ZERA_boHandleClose(h_));
        }
        if (module_ != nullptr) {
            EXPECT_TRUE(OSAL_boFreeLibrary(module_));
        }
    }
    // The level's info blocks, table and width, to show a refusal changed none.
    std::vector<uint8_t> Contents() const {
        std::vector<uint8_t> bytes(2 * sizeof(InfoBlock) + sizeof h_->apfnEntry + 1);
        std::memcpy(bytes.data(), h_->pstInfoBlock, sizeof(InfoBlock));
        std::memcpy(bytes.data() + sizeof(InfoBlock), h_->pstUpperInfoBlock, sizeof(InfoBlock));
        std::memcpy(bytes.data() + 2 * sizeof(InfoBlock), h_->apfnEntry, sizeof h_->apfnEntry);
        bytes.back() = h_->boWide;
        return bytes;
    }

    st::HostStack stack_;
    OSAL_HMODULE module_ = nullptr;
    StackHandle *h_ = nullptr;
};

TEST_F(Binding, FillsBlocksTableAndParameters) {
    Load("Params.COMPONENT");
    h_->boWide = 1;
    ASSERT_TRUE(ZERA_boModuleInitAPIA(h_));
    EXPECT_EQ(h_->boWide, 0);
    EXPECT_EQ(h_->pstInfoBlock->dwVersion, 0x00000001u);
    EXPECT_EQ(h_->pstUpperInfoBlock->dwFlags, 0x01u);
    EXPECT_EQ(h_->apfnEntry[zera::kEntryModuleInit], Entry(OSAL_pfnGetProcAddress(module_, "ZERA_boModuleInit")));
    EXPECT_EQ(h_->apfnEntry[zera::kEntryModuleDeinit], Entry(OSAL_pfnGetProcAddress(module_, "ZERA_boModuleDeinit")));
    EXPECT_EQ(h_->apfnEntry[zera::kEntryModuleNotifyA], Entry(OSAL_pfnGetProcAddress(module_, "ZERA_vModuleNotifyA")));
    EXPECT_EQ(h_->apfnEntry[zera::kEntryModuleNotifyW], Entry(OSAL_pfnGetProcAddress(module_, "ZERA_vModuleNotifyW")));
    for (int slot = 0; slot < ZERA_ENTRY_COUNT; ++slot) EXPECT_NE(h_->apfnEntry[slot], nullptr) << slot;
    ASSERT_NE(h_->pstStackParams, nullptr);
    EXPECT_STREQ(static_cast<const char *>(h_->pstStackParams[0].pName), "A0");
}

TEST_F(Binding, WideBindingUsesTheWideSetup) {
    Load("WideOnly.COMPONENT");
    ASSERT_TRUE(ZERA_boModuleInitAPIW(h_));
    EXPECT_EQ(h_->boWide, 1);
    EXPECT_TRUE(std::u16string(reinterpret_cast<const char16_t *>(h_->pstStackParams[0].pName)) == u"Label");
    EXPECT_EQ(h_->apfnEntry[zera::kEntryModuleNotifyA], nullptr);  // the component has only the W one
    EXPECT_NE(h_->apfnEntry[zera::kEntryModuleNotifyW], nullptr);
}

TEST_F(Binding, RefusalsBeforeTheComponentRunsChangeNothing) {
    Load("WideOnly.COMPONENT");
    const std::vector<uint8_t> before = Contents();
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boModuleInitAPIA(h_));  // no narrow setup
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_NAME_NOT_FOUND));
    EXPECT_STREQ(zera::BindingRefusal(), "the component does not export \"ZERA_boSetupParListA\"");
    EXPECT_TRUE(Contents() == before);

    OSAL_HMODULE other = h_->hModule;
    h_->hModule = nullptr;
    EXPECT_FALSE(ZERA_boModuleInitAPIA(h_));
    EXPECT_TRUE(Contents() == before);
    h_->hModule = other;

    EXPECT_FALSE(ZERA_boModuleInitAPIW(nullptr));
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
}

TEST_F(Binding, MissingInfoBlockInitialiserChangesNothing) {
    Load("NoInfoInit.COMPONENT");
    const std::vector<uint8_t> before = Contents();
    EXPECT_FALSE(ZERA_boModuleInitAPIA(h_));
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_NAME_NOT_FOUND));  // no code of its own
    EXPECT_TRUE(Contents() == before);
    EXPECT_TRUE(IsEmptyTable(h_));
}

TEST_F(Binding, ComponentWithoutInitOrDeinitIsRefusedWithAClearCode) {
    Load("NoDeinit.COMPONENT");
    const std::vector<uint8_t> before = Contents();
    EXPECT_FALSE(ZERA_boModuleInitAPIA(h_));
    EXPECT_EQ(st::LastError(), static_cast<uint32_t>(OSAL_ERR_MODULE_REFUSED));
    EXPECT_NE(st::LastText().find("does not export \"ZERA_boModuleDeinit\""), std::string::npos) << st::LastText();
    EXPECT_TRUE(Contents() == before);
    EXPECT_EQ(h_->pstStackParams, nullptr);
}

TEST(BindingNames, SecondNamesAreTheSameOperation) {
#if defined(__ELF__)
    EXPECT_EQ(Entry(ZERA_boModuleBindLevelA), Entry(ZERA_boModuleInitAPIA));
    EXPECT_EQ(Entry(ZERA_boModuleBindLevelW), Entry(ZERA_boModuleInitAPIW));
#endif
    // A component's own export of the first name forwards to the second.
    OSAL_HMODULE module = OSAL_hLoadLibraryA("KitCheck.COMPONENT");
    ASSERT_NE(module, nullptr);
    EXPECT_NE(Entry(OSAL_pfnGetProcAddress(module, "ZERA_boModuleInitAPIA")), Entry(ZERA_boModuleInitAPIA));
    EXPECT_EQ(OSAL_pfnGetProcAddress(module, "ZERA_boModuleBindLevelA"), nullptr);  // not the component's
    EXPECT_TRUE(OSAL_boFreeLibrary(module));
}

TEST(ReceiveErrorMark, MarksTheEventAndKeepsTheValueWithinAByte) {
    Event *ev = ZERA_pstCreateEvent(1, 1, 0);
    ASSERT_NE(ev, nullptr);
    ev->dwFlags = 0x5;
    zera::MarkReceiveError(ev, 7);
    EXPECT_EQ(ev->dwFlags, 0x5u | ZERA_EVF_ERROR_MARK);
    EXPECT_EQ(ev->u8Error, 7);
    zera::MarkReceiveError(ev, OSAL_ERR_QUEUE_FULL);
    EXPECT_EQ(ev->u8Error, 255);
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

TEST(ReceiveErrorMark, ABoundLevelsFullReceiveQueueMarksTheRefusedEvent) {
    st::HostStack stack;
    StackHandle *h1 = stack.Add("Layer");
    ASSERT_NE(h1, nullptr);
    for (uint32_t n = 0; n < ZERA_QUEUE_CAPACITY; ++n) {
        ASSERT_TRUE(OSAL_boQueuePut(h1->hRecvQueue, ZERA_pstCreateEvent(5, 1, 0), ZERA_boTimeStampCompare));
    }
    Event *refused = ZERA_pstCreateEvent(5, 1, 0);
    EXPECT_FALSE(OSAL_boQueuePut(h1->hRecvQueue, refused, ZERA_boTimeStampCompare));
    EXPECT_EQ(refused->dwFlags & ZERA_EVF_ERROR_MARK, ZERA_EVF_ERROR_MARK);
    EXPECT_EQ(refused->u8Error, 255);
    EXPECT_TRUE(ZERA_boDeleteEvent(refused));
}  // the queue deletes the events left in it

}  // namespace
