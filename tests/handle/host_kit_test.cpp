// handle/host_kit_test.cpp - library start (ready flag, process key,
// identifier segment) and the host kit's level 0.
#include <cstdlib>
#include <cstring>

#include "evid/evid.h"
#include "handle/test_stack.h"

namespace {

TEST(LibraryStart, ReadyWithSegmentAndPointerKeyFromFourDraws) {
    ASSERT_TRUE(zera::LibraryReady() && zera::IdSegment() != nullptr && zera::IdSegment()->pvData != nullptr);
    const ZERA_UPTR processKey = zera::PointerKey();
    std::srand(1700000123u);
    uint32_t r[4];
    for (uint32_t &v : r) v = static_cast<uint32_t>(std::rand());
    const uint32_t low = static_cast<uint32_t>(zera::MakePointerKey(1700000123));
    EXPECT_EQ(low, ((r[0] * 256u + r[1]) * 256u + r[2]) * 256u + r[3]);
    EXPECT_EQ(zera::PointerKey(), processKey);  // reseeding the generator does not touch it
}

void ZERA_CALL CountRelease(void *pv) { ++static_cast<HostStackDescriptor *>(pv)->adwHostData[0]; }

// The kit makes and releases a descriptor of its own (the leak checker sees
// the rest); a host's descriptor stays the host's, its words untouched.
TEST(HostKit, DescriptorOwnOrTheHosts) {
    StackHandle *h0 = ZERA_hHostStackCreate(nullptr);
    ASSERT_NE(h0, nullptr);
    auto *own = static_cast<HostStackDescriptor *>(h0->pvLevelContext);
    ASSERT_NE(own, nullptr);
    EXPECT_TRUE(own->dwNextLevelLink == zera::PointerKey() && own->dwLevelMask == 1u);
    EXPECT_NE(ZERA_hsComponentNameA(h0, 0), nullptr);  // the name goes with the level too
    EXPECT_TRUE(ZERA_boHostStackDestroy(h0));

    HostStackDescriptor desc = {{0x11111111u, 0x22222222u}, 0, 0xFFu};
    ZERA_vHostDescriptorInit(&desc);
    EXPECT_EQ((std::vector<ZERA_UPTR>{desc.adwHostData[0], desc.adwHostData[1], desc.dwNextLevelLink, desc.dwLevelMask}),
              (std::vector<ZERA_UPTR>{0x11111111u, 0x22222222u, zera::PointerKey(), 1}));
    EXPECT_REFUSED((ZERA_vHostDescriptorInit(nullptr), 0), OSAL_ERR_INVALID_ARG);
    desc.adwHostData[0] = 0;
    h0 = ZERA_hHostStackCreate(&desc);
    ASSERT_TRUE(h0 != nullptr && h0->pvLevelContext == &desc && h0->pfnLevelContextRelease == nullptr);
    h0->pfnLevelContextRelease = CountRelease;  // a host may ask to hear of the release
    EXPECT_TRUE(ZERA_boHostStackDestroy(h0));
    EXPECT_EQ(desc.adwHostData[0], 1u);
}

TEST(HostKit, FailedCreateReleasesAllAndLeavesDescriptor) {
    HostStackDescriptor desc;
    std::memset(&desc, 0xAB, sizeof desc);
    const HostStackDescriptor before = desc;
    for (HostStackDescriptor *given : {static_cast<HostStackDescriptor *>(nullptr), &desc}) {
        FailEachAllocation([&] { return ZERA_hHostStackCreate(given); },
                           [&] { EXPECT_EQ(std::memcmp(&desc, &before, sizeof desc), 0); },
                           [&](StackHandle *h0) {
                               EXPECT_TRUE(ZERA_boHostStackDestroy(h0));
                               desc = before;
                           });
    }
}

TEST(HostKit, DestroyRefusalsLeaveTheStackWhole) {
    TestStack stack;
    StackHandle *h1 = stack.Add();
    StackHandle *bare = ZERA_hHandleCreate(nullptr);  // no descriptor: not the kit's
    for (StackHandle *h : {static_cast<StackHandle *>(nullptr), h1, stack.h0(), bare})
        EXPECT_REFUSED(ZERA_boHostStackDestroy(h), OSAL_ERR_INVALID_HANDLE);  // h0: level 1 still on it
    EXPECT_TRUE(ZERA_boHandleCheck(h1, 0) && ZERA_boHandleCheck(stack.h0(), 0) &&
                ZERA_hHandleGetNextLevel(stack.h0()) == h1);
    EXPECT_TRUE(ZERA_boHandleClose(bare));
}

}  // namespace
