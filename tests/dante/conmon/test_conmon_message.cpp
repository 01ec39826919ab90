// Local messages: request bytes against hex written from the tables, the
// validation of received messages as one table, and the parsers.
#include "dante/conmon/conmon_message.h"

#include "tests/dante/conmon/conmon_test_bytes.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace conmontest;

namespace {

std::string hexOf(const uint8_t* data, size_t length)
{
    return qtest::hex(data, length);
}

TEST(ConmonMessageGolden, RequestsAtEveryFormChange)
{
    uint8_t buf[CONMON_MESSAGE_MAX];
    size_t n = 0;
    struct Case {
        const char* what;
        aud_error e;
        std::string hex;
    };
    const conmon_envelope env{0xFFFF, 0, 0, 7, {{1, 2, 3, 4, 5, 6, 7, 8}}, CONMON_VENDOR_AUDINATE};
    const uint8_t query[] = {0x07, 0x1f, 0x00, 0x61, 0x00, 0x0f, 0x42, 0x40};
    auto at = [&](aud_error e) { return Case{"", e, hexOf(buf, n)}; };
    const struct {
        const char* what;
        Case got;
        std::string hex;
    } cases[] = {
        {"connect 0x13ff short", at(conmon_build_connect(buf, sizeof buf, &n, 0x13FF, 1, "dfa")),
            "ff13 0e00 0100 0001 0000 64666100"},
        {"connect 0x1400 long", at(conmon_build_connect(buf, sizeof buf, &n, 0x1400, 2, "dfa")),
            "0014 2c00 0200 0001 0000 646661" + zeros(29) + "0000"},
        {"connect 0x1500 empty name still 44", at(conmon_build_connect(buf, sizeof buf, &n, 0x1500, 3, "")),
            "0015 2c00 0300 0001 0000" + zeros(34)},
        {"disconnect", at(conmon_build_disconnect(buf, sizeof buf, &n, 0x1500, 9)), "0015 0a00 0900 0101 0000"},
        {"register 0x10ff", at(conmon_build_register(buf, sizeof buf, &n, 0x10FF, 4, true, 2, true)),
            "ff10 0e00 0400 0003 0000 0200 0100"},
        {"register 0x1100", at(conmon_build_register(buf, sizeof buf, &n, 0x1100, 4, true, 2, true)),
            "0011 1000 0400 0003 0000 0200 0100 0000"},
        {"deregister own 0x1100", at(conmon_build_register(buf, sizeof buf, &n, 0x1100, 5, false, 0, false)),
            "0011 1000 0500 0103 0000 0000 0000 0000"},
        {"subscribe global 0x10ff", at(conmon_build_subscribe(buf, sizeof buf, &n, 0x10FF, 6, true, 2, nullptr)),
            "ff10 1700 0600 1003 0000 0200 00" + zeros(10)},
        {"subscribe global 0x1100", at(conmon_build_subscribe(buf, sizeof buf, &n, 0x1100, 6, true, 2, "")),
            "0011 1900 0600 1003 0000 0200 0000 00" + zeros(10)},
        {"unsubscribe named 0x1100", at(conmon_build_subscribe(buf, sizeof buf, &n, 0x1100, 7, false, 3, "BROX-1")),
            "0011 1f00 0700 1103 0000 0300 0000 42524f582d31 00" + zeros(10)},
        {"send control 0x1500",
            at(conmon_build_send_message(buf, sizeof buf, &n, 0x1500, 8, 0, nullptr, "BROX-1", &env, query, 8)),
            "0015 5400 0800 0004 0000 0000" + zeros(8) + "42524f582d31" + zeros(26)
                + "ffff 0020 0000 0007 0102030405060708 417564696e617465 071f 0061 000f4240"},
        {"send monitoring 0x1500",
            at(conmon_build_send_message(buf, sizeof buf, &n, 0x1500, 9, 4, nullptr, nullptr, &env, nullptr, 0)),
            "0015 2400 0900 0004 0000 0400 ffff 0018 0000 0007 0102030405060708 417564696e617465"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got.e, AUD_SUCCESS) << c.what;
        EXPECT_EQ(c.got.hex, want(c.hex)) << c.what;
    }
}

TEST(ConmonMessageGolden, BuildersRefuseWhatCannotTravel)
{
    uint8_t buf[CONMON_MESSAGE_MAX];
    size_t n = 0;
    const std::string name32(32, 'a');
    const conmon_envelope env{};
    static uint8_t big[CONMON_PAYLOAD_MAX + 1];
    EXPECT_EQ(conmon_build_connect(buf, sizeof buf, &n, 0x1500, 1, name32.c_str()), AUD_INVALIDPARAMETER);
    EXPECT_EQ(conmon_build_connect(buf, 13, &n, 0x1300, 1, "dfa"), AUD_NOMEMORY);
    EXPECT_EQ(conmon_build_register(buf, sizeof buf, &n, 0x1500, 1, true, 9, true), AUD_INVALIDPARAMETER);
    EXPECT_EQ(conmon_build_send_message(buf, sizeof buf, &n, 0x1500, 1, 2, nullptr, nullptr, &env, big, sizeof big),
        AUD_INVALIDPARAMETER);
    EXPECT_EQ(conmon_build_send_message(buf, sizeof buf, &n, 0x1500, 1, 0, nullptr, name32.c_str(), &env, big, 8),
        AUD_INVALIDPARAMETER);
}

TEST(ConmonMessageNames, TablesAndErrorMap)
{
    EXPECT_STREQ(conmon_opcode_name(0x0511), "Named Channel Message");
    EXPECT_STREQ(conmon_opcode_name(0x0502), "DNS_DOMAIN_NAME_CHANGED");
    EXPECT_EQ(conmon_opcode_name(0x0600), nullptr);
    EXPECT_STREQ(conmon_status_name(0xF004), "Invalid size");
    EXPECT_STREQ(conmon_status_name(11), "Invalid State");
    EXPECT_EQ(conmon_status_name(14), nullptr);
    EXPECT_STREQ(conmon_channel_type_name(7), "vendor_broadcast");
    EXPECT_STREQ(conmon_subscription_status_name(0x0110), "tx no channel");
    EXPECT_STREQ(conmon_subscription_status_name(0x0012), "multicast");
    const aud_error map[] = {AUD_SUCCESS, AUD_SUCCESS, AUD_SUCCESS, AUD_VERSION, AUD_INVALIDDATA, AUD_INVALIDDATA,
        AUD_INVALIDDATA, AUD_INVALIDDATA, AUD_SYSTEM, AUD_NOTSUPPORTED, AUD_TIMEDOUT, AUD_INVALIDSTATE, AUD_NOBUFS,
        AUD_NOTFOUND, AUD_SYSTEM, AUD_SYSTEM};
    for (uint16_t s = 0; s < 16; ++s)
        EXPECT_EQ(conmon_status_error(s), map[s]) << s;
}

// ---- validation

constexpr uint16_t OK = 0;
constexpr uint16_t VER = CONMON_STATUS_INVALID_VERSION;
constexpr uint16_t SIZE = CONMON_STATUS_INVALID_SIZE;
constexpr uint16_t STAT = CONMON_STATUS_INVALID_STATUS;
constexpr uint16_t DATA = CONMON_STATUS_INVALID_DATA;
constexpr uint16_t NOTSUP = CONMON_STATUS_NOT_SUPPORTED;

Bytes msg(uint16_t version, uint16_t opcode, uint16_t status, size_t length)
{
    return local(version, 1, opcode, status, length).b;
}

Bytes with16(Bytes b, size_t at, uint16_t v)
{
    Writer w;
    w.b = std::move(b);
    w.le16(at, v);
    return w.b;
}

Bytes withBe16(Bytes b, size_t at, uint16_t v)
{
    Writer w;
    w.b = std::move(b);
    w.be16(at, v);
    return w.b;
}

Bytes cut(Bytes b, size_t n)
{
    b.resize(n);
    return b;
}

Bytes filled(Bytes b, size_t from, uint8_t v)
{
    for (size_t i = from; i < b.size(); ++i)
        b[i] = v;
    return b;
}

TEST(ConmonMessageValidate, EveryRuleWithAPassAndAFail)
{
    const uint16_t R = 0, P = 1, E = 2;
    const Bytes connectReq = local(0x1300, 1, 0x0100, R, 14).bytes(10, "dfa").b;
    const struct {
        const char* what;
        Bytes m;
        uint16_t status;
    } cases[] = {
        {"9 bytes", cut(msg(0x1500, 0, P, 10), 9), SIZE},
        {"exactly 10, NULL", msg(0x1500, 0x0000, R, 10), OK},
        {"version 0x0fff", msg(0x0FFF, 0, R, 10), VER},
        {"version 0x2000", msg(0x2000, 0, R, 10), VER},
        {"version 0x1fff", msg(0x1FFF, 0, R, 10), OK},
        {"header length differs", with16(msg(0x1500, 0, R, 12), 2, 11), SIZE},
        {"kind 4 skips opcode checks", msg(0x1500, 0x7777, 4, 10), OK},
        {"kind 0xF00D skips too", msg(0x1500, 0x0100, 0xF00D, 10), OK},
        {"unknown opcode", msg(0x1500, 0x7777, P, 10), NOTSUP},
        {"disconnect", msg(0x1500, 0x0101, R, 10), OK},
        {"tx metering", msg(0x1500, 0x0321, E, 10), OK},
        // Connect
        {"connect request", connectReq, OK},
        {"connect request name unterminated", filled(msg(0x1500, 0x0100, R, 44), 10, 'a'), DATA},
        {"connect event", msg(0x1500, 0x0100, E, 400), STAT},
        {"connect response old, no interface", msg(0x11FF, 0x0100, P, 56), OK},
        {"connect response old, 55 bytes", msg(0x11FF, 0x0100, P, 55), SIZE},
        {"connect response old, count disagrees", with16(msg(0x11FF, 0x0100, P, 56 + 88), 54, 2), DATA},
        {"connect response old, one interface", with16(msg(0x11FF, 0x0100, P, 56 + 88), 54, 1), OK},
        {"connect response new, 323 bytes", msg(0x1200, 0x0100, P, 323), SIZE},
        {"connect response new, 2 x 36 from 316",
            with16(with16(with16(msg(0x1200, 0x0100, P, 388), 310, 2), 312, 36), 314, 316), OK},
        {"connect response new, offset disagrees",
            with16(with16(with16(msg(0x1200, 0x0100, P, 388), 310, 2), 312, 36), 314, 318), DATA},
        // names
        {"set name 42", msg(0x1500, 0x0200, P, 42), OK},
        {"set name 41", msg(0x1500, 0x0200, P, 41), SIZE},
        {"name changed 41", msg(0x1500, 0x0501, E, 41), SIZE},
        {"remote control 12", msg(0x1500, 0x0210, P, 12), OK},
        {"remote control 11", msg(0x1500, 0x0210, P, 11), SIZE},
        {"domain 266", msg(0x1500, 0x0502, E, 266), OK},
        {"domain 265", msg(0x1500, 0x0502, E, 265), SIZE},
        // Register
        {"register response", msg(0x1500, 0x0300, P, 10), OK},
        {"register event", msg(0x1500, 0x0301, E, 16), STAT},
        {"register 0x10ff 14", with16(msg(0x10FF, 0x0300, R, 14), 12, 1), OK},
        {"register 0x10ff 13", msg(0x10FF, 0x0300, R, 13), SIZE},
        {"register 0x1100 14", msg(0x1100, 0x0300, R, 14), SIZE},
        {"register type 9", with16(msg(0x1100, 0x0300, R, 16), 10, 9), DATA},
        {"register flag 2", with16(msg(0x1100, 0x0301, R, 16), 12, 2), DATA},
        // Subscribe
        {"subscribe event", msg(0x1500, 0x0310, E, 100), STAT},
        {"subscribe response without list", msg(0x1500, 0x0310, P, 10), OK},
        {"subscribe response of 11 bytes", msg(0x10FF, 0x0310, P, 11), SIZE},
        {"subscribe response 0x10ff empty list", msg(0x10FF, 0x0310, P, 12), OK},
        {"subscribe response 0x10ff count 1 short", with16(msg(0x10FF, 0x0310, P, 59), 10, 1), SIZE},
        {"subscribe response 0x10ff count 1", with16(msg(0x10FF, 0x0310, P, 60), 10, 1), OK},
        {"subscribe response 0x1100 12 bytes", msg(0x1100, 0x0310, P, 12), SIZE},
        {"subscribe response 0x1100 count 1", with16(msg(0x1100, 0x0310, P, 88), 10, 1), OK},
        {"unsubscribe response 11 bytes", msg(0x1100, 0x0311, P, 11), OK},
        {"subscribe request", with16(msg(0x1100, 0x0310, R, 25), 10, 2), OK},
        {"subscribe request type 0", msg(0x1100, 0x0310, R, 25), DATA},
        {"subscribe request 15 bytes", with16(msg(0x1100, 0x0310, R, 15), 10, 2), SIZE},
        {"subscribe request name unterminated", filled(with16(msg(0x10FF, 0x0310, R, 60), 10, 2), 12, 'x'), DATA},
        // Send Message
        {"send response", msg(0x1500, 0x0400, P, 10), OK},
        {"send event", msg(0x1500, 0x0400, E, 40), STAT},
        {"send request 35", msg(0x1500, 0x0400, R, 35), SIZE},
        {"send monitoring", withBe16(with16(msg(0x1500, 0x0400, R, 36), 10, 4), 14, 24), OK},
        {"send monitoring envelope past end", withBe16(with16(msg(0x1500, 0x0400, R, 36), 10, 4), 14, 25), DATA},
        {"send monitoring type 9", withBe16(with16(msg(0x1500, 0x0400, R, 36), 10, 9), 14, 24), DATA},
        {"send monitoring envelope word 0", with16(msg(0x1500, 0x0400, R, 36), 10, 4), DATA},
        {"send control", withBe16(msg(0x1500, 0x0400, R, 76), 54, 24), OK},
        {"send control 75 bytes", withBe16(msg(0x1500, 0x0400, R, 75), 54, 24), DATA},
        {"send control envelope word 10", withBe16(msg(0x1500, 0x0400, R, 76), 54, 10), DATA},
        // Networks Changed
        {"networks response", msg(0x1500, 0x0500, P, 16), STAT},
        {"networks old empty", msg(0x11FF, 0x0500, E, 12), OK},
        {"networks old 11", msg(0x11FF, 0x0500, E, 11), SIZE},
        {"networks old count disagrees", with16(msg(0x11FF, 0x0500, E, 12), 10, 1), DATA},
        {"networks new 1 x 36", with16(with16(with16(msg(0x1200, 0x0500, E, 52), 10, 1), 12, 36), 14, 16), OK},
        {"networks new 15", msg(0x1200, 0x0500, E, 15), SIZE},
        {"networks new disagrees", with16(with16(with16(msg(0x1200, 0x0500, E, 51), 10, 1), 12, 36), 14, 16), DATA},
        {"networks new offset inside the header",
            with16(with16(with16(msg(0x1200, 0x0500, E, 16), 10, 1), 12, 4), 14, 12), DATA},
        // Channel messages
        {"channel message", withBe16(msg(0x1500, 0x0510, E, 40), 18, 24), OK},
        {"channel message request", withBe16(msg(0x1500, 0x0510, R, 40), 18, 24), STAT},
        {"channel message 39", withBe16(msg(0x1500, 0x0510, E, 39), 18, 24), SIZE},
        {"channel message envelope past end", withBe16(msg(0x1500, 0x0510, E, 40), 18, 25), SIZE},
        {"channel message envelope word 0", msg(0x1500, 0x0510, E, 40), DATA},
        {"channel message envelope word 23", withBe16(msg(0x1500, 0x0510, E, 40), 18, 23), DATA},
        {"channel message payload 1448", withBe16(msg(0x1500, 0x0510, E, 16 + 24 + 1448), 18, 24 + 1448), OK},
        {"channel message payload 1449", withBe16(msg(0x1500, 0x0510, E, 16 + 24 + 1449), 18, 24 + 1449), DATA},
        {"named message", withBe16(msg(0x1500, 0x0511, E, 72), 50, 24), OK},
        {"named message 71", withBe16(msg(0x1500, 0x0511, E, 71), 50, 24), SIZE},
        {"named message envelope word 8", withBe16(msg(0x1500, 0x0511, E, 72), 50, 8), DATA},
        // Legacy metering, Subscriptions Changed
        {"metering empty", msg(0x1500, 0x0520, E, 20), OK},
        {"metering 1 + 2 x 1", with16(with16(msg(0x1500, 0x0520, E, 44), 14, 1), 16, 1), OK},
        {"metering disagrees", msg(0x1500, 0x0520, E, 21), SIZE},
        {"metering response", msg(0x1500, 0x0520, P, 20), STAT},
        {"subscriptions changed empty", msg(0x10FF, 0x0521, E, 12), OK},
        {"subscriptions changed 11 bytes", msg(0x10FF, 0x0521, E, 11), SIZE},
        {"subscriptions changed count 2 short", with16(msg(0x1300, 0x0521, E, 16 + 72), 10, 2), SIZE},
        {"subscriptions changed request", msg(0x1300, 0x0521, R, 16), STAT},
    };
    for (const auto& c : cases)
        EXPECT_EQ(conmon_message_validate(c.m.data(), c.m.size()), c.status) << c.what;
}

// ---- parsers

TEST(ConmonMessageParse, ConnectResponseOldForm)
{
    // Three records: only two are kept.
    Writer w = local(0x11FF, 1, 0x0100, 1, 56 + 3 * 88);
    w.le16(10, 0xBEEF).bytes(12, "pc-one").hex(44, "0102030405060708").le16(52, 42).le16(54, 3);
    const size_t r = 56;
    w.le32(r + 64, 3).le32(r + 68, 0x44444444).le16(r + 72, 0x5555).le16(r + 74, 0x3333);
    w.le32(r + 76, 0x66666666).hex(r + 80, "0a000005").le32(r + 84, 0x88888888);
    w.le32(r + 88 + 64, 9);
    w.le32(r + 176 + 64, 11);
    ASSERT_EQ(conmon_message_validate(w.b.data(), w.b.size()), OK);
    conmon_connect_info info;
    ASSERT_EQ(conmon_parse_connect_response(w.b.data(), w.b.size(), &info), AUD_SUCCESS);
    EXPECT_EQ(info.flags, 0); // bytes 10-11 are no flags in this form
    EXPECT_STREQ(info.device_name, "pc-one");
    EXPECT_STREQ(info.dns_domain, "");
    EXPECT_EQ(qtest::hex(info.id.device_id.data, 8), "0102030405060708");
    EXPECT_EQ(info.id.process_id, 42);
    ASSERT_EQ(info.interfaces.count, 2);
    const uint32_t words[10] = {3, 0, 0x3333, 0x44444444, 0x5555, 0x66666666, 0x0500000a, 0x88888888, 0, 0};
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(info.interfaces.entries[0].words[i], words[i]) << "W" << i + 1;
    EXPECT_EQ(info.interfaces.entries[1].words[0], 9u);
}

TEST(ConmonMessageParse, ConnectResponseNewForm)
{
    Writer w = local(0x1200, 1, 0x0100, 1, 320 + 40);
    w.le16(10, 1).bytes(12, std::string(32, 'N')).bytes(44, "example.").hex(300, "a1a2a3a4a5a6a7a8").le16(308, 7);
    w.le16(310, 1).le16(312, 40).le16(314, 320);
    const size_t r = 320;
    for (uint32_t i = 0; i < 10; ++i)
        w.le32(r + (i < 3 ? 4 * i : 0), 0); // zero first
    w.le32(r, 2).le32(r + 4, 0x22222222).le16(r + 8, 0x3333).le32(r + 10, 0x44444444).le16(r + 14, 0x5555);
    for (uint32_t i = 0; i < 5; ++i)
        w.le32(r + 16 + 4 * i, 0x60000000 + i);
    ASSERT_EQ(conmon_message_validate(w.b.data(), w.b.size()), OK);
    conmon_connect_info info;
    ASSERT_EQ(conmon_parse_connect_response(w.b.data(), w.b.size(), &info), AUD_SUCCESS);
    EXPECT_EQ(info.flags, 1);
    EXPECT_EQ(std::string(info.device_name), std::string(32, 'N')); // a full field has no terminator
    EXPECT_STREQ(info.dns_domain, "example.");
    EXPECT_EQ(info.id.process_id, 7);
    ASSERT_EQ(info.interfaces.count, 1);
    const uint32_t words[10]
        = {2, 0x22222222, 0x3333, 0x44444444, 0x5555, 0x60000000, 0x60000001, 0x60000002, 0x60000003, 0x60000004};
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(info.interfaces.entries[0].words[i], words[i]) << "W" << i + 1;

    // A record size below 36 reads no record.
    w.le16(312, 20).le16(314, 340);
    ASSERT_EQ(conmon_message_validate(w.b.data(), w.b.size()), OK);
    ASSERT_EQ(conmon_parse_connect_response(w.b.data(), w.b.size(), &info), AUD_SUCCESS);
    EXPECT_EQ(info.interfaces.count, 0);
}

TEST(ConmonMessageParse, NetworksChangedBothForms)
{
    Writer old = local(0x11FF, 0, 0x0500, 2, 12 + 88);
    old.le16(10, 1).le32(12 + 64, 5).hex(12 + 80, "c0a80001");
    conmon_interfaces ifs;
    ASSERT_EQ(conmon_parse_networks_changed(old.b.data(), old.b.size(), &ifs), AUD_SUCCESS);
    ASSERT_EQ(ifs.count, 1);
    EXPECT_EQ(ifs.entries[0].words[0], 5u);
    EXPECT_EQ(ifs.entries[0].words[6], 0x0100a8c0u);

    // The new form is placed by its own record size and offset.
    Writer nw = local(0x1500, 0, 0x0500, 2, 20 + 2 * 48);
    nw.le16(10, 2).le16(12, 48).le16(14, 20).le32(20, 6).le32(20 + 48, 8);
    ASSERT_EQ(conmon_message_validate(nw.b.data(), nw.b.size()), OK);
    ASSERT_EQ(conmon_parse_networks_changed(nw.b.data(), nw.b.size(), &ifs), AUD_SUCCESS);
    ASSERT_EQ(ifs.count, 2);
    EXPECT_EQ(ifs.entries[0].words[0], 6u);
    EXPECT_EQ(ifs.entries[1].words[0], 8u);
}

TEST(ConmonMessageParse, SubscriptionEntriesInEachForm)
{
    conmon_subscription_list list;
    conmon_subscription_entry e;
    Writer small = local(0x10FF, 2, 0x0310, 1, 12 + 48);
    small.le16(10, 1)
        .le16(12, 3)
        .le16(14, 2)
        .bytes(16, "BROX-1")
        .hex(48, "1122334455667788")
        .le16(56, 9)
        .le16(58, 0x0012);
    ASSERT_EQ(conmon_parse_subscription_list(small.b.data(), small.b.size(), &list), AUD_SUCCESS);
    EXPECT_EQ(list.apply, 1);
    ASSERT_EQ(conmon_parse_subscription_entry(small.b.data(), small.b.size(), &list, 0, &e), AUD_SUCCESS);
    EXPECT_EQ(e.flags, 3);
    EXPECT_EQ(e.channel_type, 2);
    EXPECT_STREQ(e.device_name, "BROX-1");
    EXPECT_EQ(qtest::hex(e.id.device_id.data, 8), "1122334455667788");
    EXPECT_EQ(e.id.process_id, 9);
    EXPECT_EQ(e.status, 0x0012);
    EXPECT_EQ(e.index, 0);
    EXPECT_EQ(conmon_parse_subscription_entry(small.b.data(), small.b.size(), &list, 1, &e), AUD_RANGE);

    for (const uint16_t version : {0x1100, 0x1300}) {
        Writer wide = local(version, 2, 0x0521, 2, 16 + 72);
        const size_t at = 16;
        wide.le16(10, 1).le16(12, 1).le16(at, 3).le16(at + 2, 4).bytes(at + 4, "PELL-1").le16(at + 46, 2);
        wide.le16(at + 48, 5).hex(at + 50, "abcd").le16(at + 52, 2).le16(at + 54, 3);
        wide.hex(at + 56, "0a000001").le16(at + 60, 8700).hex(at + 64, "0a010001").le16(at + 68, 8701);
        ASSERT_EQ(conmon_message_validate(wide.b.data(), wide.b.size()), OK);
        ASSERT_EQ(conmon_parse_subscription_list(wide.b.data(), wide.b.size(), &list), AUD_SUCCESS);
        EXPECT_EQ(list.entry_size, 72u);
        ASSERT_EQ(conmon_parse_subscription_entry(wide.b.data(), wide.b.size(), &list, 0, &e), AUD_SUCCESS);
        EXPECT_EQ(e.index, 5);
        EXPECT_EQ(e.byte50, version >= 0x1300 ? 0xab : 0) << std::hex << version;
        EXPECT_EQ(e.byte51, version >= 0x1300 ? 0xcd : 0);
        EXPECT_EQ(e.addresses.count, 2);
        EXPECT_EQ(e.addresses.mask, 3);
        EXPECT_EQ(qtest::hex(&e.addresses.networks[1].address, 4), "0a010001");
        EXPECT_EQ(e.addresses.networks[1].port, 8701);
    }
    // A count the bytes cannot hold.
    Writer cut = local(0x1300, 0, 0x0521, 2, 16 + 72);
    cut.le16(10, 2);
    EXPECT_EQ(conmon_parse_subscription_list(cut.b.data(), cut.b.size(), &list), AUD_TRUNCATED);
}

TEST(ConmonMessageParse, ChannelMessagesAndTheirEnvelope)
{
    Writer plain = local(0x1500, 0, 0x0510, 2, 16 + 24 + 4);
    plain.le16(10, 2).le16(12, 1).hex(16, "ffff 001c 0003 0011 0102030405060708 417564696e617465 deadbeef");
    conmon_channel_message m;
    ASSERT_EQ(conmon_parse_channel_message(plain.b.data(), plain.b.size(), &m), AUD_SUCCESS);
    EXPECT_FALSE(m.named);
    EXPECT_EQ(m.channel_type, 2);
    EXPECT_EQ(m.from_other_devices, 1);
    EXPECT_EQ(m.envelope.message_word, 0xFFFF);
    EXPECT_EQ(m.envelope.counter, 3);
    EXPECT_EQ(m.envelope.process_id, 0x11);
    EXPECT_EQ(m.payload_length, 4u);
    EXPECT_EQ(qtest::hex(m.payload, m.payload_length), "deadbeef");

    Writer named = local(0x1500, 0, 0x0511, 2, 48 + 24);
    named.le16(10, 8).bytes(16, "BROX-1").hex(48, "0001 0018 0000 0001");
    ASSERT_EQ(conmon_parse_channel_message(named.b.data(), named.b.size(), &m), AUD_SUCCESS);
    EXPECT_TRUE(m.named);
    EXPECT_STREQ(m.sender_name, "BROX-1");
    EXPECT_EQ(m.payload_length, 0u);

    // The parser holds on its own: an envelope word below 24 never gives a
    // payload length.
    named.be16(50, 4);
    EXPECT_EQ(conmon_parse_channel_message(named.b.data(), named.b.size(), &m), AUD_INVALIDDATA);
}

} // namespace
