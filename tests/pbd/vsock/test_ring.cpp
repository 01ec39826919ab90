// The datagram ring of a socket.
#include "pbd/vsock/vsock_ring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

std::vector<uint8_t> bytes(uint32_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (uint32_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

VSockEndpoint sender(uint16_t port)
{
    VSockEndpoint e{};
    e.port = port;
    e.address.family = VSOCK_FAMILY_IPV4;
    e.address.addr[0] = 198;
    e.address.addr[3] = static_cast<uint8_t>(port);
    e.address.scopeId = 0xA5A5A5A5u; // every header word carries data
    return e;
}

struct Ring {
    std::unique_ptr<VSockRing> ring = std::make_unique<VSockRing>();
    Ring() { vsock_ringReset(ring.get()); }
    VSockRing* operator->() { return ring.get(); }
    VSockRing* get() { return ring.get(); }
};

TEST(VsockRing, ExactFitAndOneWordMore)
{
    // Leave the write index near the end so that the next record wraps in
    // its header and its payload.
    Ring r;
    r->read = r->write = VSOCK_RING_WORDS - 3;
    const uint32_t free = vsock_ringFree(r.get());
    ASSERT_EQ(free, VSOCK_RING_WORDS - 1);
    // need = ceil(n/4) + 8 words: a payload of (free - 8) words fits exactly.
    const auto big = bytes((free - 8) * 4, 3);
    const VSockEndpoint from = sender(1);
    const auto tooBig = bytes((free - 8) * 4 + 1, 3);
    EXPECT_EQ(vsock_ringAppend(r.get(), &from, tooBig.data(), static_cast<uint32_t>(tooBig.size())), VSOCK_E_RESOURCE);
    EXPECT_TRUE(vsock_ringEmpty(r.get()));
    ASSERT_EQ(vsock_ringAppend(r.get(), &from, big.data(), static_cast<uint32_t>(big.size())), VSOCK_OK);
    EXPECT_EQ(vsock_ringFree(r.get()), 0u);
    const uint8_t one = 1;
    EXPECT_EQ(vsock_ringAppend(r.get(), &from, &one, 1), VSOCK_E_RESOURCE);

    std::vector<uint8_t> out(big.size());
    VSockEndpoint got;
    ASSERT_EQ(vsock_ringTake(r.get(), out.data(), static_cast<uint32_t>(out.size()), &got),
        static_cast<VSockResult>(big.size()));
    EXPECT_EQ(out, big);
    EXPECT_EQ(memcmp(&got, &from, sizeof got), 0);
    EXPECT_TRUE(vsock_ringEmpty(r.get()));
}

TEST(VsockRing, ShortBufferLeavesRecordAndOddLengthsWrap)
{
    Ring r;
    r->read = r->write = VSOCK_RING_WORDS - 10;
    const VSockEndpoint a = sender(10), b = sender(11);
    const auto p = bytes(100, 1), q = bytes(13, 9);
    ASSERT_EQ(vsock_ringAppend(r.get(), &a, p.data(), 100), VSOCK_OK);
    ASSERT_EQ(vsock_ringAppend(r.get(), &b, q.data(), 13), VSOCK_OK);
    EXPECT_EQ(vsock_ringPeekLength(r.get()), 100);

    std::vector<uint8_t> out(100, 0xEE);
    EXPECT_EQ(vsock_ringTake(r.get(), out.data(), 99, nullptr), VSOCK_E_BUFFER);
    EXPECT_EQ(out, std::vector<uint8_t>(100, 0xEE)); // untouched
    ASSERT_EQ(vsock_ringTake(r.get(), out.data(), 100, nullptr), 100);
    EXPECT_EQ(out, p);

    // Odd lengths advance by whole words and never write past the caller's size.
    std::vector<uint8_t> small(14, 0xEE);
    VSockEndpoint got;
    ASSERT_EQ(vsock_ringTake(r.get(), small.data(), 13, &got), 13);
    EXPECT_EQ(std::vector<uint8_t>(small.begin(), small.begin() + 13), q);
    EXPECT_EQ(small[13], 0xEE);
    EXPECT_EQ(got.port, 11);
    EXPECT_EQ(vsock_ringTake(r.get(), small.data(), 13, &got), VSOCK_E_EMPTY);
    EXPECT_EQ(vsock_ringDrop(r.get()), VSOCK_E_EMPTY);
}

TEST(VsockRing, DropSkipsOnlyTheHead)
{
    Ring r;
    const VSockEndpoint a = sender(1);
    const auto p = bytes(2048, 5), q = bytes(7, 6);
    ASSERT_EQ(vsock_ringAppend(r.get(), &a, p.data(), 2048), VSOCK_OK);
    ASSERT_EQ(vsock_ringAppend(r.get(), &a, q.data(), 7), VSOCK_OK);
    ASSERT_EQ(vsock_ringDrop(r.get()), VSOCK_OK);
    std::vector<uint8_t> out(7);
    ASSERT_EQ(vsock_ringTake(r.get(), out.data(), 7, nullptr), 7);
    EXPECT_EQ(out, q);
}

} // namespace
