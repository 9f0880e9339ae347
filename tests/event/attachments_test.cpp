// event/attachments_test.cpp - attachment nodes and attached stack parameters.
#include "event/event_test_util.h"

namespace {

using zt::NodeLevels;

TEST(CheckParList, FindsOrMakesTheNodeForALevelAndSelector) {
    Event *ev = ZERA_pstCreateEvent(1, 0, 0);
    Attachment **link = ZERA_ppstCheckParListA(ev, 3, 0, 0, 0);  // no node: the terminating link
    EXPECT_TRUE(link == &ev->pstAttachments && *link == nullptr);
    Attachment *first = *ZERA_ppstCheckParListA(ev, 4, 0, 1, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->pParList[0].pName, nullptr);  // an empty list
    link = ZERA_ppstCheckParListW(ev, 2, 5, 1, 0);  // made at the head; a non-zero selector is stored as 1
    ASSERT_EQ(link, &ev->pstAttachments);
    Attachment *second = *link;
    EXPECT_TRUE(second->u8Selector == 1 && second->pstNext == first);

    const struct { uint8_t level, selector, above; Attachment **link; } finds[] = {
        {4, 0, 0, &second->pstNext},  // further down: through its predecessor's link
        {2, 5, 0, &first->pstNext},   // selectors compare as whole bytes: 5 never matches the stored 1
        {2, 1, 0, &ev->pstAttachments},
        {1, 0, 1, &second->pstNext},  // above: the first node of a higher level with that selector
        {1, 1, 1, &ev->pstAttachments},
        {4, 0, 1, &first->pstNext},
    };
    for (const auto &f : finds) {
        SCOPED_TRACE(testing::Message() << int(f.level) << " " << int(f.selector) << " " << int(f.above));
        EXPECT_EQ(ZERA_ppstCheckParListA(ev, f.level, f.selector, 0, f.above), f.link);
    }
    EXPECT_EQ(NodeLevels(ev), (std::vector<int>{2, 4}));
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}


// Level 1 with narrow stack parameters, level 2 with wide ones.
class AttachParam : public ::testing::Test {
protected:
    void SetUp() override {
        for (int level : {1, 2}) {
            zt::ListBuilder b(level == 2);
            b.DWord("Gain", 1, ZERA_PARAM_DWORD, 4);  // attachable, access class 4
            b.Str("Mode", "slow", ZERA_ATTR_ATTACHABLE | 0x20);
            b.Real("Ratio", 1.0);
            b.DWord("Secret", 2);
            b.DWord("Odd", 0, 7);  // no value type
            b.list[2].u8Attributes |= ZERA_ATTR_ATTACHABLE;
            b.list[3].u8Attributes = 0;
            std::swap(chain_[level]->pstStackParams, b.list);
        }
        chain_[2]->boWide = 1;
        ev_ = ZERA_pstCreateEvent(1, 1, 0);
        ASSERT_NE(ev_, nullptr);
    }
    void TearDown() override { EXPECT_TRUE(ZERA_boDeleteEvent(ev_)); }

    std::vector<std::string> Params(uint8_t level, uint8_t selector, bool wide) {
        Attachment *node = *ZERA_ppstCheckParListA(ev_, level, selector, 0, 0);
        return zt::Entries(node == nullptr ? nullptr : node->pParList, wide);
    }

