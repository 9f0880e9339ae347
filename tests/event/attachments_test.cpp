// event/attachments_test.cpp - finding and making attachment nodes, and
// attaching values of stack parameters: one node per level and selector,
// one width per event, refusals that leave the event unchanged, and
// allocation failures.
#include "event/event_test_util.h"

namespace {

using zt::ExpectCode;
using zt::NodeLevels;

TEST(CheckParList, FindsOrMakesTheNodeForALevelAndSelector) {
    OSAL_vSetLastError(0);
    EXPECT_EQ(ZERA_ppstCheckParListA(nullptr, 3, 0, 1, 0), nullptr);
    ExpectCode(OSAL_ERR_INVALID_ARG);
    Event *ev = ZERA_pstCreateEvent(1, 0, 0);
    Attachment **link = ZERA_ppstCheckParListA(ev, 3, 0, 0, 0);  // no node: the terminating link
    EXPECT_TRUE(link == &ev->pstAttachments && *link == nullptr);

    Attachment *first = *ZERA_ppstCheckParListA(ev, 4, 0, 1, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->pParList[0].pName, nullptr);  // an empty list
    link = ZERA_ppstCheckParListW(ev, 2, 5, 1, 0);  // made at the head; a non-zero selector is stored as 1
    EXPECT_EQ(link, &ev->pstAttachments);
    Attachment *second = *link;
    EXPECT_EQ(second->u8Selector, 1);
    EXPECT_EQ(second->pstNext, first);
    EXPECT_EQ(NodeLevels(ev), (std::vector<int>{2, 4}));

    // A node further down is reached through its predecessor's link.
    EXPECT_EQ(ZERA_ppstCheckParListA(ev, 4, 0, 1, 0), &second->pstNext);
    // Selectors compare as whole bytes: 5 never matches the stored 1.
    EXPECT_EQ(*ZERA_ppstCheckParListA(ev, 2, 5, 0, 0), nullptr);
    EXPECT_EQ(*ZERA_ppstCheckParListA(ev, 2, 1, 0, 0), second);
    // Above: the first node of a higher level with that selector.
    EXPECT_EQ(*ZERA_ppstCheckParListA(ev, 1, 0, 0, 1), first);
    EXPECT_EQ(*ZERA_ppstCheckParListA(ev, 1, 1, 0, 1), second);
    EXPECT_EQ(*ZERA_ppstCheckParListA(ev, 4, 0, 0, 1), nullptr);
    EXPECT_EQ(NodeLevels(ev), (std::vector<int>{2, 4}));
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

TEST(CheckParList, ANodeThatCannotBeMadeIsNotLinked) {
    Event *ev = ZERA_pstCreateEvent(1, 0, 0);
    ASSERT_NE(ev, nullptr);
    zt::ForEachAllocFailure([&](long) {
        OSAL_vSetLastError(0);
        if (*ZERA_ppstCheckParListA(ev, 1, 0, 1, 0) != nullptr) return true;
        ExpectCode(OSAL_ERR_NO_MEMORY);
        EXPECT_EQ(ev->pstAttachments, nullptr);
        return false;
    });
    EXPECT_TRUE(ZERA_boDeleteEvent(ev));
}

// ---- Attaching stack parameters -----------------------------------------------------

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
        OSAL_vSetLastError(0);
    }
    void TearDown() override { EXPECT_TRUE(ZERA_boDeleteEvent(ev_)); }

    std::vector<std::string> Params(uint8_t level, uint8_t selector, bool wide) {
        Attachment *node = *ZERA_ppstCheckParListA(ev_, level, selector, 0, 0);
        return zt::Entries(node == nullptr ? nullptr : node->pParList, wide);
    }

    zt::LevelChain chain_{2};
    Event *ev_ = nullptr;
};

TEST_F(AttachParam, ValuesGoIntoOneNodePerLevelAndSelector) {
    ASSERT_TRUE(ZERA_boAttachParamA(chain_[0], ev_, 1, 0, "Gain", 42u));
    ASSERT_TRUE(ZERA_boAttachParamA(chain_[0], ev_, 1, 0, "Mode", "fast"));
    ASSERT_TRUE(ZERA_boAttachParamA(chain_[1], ev_, 1, 1, "Ratio", 0.5));
    EXPECT_EQ(ev_->boWideAttach, 0);
    EXPECT_EQ(NodeLevels(ev_), (std::vector<int>{1, 1}));
    EXPECT_EQ(Params(1, 0, false), (std::vector<std::string>{"Gain=42", "Mode=fast"}));
    EXPECT_EQ(Params(1, 1, false), (std::vector<std::string>{"Ratio=0.500000"}));

    // The copy takes the stack parameter's type and access class, not its
    // attributes (access class 4 without the creation option) or tag; its
    // name block has an empty additional text.
    const Param &gain = (*ZERA_ppstCheckParListA(ev_, 1, 0, 0, 0))->pParList[0];
    EXPECT_EQ((std::vector<uint32_t>{gain.dwType, gain.dwAccess, gain.u8Attributes, gain.u8Tag}),
              (std::vector<uint32_t>{ZERA_PARAM_DWORD, 4, 0, 0}));
    EXPECT_EQ(static_cast<const char *>(gain.pName)[5], '\0');
}

