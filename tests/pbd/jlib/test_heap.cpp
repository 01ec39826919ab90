#include "pbd/jlib/jlib_heap.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Heap, RegistryHasOnlyHeapZero)
{
    EXPECT_EQ(jlib_getHeap(0), &JLIB::GlobalHeapManager::instance());
    EXPECT_STREQ(jlib_getHeap(0)->name(), "GlobalHeapManager");
    EXPECT_EQ(jlib_getHeap(1), nullptr);
    EXPECT_EQ(jlib_getHeap(32), nullptr);
    EXPECT_EQ(jlib_getHeapTrace(0), 0);
}

TEST(Heap, BlockHeaderAndZeroFill)
{
    auto* data = static_cast<uint8_t*>(jlib_heapAlloc(0, "test", 300));
    ASSERT_NE(data, nullptr);
    const uint8_t expected[8] = {0x00, 0x00, 0x01, 0x2C, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(data - 8, expected, 8), 0);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(data[i], 0) << i;
    EXPECT_EQ(jlib_heapFree(data), JLIB_OK);
}

TEST(Heap, SizeLimitsAndBadFrees)
{
    EXPECT_EQ(jlib_heapAlloc(0, "t", 0), nullptr);
    EXPECT_EQ(jlib_heapAlloc(0, "t", 0x1000000), nullptr);
    EXPECT_EQ(jlib_heapAlloc(7, "t", 10), nullptr);
    void* big = jlib_heapAlloc(0, "t", 0xFFFFFF);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(jlib_heapFree(big), JLIB_OK);
    EXPECT_EQ(jlib_heapFree(nullptr), JLIB_FAIL);

    // A header naming heap 5 has no manager: refused and nothing freed.
    uint8_t fake[16] = {5, 0, 0, 8};
    EXPECT_EQ(jlib_heapFree(fake + 8), JLIB_FAIL);
}
