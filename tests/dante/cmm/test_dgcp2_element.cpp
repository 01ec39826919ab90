// DGCP2 header and body elements against bytes written by hand from the
// element rules, and reads of bodies that lie about their sizes.
#include "dante/cmm/dgcp2_element.h"

#include "tests/dante/cmm/cmm_test_util.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using cmmtest::bodyHex;
using cmmtest::messageWithBody;
using cmmtest::unhex;

namespace {

dgcp2_message emptyMessage(uint8_t type = DGCP2_HEADER_TYPE_2)
{
    dgcp2_message msg{};
    EXPECT_EQ(dgcp2_message_init(&msg, type), AUD_SUCCESS);
    return msg;
}

} // namespace

TEST(Dgcp2Message, HeaderBytesAndLoadChecks)
{
    dgcp2_message msg = emptyMessage();
    const uint8_t id[8] = {};
    dgcp2_message_set_client(&msg, 0xC001, id);
    dgcp2_message_header_init(&msg, 0x1001, DGCP2_OPCODE_CONNECT);
    uint16_t root = 0, name = 0, pid = 0;
    ASSERT_EQ(dgcp2_append_array(&msg, 3, &root), AUD_SUCCESS);
    ASSERT_EQ(dgcp2_append_string(&msg, "dfa", &name), AUD_SUCCESS);
    ASSERT_EQ(dgcp2_append_u32(&msg, 0x1234, &pid), AUD_SUCCESS);
    ASSERT_EQ(dgcp2_set_slot(&msg, root, 0, name), AUD_SUCCESS);
    ASSERT_EQ(dgcp2_set_slot(&msg, root, 1, pid), AUD_SUCCESS);
    EXPECT_EQ(qtest::hex(msg.data, dgcp2_message_length(&msg)),
        qtest::hex(unhex("1001 0024 0000 0001 0000 c001 0000000000000000 0003 0008 000c 0000 64666100 00001234")));

    // Type 1: 10-byte header, the rest is body.
    dgcp2_message small = emptyMessage(DGCP2_HEADER_TYPE_1);
    dgcp2_message_header_init(&small, 0x1001, 7);
    EXPECT_EQ(qtest::hex(small.data, dgcp2_message_length(&small)), "1001000a000000070000");
    EXPECT_EQ(small.body_capacity, 1462);
    EXPECT_EQ(msg.body_capacity, 1452);

    dgcp2_message loaded{};
    const std::string good = unhex("1001 0016 0005 0101 0002 0000 0000000000000000 0000");
    EXPECT_EQ(dgcp2_message_load(&loaded, 2, good.data(), good.size()), AUD_SUCCESS);
    EXPECT_EQ(dgcp2_message_seqnum(&loaded), 5);
    EXPECT_EQ(dgcp2_message_body_length(&loaded), 2);
    EXPECT_EQ(dgcp2_message_load(&loaded, 2, good.data(), 19), AUD_TRUNCATED);
    EXPECT_EQ(dgcp2_message_load(&loaded, 2, good.data(), 20), AUD_INVALIDDATA); // header says 22
    EXPECT_EQ(dgcp2_message_load(&loaded, 3, good.data(), good.size()), AUD_INVALIDPARAMETER);
    EXPECT_STREQ(dgcp2_status_name(0x82), "Too many clients");
    EXPECT_STREQ(dgcp2_status_name(0x31), "Unrecognised opcode");
    EXPECT_STREQ(dgcp2_status_name(0x83), "?");
}

