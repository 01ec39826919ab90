// "VSOK" message encoding, decoded by an independent python peer.
#include "pbd/vsock/vsock_msg.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using qtest::hex;

std::string decode(const VSockRequest* r)
{
    std::string out;
    const int status = qtest::runCommand(
        "python3 '" + qtest::peerPath("vsock_frame.py") + "' " + hex(r->frame, r->frameLength), &out);
    EXPECT_EQ(status, 0) << out;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

struct Channel {
    std::unique_ptr<VSockChannel> c = std::make_unique<VSockChannel>();
    Channel() { vsock_msgChannelInit(c.get()); }
    VSockChannel* get() { return c.get(); }
};

TEST(VsockMessage, RequestAndReplyFramesDecodeIndependently)
{
    Channel ch;
    // Request 8 (row 1, group 7): integers big-endian, bytes padded, and
    // values that need escaping in the frame.
    VSockRequest* r = vsock_msgTake(ch.get(), 8, 0);
    ASSERT_NE(r, nullptr);
    const uint32_t socketId = 0xC0DBC1u;
    const uint16_t port = 0x1234;
    const uint8_t flag = 0xDB;
    ASSERT_EQ(vsock_msgAppend(r, &socketId, 4, true), VSOCK_OK);
    ASSERT_EQ(vsock_msgAppend(r, &port, 2, true), VSOCK_OK);
    ASSERT_EQ(vsock_msgAppend(r, &flag, 1, true), VSOCK_OK);
    ASSERT_EQ(vsock_msgAppend(r, "\xC0\xC1xyz", 5, false), VSOCK_OK);
    VSockAddress a{};
    ASSERT_EQ(vsock_textToAddress(VSOCK_FAMILY_IPV4, "10.0.0.1", &a), VSOCK_OK);
    a.scopeId = 3;
    ASSERT_EQ(vsock_msgAppendAddress(r, &a), VSOCK_OK);
    ASSERT_EQ(vsock_msgSend(ch.get(), r), VSOCK_OK);
    EXPECT_EQ(decode(r),
        "{\"args\": [\"00c0dbc1\", \"1234\", \"db\", \"c0c178797a\", "
        "\"000000040a00000100000000000000000000000000000003\"], \"count\": 5, "
        "\"group\": 7, \"length\": 64, \"reply\": false, \"row\": 1, \"sequence\": 0, "
        "\"zero\": 0}");

    // The reply to request 15 (row 4, group 12) carries the request's number.
    VSockRequest* reply = vsock_msgTake(ch.get(), 15 + 28, 0xC0FFEEu);
    ASSERT_NE(reply, nullptr);
    const int32_t result = static_cast<int32_t>(0xFACE0005u);
    ASSERT_EQ(vsock_msgAppend(reply, &result, 4, true), VSOCK_OK);
    ASSERT_EQ(vsock_msgSend(ch.get(), reply), VSOCK_OK);
    EXPECT_EQ(decode(reply),
        "{\"args\": [\"face0005\"], \"count\": 1, \"group\": 12, \"length\": 8, "
        "\"reply\": true, \"row\": 4, \"sequence\": 12648430, \"zero\": 0}");

    // Queue order, and the next request takes the next number.
    EXPECT_EQ(vsock_msgNext(ch.get()), r);
    EXPECT_EQ(vsock_msgNext(ch.get()), reply);
    EXPECT_EQ(vsock_msgNext(ch.get()), nullptr);
    VSockRequest* second = vsock_msgTake(ch.get(), 0, 0);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->sequence, 1u);
}

TEST(VsockMessage, CodeTable)
{
    struct Case {
        int code;
        uint8_t row, group;
    };
    const Case cases[] = {{0, 1, 0}, {5, 2, 5}, {6, 1, 5}, {12, 2, 11}, {13, 1, 11}, {14, 2, 12}, {15, 4, 12},
        {17, 1, 12}, {26, 2, 19}, {28, 1, 0}, {43, 4, 12}, {54, 2, 19}};
    for (const Case& c : cases) {
        uint8_t row = 0, group = 0;
        ASSERT_TRUE(vsock_msgCodeTag(c.code, &row, &group)) << c.code;
        EXPECT_EQ(row, c.row) << c.code;
        EXPECT_EQ(group, c.group) << c.code;
    }
    Channel ch;
    EXPECT_EQ(vsock_msgTake(ch.get(), 27, 0), nullptr);
    EXPECT_EQ(vsock_msgTake(ch.get(), 55, 0), nullptr);
    EXPECT_EQ(vsock_msgTake(ch.get(), -1, 0), nullptr);
    EXPECT_EQ(vsock_msgTake(nullptr, 0, 0), nullptr);
    for (int i = 0; i < VSOCK_MSG_POOL_SIZE; ++i)
        ASSERT_NE(vsock_msgTake(ch.get(), 1, 0), nullptr);
    EXPECT_EQ(vsock_msgTake(ch.get(), 1, 0), nullptr);
}

TEST(VsockMessage, PayloadLimits)
{
    Channel ch;
    VSockRequest* r = vsock_msgTake(ch.get(), 12, 0);
    ASSERT_NE(r, nullptr);
    const uint32_t v = 1;
    EXPECT_EQ(vsock_msgAppend(r, &v, 3, true), VSOCK_E_PARAM);
    EXPECT_EQ(vsock_msgAppend(r, &v, 8, true), VSOCK_E_PARAM);

    // 4096 bytes exactly: one argument of 4092 bytes fits, a further byte not.
    static uint8_t big[4096] = {};
    EXPECT_EQ(vsock_msgAppend(r, big, 4093, false), VSOCK_E_RESOURCE);
    ASSERT_EQ(vsock_msgAppend(r, big, 4092, false), VSOCK_OK);
    EXPECT_EQ(r->payloadLength, 4096u);
    EXPECT_EQ(vsock_msgAppend(r, big, 0, false), VSOCK_E_RESOURCE);

    // The count is one byte: the 256th argument is refused, not wrapped to 0.
    vsock_msgResetPayload(r);
    EXPECT_EQ(r->payloadLength, 0u);
    for (int i = 0; i < 255; ++i)
        ASSERT_EQ(vsock_msgAppend(r, big, 0, false), VSOCK_OK) << i;
    EXPECT_EQ(vsock_msgAppend(r, big, 0, false), VSOCK_E_RESOURCE);
    EXPECT_EQ(r->tag[3], 255);

    // A frame where every byte needs escaping still fits its buffer.
    vsock_msgResetPayload(r);
    static uint8_t worst[4092];
    memset(worst, 0xC0, sizeof worst);
    ASSERT_EQ(vsock_msgAppend(r, worst, sizeof worst, false), VSOCK_OK);
    ASSERT_EQ(vsock_msgSend(ch.get(), r), VSOCK_OK);
    EXPECT_EQ(r->frame[r->frameLength - 1], 0xC1);
    EXPECT_GT(r->frameLength, 8000u);

    // A queued record takes no more arguments and is not sent twice.
    EXPECT_EQ(vsock_msgAppend(r, &v, 4, true), VSOCK_E_OBJ);
    EXPECT_EQ(vsock_msgSend(ch.get(), r), VSOCK_E_OBJ);
    EXPECT_EQ(vsock_msgSend(nullptr, r), VSOCK_E_PARAM);
    // Released while queued, it leaves the queue.
    vsock_msgRelease(ch.get(), r);
    EXPECT_EQ(vsock_msgNext(ch.get()), nullptr);
}

} // namespace
