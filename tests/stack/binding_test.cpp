// stack/binding_test.cpp - binding a level to its component module (refusals
// that change nothing, a binding that fills every slot) and the receive
// queue's error mark.
#include "handle/handle.h"
#include "library/library.h"
#include "stack/stack_test_util.h"

namespace {

// A level made by hand above a host level 0, with a module of the test
// components, as the add makes it before it binds; each refusal leaves the
// level record and its info blocks byte for byte as they were.
TEST(Binding, RefusalsChangeNothingAndABindingFillsEverySlot) {
    const struct {
        const char *component;
        uint32_t code;
        const char *text;
    } cases[] = {
        {"WideOnly", OSAL_ERR_NAME_NOT_FOUND, "does not export \"ZERA_boSetupParListA\""},  // no narrow setup
        {"NoInfoInit", OSAL_ERR_NAME_NOT_FOUND, ""},  // no code of its own
        {"NoDeinit", OSAL_ERR_MODULE_REFUSED, "does not export \"ZERA_boModuleDeinit\""},
        {"Params", 0, ""},  // first without its module, then bound with it
    };
    st::Stack stack;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.component);
        OSAL_HMODULE module = OSAL_hLoadLibraryA((std::string(c.component) + ".COMPONENT").c_str());
        StackHandle *h = ZERA_hHandleCreate(stack.h0());
        ASSERT_TRUE(module != nullptr && h != nullptr) << st::LastText();
        h->hModule = c.code != 0 ? module : nullptr;
        auto bytes = [](const void *p, size_t n) { return std::string(static_cast<const char *>(p), n); };
        auto contents = [&] {
            return bytes(h, sizeof *h) + bytes(h->pstInfoBlock, 36) + bytes(h->pstUpperInfoBlock, 36);
        };
        const std::string before = contents();
        OSAL_vSetLastError(0);
        EXPECT_FALSE(ZERA_boModuleInitAPIA(h));
        EXPECT_TRUE(c.code == 0 || OSAL_dwGetLastError() == c.code) << OSAL_dwGetLastError();
        const std::string said = st::LastText() + "|" + zera::BindingRefusal();
        EXPECT_NE(said.find(c.text), std::string::npos) << said;
        EXPECT_TRUE(contents() == before);
        if (c.code == 0) {
            h->hModule = module;
            h->boWide = 1;
            ASSERT_TRUE(ZERA_boModuleInitAPIA(h));
            EXPECT_TRUE(h->boWide == 0 && h->pstUpperInfoBlock->dwFlags == 0x01u);
            EXPECT_EQ(h->apfnEntry[zera::kEntryModuleInit],
                      reinterpret_cast<ZERA_PFN>(OSAL_pfnGetProcAddress(module, "ZERA_boModuleInit")));
            for (int slot = 0; slot < ZERA_ENTRY_COUNT; ++slot) EXPECT_NE(h->apfnEntry[slot], nullptr) << slot;
            EXPECT_STREQ(static_cast<const char *>(h->pstStackParams[0].pName), "A0");
            ZERA_vDeleteParamListA(h->pstStackParams);
        }
        EXPECT_TRUE(ZERA_boHandleClose(h));
        EXPECT_TRUE(OSAL_boFreeLibrary(module));
    }
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
    EXPECT_TRUE(refused->dwFlags == (0x5u | ZERA_EVF_ERROR_MARK) && refused->u8Error == 255);  // code too big: 255
    EXPECT_TRUE(ZERA_boDeleteEvent(refused));
}  // the queue deletes the events left in it

}  // namespace
