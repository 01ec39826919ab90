// TXT look-ups and full names, from records written by hand.
#include "dante/dnssd/dns_sd.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DnssdTxt, KeysValuesAndBrokenEntries)
{
    const std::string txt
        = std::string("\x04id=7") + "\x07" + "default" + "\x04" + "enc=" + "\x06RATE=9" + "\x02" + "id";
    const auto len = static_cast<uint16_t>(txt.size());
    struct Case {
        const char* key;
        bool present;
        const char* value; // null: no value pointer
    } cases[] = {
        {"id", true, "7"}, // the first entry wins
        {"default", true, nullptr}, // present without a value
        {"enc", true, ""}, // present with an empty value
        {"rate", true, "9"}, // keys compare without case
        {"ra", false, nullptr},
        {"missing", false, nullptr},
        {"", false, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TXTRecordContainsKey(len, txt.data(), c.key), c.present ? 1 : 0) << c.key;
        uint8_t vlen = 99;
        const void* v = TXTRecordGetValuePtr(len, txt.data(), c.key, &vlen);
        if (!c.value) {
            EXPECT_EQ(v, nullptr) << c.key;
            EXPECT_EQ(vlen, 0) << c.key;
        } else {
            ASSERT_NE(v, nullptr) << c.key;
            EXPECT_EQ(std::string(static_cast<const char*>(v), vlen), c.value) << c.key;
        }
    }
    // An entry whose length runs past the record is not read.
    const std::string cut = std::string("\x03"
                                        "a=1")
        + "\x09" + "b=2";
    EXPECT_EQ(TXTRecordContainsKey(static_cast<uint16_t>(cut.size()), cut.data(), "b"), 0);
    EXPECT_EQ(TXTRecordContainsKey(static_cast<uint16_t>(cut.size()), cut.data(), "a"), 1);
    EXPECT_EQ(TXTRecordContainsKey(0, nullptr, "a"), 0);
}

TEST(DnssdTxt, FullNamesEscapeDotsAndBackslashes)
{
    char full[DNSSD_MAX_DOMAIN_NAME];
    ASSERT_EQ(DNSServiceConstructFullName(full, "My.Dev\\1", "_netaudio-arc._udp.", "local"), DNSSD_OK);
    EXPECT_STREQ(full, "My\\.Dev\\\\1._netaudio-arc._udp.local.");
    ASSERT_EQ(DNSServiceConstructFullName(full, nullptr, "_netaudio-arc._udp", "local."), DNSSD_OK);
    EXPECT_STREQ(full, "_netaudio-arc._udp.local.");
    EXPECT_EQ(DNSServiceConstructFullName(full, "x", "", "local"), DNSSD_ERR_BAD_PARAM);
    EXPECT_EQ(
        DNSServiceConstructFullName(full, std::string(1100, 'a').c_str(), "_t._udp", "local"), DNSSD_ERR_BAD_PARAM);
}

} // namespace
