// Control payloads against hex written from the tables, the file-location
// block, and the reply readers at the protocol words of their gates, each
// also cut short at every byte.
#include "dante/conmon/conmon_payload.h"

#include "tests/dante/conmon/conmon_test_bytes.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <functional>
#include <string>

using namespace conmontest;

namespace {

std::string payloadHexOf(const conmon_payload& p)
{
    return qtest::hex(p.data, p.length);
}

TEST(ConmonPayloadGolden, RebootLegacyAndQueries)
{
    conmon_payload p;
    ASSERT_EQ(conmon_payload_reboot(&p, 1), AUD_SUCCESS);
    EXPECT_EQ(payloadHexOf(p), want("071f 0090 00000000 0001 0001"));
    EXPECT_EQ(conmon_payload_reboot(&p, 2), AUD_INVALIDPARAMETER);

    ASSERT_EQ(conmon_payload_upgrade_legacy(&p, 0xC0A80105, 69, "brox/v4.dnt"), AUD_SUCCESS);
    EXPECT_EQ(payloadHexOf(p), want("071f 0071 00000000 c0a80105 0045 0000 62726f782f76342e646e74" + zeros(64 - 11)));
    EXPECT_EQ(conmon_payload_upgrade_legacy(&p, 1, 69, std::string(64, 'p').c_str()), AUD_INVALIDPARAMETER);
    ASSERT_EQ(conmon_payload_upgrade_legacy(&p, 1, 69, std::string(63, 'p').c_str()), AUD_SUCCESS);
    EXPECT_EQ(p.data[79], 0);

    const struct {
        uint16_t type;
        size_t asked;
        aud_error e;
        std::string hex;
    } queries[] = {
        {19, 0, AUD_SUCCESS, "071f 0013 000f4240" + zeros(8)}, {33, 0, AUD_SUCCESS, "071f 0021 000f4240" + zeros(32)},
        {133, 0, AUD_SUCCESS, "071f 0085 000f4240" + zeros(24)}, {177, 0, AUD_SUCCESS, "071f 00b1 000f4240" + zeros(4)},
        {97, 0, AUD_SUCCESS, "071f 0061 000f4240"}, {193, 12, AUD_SUCCESS, "071f 00c1 000f4240" + zeros(4)},
        {129, 0, AUD_SUCCESS, "071f 0081 000f4240" + zeros(8)}, {131, 0, AUD_SUCCESS, "071f 0083 000f4240" + zeros(4)},
        {129, 12, AUD_INVALIDPARAMETER, ""}, // shorter than its own fields
        {19, 20, AUD_INVALIDPARAMETER, ""}, // a fixed length
        {305, CONMON_PAYLOAD_MAX + 1, AUD_INVALIDPARAMETER, ""}, {144, 0, AUD_INVALIDPARAMETER, ""}, // not a query
    };
    for (const auto& q : queries) {
        ASSERT_EQ(conmon_payload_query(&p, q.type, q.asked), q.e) << q.type;
        if (q.e == AUD_SUCCESS) {
            EXPECT_EQ(payloadHexOf(p), want(q.hex)) << q.type;
        }
    }
}

TEST(ConmonPayloadGolden, VersionThreeUpgradeWithFileLocation)
{
    conmon_payload p;
    ASSERT_EQ(upgradeV3(&p, "v3.dnt"), AUD_SUCCESS);
    EXPECT_EQ(payloadHexOf(p),
        want("071f 0075 00000000 0000000c 00000003 00000003" + zeros(12)
            + "42524f5832340000 002c 0000"
            // block at 44: flags, 4 zero, protocol, port, address, 2 zero, path offset, file length
            + "0000003e 00000000 0002 07cf 7f000001 0000 0044 00001000" + "76332e646e7400"));

    conmon_file_location back;
    ASSERT_EQ(conmon_file_location_read(p.data, p.length, 44, &back), AUD_SUCCESS);
    EXPECT_EQ(back.flags, 0x3eu);
    EXPECT_EQ(back.port, 1999);
    EXPECT_EQ(back.address, htonl(0x7F000001));
    EXPECT_STREQ(back.path, "v3.dnt");
    EXPECT_EQ(back.file_length, 4096u);

    // A local file sets the low bit only; the block lands 4-byte aligned.
    ASSERT_EQ(conmon_payload_upgrade_v3(&p), AUD_SUCCESS);
    size_t at = 0;
    ASSERT_EQ(conmon_payload_append(&p, 3, 1, &at), AUD_SUCCESS);
    conmon_file_location loc{};
    loc.protocol = CONMON_LOCATION_LOCAL_FILE;
    loc.path = "v3.dnt";
    ASSERT_EQ(conmon_payload_upgrade_v3_location(&p, &loc), AUD_SUCCESS);
    EXPECT_EQ(qtest::hex(p.data + 16, 4), "00000001");
    EXPECT_EQ(qtest::hex(p.data + 40, 2), "0030");
    EXPECT_EQ(qtest::hex(p.data + 48, 4), "0000001e");
}

TEST(ConmonPayloadGolden, AppendStopsAtTheCapacity)
{
    conmon_payload p;
    ASSERT_EQ(conmon_payload_upgrade_v3(&p), AUD_SUCCESS);
    size_t at = 0;
    EXPECT_EQ(conmon_payload_append(&p, CONMON_PAYLOAD_MAX - 44, 4, &at), AUD_SUCCESS);
    EXPECT_EQ(p.length, CONMON_PAYLOAD_MAX);
    EXPECT_EQ(conmon_payload_append(&p, 1, 1, &at), AUD_NOMEMORY);

    ASSERT_EQ(conmon_payload_upgrade_v3(&p), AUD_SUCCESS);
    conmon_file_location loc{};
    loc.protocol = 2;
    const std::string longPath(CONMON_PAYLOAD_MAX, 'x');
    loc.path = longPath.c_str();
    EXPECT_EQ(conmon_payload_upgrade_v3_location(&p, &loc), AUD_NOMEMORY);
    EXPECT_EQ(p.length, 44u); // left as it was
    EXPECT_EQ(qtest::hex(p.data + 8, 4), "00000000");
}

TEST(ConmonPayloadRead, FileLocationBlockChecks)
{
    Writer w(44 + 24 + 4);
    w.be32(44, 0x1e).be16(52, 2).be16(62, 68).bytes(68, "abc");
    conmon_file_location loc;
    EXPECT_EQ(conmon_file_location_read(w.b.data(), w.b.size(), 44, &loc), AUD_SUCCESS);
    EXPECT_EQ(conmon_file_location_read(w.b.data(), w.b.size(), 0, &loc), AUD_NOTFOUND);
    EXPECT_EQ(conmon_file_location_read(w.b.data(), w.b.size(), 46, &loc), AUD_INVALIDDATA);
    EXPECT_EQ(conmon_file_location_read(w.b.data(), w.b.size(), 52, &loc), AUD_TRUNCATED);
    Bytes noNul = w.b;
    noNul.back() = 'd';
    EXPECT_EQ(conmon_file_location_read(noNul.data(), noNul.size(), 44, &loc), AUD_TRUNCATED);
    w.be16(62, 72);
    EXPECT_EQ(conmon_file_location_read(w.b.data(), w.b.size(), 44, &loc), AUD_TRUNCATED);
}

// Every cut (of one byte or more) of a reply shorter than the bytes its version needs must give
// TRUNCATED; the cut copies are exact-size so a read past them is seen by
// the sanitizers.
template <typename Out>
void expectCutsTruncated(
    const Bytes& full, aud_error (*reader)(const uint8_t*, size_t, Out*), const char* what, uint16_t word)
{
    for (size_t n = 1; n < full.size(); ++n) {
        const Bytes cut(full.begin(), full.begin() + long(n));
        Out out;
        EXPECT_EQ(reader(cut.data(), cut.size(), &out), AUD_TRUNCATED)
            << what << " v" << std::hex << word << " cut at " << std::dec << n;
    }
}

Writer reply(uint16_t word, uint16_t type, size_t length)
{
    Writer w(length);
    w.be16(0, word).be16(2, type);
    return w;
}

TEST(ConmonPayloadRead, ModuleInformationAtItsGates)
{
    const struct {
        uint16_t word;
        size_t need;
    } gates[] = {{0x0100, 28}, {0x0200, 32}, {0x0700, 32}, {0x0703, 48}, {0x0704, 48}, {0x0708, 48}, {0x0709, 60}};
    for (const auto& g : gates) {
        Writer w = reply(g.word, 0x60, g.need);
        w.be32(8, 0x04020003).be32(12, 0x04020007).bytes(20, "Bklyn2");
        if (g.need >= 32)
            w.be32(28, 0x1000);
        if (g.need >= 48)
            w.be32(36, 3).be32(40, 40).be32(44, 44);
        if (g.need >= 60)
            w.be16(58, 0x0300);
        conmon_module_info m;
        ASSERT_EQ(conmon_read_module_info(w.b.data(), w.b.size(), &m), AUD_SUCCESS) << std::hex << g.word;
        EXPECT_EQ(m.firmware_word, 0x04020003u);
        EXPECT_EQ(m.software_version.major, 4);
        EXPECT_EQ(m.software_version.minor, 2);
        EXPECT_EQ(m.software_version.build, 7);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.model_id.data)), "Bklyn2");
        EXPECT_EQ(m.capabilities, g.word >= 0x0200 ? 0x1000u : 0u);
        EXPECT_EQ(m.word40, g.word > 0x0700 ? 40u : 0u);
        EXPECT_EQ(m.status_bits, g.word > 0x0703 ? 3u : 0u);
        EXPECT_EQ(m.upgrade_version, g.word > 0x0708 ? 0x0300 : 0);
        expectCutsTruncated(w.b, conmon_read_module_info, "module", g.word);
    }
}

