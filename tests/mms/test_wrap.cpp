// Memory wrappers, text pool, set-order slot, scoped locks and the free
// helpers of the parameter memory.
#include "mms/mms_wrap.h"

#include "mms/mms_lockedfield.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

using namespace MMS;

namespace {

struct CountingAllocator : IMemoryAllocator {
    int allocations = 0, frees = 0;
    bool fail = false;
    void* allocate(size_t size) override
    {
        if (fail)
            return nullptr;
        ++allocations;
        return ::operator new(size);
    }
    void free(void* block) override
    {
        ++frees;
        ::operator delete(block);
    }
};

} // namespace

TEST(SharedMemWrapper, HeapBlocksAreZeroFilledAndCarryTheHeapHeader)
{
    SharedMemWrapper wrapper;
    EXPECT_EQ(wrapper.allocate(0), nullptr);
    auto* block = static_cast<uint8_t*>(wrapper.allocate(300));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(block[i], 0);
    // Heap 0, 24-bit big-endian size in front of the data.
    const uint8_t header[8] = {0, 0, 0x01, 0x2C, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(block - 8, header, 8), 0);
    wrapper.free(block);
    wrapper.free(nullptr);
}

TEST(SharedMemWrapper, ReallocateCopiesZeroFillsAndKeepsTheOldBlockOnFailure)
{
    CountingAllocator allocator;
    SharedMemWrapper wrapper(&allocator);
    auto* old = static_cast<uint8_t*>(wrapper.allocate(4));
    std::memcpy(old, "abcd", 4);
    auto* grown = static_cast<uint8_t*>(wrapper.reallocate(old, 4, 8));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::memcmp(grown, "abcd\0\0\0\0", 8), 0);
    EXPECT_EQ(allocator.frees, 1);

    allocator.fail = true;
    EXPECT_EQ(wrapper.reallocate(grown, 8, 16), nullptr);
    EXPECT_EQ(allocator.frees, 1); // the old block is still the caller's
    EXPECT_EQ(std::memcmp(grown, "abcd", 4), 0);

    EXPECT_EQ(wrapper.reallocate(grown, 8, 0), nullptr);
    EXPECT_EQ(allocator.frees, 2);
}

TEST(MmsWrapAlloc, ObjectsComeFromHeapZero)
{
    EXPECT_EQ(mms_wrapAlloc(0), nullptr);
    EXPECT_EQ(mms_wrapFree(nullptr), 0);
    struct Probe {
        int* destroyed;
        explicit Probe(int* d)
            : destroyed(d)
        {
        }
        ~Probe() { ++*destroyed; }
    };
    int destroyed = 0;
    Probe* probe = mms_wrapNew<Probe>(&destroyed);
    ASSERT_NE(probe, nullptr);
    mms_wrapDelete(probe);
    EXPECT_EQ(destroyed, 1);
}

namespace {
struct RecordingNotify : ISetOrderNotify {
    std::vector<uint32_t>* seen;
    bool* deleted;
    RecordingNotify(std::vector<uint32_t>* s, bool* d)
        : seen(s)
        , deleted(d)
    {
    }
    ~RecordingNotify() override { *deleted = true; }
    JResult notify(uint32_t n) override
    {
        seen->push_back(n);
        return 7;
    }
};
} // namespace

TEST(SetOrderNotifyWrapper, InstallsOnceForwardsAndDestroys)
{
    std::vector<uint32_t> seen;
    bool firstDeleted = false, secondDeleted = false;
    {
        SetOrderNotifyWrapper slot;
        EXPECT_EQ(slot.notify(3), 0);
        EXPECT_EQ(slot.install(nullptr), JLIB_FAIL);
        auto* first = new RecordingNotify(&seen, &firstDeleted);
        EXPECT_EQ(slot.install(first), 0);
        RecordingNotify second(&seen, &secondDeleted);
        EXPECT_EQ(slot.install(&second), JLIB_FAIL);
        EXPECT_EQ(slot.notify(42), 7);
        EXPECT_FALSE(firstDeleted);
    }
    EXPECT_TRUE(firstDeleted);
    EXPECT_EQ(seen, std::vector<uint32_t>{42});
}