TEST_F(AttachParam, WideValuesMarkTheEventWideAndNarrowOnesCannotJoin) {
    ASSERT_TRUE(ZERA_boAttachParamW(chain_[0], ev_, 2, 0, zt::W(u"Mode"), zt::W(u"fast")));
    ASSERT_TRUE(ZERA_boAttachParamW(chain_[0], ev_, 2, 0, zt::W(u"Gain"), 7u));
    EXPECT_EQ(ev_->boWideAttach, 1);
    EXPECT_EQ(Params(2, 0, true), (std::vector<std::string>{"Mode=fast", "Gain=7"}));
    EXPECT_FALSE(ZERA_boAttachParamA(chain_[0], ev_, 1, 0, "Gain", 1u));
    ExpectCode(OSAL_ERR_INVALID_ARG);
    EXPECT_EQ(ev_->boWideAttach, 1);
    EXPECT_EQ(NodeLevels(ev_), std::vector<int>{2});
}

TEST_F(AttachParam, RefusalsLeaveTheEventUnchanged) {
    ASSERT_TRUE(ZERA_boAttachParamA(chain_[0], ev_, 1, 0, "Gain", 42u));
    const Event before = *ev_;
    auto refused = [&](BOOL8 result, uint32_t code) {
        EXPECT_FALSE(result);
        ExpectCode(code);
        EXPECT_EQ(std::memcmp(ev_, &before, sizeof before), 0);
        EXPECT_EQ(Params(1, 0, false), std::vector<std::string>{"Gain=42"});
    };
    refused(ZERA_boAttachParamA(chain_[0], nullptr, 1, 0, "Gain", 1u), OSAL_ERR_INVALID_ARG);
    ev_->u8Level = 2;
    EXPECT_FALSE(ZERA_boAttachParamA(chain_[0], ev_, 1, 0, "Gain", 1u));  // below the event's level
    ExpectCode(OSAL_ERR_INVALID_ARG);
    ev_->u8Level = 1;
    refused(ZERA_boAttachParamA(chain_[0], ev_, 1, 0, nullptr, 1u), OSAL_ERR_INVALID_ARG);
    refused(ZERA_boAttachParamA(chain_[0], ev_, 1, 0, "", 1u), OSAL_ERR_INVALID_ARG);
    refused(ZERA_boAttachParamW(chain_[0], ev_, 2, 0, zt::W(u""), 1u), OSAL_ERR_INVALID_ARG);
    refused(ZERA_boAttachParamA(chain_[0], ev_, 1, 2, "Gain", 1u), OSAL_ERR_INVALID_ARG);  // selector above 1
    refused(ZERA_boAttachParamA(chain_[0], ev_, 1, 0, "Secret", 1u), OSAL_ERR_INVALID_ARG);  // not attachable
    refused(ZERA_boAttachParamA(chain_[0], ev_, 1, 0, "Odd", 1u), OSAL_ERR_INVALID_ARG);  // no value type
    refused(ZERA_boAttachParamA(chain_[0], ev_, 1, 0, "gain", 1u), OSAL_ERR_INVALID_ARG);  // no such parameter
    refused(ZERA_boAttachParamA(nullptr, ev_, 1, 0, "Gain", 1u), OSAL_ERR_INVALID_HANDLE);
    refused(ZERA_boAttachParamA(chain_[0], ev_, 3, 0, "Gain", 1u), OSAL_ERR_INVALID_HANDLE);  // no level 3
    refused(ZERA_boAttachParamA(chain_[2], ev_, 1, 0, "Gain", 1u), OSAL_ERR_INVALID_LEVEL);  // below the handle
}

// The allocations in turn: the node, its list, then (the node now staying)
// the parameter's name block, whose failure the list operation reports as
// 1028, then its string value.
TEST_F(AttachParam, AllocationFailuresLeaveAtMostAnEmptyNode) {
    zt::ForEachAllocFailure([&](long n) {
        if (ZERA_boAttachParamA(chain_[0], ev_, 1, 1, "Mode", "fast")) return true;
        ExpectCode(n == 2 ? OSAL_ERR_INVALID_ARG : OSAL_ERR_NO_MEMORY);
        EXPECT_LE(NodeLevels(ev_).size(), 1u);
        EXPECT_TRUE(Params(1, 1, false).empty());
        return false;
    });
    EXPECT_EQ(Params(1, 1, false), (std::vector<std::string>{"Mode=fast"}));
    EXPECT_EQ(NodeLevels(ev_).size(), 1u);
}

}  // namespace
