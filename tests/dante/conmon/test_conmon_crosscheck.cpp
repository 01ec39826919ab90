// Our bytes read by fake_conmon.py, and the fake's messages read by us: the
// two sides were written apart from the same tables, so a shared mistake
// would have to be made twice.
#include "dante/conmon/conmon_message.h"
#include "dante/conmon/conmon_payload.h"

#include "tests/dante/conmon/conmon_test_bytes.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <string>
#include <vector>

using namespace conmontest;

namespace {

// DECODED lines of the fake for each datagram, in order.
std::vector<std::string> decode(const std::vector<Bytes>& datagrams)
{
    std::string command = "python3 " + qtest::peerPath("fake_conmon.py") + " decode";
    for (const auto& d : datagrams)
        command += " " + qtest::hex(d.data(), d.size());
    std::string out;
    EXPECT_EQ(qtest::runCommand(command + " 2>&1", &out), 0) << out;
    std::vector<std::string> lines;
    for (size_t at = 0, lf; (lf = out.find('\n', at)) != std::string::npos; at = lf + 1)
        lines.push_back(out.substr(at, lf - at));
    return lines;
}

// The builder's bytes; the length is read once the builder has run.
struct Built {
    uint8_t buf[CONMON_MESSAGE_MAX];
    size_t n = 0;
    Bytes operator()(aud_error e) const
    {
        EXPECT_EQ(e, AUD_SUCCESS);
        return Bytes(buf, buf + n);
    }
};

Bytes sendControl(const conmon_payload& p)
{
    Built b;
    const conmon_envelope env{0xFFFF, 0, 0, 3, {{0}}, CONMON_VENDOR_AUDINATE};
    return b(
        conmon_build_send_message(b.buf, sizeof b.buf, &b.n, 0x1500, 9, 0, nullptr, "BROX-1", &env, p.data, p.length));
}

TEST(ConmonCrossCheck, FakeReadsOurRequests)
{
    Built b;
    std::vector<Bytes> d;
    d.push_back(b(conmon_build_connect(b.buf, sizeof b.buf, &b.n, 0x13FF, 1, "quillon")));
    d.push_back(b(conmon_build_connect(b.buf, sizeof b.buf, &b.n, 0x1500, 2, "quillon")));
    d.push_back(b(conmon_build_register(b.buf, sizeof b.buf, &b.n, 0x10FF, 3, true, 2, true)));
    d.push_back(b(conmon_build_register(b.buf, sizeof b.buf, &b.n, 0x1100, 4, false, 8, false)));
    d.push_back(b(conmon_build_subscribe(b.buf, sizeof b.buf, &b.n, 0x10FF, 5, true, 2, "PELL-1")));
    d.push_back(b(conmon_build_subscribe(b.buf, sizeof b.buf, &b.n, 0x1100, 6, false, 3, nullptr)));
    conmon_payload p;
    ASSERT_EQ(conmon_payload_upgrade_legacy(&p, 0x7F000001, 69, "brox.dnt"), AUD_SUCCESS);
    d.push_back(sendControl(p));
    ASSERT_EQ(upgradeV3(&p, "v3_one_model.dnt"), AUD_SUCCESS);
    d.push_back(sendControl(p));
    ASSERT_EQ(conmon_payload_reboot(&p, 1), AUD_SUCCESS);
    d.push_back(sendControl(p));

    const std::vector<std::string> lines = decode(d);
    ASSERT_EQ(lines.size(), d.size()) << ::testing::PrintToString(lines);
    const std::vector<std::vector<std::string>> expect = {
        {"\"ver\":5119", "\"name\":\"quillon\"", "\"nul\":true", "\"len\":18"},
        {"\"ver\":5376", "\"name\":\"quillon\"", "\"w42\":0", "\"len\":44"},
        {"\"opname\":\"Register\"", "\"type\":2", "\"other\":1"},
        {"\"opname\":\"Deregister\"", "\"type\":8", "\"other\":0", "\"w14\":0"},
        {"\"opname\":\"Subscribe\"", "\"name\":\"PELL-1\"", "\"tail_zero\":true", "\"len\":29"},
        {"\"opname\":\"Unsubscribe\"", "\"name\":\"\"", "\"w12\":0", "\"tail_zero\":true"},
        {"\"upgrade_problems\":[]", "\"address\":\"127.0.0.1\"", "\"port\":69", "\"path\":\"brox.dnt\""},
        {"\"upgrade_problems\":[]", "\"override_32\":\"42524f5832340000\"", "\"override_24\":null", "\"file_len\":4096",
            "\"path\":\"v3_one_model.dnt\"", "\"protocol\":2"},
        {"\"target\":\"BROX-1\"", "\"ctl\":{\"request\":0,\"type\":144,\"word\":1823}",
            "\"payload\":\"071f00900000000000010001\""},
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].find("\"error\""), std::string::npos) << lines[i];
        for (const auto& t : expect[i])
            EXPECT_NE(lines[i].find(t), std::string::npos) << t << " in " << lines[i];
    }
}