TEST(StringMemoryFactory, AddStoresTextsBackToBackWithinTheCapacity)
{
    SharedMemWrapper wrapper;
    struct Case {
        const char* text;
        uint32_t length;
        bool allowEmpty;
        JResult result;
        uint32_t offset, stored;
        const char* bytes; // what the pool holds at offset
    };
    const Case cases[] = {
        {"ab", 10, false, 0, 0, 3, "ab\0"}, // shorter: with its NUL
        {"abcdef", 4, false, 0, 3, 4, "abcd"}, // as long or longer: cut, no NUL
        {"", 5, true, 0, 0, 0, ""}, // empty with allow-empty costs nothing
        {"", 5, false, 0, 7, 1, "\0"}, // empty otherwise is one NUL
        {nullptr, 3, false, 0, 8, 3, "\0\0\0"}, // reserve
        {"xyz", 0, false, 0, 0, 0, ""}, // length 0
        {"toolong", 100, false, MMS_E_ARG, 0, 0, ""}, // needs 8 bytes, 7 are left
    };
    StringMemoryFactory pool;
    ASSERT_EQ(pool.create(&wrapper, 18), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        uint32_t offset = 99, stored = 99;
        const uint32_t usedBefore = pool.usedSize();
        EXPECT_EQ(pool.add(c.text, c.length, c.allowEmpty, &offset, &stored), c.result);
        if (c.result < 0) {
            EXPECT_EQ(pool.usedSize(), usedBefore);
            continue;
        }
        EXPECT_EQ(offset, c.offset);
        EXPECT_EQ(stored, c.stored);
        EXPECT_EQ(std::memcmp(pool.base() + offset, c.bytes, stored), 0);
    }
    EXPECT_EQ(pool.usedSize(), 11u);
    pool.release(&wrapper);
}

TEST(StringMemoryFactory, CapacityIsTheLimit)
{
    SharedMemWrapper wrapper;
    uint32_t offset, stored;
    StringMemoryFactory none;
    ASSERT_EQ(none.create(&wrapper, 0), 0);
    EXPECT_EQ(none.add("a", 24, false, &offset, &stored), MMS_E_ARG);

    StringMemoryFactory two;
    ASSERT_EQ(two.create(&wrapper, 2), 0);
    EXPECT_EQ(two.create(&wrapper, 2), MMS_E_ARG);
    EXPECT_EQ(two.add("a", 24, false, &offset, &stored), 0);
    EXPECT_EQ(stored, 2u);
    EXPECT_EQ(two.add("b", 24, false, &offset, &stored), MMS_E_ARG);

    two.rollback(0); // a definition that failed gives its texts back
    EXPECT_EQ(two.usedSize(), 0u);
    EXPECT_EQ(two.add("c", 24, false, &offset, &stored), 0);
    EXPECT_EQ(offset, 0u);
    two.release(&wrapper);

    StringMemoryFactory orphan;
    EXPECT_EQ(orphan.create(nullptr, 4), MMS_E_INNER);
}

TEST(StringMemoryFactory, AdoptedPoolsAreNeverFreed)
{
    CountingAllocator allocator;
    SharedMemWrapper wrapper(&allocator);
    uint8_t image[6] = {'u', 'n', 'i', 't', 0, 0};
    StringMemoryFactory pool;
    EXPECT_EQ(pool.adopt(image, sizeof image), 0);
    EXPECT_FALSE(pool.owned());
    EXPECT_EQ(pool.usedSize(), 6u);
    char text[8];
    EXPECT_EQ(pool.readText(0, 7, text), 0);
    EXPECT_STREQ(text, "unit");
    EXPECT_EQ(pool.readText(6, 7, text), MMS_E_ARG);
    EXPECT_EQ(pool.release(&wrapper), 0);
    EXPECT_EQ(allocator.frees, 0);
    EXPECT_EQ(pool.base(), nullptr);

    EXPECT_EQ(pool.copy(&wrapper, image, sizeof image), 0);
    EXPECT_TRUE(pool.owned());
    EXPECT_EQ(pool.adopt(image, sizeof image), MMS_E_INNER); // an owned pool is not dropped
    EXPECT_EQ(pool.release(&wrapper), 0);
    EXPECT_EQ(allocator.frees, 1);
}