TEST(ConmonPayloadRead, DeviceInformationAtItsGates)
{
    const struct {
        uint16_t word;
        size_t need;
    } gates[] = {{0x0600, 40}, {0x0606, 44}, {0x0700, 44}, {0x0701, 308}, {0x0703, 308}, {0x0704, 312}};
    for (const auto& g : gates) {
        Writer w = reply(g.word, 0xC0, g.need);
        w.bytes(8, "Valdor").bytes(16, "BROX24").be32(32, 0x02010005).be32(36, 0x02010009);
        if (g.need >= 44)
            w.be32(40, 0x40);
        if (g.need >= 308)
            w.be32(44, 0x44).be32(48, 0x48).bytes(52, "Valdor Audio").bytes(180, std::string(40, 'M'));
        if (g.need >= 312)
            w.be32(308, 0x308);
        conmon_device_info d;
        ASSERT_EQ(conmon_read_device_info(w.b.data(), w.b.size(), &d), AUD_SUCCESS) << std::hex << g.word;
        EXPECT_EQ(qtest::hex(d.model_id.data, 6), qtest::hex(std::string("BROX24")));
        EXPECT_EQ(d.firmware_version.major, 2);
        EXPECT_EQ(d.firmware_version.minor, 1);
        EXPECT_EQ(d.firmware_version.bugfix, 0);
        EXPECT_EQ(d.firmware_version.build, 5);
        EXPECT_EQ(d.software_word, 0x02010009u);
        EXPECT_EQ(d.word40, g.word >= 0x0606 ? 0x40u : 0u);
        EXPECT_EQ(d.word48, g.word > 0x0700 ? 0x48u : 0u);
        EXPECT_STREQ(d.manufacturer_name, g.word > 0x0700 ? "Valdor Audio" : "");
        EXPECT_EQ(std::string(d.model_name), g.word > 0x0700 ? std::string(31, 'M') : ""); // 31 kept
        EXPECT_EQ(d.word308, g.word >= 0x0704 ? 0x308u : 0u);
        expectCutsTruncated(w.b, conmon_read_device_info, "device", g.word);
    }
}

