// Configuration-manager bodies: our encoder against the independent fake's
// bytes and decoder, our readers on the fake's messages, and the status map.
#include "dante/cmm/cmm_body.h"
#include "dante/cmm/dgcp2_element.h"

#include "tests/dante/cmm/cmm_test_util.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using cmmtest::bodyHex;
using cmmtest::messageWithBody;
using cmmtest::unhex;

namespace {

cmm_interface itf(const std::u16string& name, std::initializer_list<uint8_t> mac)
{
    cmm_interface out{};
    name.copy(out.name, CMM_INTERFACE_NAME_UNITS - 1);
    std::copy(mac.begin(), mac.end(), out.mac);
    return out;
}

cmm_interface fakeItf(int i)
{
    return itf(u"eth" + std::u16string(1, char16_t(u'0' + i)), {0x02, 0x1d, 0xc1, 0x00, 0x01, uint8_t(i)});
}

cmm_process process(const char* name, uint32_t pid, uint32_t lock)
{
    cmm_process p{};
    snprintf(p.name, sizeof p.name, "%s", name);
    p.process_id = pid;
    p.lock = lock;
    return p;
}

dgcp2_message empty()
{
    dgcp2_message msg{};
    dgcp2_message_init(&msg, DGCP2_HEADER_TYPE_2);
    return msg;
}

// The fake's sample messages by name.
std::map<std::string, dgcp2_message> fakeSamples()
{
    qtest::TempDir dir;
    std::string out;
    const int status = qtest::runCommand("python3 " + qtest::peerPath("fake_cmm.py") + " samples " + dir.path(), &out);
    EXPECT_EQ(status, 0) << out;
    std::map<std::string, dgcp2_message> samples;
    for (const char* name : {"connect_response", "connect_too_many", "options_2", "options_20", "state_ready",
             "state_changing", "state_three_current", "set_config_response", "set_config_invalid_state"}) {
        const std::string bytes = qtest::readFile(dir.file(std::string(name) + ".bin"));
        dgcp2_message msg{};
        EXPECT_EQ(dgcp2_message_load(&msg, DGCP2_HEADER_TYPE_2, bytes.data(), bytes.size()), AUD_SUCCESS) << name;
        samples[name] = msg;
    }
    return samples;
}

std::string fakeDecode(const dgcp2_message& msg)
{
    std::string out;
    qtest::runCommand(
        "python3 " + qtest::peerPath("fake_cmm.py") + " decode " + qtest::hex(msg.data, dgcp2_message_length(&msg)),
        &out);
    return out;
}

} // namespace

TEST(CmmBody, RequestsMatchHandWrittenBytesAndTheFakeReadsThem)
{
    cmm_system_config config{};
    config.mask = CMM_CONFIG_INTERFACES | CMM_CONFIG_LOCK;
    config.interfaces.count = 1;
    config.interfaces.entries[0] = itf(u"e0", {0x02, 0x1d, 0xc1, 0x00, 0x00, 0x01});
    config.lock = true;
    dgcp2_message msg = empty();
    dgcp2_message_header_init(&msg, CMM_PROTOCOL, CMM_OPCODE_SET_CONFIG);
    ASSERT_EQ(cmm_write_set_config(&msg, &config), AUD_SUCCESS);
    EXPECT_EQ(bodyHex(msg),
        qtest::hex(unhex("0003 0003 0008 0001 0001 000c 0001 0010 0002 0018 0024 0000"
                         "00000065 00000030 00000000 021dc1000001")));
    const std::string decoded = fakeDecode(msg);
    EXPECT_NE(decoded.find("\"interfaces\":[{\"mac\":\"02:1d:c1:00:00:01\",\"name\":\"e0\"}]"), std::string::npos)
        << decoded;
    EXPECT_NE(decoded.find("\"mask\":3"), std::string::npos) << decoded;

    cmm_system_config lockOnly{};
    lockOnly.mask = CMM_CONFIG_LOCK;
    dgcp2_message unlock = empty();
    ASSERT_EQ(cmm_write_set_config(&unlock, &lockOnly), AUD_SUCCESS);
    EXPECT_EQ(bodyHex(unlock), "0003000200000000");

    const cmm_process self = process("dfa", 0x1234, 0);
    dgcp2_message connect = empty();
    dgcp2_message_header_init(&connect, CMM_PROTOCOL, DGCP2_OPCODE_CONNECT);
    ASSERT_EQ(cmm_write_connect_request(&connect, &self), AUD_SUCCESS);
    EXPECT_EQ(bodyHex(connect), "00030008000c00006466610000001234");
    EXPECT_NE(fakeDecode(connect).find("\"name\":\"dfa\",\"op\":1,\"pid\":4660"), std::string::npos);

    cmm_system_config three{};
    three.mask = CMM_CONFIG_INTERFACES;
    three.interfaces.count = 3;
    EXPECT_EQ(cmm_write_set_config(&unlock, &three), AUD_INVALIDPARAMETER);
}

TEST(CmmBody, EncoderMatchesTheFakesBytes)
{
    auto samples = fakeSamples();
    const cmm_process procs[] = {process("dfa", 77, 1), process("other", 9, 0)};

    cmm_options options{};
    options.count = 2;
    options.entries[0] = fakeItf(0);
    options.entries[1] = fakeItf(1);
    dgcp2_message msg = empty();
    ASSERT_EQ(cmm_write_options(&msg, &options), AUD_SUCCESS);
    EXPECT_EQ(bodyHex(msg), bodyHex(samples["options_2"]));

    cmm_system_state state{};
    state.status = CMM_STATUS_CHANGING;
    snprintf(state.device_name, sizeof state.device_name, "QUILLON-PC");
    state.current.count = 1;
    state.current.entries[0] = fakeItf(0);
    state.pending.count = 1;
    state.pending.entries[0] = fakeItf(1);
    state.process_count = 2;
    std::copy(std::begin(procs), std::end(procs), state.processes);
    dgcp2_message st = empty();
    ASSERT_EQ(cmm_write_state(&st, &state), AUD_SUCCESS);
    EXPECT_EQ(bodyHex(st), bodyHex(samples["state_changing"]));

    cmm_system_state back{};
    ASSERT_EQ(cmm_read_state(&samples["state_changing"], &back), AUD_SUCCESS);
    EXPECT_TRUE(cmm_system_state_equal(&back, &state));
}

