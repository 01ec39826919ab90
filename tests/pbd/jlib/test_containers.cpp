#include "pbd/jlib/jbuffer.h"
#include "pbd/jlib/jdatastream.h"
#include "pbd/jlib/jlib_heap.h"
#include "pbd/jlib/jvector.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <cstring>
#include <string>
#include <vector>

using JLIB::JAllocator;
using JLIB::JVector;

namespace {

struct Big {
    uint8_t bytes[40];
};

// Counts live objects so that leaks and double destruction show.
struct Tracked {
    static int live;
    std::string text;
    explicit Tracked(std::string t)
        : text(std::move(t))
    {
        ++live;
    }
    Tracked(const Tracked& o)
        : text(o.text)
    {
        ++live;
    }
    Tracked(Tracked&& o) noexcept
        : text(std::move(o.text))
    {
        ++live;
    }
    ~Tracked() { --live; }
};
int Tracked::live = 0;

} // namespace

TEST(Vector, GrowsByHalfOrByWhatIsNeeded)
{
    JVector<uint32_t> v;
    std::vector<size_t> capacities;
    for (uint32_t i = 0; i < 14; ++i) {
        ASSERT_EQ(v.pushBack(i), JLIB_OK);
        capacities.push_back(v.capacity());
    }
    EXPECT_EQ(capacities, (std::vector<size_t>{1, 2, 3, 4, 6, 6, 9, 9, 9, 13, 13, 13, 13, 19}));
    for (uint32_t i = 0; i < 14; ++i)
        EXPECT_EQ(v[i], i);

    JVector<uint32_t> r(10);
    EXPECT_EQ(r.capacity(), 10u);
    EXPECT_EQ(r.size(), 0u);
    EXPECT_EQ(r.reserve(5), JLIB_OK);
    EXPECT_EQ(r.capacity(), 10u);
}

// Blocks hold n elements of the element's own size, not of 4 bytes.
TEST(Vector, AllocatesWholeElements)
{
    JVector<Big> v(100);
    ASSERT_NE(v.data(), nullptr);
    EXPECT_GE(malloc_usable_size(v.data()), 100 * sizeof(Big));
    Big b;
    for (int i = 0; i < 100; ++i) {
        std::memset(b.bytes, i, sizeof b.bytes);
        ASSERT_EQ(v.pushBack(b), JLIB_OK);
    }
    EXPECT_EQ(v.capacity(), 100u);
    EXPECT_EQ(v[99].bytes[39], 99);

    JAllocator<Big> a("test");
    Big* block = a.allocate(7);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(malloc_usable_size(block), 7 * sizeof(Big));
    a.deallocate(block);
}

TEST(Vector, LengthLimitIsAResultCode)
{
    JVector<Big> v;
    EXPECT_EQ(v.maxSize(), 0xFFFFFFFFu / sizeof(Big));
    EXPECT_EQ(v.reserve(v.maxSize() + 1), JLIB_VECTOR_E_TOO_LONG);
    EXPECT_EQ(v.capacity(), 0u);
    EXPECT_EQ(v.data(), nullptr);
    EXPECT_EQ(JAllocator<Big>().allocate(v.maxSize() + 1), nullptr);
    EXPECT_EQ(JAllocator<Big>().allocate(0), nullptr);
}

TEST(Vector, PushingOwnElementWhileGrowing)
{
    JVector<Tracked> v;
    ASSERT_EQ(v.pushBack(Tracked("a long enough text to live on the heap")), JLIB_OK);
    int grew = 0;
    for (int i = 0; i < 30; ++i) {
        grew += v.size() == v.capacity(); // the case that matters
        ASSERT_EQ(v.pushBack(v[0]), JLIB_OK);
    }
    EXPECT_GE(grew, 8);
    for (const Tracked& t : v)
        EXPECT_EQ(t.text, "a long enough text to live on the heap");
}

