// The mDNS message codec against messages written by hand from the DNS
// message format, and a table of malformed datagrams that must be refused.
#include "dante/dnssd/mdns_message.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> unhex(const std::string& text)
{
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : text)
        if (c != ' ')
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

aud_error parse(const std::string& hex, mdns_message* m)
{
    const auto bytes = unhex(hex);
    return mdns_message_parse(bytes.data(), bytes.size(), m);
}

// Header of a response: id 0, flags 8400, then the four counts.
const std::string kHeader1Answer = "0000 8400 0000 0001 0000 0000";

// "_netaudio-arc._udp.local" at offset 12.
const std::string kTypeName = "0d5f6e6574617564696f2d617263 045f756470 056c6f63616c 00";

TEST(DnssdCodec, PtrSrvTxtAAndCompression)
{
    // PTR _netaudio-arc._udp.local -> "Dev.1" + ptr(12), ttl 4500;
    // SRV Dev.1... (ptr to the PTR's rdata) 0 0 4440 host.local (compressed);
    // TXT with "a=1" and "b"; A host.local 198.18.0.2.
    const std::string hex = "0000 8400 0000 0001 0000 0003" + kTypeName
        + "000c 0001 00001194 0008 05 4465762e31 c00c" // instance name at 48
        + "c030 0021 8001 00000078 000d 0000 0000 1158 04686f7374 c01f" // "host" at 74
        + "c030 0010 8001 00001194 0006 03613d31 0162" // TXT
        + "c04a 0001 8001 00000078 0004 c6120002"; // A of host.local
    mdns_message m;
    ASSERT_EQ(parse(hex, &m), AUD_SUCCESS);
    EXPECT_EQ(m.flags, MDNS_FLAG_RESPONSE | 0x0400);
    ASSERT_EQ(m.records.size(), 4u);
    EXPECT_EQ(m.answer_count, 1u);
    EXPECT_EQ(m.records[0].name, "_netaudio-arc._udp.local");
    EXPECT_EQ(m.records[0].type, MDNS_TYPE_PTR);
    EXPECT_EQ(m.records[0].ttl, 4500u);
    EXPECT_EQ(m.records[0].target, "Dev\\.1._netaudio-arc._udp.local");
    EXPECT_EQ(m.records[1].name, "Dev\\.1._netaudio-arc._udp.local");
    EXPECT_TRUE(m.records[1].cache_flush);
    EXPECT_EQ(m.records[1].klass, MDNS_CLASS_IN);
    EXPECT_EQ(m.records[1].port, 4440);
    EXPECT_EQ(m.records[1].target, "host.local");
    EXPECT_EQ(m.records[2].rdata,
        std::string("\x03"
                    "a=1\x01"
                    "b"));
    EXPECT_EQ(m.records[3].name, "host.local");
    EXPECT_EQ(ntohl(m.records[3].address), 0xC6120002u);
}

TEST(DnssdCodec, QueryBuildsCompressedQuestions)
{
    std::vector<uint8_t> out;
    ASSERT_EQ(mdns_query_build({{"_netaudio-arc._udp.local", MDNS_TYPE_PTR, MDNS_CLASS_IN, false},
                                   {"A\\.b._netaudio-arc._udp.local.", MDNS_TYPE_SRV, MDNS_CLASS_IN, true}},
                  &out),
        AUD_SUCCESS);
    const auto expected = unhex("0000 0000 0002 0000 0000 0000" + kTypeName + "000c 0001" + "03412e62 c00c 0021 8001");
    EXPECT_EQ(out, expected);
    mdns_message m;
    ASSERT_EQ(mdns_message_parse(out.data(), out.size(), &m), AUD_SUCCESS);
    ASSERT_EQ(m.questions.size(), 2u);
    EXPECT_EQ(m.questions[1].name, "A\\.b._netaudio-arc._udp.local");
    EXPECT_TRUE(m.questions[1].unicast_response);
}

TEST(DnssdCodec, MalformedMessagesAreRefused)
{
    const std::string label63 = "3f" + std::string(126, '6');
    const std::string label64 = "40" + std::string(128, '6');
    struct Case {
        const char* what;
        std::string hex;
    } cases[] = {
        {"cut header", "0000 8400 0000 00"},
        {"count beyond the datagram", "0000 8400 0000 0005 0000 0000" + kTypeName + "000c 0001 00001194 0002 c00c"},
        {"pointer to itself", kHeader1Answer + "c00c 000c 0001 00000078 0002 c00c"},
        {"forward pointer", kHeader1Answer + "c00e 000c 0001 00000078 0002 c00c 00"},
        {"pointer loop", kHeader1Answer + "015f c00c 000c 0001 00000078 0002 c00c"},
        {"64-byte label", kHeader1Answer + label64 + "00 000c 0001 00000078 0002 c00c"},
        {"reserved label kind", kHeader1Answer + "4100 000c 0001 00000078 0002 c00c"},
        {"rdlength past the end", kHeader1Answer + kTypeName + "0010 0001 00000078 0040 0161"},
        {"PTR rdata longer than its name", kHeader1Answer + kTypeName + "000c 0001 00000078 0004 c00c 0000"},
        {"A with 3 bytes", kHeader1Answer + kTypeName + "0001 0001 00000078 0003 010203"},
        {"SRV name running past rdata", kHeader1Answer + kTypeName + "0021 0001 00000078 0007 0000 0000 1158 04"},
        {"name over 255 bytes",
            kHeader1Answer + label63 + label63 + label63 + label63 + "00 0001 0001 0000 0078 0004 01020304"},
        {"label running off the end", "0000 8400 0001 0000 0000 0000 0a616263"},
    };
    for (const auto& c : cases) {
        mdns_message m;
        EXPECT_EQ(parse(c.hex, &m), AUD_INVALIDDATA) << c.what;
    }
    // 63-byte labels and a 253-byte name are fine.
    mdns_message m;
    EXPECT_EQ(parse(kHeader1Answer + label63 + label63 + label63 + "3d" + std::string(122, '6')
                      + "00 0001 0001 00000078 0004 01020304",
                  &m),
        AUD_SUCCESS);
}

TEST(DnssdCodec, NameEscapesAndCase)
{
    std::vector<std::string> labels;
    ASSERT_EQ(mdns_name_split("My\\.Dev\\\\x._netaudio-arc._udp.local.", &labels), AUD_SUCCESS);
    EXPECT_EQ(labels, (std::vector<std::string>{"My.Dev\\x", "_netaudio-arc", "_udp", "local"}));
    EXPECT_EQ(mdns_name_join(labels), "My\\.Dev\\\\x._netaudio-arc._udp.local");
    for (const char* bad : {"", "a..b", "a\\", ".a", "a.."})
        EXPECT_EQ(mdns_name_split(bad, &labels), AUD_INVALIDDATA) << bad;
    EXPECT_EQ(mdns_name_split(std::string(64, 'x'), &labels), AUD_INVALIDDATA);
    EXPECT_TRUE(mdns_name_equal("Dev._Netaudio-ARC._udp.local", "dev._netaudio-arc._UDP.LOCAL"));
    EXPECT_FALSE(mdns_name_equal("Dev1.local", "Dev2.local"));
}

} // namespace
