// Identity texts: instance ids, 8-byte identifiers from text and the device
// name check.
#include "dante/conmon/conmon_id.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char* kNone = "-";

// The identifier as hex, or "-" when the text gives none.
std::string id64(const std::string& text, bool withLength = false, bool allowLong = false)
{
    conmon_id64 id;
    memset(&id, 0xEE, sizeof id);
    const aud_error e = withLength ? conmon_id64_from_text_len(&id, text.data(), text.size(), allowLong)
                                   : conmon_id64_from_text(&id, text.c_str());
    if (e != AUD_SUCCESS) {
        EXPECT_EQ(e, AUD_RANGE) << text;
        EXPECT_EQ(qtest::hex(&id, sizeof id), "eeeeeeeeeeeeeeee") << "touched on failure: " << text;
        return kNone;
    }
    return qtest::hex(&id, sizeof id);
}

TEST(DanteIdText, IdentifierFromText)
{
    const struct {
        const char* text;
        const char* id;
    } cases[] = {
        {"Bklyn2", "426b6c796e320000"}, // plain, zero-padded
        {"ABCDEFGH", "4142434445464748"}, // 8 plain characters
        {"ABCDEFGHI", kNone}, // one too many
        {"_0011223344556677", "0011223344556677"},
        {"_00112233AABBccDD", "00112233aabbccdd"}, // either case
        {"_00112233445566778", kNone}, // seventeen digits
        {"_001122334455667788", kNone}, // one byte too many
        {"_0a0b", "0a0b000000000000"},
        {"_abc", "5f61626300000000"}, // odd digits: a plain text
        {"_xyz", "5f78797a00000000"}, // not hex: a plain text
        {"_", "5f00000000000000"},
        {"", "0000000000000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(id64(c.text), c.id) << c.text;
        EXPECT_EQ(id64(c.text, true), c.id) << c.text << " with its length";
    }
}

TEST(DanteIdText, LongerTextOnlyWhenTheCallerAllowsIt)
{
    EXPECT_EQ(id64("ABCDEFGHIJ", true, false), kNone);
    EXPECT_EQ(id64("ABCDEFGHIJ", true, true), "4142434445464748");
    EXPECT_EQ(id64("_00112233445566778899", true, false), kNone);
    EXPECT_EQ(id64("_00112233445566778899", true, true), "0011223344556677");
    // A TXT value may hold zero bytes and need not be terminated.
    EXPECT_EQ(id64(std::string("ab\0cd", 5), true), "6162006364000000");
    conmon_id64 id{};
    EXPECT_EQ(conmon_id64_from_text_len(&id, "Bklyn3XYZ", 6, false), AUD_SUCCESS);
    EXPECT_EQ(qtest::hex(&id, sizeof id), "426b6c796e330000");
    EXPECT_EQ(conmon_id64_from_text(&id, nullptr), AUD_INVALIDPARAMETER);
    EXPECT_EQ(conmon_id64_from_text_len(nullptr, "a", 1, false), AUD_INVALIDPARAMETER);
}

TEST(DanteIdText, InstanceIdText)
{
    conmon_instance_id id{{{0x00, 0x1d, 0xc1, 0xff, 0xfe, 0x12, 0xab, 0xcd}}, 4321};
    char text[CONMON_INSTANCE_ID_TEXT_SIZE];
    EXPECT_STREQ(conmon_instance_id_text(&id, text, sizeof text), "001dc1fffe12abcd:4321");
    id.process_id = 65535;
    EXPECT_STREQ(conmon_instance_id_text(&id, text, sizeof text), "001dc1fffe12abcd:65535");
    EXPECT_STREQ(conmon_instance_id_text(&id, text, 5), "001d");
    EXPECT_STREQ(conmon_instance_id_text(nullptr, text, sizeof text), "");
}

TEST(DanteIdText, DeviceNameCheck)
{
    const std::string name32(32, 'n');
    const struct {
        const char* name;
        aud_error result;
        std::string copy;
    } cases[] = {
        {"Brox-D3-Rack1", AUD_SUCCESS, "Brox-D3-Rack1"},
        {name32.c_str(), AUD_SUCCESS, name32},
        {"nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnX", AUD_TRUNCATED, name32}, // 33 characters
        {"rack.local", AUD_INVALIDDATA, ""},
        {"a=b", AUD_INVALIDDATA, ""},
        {"user@host", AUD_INVALIDDATA, ""},
        {"", AUD_SUCCESS, ""},
        {nullptr, AUD_SUCCESS, ""},
    };
    for (const auto& c : cases) {
        char out[CONMON_DEVICE_NAME_SIZE];
        memset(out, 'x', sizeof out);
        EXPECT_EQ(conmon_device_name_check(out, c.name), c.result) << (c.name ? c.name : "(null)");
        EXPECT_EQ(std::string(out, strnlen(out, sizeof out)), c.copy) << (c.name ? c.name : "(null)");
        EXPECT_EQ(out[CONMON_DEVICE_NAME_SIZE - 1], '\0');
    }
    EXPECT_EQ(conmon_device_name_check(nullptr, "x"), AUD_INVALIDPARAMETER);
}

} // namespace
