// handle/host_kit_test.cpp - library start (ready flag, process key,
// identifier segment) and the host kit's level 0.
#include <cstdlib>
#include <cstring>

#include "evid/evid.h"
#include "handle/test_stack.h"

namespace {

TEST(LibraryStart, PlatformReadyAndSegmentOpen) {
    EXPECT_TRUE(zera::LibraryReady());
    OSAL_HSHMEM segment = zera::IdSegment();
    ASSERT_NE(segment, nullptr);
    EXPECT_NE(segment->pvData, nullptr);
}

TEST(LibraryStart, PointerKeyFromFourDraws) {
    const int32_t seconds = 1700000123;
    std::srand(static_cast<unsigned>(seconds));
    uint32_t r[8];
    for (uint32_t &v : r) v = static_cast<uint32_t>(std::rand());
    const uint32_t low = ((r[0] * 256u + r[1]) * 256u + r[2]) * 256u + r[3];
    const ZERA_UPTR key = zera::MakePointerKey(seconds);
    EXPECT_EQ(static_cast<uint32_t>(key), low);
#if UINTPTR_MAX > 0xFFFFFFFFu
    const uint32_t high = ((r[4] * 256u + r[5]) * 256u + r[6]) * 256u + r[7];
    EXPECT_EQ(static_cast<uint32_t>(key >> 32), high);
#endif
    EXPECT_EQ(zera::MakePointerKey(seconds), key);
}

TEST(LibraryStart, ProcessKeyIsStable) {
    const ZERA_UPTR key = zera::PointerKey();
    HostStackDescriptor a{}, b{};
    ZERA_vHostDescriptorInit(&a);
    ZERA_vHostDescriptorInit(&b);
    EXPECT_EQ(a.dwNextLevelLink, key);
    EXPECT_EQ(b.dwNextLevelLink, key);
    (void)zera::MakePointerKey(12345);  // reseeding the generator does not touch it
    EXPECT_EQ(zera::PointerKey(), key);
}

TEST(HostKit, DescriptorInitLeavesHostWordsAlone) {
    HostStackDescriptor desc;
    desc.adwHostData[0] = 0x11111111u;
    desc.adwHostData[1] = 0x22222222u;
    desc.dwNextLevelLink = 0;
    desc.dwLevelMask = 0xFFu;
    ZERA_vHostDescriptorInit(&desc);
    EXPECT_EQ(desc.adwHostData[0], 0x11111111u);
    EXPECT_EQ(desc.adwHostData[1], 0x22222222u);
    EXPECT_EQ(desc.dwNextLevelLink, zera::PointerKey());
    EXPECT_EQ(desc.dwLevelMask, 1u);

    OSAL_vSetLastError(0);
    ZERA_vHostDescriptorInit(nullptr);
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_ARG));
}

TEST(HostKit, OwnDescriptorIsMadeAndReleased) {
    StackHandle *h0 = ZERA_hHostStackCreate(nullptr);
    ASSERT_NE(h0, nullptr);
    EXPECT_EQ(h0->u8Level, 0);
    auto *desc = static_cast<HostStackDescriptor *>(h0->pvLevelContext);
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->dwNextLevelLink, zera::PointerKey());
    EXPECT_EQ(desc->dwLevelMask, 1u);
    EXPECT_NE(h0->pfnLevelContextRelease, nullptr);
    EXPECT_EQ(ZERA_hHandleGetNextLevel(h0), nullptr);
    EXPECT_NE(ZERA_hsComponentNameA(h0, 0), nullptr);  // the name goes with the level too
    EXPECT_TRUE(ZERA_boHostStackDestroy(h0));          // the leak checker sees the rest
}

void ZERA_CALL CountRelease(void *pv) { ++static_cast<HostStackDescriptor *>(pv)->adwHostData[0]; }

TEST(HostKit, HostDescriptorStaysTheHosts) {
    HostStackDescriptor desc{};
    StackHandle *h0 = ZERA_hHostStackCreate(&desc);
    ASSERT_NE(h0, nullptr);
    EXPECT_EQ(h0->pvLevelContext, &desc);
    EXPECT_EQ(h0->pfnLevelContextRelease, nullptr);
    EXPECT_EQ(desc.dwNextLevelLink, zera::PointerKey());
    h0->pfnLevelContextRelease = CountRelease;  // a host may ask to hear of the release
    EXPECT_TRUE(ZERA_boHostStackDestroy(h0));
    EXPECT_EQ(desc.adwHostData[0], 1u);
}

TEST(HostKit, FailedCreateReleasesAllAndLeavesDescriptor) {
    AllocFailureGuard guard;
    HostStackDescriptor desc;
    std::memset(&desc, 0xAB, sizeof desc);
    const HostStackDescriptor before = desc;
    for (auto failAfter : {ZERA_vTestFailAllocAfter, OSAL_vTestFailAllocAfter}) {
        for (HostStackDescriptor *given : {static_cast<HostStackDescriptor *>(nullptr), &desc}) {
            StackHandle *h0 = nullptr;
            long failures = 0;
            for (long n = 0; n < 100 && h0 == nullptr; ++n) {
                failAfter(n);
                OSAL_vSetLastError(0);
                h0 = ZERA_hHostStackCreate(given);
                failAfter(-1);
                if (h0 == nullptr) {
                    ++failures;
                    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_NO_MEMORY));
                    EXPECT_EQ(std::memcmp(&desc, &before, sizeof desc), 0);
                }
            }
            ASSERT_NE(h0, nullptr);
            EXPECT_GE(failures, 3);
            EXPECT_TRUE(ZERA_boHostStackDestroy(h0));
            desc = before;
        }
    }
}

TEST(HostKit, DestroyRefusals) {
    TestStack stack;
    StackHandle *h1 = stack.Add();

    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boHostStackDestroy(nullptr));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));

    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boHostStackDestroy(h1));  // not a level 0
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    EXPECT_TRUE(ZERA_boHandleCheck(h1, 0));

    // Level 1 cannot be removed by the kit yet: the stack stays whole.
    OSAL_vSetLastError(0);
    EXPECT_FALSE(ZERA_boHostStackDestroy(stack.h0()));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    EXPECT_EQ(ZERA_hHandleGetNextLevel(stack.h0()), h1);
    EXPECT_TRUE(ZERA_boHandleCheck(stack.h0(), 0));

    StackHandle *bare = ZERA_hHandleCreate(nullptr);  // no descriptor: not the kit's
    ASSERT_NE(bare, nullptr);
    EXPECT_FALSE(ZERA_boHostStackDestroy(bare));
    EXPECT_EQ(OSAL_dwGetLastError(), static_cast<uint32_t>(OSAL_ERR_INVALID_HANDLE));
    EXPECT_TRUE(ZERA_boHandleClose(bare));
}

}  // namespace
