// stack/binding_test.cpp - binding a level to its component module: the
// entry table, the refusals that change nothing, the wide binding, and the
// receive queue's error mark.
#include "handle/handle.h"
#include "stack/stack_test_util.h"

namespace {

template <typename Fn>
ZERA_PFN Entry(Fn fn) {
    return reinterpret_cast<ZERA_PFN>(fn);
}

TEST(EntryTable, HooksUpAndDownFillTheirSlots) {
    ZERA_PFN up[ZERA_ENTRY_COUNT] = {}, down[ZERA_ENTRY_COUNT] = {};
    ZERA_vModuleInitAPIHooksUp(up);
    ZERA_vModuleInitAPIHooksDown(down, nullptr);  // without module: the component slots stay empty
    for (int slot = 0; slot < ZERA_ENTRY_COUNT; ++slot) {
        EXPECT_EQ(up[slot] != nullptr, slot == 22 || slot == 32 || slot == 33 || slot == 35) << slot;
        const bool empty = slot == 1 || slot == 2 || slot == 11 || slot == 12 || slot == 22 || slot == 35;
        EXPECT_EQ(down[slot] == nullptr, empty) << slot;
    }
    EXPECT_EQ(up[zera::kEntryInputFilter], Entry(ZERA_vInputFilter));
    EXPECT_EQ(up[zera::kEntrySendEventIntl], Entry(ZERA_boSendEventIntl));
    EXPECT_EQ(down[32], up[32]);
    EXPECT_EQ(down[33], up[33]);
    EXPECT_EQ(down[3], Entry(ZERA_bAddToStackA));  // the requests that travel up the chain
    EXPECT_EQ(down[4], Entry(ZERA_bAddToStackW));
    EXPECT_EQ(down[34], Entry(ZERA_pstReceiveEventIntl));
}

// A level made by hand above a host level 0, with a module of the test
// components, as the add makes it before it binds.
class Binding : public ::testing::Test {
protected:
    void Load(const char *name) {
        module_ = OSAL_hLoadLibraryA((std::string(name) + ".COMPONENT").c_str());
        ASSERT_NE(module_, nullptr) << st::LastText();
        h_ = ZERA_hHandleCreate(stack_.h0());
        ASSERT_NE(h_, nullptr);
        h_->hModule = module_;
    }
    void TearDown() override { Unload(); }
    void Unload() {
        if (h_ != nullptr) {
            ZERA_vDeleteParamListA(h_->pstStackParams);
            EXPECT_TRUE(ZERA_boHandleClose(h_));
        }
        EXPECT_TRUE(module_ == nullptr || OSAL_boFreeLibrary(module_));
        h_ = nullptr;
        module_ = nullptr;
    }
    // The level's info blocks, table, width and parameters, to show a refusal changed none.
    std::vector<uint8_t> Contents() const {
        std::vector<uint8_t> bytes(2 * sizeof(InfoBlock) + sizeof h_->apfnEntry + 1 + sizeof(void *));
        std::memcpy(bytes.data(), h_->pstInfoBlock, sizeof(InfoBlock));
        std::memcpy(bytes.data() + sizeof(InfoBlock), h_->pstUpperInfoBlock, sizeof(InfoBlock));
        std::memcpy(bytes.data() + 2 * sizeof(InfoBlock), h_->apfnEntry, sizeof h_->apfnEntry);
        bytes[2 * sizeof(InfoBlock) + sizeof h_->apfnEntry] = h_->boWide;
        std::memcpy(&bytes[bytes.size() - sizeof(void *)], &h_->pstStackParams, sizeof(void *));
        return bytes;
    }

    st::Stack stack_;
    OSAL_HMODULE module_ = nullptr;
    StackHandle *h_ = nullptr;
};

TEST_F(Binding, FillsBlocksTableAndParameters) {
    Load("Params");
    h_->boWide = 1;
    ASSERT_TRUE(ZERA_boModuleInitAPIA(h_));
    EXPECT_EQ(h_->boWide, 0);
    EXPECT_EQ(h_->pstInfoBlock->dwVersion, 0x00000001u);
    EXPECT_EQ(h_->pstUpperInfoBlock->dwFlags, 0x01u);
    EXPECT_EQ(h_->apfnEntry[zera::kEntryModuleInit], Entry(OSAL_pfnGetProcAddress(module_, "ZERA_boModuleInit")));
    EXPECT_EQ(h_->apfnEntry[zera::kEntryModuleDeinit], Entry(OSAL_pfnGetProcAddress(module_, "ZERA_boModuleDeinit")));
    for (int slot = 0; slot < ZERA_ENTRY_COUNT; ++slot) EXPECT_NE(h_->apfnEntry[slot], nullptr) << slot;
    EXPECT_STREQ(static_cast<const char *>(h_->pstStackParams[0].pName), "A0");
}

TEST_F(Binding, RefusalsChangeNothing) {
    const struct {
        const char *component;
        uint32_t code;
        const char *text;
    } cases[] = {
        {"WideOnly", OSAL_ERR_NAME_NOT_FOUND, "does not export \"ZERA_boSetupParListA\""},  // no narrow setup
        {"NoInfoInit", OSAL_ERR_NAME_NOT_FOUND, nullptr},  // no code of its own
        {"NoDeinit", OSAL_ERR_MODULE_REFUSED, "does not export \"ZERA_boModuleDeinit\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.component);
        Load(c.component);
        const std::vector<uint8_t> before = Contents();
        EXPECT_REFUSED(ZERA_boModuleInitAPIA(h_), c.code);
        if (c.text != nullptr) {
            const std::string said = st::LastText() + "|" + zera::BindingRefusal();
            EXPECT_NE(said.find(c.text), std::string::npos) << said;
        }
        EXPECT_TRUE(Contents() == before);
        Unload();
    }
    Load("Params");
    const std::vector<uint8_t> before = Contents();
    h_->hModule = nullptr;
    EXPECT_FALSE(ZERA_boModuleInitAPIA(h_));
    h_->hModule = module_;
    EXPECT_TRUE(Contents() == before);
    EXPECT_REFUSED(ZERA_boModuleInitAPIW(nullptr), OSAL_ERR_INVALID_HANDLE);
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

TEST(ReceiveErrorMark, AFullReceiveQueueMarksTheRefusedEvent) {
    st::Stack stack{"Layer"};
    StackHandle *h1 = stack[1];
    for (uint32_t n = 0; n < ZERA_QUEUE_CAPACITY; ++n) {
        ASSERT_TRUE(OSAL_boQueuePut(h1->hRecvQueue, ZERA_pstCreateEvent(5, 1, 0), ZERA_boTimeStampCompare));
    }
    Event *refused = ZERA_pstCreateEvent(5, 1, 0);
    refused->dwFlags = 0x5;
    EXPECT_FALSE(OSAL_boQueuePut(h1->hRecvQueue, refused, ZERA_boTimeStampCompare));
    EXPECT_EQ(refused->dwFlags, 0x5u | ZERA_EVF_ERROR_MARK);
    EXPECT_EQ(refused->u8Error, 255);  // the code does not fit a byte
    EXPECT_TRUE(ZERA_boDeleteEvent(refused));
}  // the queue deletes the events left in it

}  // namespace
