// The packet codec, against the independent peer's encoder and a table of
// malformed datagrams.
#include "tests/pbd/jsdp/jsdp_fixture.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using jsdptest::Channel;

namespace {

using Bytes = std::vector<uint8_t>;

// Writes a packet field by field, with lengths that may lie.
struct Raw {
    std::string tag = "JSDP";
    int lengthDelta = 0; // added to the true L
    uint8_t flags = 0;
    uint8_t kind = 4;
    std::string type = "_jpa-scp";
    std::string payload = "model=X";
    int payloadLengthField = -1; // -1: the true m
    size_t extra = 0; // bytes after the payload, counted in L
    int cut = 0; // bytes removed from the end (L unchanged)

    Bytes bytes() const
    {
        Bytes b(tag.begin(), tag.end());
        b.resize(4);
        b.push_back(0);
        b.push_back(0);
        b.push_back(flags);
        b.push_back(kind);
        const uint8_t addr[16] = {198, 18, 0, 2};
        b.insert(b.end(), addr, addr + 16);
        const uint8_t mac[6] = {2, 0x51, 0, 0, 0, 2};
        b.insert(b.end(), mac, mac + 6);
        b.push_back(static_cast<uint8_t>(type.size()));
        b.insert(b.end(), type.begin(), type.end());
        const size_t m = payloadLengthField < 0 ? payload.size() : static_cast<size_t>(payloadLengthField);
        b.push_back(static_cast<uint8_t>(m >> 8));
        b.push_back(static_cast<uint8_t>(m));
        b.insert(b.end(), payload.begin(), payload.end());
        b.insert(b.end(), extra, 0xEE);
        const size_t l = b.size() - 6 + lengthDelta;
        b[4] = static_cast<uint8_t>(l >> 8);
        b[5] = static_cast<uint8_t>(l);
        b.resize(b.size() - cut);
        return b;
    }
};

using qtest::hex;

} // namespace

TEST(JsdpPacket, BuildsWhatTheIndependentPeerBuilds)
{
    for (const bool announcer : {true, false}) {
        Channel ch(announcer, "198.18.0.1", "name=Stage A\nmodel=BroxL-D");
        uint8_t buffer[JSDP_BUFFER_SIZE];
        size_t length = 0;
        ASSERT_EQ(jsdp_buildPacket(ch.fix(), buffer, sizeof buffer, &length), JSDP_OK);

        const std::string script = std::string("import sys; sys.path.insert(0, '") + QUILLON_PEERS_DIR
            + "'); import jsdp_peer as p; "
              "print(p.build("
            + (announcer ? "0" : "0x80")
            + ", '198.18.0.1', bytes([2,0x51,0,0,0,1]), b'_jpa-scp', "
              "b'name=Stage A\\nmodel=BroxL-D').hex())";
        std::string expected;
        ASSERT_EQ(qtest::runCommand("python3 -c \"" + script + "\"", &expected), 0);
        while (!expected.empty() && expected.back() == '\n')
            expected.pop_back();
        EXPECT_EQ(hex(buffer, length), expected) << (announcer ? "announcer" : "responder");
    }
}

TEST(JsdpPacket, ParsesEveryField)
{
    Raw raw;
    raw.flags = 0x80;
    const Bytes b = raw.bytes();
    JsdpService s{};
    ASSERT_EQ(jsdp_parsePacket(b.data(), b.size(), &s), JSDP_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s.tag), 4), "JSDP");
    EXPECT_EQ(s.flags, 0x80);
    EXPECT_EQ(s.addressKind, 4);
    EXPECT_EQ(s.announcedAddress.family, VSOCK_FAMILY_IPV4);
    EXPECT_EQ(jsdptest::ipText(s.announcedAddress), "198.18.0.2");
    EXPECT_EQ(s.mac[5], 2);
    EXPECT_EQ(std::string(s.serviceType, s.serviceTypeLength), "_jpa-scp");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s.payload), s.payloadLength), "model=X");

    // Kind 6 carries all 16 address bytes.
    raw.kind = 6;
    const Bytes b6 = raw.bytes();
    ASSERT_EQ(jsdp_parsePacket(b6.data(), b6.size(), &s), JSDP_OK);
    EXPECT_EQ(s.announcedAddress.family, VSOCK_FAMILY_IPV6);
}