TEST(Dgcp2Element, AppendsPadAndAlign)
{
    using Step = std::function<aud_error(dgcp2_message*, uint16_t*)>;
    const Step string_a = [](dgcp2_message* m, uint16_t* o) { return dgcp2_append_string(m, "a", o); };
    const Step empty = [](dgcp2_message* m, uint16_t* o) { return dgcp2_append_string(m, "", o); };
    const Step u32_1 = [](dgcp2_message* m, uint16_t* o) { return dgcp2_append_u32(m, 1, o); };
    const Step zeros3 = [](dgcp2_message* m, uint16_t* o) { return dgcp2_append_bytes(m, nullptr, 3, o); };
    const Step abc = [](dgcp2_message* m, uint16_t* o) { return dgcp2_append_bytes(m, "abc", 3, o); };
    const Step wide_x = [](dgcp2_message* m, uint16_t* o) { return dgcp2_append_wstring(m, u"x", 63, o); };
    const Step array2 = [](dgcp2_message* m, uint16_t* o) { return dgcp2_append_array(m, 2, o); };
    const Step wide_cut = [](dgcp2_message* m, uint16_t* o) { return dgcp2_append_wstring(m, u"abc", 2, o); };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::vector<uint16_t> offsets;
        const char* body;
    } cases[] = {
        {"string then u32 pads to 4", {string_a, u32_1}, {0, 4}, "6100 0000 00000001"},
        {"empty string is a NUL and a pad", {empty}, {0}, "0000"},
        {"bytes without a source are zeros", {zeros3}, {0}, "0000 0000"},
        {"odd bytes are padded", {abc, abc}, {0, 4}, "61626300 61626300"},
        {"wide string after 2 bytes", {empty, wide_x}, {0, 4}, "0000 0000 00000078 00000000"},
        {"array slots start zero", {array2, wide_x}, {0, 8}, "0002 0000 0000 0000 00000078 00000000"},
        {"wide string cut to its units", {wide_cut}, {0}, "00000061 00000062 00000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dgcp2_message msg = emptyMessage();
        std::vector<uint16_t> offsets;
        for (const Step& step : c.steps) {
            uint16_t offset = 0xFFFF;
            ASSERT_EQ(step(&msg, &offset), AUD_SUCCESS);
            offsets.push_back(offset);
        }
        EXPECT_EQ(offsets, c.offsets);
        EXPECT_EQ(bodyHex(msg), qtest::hex(unhex(c.body)));
        EXPECT_EQ(dgcp2_message_length(&msg), DGCP2_HEADER_SIZE_2 + unhex(c.body).size());
    }
}

TEST(Dgcp2Element, ElementPastCapacityIsRefusedWhole)
{
    dgcp2_message msg = emptyMessage();
    uint16_t offset = 0;
    ASSERT_EQ(dgcp2_append_bytes(&msg, nullptr, 1448, &offset), AUD_SUCCESS);
    ASSERT_EQ(dgcp2_append_string(&msg, "", &offset), AUD_SUCCESS);
    // The body ends at 1450: 2 bytes of padding and 4 of value would end at 1456.
    EXPECT_EQ(dgcp2_append_u32(&msg, 7, &offset), AUD_MSGSIZE);
    EXPECT_EQ(dgcp2_append_wstring(&msg, u"", 1, &offset), AUD_MSGSIZE);
    EXPECT_EQ(dgcp2_append_array(&msg, 1, &offset), AUD_MSGSIZE);
    EXPECT_EQ(dgcp2_append_bytes(&msg, "abc", 3, &offset), AUD_MSGSIZE);
    EXPECT_EQ(dgcp2_message_length(&msg), 20 + 1450);
    EXPECT_EQ(dgcp2_append_array(&msg, 0, &offset), AUD_SUCCESS); // exactly full
    EXPECT_EQ(offset, 1450);
    EXPECT_EQ(dgcp2_message_body_length(&msg), 1452);
    EXPECT_EQ(dgcp2_append_bytes(&msg, nullptr, 1, &offset), AUD_MSGSIZE);
    EXPECT_EQ(dgcp2_set_slot(&msg, 1450, 0, 5), AUD_INVALIDPARAMETER); // the array has no slot
}