uint16_t wordOf(const std::string& name)
{
    return uint16_t(std::stoul(name.substr(name.rfind('_') + 1, 4), nullptr, 16));
}

bool starts(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

// One device payload of the fake read by the reader its name calls for.
void readPayload(const std::string& name, const uint8_t* p, size_t n)
{
    const uint16_t word = uint16_t(p[0] << 8 | p[1]);
    if (name.find("versions") != std::string::npos) {
        conmon_module_info m;
        ASSERT_EQ(conmon_read_module_info(p, n, &m), AUD_SUCCESS) << name;
        EXPECT_EQ(m.firmware_version.major, 4) << name;
        EXPECT_EQ(m.software_version.build, 7) << name; // software "4.2.7"
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.model_id.data), 6), "Bklyn2");
        EXPECT_EQ(m.capabilities & CONMON_CAPABILITY_MANF_VERSIONS, word >= 0x0200 ? 0x1000u : 0u) << name;
        EXPECT_EQ(m.upgrade_version, word > 0x0708 ? 0x0300 : 0) << name;
    } else if (name.find("interfaces") != std::string::npos) {
        conmon_iftable t;
        ASSERT_EQ(conmon_read_interface_table(p, n, &t), AUD_SUCCESS) << name;
        ASSERT_EQ(t.count, 2);
        EXPECT_EQ(t.records[0].address, 0x0a000009u) << name;
        EXPECT_EQ(t.records[1].address, 0x0a010009u) << name;
        EXPECT_EQ(t.records[0].speed, 1000);
        EXPECT_EQ(t.records[0].has_entry, word >= 0x0600) << name;
    } else if (name.find("manf") != std::string::npos) {
        conmon_device_info d;
        ASSERT_EQ(conmon_read_device_info(p, n, &d), AUD_SUCCESS) << name;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.model_id.data), 6), "BROX24");
        EXPECT_EQ(d.firmware_version.minor, 1);
        EXPECT_EQ(d.software_version.build, 9); // "2.1.9"
        EXPECT_STREQ(d.manufacturer_name, word > 0x0700 ? "Valdor Audio" : "") << name;
        EXPECT_STREQ(d.model_name, word > 0x0700 ? "Brox 24" : "") << name;
    } else if (name.find("upgrade") != std::string::npos) {
        conmon_upgrade_progress u;
        ASSERT_EQ(conmon_read_upgrade_progress(p, n, &u), AUD_SUCCESS) << name;
        EXPECT_EQ(u.state, 1);
        EXPECT_EQ(u.progress, word > 0x0708 ? 512u : 0u) << name;
        EXPECT_EQ(u.total, word > 0x0708 ? 4096u : 0u) << name;
        conmon_file_location loc;
        const aud_error e = conmon_read_upgrade_status(p, n, &loc);
        if (word <= 0x0708) {
            EXPECT_EQ(e, AUD_VERSION) << name;
        } else {
            ASSERT_EQ(e, AUD_SUCCESS) << name;
            EXPECT_STREQ(loc.path, "v3_one_model.dnt");
            EXPECT_EQ(loc.port, 1999);
            EXPECT_EQ(loc.file_length, 4096u);
        }
    } else {
        ADD_FAILURE() << "unknown sample " << name;
    }
}