TEST(ConmonPayloadRead, InterfaceTableAtItsGates)
{
    for (const uint16_t word : {0x0200, 0x0600, 0x0601, 0x0602, 0x071F}) {
        const size_t tail = 12 + 2 * 28;
        const bool ext = word >= 0x0600;
        const bool flags = word > 0x0601;
        const size_t first = tail + (flags ? 6 : 4);
        Writer w = reply(word, 0x11, ext ? first + 2 * 20 : tail);
        w.be16(8, 2);
        for (size_t i = 0; i < 2; ++i) {
            const size_t r = 12 + 28 * i;
            w.be32(r, 1).be16(r + 4, 1000).hex(r + 6, "001dc1000001").hex(r + 12, "0a000009");
            w.hex(r + 20, "ffffff00").hex(r + 24, "0a000001");
        }
        if (ext) {
            w.be16(tail, 20).be16(tail + 2, uint16_t(first));
            w.be16(first, 0x0005).be32(first + 4, 1000).be32(first + 16, 0x16);
            w.be16(first + 20, 0x0001); // second entry not valid
        }
        if (flags)
            w.be16(tail + 4, 1);
        conmon_iftable t;
        ASSERT_EQ(conmon_read_interface_table(w.b.data(), w.b.size(), &t), AUD_SUCCESS) << std::hex << word;
        EXPECT_EQ(t.count, 2);
        EXPECT_EQ(t.records[1].address, 0x0a000009u);
        EXPECT_EQ(t.records[1].netmask, 0xffffff00u);
        EXPECT_EQ(t.records[1].gateway, 0x0a000001u);
        EXPECT_EQ(t.records[0].speed, 1000);
        EXPECT_EQ(qtest::hex(t.records[0].mac, 6), "001dc1000001");
        EXPECT_EQ(t.records[0].has_entry, ext);
        EXPECT_EQ(t.records[0].entry_flags, ext ? 1 : 0);
        EXPECT_EQ(t.records[0].entry_words[3], ext ? 0x16u : 0u);
        EXPECT_FALSE(t.records[1].has_entry);
        EXPECT_EQ(t.flags, flags ? 1 : 0);
        expectCutsTruncated(w.b, conmon_read_interface_table, "interfaces", word);
    }
    // A count past the bytes, and an extension entry placed past the end.
    Writer big = reply(0x0200, 0x11, 12 + 28);
    big.be16(8, 2);
    conmon_iftable t;
    EXPECT_EQ(conmon_read_interface_table(big.b.data(), big.b.size(), &t), AUD_TRUNCATED);
    Writer far = reply(0x0600, 0x11, 12 + 28 + 4);
    far.be16(8, 1).be16(40, 20).be16(42, 0xFFF0);
    EXPECT_EQ(conmon_read_interface_table(far.b.data(), far.b.size(), &t), AUD_TRUNCATED);
    far.be16(42, 0); // no entry at all
    EXPECT_EQ(conmon_read_interface_table(far.b.data(), far.b.size(), &t), AUD_SUCCESS);
    EXPECT_FALSE(t.records[0].has_entry);
}