TEST(Dgcp2Element, ReadsStayInsideTheBody)
{
    // array of 3 | "ab" | pad | u32 7 | 0x00010000
    const dgcp2_message msg = messageWithBody(unhex("0003 0001 0002 0003 6162 0000 00000007 00010000"));
    ASSERT_EQ(dgcp2_message_body_length(&msg), 20);
    uint16_t count = 0, slot = 0;
    uint32_t value = 0;
    char text[8];
    char16_t wide[8];
    uint8_t bytes[4];
    EXPECT_EQ(dgcp2_read_array(&msg, 0, &count), AUD_SUCCESS);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(dgcp2_read_slot(&msg, 0, 2, &slot), AUD_SUCCESS);
    EXPECT_EQ(slot, 3);
    EXPECT_EQ(dgcp2_read_u32(&msg, 12, &value), AUD_SUCCESS);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(dgcp2_read_string(&msg, 8, text, sizeof text), AUD_SUCCESS);
    EXPECT_STREQ(text, "ab");
    EXPECT_EQ(dgcp2_read_string(&msg, 8, text, 2), AUD_SUCCESS); // cut to the buffer
    EXPECT_STREQ(text, "a");
    EXPECT_EQ(dgcp2_read_bytes(&msg, 16, bytes, 4), AUD_SUCCESS);

    struct Bad {
        const char* what;
        aud_error got;
        aud_error want;
    } bad[] = {
        {"odd array offset", dgcp2_read_array(&msg, 1, &count), AUD_INVALIDPARAMETER},
        {"array at the end", dgcp2_read_array(&msg, 20, &count), AUD_INVALIDPARAMETER},
        {"slot beyond the count", dgcp2_read_slot(&msg, 0, 3, &slot), AUD_NODATA},
        {"misaligned u32", dgcp2_read_u32(&msg, 10, &value), AUD_INVALIDPARAMETER},
        {"u32 at the end", dgcp2_read_u32(&msg, 20, &value), AUD_INVALIDPARAMETER},
        {"u32 running past", dgcp2_read_u32(&msg, 18, &value), AUD_INVALIDPARAMETER},
        {"odd string offset", dgcp2_read_string(&msg, 9, text, sizeof text), AUD_INVALIDPARAMETER},
        {"string outside", dgcp2_read_string(&msg, 20, text, sizeof text), AUD_INVALIDPARAMETER},
        {"bytes running past", dgcp2_read_bytes(&msg, 18, bytes, 4), AUD_INVALIDPARAMETER},
        {"wide string misaligned", dgcp2_read_wstring(&msg, 10, wide, 8), AUD_INVALIDPARAMETER},
        {"wide value above 0xFFFF", dgcp2_read_wstring(&msg, 16, wide, 8), AUD_INVALIDPARAMETER},
    };
    for (const Bad& b : bad)
        EXPECT_EQ(b.got, b.want) << b.what;
}

TEST(Dgcp2Element, ArrayWhoseSlotsRunPastTheBodyIsRefused)
{
    // The count says 4 slots; the body holds 3.
    const dgcp2_message msg = messageWithBody(unhex("0004 0001 0002 0003"));
    uint16_t count = 0, slot = 0;
    EXPECT_EQ(dgcp2_read_array(&msg, 0, &count), AUD_INVALIDPARAMETER);
    EXPECT_EQ(dgcp2_read_slot(&msg, 0, 3, &slot), AUD_INVALIDPARAMETER);
    EXPECT_EQ(dgcp2_read_slot(&msg, 0, 0, &slot), AUD_INVALIDPARAMETER);
    // A count of 0xFFFF must not wrap the size check either.
    const dgcp2_message huge = messageWithBody(unhex("ffff 0000"));
    EXPECT_EQ(dgcp2_read_array(&huge, 0, &count), AUD_INVALIDPARAMETER);
}

TEST(Dgcp2Element, TextsEndAtTheBodyEnd)
{
    // Bytes beyond the datagram are not the body: fill them so a read past shows.
    dgcp2_message msg = messageWithBody(unhex("0000 6162"));
    memset(msg.data + dgcp2_message_length(&msg), 'X', 16);
    char text[16];
    EXPECT_EQ(dgcp2_read_string(&msg, 2, text, sizeof text), AUD_SUCCESS);
    EXPECT_STREQ(text, "ab");

    dgcp2_message wide = messageWithBody(unhex("00000061 00000062"));
    memset(wide.data + dgcp2_message_length(&wide), 0x11, 16);
    char16_t units[8];
    EXPECT_EQ(dgcp2_read_wstring(&wide, 0, units, 8), AUD_SUCCESS);
    EXPECT_EQ(std::u16string(units), u"ab");
    EXPECT_EQ(dgcp2_read_wstring(&wide, 0, units, 2), AUD_SUCCESS); // count less one
    EXPECT_EQ(std::u16string(units), u"a");
    EXPECT_EQ(dgcp2_read_wstring(&wide, 0, units, 0), AUD_INVALIDPARAMETER);
}