namespace {
struct RecordingMutex : IMutex {
    std::string log;
    JResult lockA() override { return log += "A+", 0; }
    JResult unlockA() override { return log += "A-", 0; }
    JResult tryLockA() override { return 0; }
    JResult lockB() override { return log += "B+", 0; }
    JResult unlockB() override { return log += "B-", 0; }
    JResult tryLockB() override { return 0; }
};
} // namespace

TEST(MutexLock, TakesBBeforeAAndReleasesInReverse)
{
    const struct {
        uint8_t mode;
        const char* log;
    } cases[] = {{1, "B+B-"}, {2, "A+A-"}, {3, "B+A+A-B-"}, {0, ""}};
    for (const auto& c : cases) {
        RecordingMutex mutex;
        {
            MutexLock lock(&mutex, c.mode);
        }
        EXPECT_EQ(mutex.log, c.log) << int(c.mode);
    }
    MutexLock none(nullptr, 3);
}

namespace {
// Plain mutexes: a second take on the same thread fails.
struct PlainMutex : IMutex {
    std::mutex a, b;
    JResult lockA() override { return a.lock(), 0; }
    JResult unlockA() override { return a.unlock(), 0; }
    JResult tryLockA() override { return a.try_lock() ? 0 : MMS_E_LOCK_BUSY; }
    JResult lockB() override { return b.lock(), 0; }
    JResult unlockB() override { return b.unlock(), 0; }
    JResult tryLockB() override { return b.try_lock() ? 0 : MMS_E_LOCK_BUSY; }
};
} // namespace

// The locked field asserts this on its mutex in debug builds.
TEST(MutexLock, RecursionCheckTellsPlainMutexesApart)
{
    RecursiveMutex recursive;
    NullMutex none;
    PlainMutex plain;
    EXPECT_TRUE(mms_mutexIsRecursive(&recursive));
    EXPECT_TRUE(mms_mutexIsRecursive(&none));
    EXPECT_TRUE(mms_mutexIsRecursive(nullptr));
    EXPECT_FALSE(mms_mutexIsRecursive(&plain));
    // Every lock it took is released again.
    EXPECT_TRUE(plain.a.try_lock() && plain.b.try_lock());
    plain.a.unlock();
    plain.b.unlock();
}

TEST(BitArrays, MostSignificantBitFirstAndHonestResults)
{
    uint8_t bits[3] = {};
    EXPECT_EQ(mms_setBit(bits, 0), MMS_CHANGED);
    EXPECT_EQ(bits[0], 0x80);
    EXPECT_EQ(mms_setBit(bits, 9), MMS_CHANGED);
    EXPECT_EQ(bits[1], 0x40);
    EXPECT_TRUE(mms_testBit(bits, 9));
    EXPECT_FALSE(mms_testBit(nullptr, 9));
    EXPECT_EQ(mms_clearBit(bits, 9), MMS_CHANGED);
    EXPECT_EQ(mms_clearBit(bits, 9), 0); // already clear
    EXPECT_EQ(mms_setBit(nullptr, 1), 0);
    EXPECT_EQ(mms_clearBit(nullptr, 1), 0);
}

TEST(BitArrays, RunsMaskPartialBytesLikeSingleBits)
{
    for (uint32_t first = 0; first < 12; ++first)
        for (uint32_t count = 0; first + count <= 24; ++count) {
            uint8_t run[3] = {};
            uint8_t single[3] = {};
            mms_setBits(run, first, count);
            for (uint32_t n = first; n < first + count; ++n)
                mms_setBit(single, n);
            ASSERT_EQ(std::memcmp(run, single, 3), 0) << first << "+" << count;
            EXPECT_EQ(mms_anyBit(run, 0, 24), count != 0);
            mms_clearBits(run, first, count);
            ASSERT_EQ(run[0] | run[1] | run[2], 0);
        }
}