Writer upgradeStatus(uint16_t word)
{
    Writer w = reply(word, 0x70, 44);
    w.be16(8, 1).be16(10, 0x121).be32(12, 0x6E).be32(16, 512).be32(20, 4096).be16(24, 44);
    w.bytes(28, "Valdor").bytes(36, "BROX24");
    w.be32(44, 0x1e).be16(52, 2).be16(54, 69).hex(56, "7f000001").be16(62, 68).bytes(68, std::string("f.dnt") + '\0');
    return w;
}

TEST(ConmonPayloadRead, UpgradeStatusLocation)
{
    conmon_file_location loc;
    for (const uint16_t word : {0x0700, 0x0708}) {
        const Writer w = upgradeStatus(word);
        EXPECT_EQ(conmon_read_upgrade_status(w.b.data(), w.b.size(), &loc), AUD_VERSION);
    }
    const Writer w = upgradeStatus(0x0709);
    ASSERT_EQ(conmon_read_upgrade_status(w.b.data(), w.b.size(), &loc), AUD_SUCCESS);
    EXPECT_STREQ(loc.path, "f.dnt");
    EXPECT_EQ(loc.port, 69);
    expectCutsTruncated(w.b, conmon_read_upgrade_status, "upgrade status", 0x0709);
    Writer none = upgradeStatus(0x0709);
    none.be32(12, 0x06);
    EXPECT_EQ(conmon_read_upgrade_status(none.b.data(), none.b.size(), &loc), AUD_NOTFOUND);
}

TEST(ConmonPayloadRead, UpgradeProgress)
{
    conmon_upgrade_progress p;
    const Writer full = upgradeStatus(0x071F);
    ASSERT_EQ(conmon_read_upgrade_progress(full.b.data(), full.b.size(), &p), AUD_SUCCESS);
    EXPECT_EQ(p.state, 1);
    EXPECT_EQ(p.last_error, 0x121);
    EXPECT_EQ(p.progress, 512u);
    EXPECT_EQ(p.total, 4096u);
    EXPECT_EQ(qtest::hex(p.model_id.data, 6), qtest::hex(std::string("BROX24")));

    // At 0x0708 only the state is read.
    const Writer old = upgradeStatus(0x0708);
    ASSERT_EQ(conmon_read_upgrade_progress(old.b.data(), 10, &p), AUD_SUCCESS);
    EXPECT_EQ(p.flags, 0u);
    EXPECT_EQ(p.progress, 0u);

    // Cuts: the state needs 10 bytes; below 16 the flags are not read;
    // from there each flagged field needs its bytes.
    for (size_t n = 1; n < 44; ++n) {
        const Bytes cut(full.b.begin(), full.b.begin() + long(n));
        const aud_error expected = n < 10 ? AUD_TRUNCATED : n < 16 ? AUD_SUCCESS : AUD_TRUNCATED;
        EXPECT_EQ(conmon_read_upgrade_progress(cut.data(), cut.size(), &p), expected) << n;
    }
    Writer onlyState = upgradeStatus(0x071F);
    onlyState.be32(12, 0);
    EXPECT_EQ(conmon_read_upgrade_progress(onlyState.b.data(), 16, &p), AUD_SUCCESS);
}

} // namespace