TEST(Vector, ElementLifetimesAndRelease)
{
    {
        JVector<Tracked> v(2, JAllocator<Tracked>("tracked"));
        for (int i = 0; i < 10; ++i)
            v.pushBack(Tracked(std::to_string(i)));
        EXPECT_EQ(Tracked::live, 10);

        JVector<Tracked> copy;
        ASSERT_EQ(copy.copyFrom(v), JLIB_OK);
        EXPECT_EQ(Tracked::live, 20);
        EXPECT_EQ(copy[9].text, "9");

        v.clear();
        EXPECT_EQ(Tracked::live, 10);
        EXPECT_GE(v.capacity(), 10u);
        copy.release();
        EXPECT_EQ(Tracked::live, 0);
        EXPECT_EQ(copy.data(), nullptr);
        EXPECT_EQ(copy.capacity(), 0u);

        v.pushBack(Tracked("x"));
        JVector<Tracked> moved(std::move(v));
        EXPECT_EQ(v.data(), nullptr);
        EXPECT_EQ(moved.size(), 1u);
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST(Vector, AllocatorFallsBackToTheGlobalHeap)
{
    EXPECT_STREQ(JAllocator<int>().tag(), "JAllocator");
    JAllocator<int> unregistered("t", 5);
    EXPECT_EQ(unregistered.manager(), &JLIB::GlobalHeapManager::instance());
    JVector<int> v(4, unregistered);
    EXPECT_EQ(v.capacity(), 4u);
}

TEST(Buffer, StorageOnlyFromARegisteredHeap)
{
    JLIB::JBuffer<unsigned char> b(0, 100, "test");
    ASSERT_NE(b.data(), nullptr);
    EXPECT_EQ(b.size(), 100u);
    std::memset(b.data(), 0x5A, b.size());

    JLIB::JBuffer<unsigned char> none(5, 100, "test");
    EXPECT_EQ(none.data(), nullptr);
    EXPECT_EQ(none.size(), 0u);
    JLIB::JBuffer<unsigned char> empty(0, 0, "test");
    EXPECT_EQ(empty.data(), nullptr);
    EXPECT_EQ(empty.size(), 0u);

    JLIB::JBuffer<unsigned char> moved(std::move(b));
    EXPECT_EQ(b.data(), nullptr);
    EXPECT_EQ(moved.size(), 100u);
    EXPECT_EQ(moved.data()[99], 0x5A);
}

using Stream = JLIB::JDataStream<unsigned char>;

TEST(DataStream, AllocateModes)
{
    Stream s;
    EXPECT_EQ(s.mode(), Stream::ModeNoStorage);
    EXPECT_EQ(s.capacity(), 0u);
    EXPECT_EQ(s.putByte(1), JLIB_STREAM_E_FULL);

    EXPECT_EQ(s.allocate(0, 2048), JLIB_OK);
    EXPECT_EQ(s.mode(), Stream::ModeOwned);
    EXPECT_EQ(s.capacity(), 2048u);
    ASSERT_NE(s.buffer(), nullptr);
    const uint8_t header[8] = {0x00, 0x00, 0x08, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(s.buffer() - 8, header, 8), 0);
    for (uint32_t i = 0; i < 2048; ++i)
        ASSERT_EQ(s.buffer()[i], 0) << i;

    s.putByte(7);
    const struct {
        unsigned heap;
        uint32_t size;
        JResult result;
    } failures[] = {
        {0, 0, JLIB_STREAM_E_EMPTY},
        {5, 16, JLIB_STREAM_E_MEMORY},
        {0, 0x1000000, JLIB_STREAM_E_MEMORY},
    };
    for (const auto& f : failures) {
        s.allocate(0, 64);
        s.putByte(7);
        EXPECT_EQ(s.allocate(f.heap, f.size), f.result) << f.size;
        EXPECT_EQ(s.mode(), Stream::ModeNoStorage);
        EXPECT_EQ(s.capacity(), 0u);
        EXPECT_EQ(s.buffer(), nullptr);
        EXPECT_EQ(s.count(), 0u);
        EXPECT_EQ(s.putByte(1), JLIB_STREAM_E_FULL);
    }
    // A second allocate replaces the buffer and starts empty.
    EXPECT_EQ(s.allocate(0, 16), JLIB_OK);
    s.putByte(1);
    EXPECT_EQ(s.allocate(0, 32), JLIB_OK);
    EXPECT_EQ(s.count(), 0u);
    EXPECT_EQ(s.writePosition(), 0u);
    EXPECT_EQ(s.capacity(), 32u);
}

TEST(DataStream, RingPositionsWrap)
{
    Stream s;
    ASSERT_EQ(s.allocate(0, 8), JLIB_OK);
    const unsigned char in[] = "ABCDEFGHIJKL";
    unsigned char out[16] = {};

    EXPECT_EQ(s.write(in, 6), 6u);
    EXPECT_EQ(s.read(out, 4), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "ABCD");
    EXPECT_EQ(s.readPosition(), 4u);
    EXPECT_EQ(s.writePosition(), 6u);

    EXPECT_EQ(s.write(in + 6, 6), 6u); // wraps past the end
    EXPECT_EQ(s.writePosition(), 4u);
    EXPECT_EQ(s.count(), 8u);
    EXPECT_EQ(s.freeSpace(), 0u);
    EXPECT_EQ(s.write(in, 3), 0u);
    EXPECT_EQ(s.putByte('Z'), JLIB_STREAM_E_FULL);

    unsigned char one = 0;
    EXPECT_EQ(s.getByte(&one), JLIB_OK);
    EXPECT_EQ(one, 'E');
    EXPECT_EQ(s.read(out, sizeof out), 7u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 7), "FGHIJKL");
    // Drained: every field is back at 0.
    EXPECT_EQ(s.count(), 0u);
    EXPECT_EQ(s.readPosition(), 0u);
    EXPECT_EQ(s.writePosition(), 0u);
    EXPECT_EQ(s.getByte(&one), JLIB_STREAM_E_EMPTY);
    EXPECT_EQ(s.read(out, sizeof out), 0u);

    // A partial write takes what fits.
    EXPECT_EQ(s.write(in, 12), 8u);
    EXPECT_EQ(s.read(out, 8), 8u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), "ABCDEFGH");
    EXPECT_EQ(s.write(nullptr, 3), 0u);
    EXPECT_EQ(s.read(nullptr, 3), 0u);
}

TEST(DataStream, LineEncoderFillsFromTheStart)
{
    Stream s;
    ASSERT_EQ(s.allocate(0, 2048), JLIB_OK);
    s.write(reinterpret_cast<const unsigned char*>("old"), 3);
    s.clear();
    for (uint32_t i = 0; i < 2048; ++i)
        ASSERT_EQ(s.putByte(static_cast<unsigned char>(i)), JLIB_OK);
    EXPECT_EQ(s.putByte(0), JLIB_STREAM_E_FULL);
    EXPECT_EQ(s.count(), 2048u);
    EXPECT_EQ(s.writePosition(), 0u);
    EXPECT_EQ(s.buffer()[0], 0);
    EXPECT_EQ(s.buffer()[2047], 0xFF);
}