TEST(ConmonCrossCheck, WeReadTheFakesMessages)
{
    qtest::TempDir dir;
    std::string out;
    ASSERT_EQ(qtest::runCommand("python3 " + qtest::peerPath("fake_conmon.py") + " samples " + dir.path(), &out), 0);
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.path().c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".bin") == 0)
                names.push_back(n.substr(0, n.size() - 4));
        }
        closedir(d);
    }
    ASSERT_GE(names.size(), 60u);
    for (const auto& name : names) {
        const std::string raw = qtest::readFile(dir.file(name + ".bin"));
        const Bytes m(raw.begin(), raw.end());
        if (starts(name, "payload_")) {
            readPayload(name, m.data(), m.size());
            continue;
        }
        ASSERT_EQ(conmon_message_validate(m.data(), m.size()), 0) << name;
        if (starts(name, "connect_response")) {
            conmon_connect_info info;
            ASSERT_EQ(conmon_parse_connect_response(m.data(), m.size(), &info), AUD_SUCCESS) << name;
            EXPECT_STREQ(info.device_name, "quillon-pc");
            EXPECT_EQ(info.id.process_id, 4242);
            ASSERT_EQ(info.interfaces.count, 2) << name;
            EXPECT_EQ(info.interfaces.entries[1].words[CONMON_WORD_INDEX], 2u);
            EXPECT_EQ(qtest::hex(&info.interfaces.entries[1].words[CONMON_WORD_ADDRESS], 4), "0a000005") << name;
            EXPECT_EQ(info.flags, wordOf(name) >= 0x1200 ? 1 : 0) << name;
        } else if (starts(name, "networks_changed")) {
            conmon_interfaces ifs;
            ASSERT_EQ(conmon_parse_networks_changed(m.data(), m.size(), &ifs), AUD_SUCCESS) << name;
            ASSERT_EQ(ifs.count, 2);
            EXPECT_EQ(ifs.entries[0].words[CONMON_WORD_INDEX], 1u);
        } else if (starts(name, "subscri")) {
            conmon_subscription_list list;
            ASSERT_EQ(conmon_parse_subscription_list(m.data(), m.size(), &list), AUD_SUCCESS) << name;
            ASSERT_EQ(list.count, 2);
            EXPECT_EQ(list.apply, 1);
            conmon_subscription_entry e;
            ASSERT_EQ(conmon_parse_subscription_entry(m.data(), m.size(), &list, 1, &e), AUD_SUCCESS);
            EXPECT_STREQ(e.device_name, "PELL-1");
            EXPECT_EQ(e.status, 2);
            EXPECT_EQ(e.channel_type, CONMON_CHANNEL_STATUS);
        } else if (starts(name, "named_") || starts(name, "channel_")) {
            conmon_channel_message cm;
            ASSERT_EQ(conmon_parse_channel_message(m.data(), m.size(), &cm), AUD_SUCCESS) << name;
            EXPECT_EQ(cm.named, starts(name, "named_"));
            if (cm.named) {
                EXPECT_STREQ(cm.sender_name, "BROX-1");
            }
            EXPECT_EQ(qtest::hex(cm.envelope.vendor_id.data, 8), "417564696e617465");
            readPayload(name, cm.payload, cm.payload_length);
        } else if (name == "name_changed") {
            char text[CONMON_DEVICE_NAME_SIZE];
            ASSERT_EQ(conmon_parse_device_name(m.data(), m.size(), text), AUD_SUCCESS);
            EXPECT_STREQ(text, "new-pc");
        } else if (name == "domain_changed") {
            char text[CONMON_DOMAIN_SIZE];
            ASSERT_EQ(conmon_parse_dns_domain(m.data(), m.size(), text), AUD_SUCCESS);
            EXPECT_STREQ(text, "example.");
        } else if (name == "connect_invalid_size_1300") {
            EXPECT_EQ(conmon_status_error(uint16_t(m[8] | m[9] << 8)), AUD_INVALIDDATA);
        } else {
            ADD_FAILURE() << "unknown sample " << name;
        }
    }
}

} // namespace