TEST(JsdpPacket, AcceptsOnlyWellFormedDatagrams)
{
    struct Case {
        const char* name;
        Raw raw;
        bool valid;
    };
    auto with = [](auto change) {
        Raw r;
        change(r);
        return r;
    };
    const std::string maxType(255, 't');
    const std::string maxPayload(1024, 'p');
    const Case cases[] = {
        {"ordinary", Raw{}, true},
        {"34 bytes", with([](Raw& r) { r.type = "x", r.payload = ""; }), true},
        {"33 bytes, empty type and payload", with([](Raw& r) { r.type = "", r.payload = ""; }), false},
        {"1312 bytes", with([&](Raw& r) { r.type = maxType, r.payload = maxPayload; }), true},
        {"1313 bytes", with([&](Raw& r) { r.type = maxType, r.payload = maxPayload, r.extra = 1; }), false},
        {"bytes after the payload", with([](Raw& r) { r.extra = 5; }), true},
        {"wrong tag", with([](Raw& r) { r.tag = "JSDQ"; }), false},
        {"lower-case tag", with([](Raw& r) { r.tag = "jsdp"; }), false},
        {"L one too many", with([](Raw& r) { r.lengthDelta = 1; }), false},
        {"L one too few", with([](Raw& r) { r.lengthDelta = -1; }), false},
        {"cut short", with([](Raw& r) { r.cut = 3; }), false},
        {"payload length past the end", with([](Raw& r) { r.payloadLengthField = 8; }), false},
        {"payload length over 1024",
            with([](Raw& r) { r.payload = std::string(1100, 'p'), r.payloadLengthField = 1025; }), false},
    };
    for (const Case& c : cases) {
        Bytes b = c.raw.bytes();
        JsdpService s{};
        EXPECT_EQ(jsdp_parsePacket(b.data(), b.size(), &s), c.valid ? JSDP_OK : JSDP_E_MALFORMED) << c.name;
    }

    // A type length byte pointing past the datagram.
    Bytes b = Raw{}.bytes();
    b[30] = 200;
    JsdpService s{};
    EXPECT_EQ(jsdp_parsePacket(b.data(), b.size(), &s), JSDP_E_MALFORMED);
}

TEST(JsdpPacket, BuildRefusesWhatCannotBeSent)
{
    uint8_t buffer[JSDP_BUFFER_SIZE];
    size_t length = 0;
    Channel big(true, "198.18.0.1", std::string(1025, 'p'));
    EXPECT_EQ(jsdp_buildPacket(big.fix(), buffer, sizeof buffer, &length), JSDP_E_PARAM);

    Channel ok(true, "198.18.0.1", "abc");
    EXPECT_EQ(jsdp_buildPacket(ok.fix(), buffer, 40, &length), JSDP_E_FULL);
    ASSERT_EQ(jsdp_buildPacket(ok.fix(), buffer, sizeof buffer, &length), JSDP_OK);
    EXPECT_EQ(length, 33u + 8 + 3);

    // The largest packet fits the receive buffer and parses back.
    Channel max(true, "198.18.0.1", std::string(1024, 'p'));
    max.type = std::string(255, 't');
    ASSERT_EQ(jsdp_buildPacket(max.fix(), buffer, sizeof buffer, &length), JSDP_OK);
    EXPECT_EQ(length, JSDP_MAX_PACKET);
    JsdpService s{};
    EXPECT_EQ(jsdp_parsePacket(buffer, length, &s), JSDP_OK);
}