TEST(Names, CopyAppendAndSplit)
{
    char name[24];
    EXPECT_EQ(mms_copyName(name, ""), MMS_E_ARG);
    EXPECT_EQ(mms_copyName(name, "abcdefghijklmnopqrstuvw"), 0); // 23
    EXPECT_EQ(name[23], 0);
    EXPECT_EQ(mms_copyName(name, "abcdefghijklmnopqrstuvwx"), MMS_E_ARG); // 24, no NUL

    char path[12] = "";
    EXPECT_EQ(mms_appendName(path, sizeof path, "dev", false), 0);
    EXPECT_EQ(mms_appendName(path, sizeof path, "gain", false), 0);
    EXPECT_STREQ(path, "dev/gain");
    EXPECT_EQ(mms_appendName(path, sizeof path, "xyz", false), MMS_E_ARG); // 8 + 4 + NUL > 12
    EXPECT_STREQ(path, "dev/gain");
    char rooted[8] = "";
    EXPECT_EQ(mms_appendName(rooted, sizeof rooted, "dev", true), 0);
    EXPECT_STREQ(rooted, "/dev");
    EXPECT_EQ(mms_namePathLength(0, "dev", true), 4u);
    EXPECT_EQ(mms_namePathLength(3, "gain", false), 8u);

    const char* rest;
    uint32_t restLength;
    EXPECT_EQ(mms_splitPath("ab/cd/e", 7, &rest, &restLength), 2u);
    EXPECT_EQ(std::string(rest, restLength), "cd/e");
    EXPECT_EQ(mms_splitPath("abc", 3, &rest, &restLength), 3u);
    EXPECT_EQ(restLength, 0u);

    const char* function;
    uint32_t functionLength;
    mms_splitFunctionPath("/Fn/a/b", 7, &function, &functionLength, &rest, &restLength);
    EXPECT_EQ(std::string(function, functionLength), "Fn");
    EXPECT_EQ(std::string(rest, restLength), "a/b");
    mms_splitFunctionPath("a/b", 3, &function, &functionLength, &rest, &restLength);
    EXPECT_EQ(functionLength, 0u);
    EXPECT_EQ(std::string(rest, restLength), "a/b");
}

TEST(StepIndexes, CountsLikeAnOdometer)
{
    const uint32_t first[3] = {1, 0, 2};
    const uint32_t last[3] = {2, 1, 3};
    uint32_t current[3] = {1, 0, 2};
    std::vector<std::string> seen;
    JResult r = 0;
    for (int guard = 0; guard < 20 && r == 0; ++guard) {
        seen.push_back(std::to_string(current[0]) + std::to_string(current[1]) + std::to_string(current[2]));
        r = mms_stepIndexes(first, current, last, 3);
    }
    EXPECT_EQ(r, 8);
    EXPECT_EQ(seen, (std::vector<std::string>{"102", "103", "112", "113", "202", "203", "212", "213"}));
    uint32_t outside[3] = {0, 0, 2};
    EXPECT_EQ(mms_stepIndexes(first, outside, last, 3), MMS_E_PATH);
}

TEST(ByteOrder, SwapsAndProbe)
{
    uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    mms_swapBytes(b, 4);
    EXPECT_EQ(std::memcmp(b, "\4\3\2\1\5\6\7\10", 8), 0);
    mms_swapBytes(b, 3); // other sizes stay
    EXPECT_EQ(b[0], 4);
    mms_swapBytes(b, 8);
    EXPECT_EQ(std::memcmp(b, "\10\7\6\5\1\2\3\4", 8), 0);
    const uint32_t one = 1;
    uint8_t first;
    std::memcpy(&first, &one, 1);
    EXPECT_EQ(mms_hostIsBigEndian(), first == 0);
}