TEST(CmmBody, ReadersKeepTheirLimits)
{
    auto samples = fakeSamples();
    cmm_server_info info{};
    ASSERT_EQ(cmm_read_server_info(&samples["connect_response"], &info), AUD_SUCCESS);
    EXPECT_EQ(
        (std::vector<int>{info.major, info.minor, info.build, info.max_networks}), (std::vector<int>{4, 2, 1, 2}));
    EXPECT_EQ(cmm_read_server_info(&samples["connect_too_many"], &info), AUD_NODATA);

    cmm_options options{};
    ASSERT_EQ(cmm_read_options(&samples["options_20"], &options), AUD_SUCCESS);
    EXPECT_EQ(options.count, 16); // 20 offered
    EXPECT_EQ(std::u16string(options.entries[15].name), u"eth15");
    EXPECT_EQ(options.entries[15].mac[5], 15);

    cmm_system_state state{};
    ASSERT_EQ(cmm_read_state(&samples["state_three_current"], &state), AUD_SUCCESS);
    EXPECT_EQ(state.current.count, 2); // 3 in the body
    EXPECT_EQ(state.process_count, 16); // 18 in the body
    EXPECT_EQ(state.pending.count, 0);
    ASSERT_EQ(cmm_read_state(&samples["set_config_invalid_state"], &state), AUD_SUCCESS);
    EXPECT_STREQ(state.device_name, "QUILLON-PC");
    EXPECT_EQ(state.processes[0].lock, 1u);
}

TEST(CmmBody, BadBodiesGiveErrorsAndLeaveTheRecord)
{
    struct Case {
        const char* what;
        const char* body;
        aud_error want;
    } cases[] = {
        {"no body", "", AUD_NODATA},
        {"four slots", "0004 0001 0000 0000 0000", AUD_NODATA},
        {"root count past the body", "0009 0001", AUD_INVALIDPARAMETER},
        {"name offset outside", "0005 0001 0040 0000 0000 0000", AUD_INVALIDPARAMETER},
        {"set offset odd", "0005 0001 000c 0011 0000 0000 5000", AUD_INVALIDPARAMETER},
        {"set without slots", "0005 0001 000c 0010 0000 0000 5000 0000 0000", AUD_NODATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const dgcp2_message msg = messageWithBody(unhex(c.body));
        cmm_system_state state{};
        state.status = 9;
        EXPECT_EQ(cmm_read_state(&msg, &state), c.want);
        EXPECT_EQ(state.status, 9);
    }
    cmm_server_info info{};
    const dgcp2_message bigMajor = messageWithBody(unhex("0004 0100 0002 0001 0002"));
    EXPECT_EQ(cmm_read_server_info(&bigMajor, &info), AUD_RANGE);
    const dgcp2_message three = messageWithBody(unhex("0003 0004 0002 0001"));
    EXPECT_EQ(cmm_read_server_info(&three, &info), AUD_NODATA);
    cmm_options options{};
    // An interface whose name holds a value above 0xFFFF.
    const dgcp2_message wide = messageWithBody(unhex("0001 0004 0001 0008 0002 0010 001c 0000 00010065 00000000"
                                                     "00000000 021dc1000001"));
    EXPECT_EQ(cmm_read_options(&wide, &options), AUD_INVALIDPARAMETER);
}

TEST(CmmBody, StatusNamesAndResults)
{
    struct Case {
        uint16_t status;
        aud_error result;
        const char* name;
    } cases[] = {
        {0, AUD_SUCCESS, "Request"},
        {1, AUD_SUCCESS, "Response"},
        {2, AUD_SUCCESS, "Event"},
        {16, AUD_VERSION, "?"},
        {22, AUD_VERSION, "?"},
        {32, AUD_MSGSIZE, "?"},
        {35, AUD_MSGSIZE, "?"},
        {48, AUD_INVALIDDATA, "Opcode error"},
        {49, AUD_INVALIDDATA, "Unrecognised opcode"},
        {50, AUD_NOTSUPPORTED, "Unsupported opcode"},
        {64, AUD_INVALIDDATA, "?"},
        {0x80, AUD_SYSTEM, "Server error"},
        {0x81, AUD_NOTCONN, "Not connected"},
        {0x82, AUD_NOBUFS, "Too many clients"},
        {0x100, AUD_INVALIDDATA, "Invalid API"},
        {0x101, AUD_INVALIDDATA, "Invalid Data"},
        {0x102, AUD_INVALIDSTATE, "Invalid State"},
        {0x103, AUD_SYSTEM, "System error"},
        {17, AUD_SYSTEM, "?"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cmm_status_result(c.status), c.result) << c.status;
        EXPECT_STREQ(cmm_message_status_name(c.status), c.name) << c.status;
    }
    EXPECT_STREQ(cmm_system_status_name(2), "Changing");
    EXPECT_STREQ(cmm_system_status_name(4), "Options Changed");
    EXPECT_STREQ(cmm_system_status_name(5), "???");
}