    zt::LevelChain chain_{2};
    Event *ev_ = nullptr;
};

// Node and list fail leaving nothing; then the name block (1028) and the string,
// leaving an empty node. Values go into one node per level and selector.
TEST_F(AttachParam, ValuesGoIntoOneNodePerLevelAndSelectorOrLeaveAtMostAnEmptyNode) {
    long tries = 0;  // n + 1 after the try at failure point n
    zt::SweepAllocFailures(
        [&] { return ++tries, ZERA_boAttachParamA(chain_[0], ev_, 1, 1, "Mode", "fast"); },
        [&] { return NodeLevels(ev_).size() == (tries <= 2 ? 0u : 1u) && Params(1, 1, false).empty(); }, [](BOOL8) {},
        1, [](long n) { return n == 2 ? OSAL_ERR_INVALID_ARG : OSAL_ERR_NO_MEMORY; });
    ASSERT_TRUE(ZERA_boAttachParamA(chain_[0], ev_, 1, 0, "Gain", 42u));
    ASSERT_TRUE(ZERA_boAttachParamA(chain_[0], ev_, 1, 0, "Mode", "fast"));
    ASSERT_TRUE(ZERA_boAttachParamA(chain_[1], ev_, 1, 1, "Ratio", 0.5));
    EXPECT_EQ(ev_->boWideAttach, 0);
    EXPECT_EQ(NodeLevels(ev_), (std::vector<int>{1, 1}));
    EXPECT_EQ(Params(1, 0, false), (std::vector<std::string>{"Gain=42", "Mode=fast"}));
    EXPECT_EQ(Params(1, 1, false), (std::vector<std::string>{"Mode=fast", "Ratio=0.500000"}));

    // Type and access class copied, not attributes or tag; an empty additional text.
    const Param &gain = (*ZERA_ppstCheckParListA(ev_, 1, 0, 0, 0))->pParList[0];
    EXPECT_EQ((std::vector<uint32_t>{gain.dwType, gain.dwAccess, gain.u8Attributes, gain.u8Tag}),
              (std::vector<uint32_t>{ZERA_PARAM_DWORD, 4, 0, 0}));
    EXPECT_EQ(static_cast<const char *>(gain.pName)[5], '\0');
}

// Wide values mark the event wide; narrow ones cannot join them then.
TEST_F(AttachParam, RefusalsLeaveTheEventUnchanged) {
    ASSERT_TRUE(ZERA_boAttachParamW(chain_[0], ev_, 2, 0, zt::W(u"Mode"), zt::W(u"fast")));
    ASSERT_TRUE(ZERA_boAttachParamW(chain_[0], ev_, 2, 0, zt::W(u"Gain"), 7u));
    EXPECT_EQ(Params(2, 0, true), (std::vector<std::string>{"Mode=fast", "Gain=7"}));
    const Event before = *ev_;
    OSAL_vSetLastError(0);
    auto refused = [&](const char *what, BOOL8 result, uint32_t code) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(result);
        EXPECT_EQ(OSAL_dwGetLastError(), code);
        OSAL_vSetLastError(0);
        EXPECT_EQ(std::memcmp(ev_, &before, sizeof before), 0);
        EXPECT_EQ(Params(2, 0, true), (std::vector<std::string>{"Mode=fast", "Gain=7"}));
    };
    refused("narrow", ZERA_boAttachParamA(chain_[0], ev_, 1, 0, "Gain", 1u), OSAL_ERR_INVALID_ARG);
    refused("null name", ZERA_boAttachParamW(chain_[0], ev_, 2, 0, nullptr, 1u), OSAL_ERR_INVALID_ARG);
    refused("empty name", ZERA_boAttachParamW(chain_[0], ev_, 2, 0, zt::W(u""), 1u), OSAL_ERR_INVALID_ARG);
    refused("selector 2", ZERA_boAttachParamW(chain_[0], ev_, 2, 2, zt::W(u"Gain"), 1u), OSAL_ERR_INVALID_ARG);
    refused("not attachable", ZERA_boAttachParamW(chain_[0], ev_, 2, 0, zt::W(u"Secret"), 1u), OSAL_ERR_INVALID_ARG);
    refused("no value type", ZERA_boAttachParamW(chain_[0], ev_, 2, 0, zt::W(u"Odd"), 1u), OSAL_ERR_INVALID_ARG);
    refused("null handle", ZERA_boAttachParamW(nullptr, ev_, 2, 0, zt::W(u"Gain"), 1u), OSAL_ERR_INVALID_HANDLE);
    refused("no level 3", ZERA_boAttachParamW(chain_[0], ev_, 3, 0, zt::W(u"Gain"), 1u), OSAL_ERR_INVALID_HANDLE);
    refused("below handle", ZERA_boAttachParamW(chain_[2], ev_, 1, 0, zt::W(u"Gain"), 1u), OSAL_ERR_INVALID_LEVEL);
    ev_->u8Level = 3;  // the event's level is above the one asked
    EXPECT_REFUSED(ZERA_boAttachParamW(chain_[0], ev_, 2, 0, zt::W(u"Gain"), 1u), OSAL_ERR_INVALID_ARG);
}

}  // namespace
