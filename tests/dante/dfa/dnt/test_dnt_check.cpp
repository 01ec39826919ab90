// The check over bytes in memory: our CRC-32 against zlib's, every cut and
// every extreme header word of good files (each in a buffer of exactly its
// size, so the address sanitizer sees any read past the file), and the
// crafted files of the mended faults.
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_internal.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class DntCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<qtest::TempDir>();
        const std::string command = "python3 " + qtest::peerPath("dnt_gen.py") + " " + s_dir->path() + " >/dev/null";
        ASSERT_EQ(qtest::runCommand(command), 0);
    }
    static void TearDownTestSuite() { s_dir.reset(); }
    void SetUp() override { dfa_set_print_level(0); }
    void TearDown() override { dfa_set_print_level(2); }

    static Bytes file(const std::string& name)
    {
        const std::string bytes = qtest::readFile(s_dir->file(name + ".dnt"));
        return Bytes(bytes.begin(), bytes.end());
    }

    // Checks a copy held in a heap block of exactly its size.
    static DfaResult check(const Bytes& bytes, DntFileInfo* info = nullptr)
    {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
        std::copy(bytes.begin(), bytes.end(), exact.get());
        const auto own = std::make_unique<DntFileInfo>();
        return dfa_dntchk_check(exact.get(), bytes.size(), info != nullptr ? info : own.get());
    }

    static std::unique_ptr<qtest::TempDir> s_dir;
};

std::unique_ptr<qtest::TempDir> DntCheck::s_dir;

void putBe32(Bytes* b, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        (*b)[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// Re-seals a version-3 file after an edit, as a crafted file would be.
void resealV3(Bytes* b)
{
    uLong crc = crc32(0, b->data(), 24);
    const uint8_t zero[4] = {};
    crc = crc32(crc, zero, 4);
    crc = crc32(crc, b->data() + 28, static_cast<uInt>(b->size() - 28));
    putBe32(b, 24, static_cast<uint32_t>(crc));
}

TEST_F(DntCheck, Crc32AgreesWithZlib)
{
    std::mt19937 random(7);
    Bytes data(1 << 20);
    for (uint8_t& byte : data)
        byte = static_cast<uint8_t>(random());
    for (const size_t length :
        {size_t(0), size_t(1), size_t(7), size_t(8), size_t(9), size_t(63), size_t(1000), data.size()}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(dfa_crc32(0, data.data(), length), crc32(0, data.data(), static_cast<uInt>(length)));
    }
    // Continued over pieces, as the check runs it around the stored CRC.
    const uint32_t whole = dfa_crc32(0, data.data(), 1001);
    EXPECT_EQ(dfa_crc32(dfa_crc32(0, data.data(), 13), data.data() + 13, 988), whole);
    EXPECT_EQ(dfa_crc32(0, reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
}

TEST_F(DntCheck, EveryCutOfAGoodFileIsRefused)
{
    for (const char* name : {"v3_two_models", "v2_with_cap", "v3_big_descriptors"}) {
        SCOPED_TRACE(name);
        const Bytes whole = file(name);
        ASSERT_EQ(check(whole), DFA_ERR_NOERR);
        for (size_t length = 0; length < whole.size(); ++length) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
            const DfaResult code = check(cut);
            ASSERT_TRUE(dfa_failed(code)) << "cut at " << length;
        }
    }
}

TEST_F(DntCheck, ExtremeHeaderWordsStayInsideTheFile)
{
    const Bytes good = file("v3_several_models");
    const uint32_t values[] = {0, 1, 15, 16, 17, 59, 60, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, 0xFFFFFFFF,
        static_cast<uint32_t>(good.size()), static_cast<uint32_t>(good.size() - 1)};
    // Header length, device code, descriptor tables, and the part and model
    // descriptors' words.
    for (size_t at = 4; at < 60 + 16 * 8 + 16; at += 4) {
        if (at == 8 || at == 24 || at == 28 || at == 32) // version, CRC, manufacturer
            continue;
        for (const uint32_t value : values) {
            Bytes crafted = good;
            putBe32(&crafted, at, value);
            resealV3(&crafted);
            const auto info = std::make_unique<DntFileInfo>();
            const DfaResult code = check(crafted, info.get());
            EXPECT_TRUE(code == DFA_ERR_NOERR || code == DFA_ERR_DNT_FORMAT || code == DFA_ERR_DNT_DEVICE_ID)
                << "word at " << at << " = " << value << ": " << dfa_error_name(code);
            EXPECT_LE(info->md_count, 16);
        }
    }
}

// Files the documented check read past, or let through with a wrapped
// length; each must give its code with nothing read outside the file.
TEST_F(DntCheck, CraftedFilesOfTheMendedFaults)
{
    const struct {
        const char* name;
        DfaResult code;
    } cases[] = {
        {"short_11_bytes", DFA_ERR_DNT_FORMAT},
        {"empty_file", DFA_ERR_DNT_FORMAT},
        {"v3_short_header", DFA_ERR_DNT_FORMAT},
        {"v2_short_header", DFA_ERR_DNT_FORMAT},
        {"v2_count_wraps_32_bits", DFA_ERR_DNT_FORMAT},
        {"v2_count_wraps_to_header", DFA_ERR_DNT_FORMAT},
        {"v2_part_past_file", DFA_ERR_DNT_FORMAT},
        {"v2_cap_part_cut", DFA_ERR_DNT_FORMAT},
        {"v3_part_past_file", DFA_ERR_DNT_FORMAT},
        {"v3_part_offset_huge", DFA_ERR_DNT_FORMAT},
        {"v3_header_len_past_file", DFA_ERR_DNT_FORMAT},
        {"v3_header_len_below_60", DFA_ERR_DNT_FORMAT},
        {"v3_pd_size_below_16", DFA_ERR_DNT_FORMAT},
        {"v3_md_size_below_16", DFA_ERR_DNT_FORMAT},
        {"v3_pd_table_huge_offset", DFA_ERR_DNT_FORMAT},
        {"v3_cap_part_cut", DFA_ERR_DNT_FORMAT},
        {"v3_cap_dir_past_part", DFA_ERR_DNT_FORMAT},
        {"v3_cap_m_past_part", DFA_ERR_DNT_FORMAT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto info = std::make_unique<DntFileInfo>();
        EXPECT_EQ(check(file(c.name), info.get()), c.code);
        EXPECT_EQ(info->info_exist, 0);
    }
}

TEST_F(DntCheck, CheckOrderOfDeviceManufacturerAndCrc)
{
    // The device code is judged before the manufacturer, and both before
    // the CRC; a wildcard manufacturer passes.
    Bytes bytes = file("v3_one_model");
    putBe32(&bytes, 16, 7);
    EXPECT_EQ(check(bytes), DFA_ERR_DNT_DEVICE_ID);
    bytes = file("v3_one_model");
    bytes[28] = 'X';
    EXPECT_EQ(check(bytes), DFA_ERR_DNT_MANF_ID);
    bytes = file("v3_one_model");
    bytes[bytes.size() - 1] ^= 1;
    EXPECT_EQ(check(bytes), DFA_ERR_DNT_CHKSUM);
    // The stored CRC's own bytes count as zero.
    bytes = file("v3_one_model");
    resealV3(&bytes);
    EXPECT_EQ(check(bytes), DFA_ERR_NOERR);
    EXPECT_EQ(check(file("v3_any_manufacturer")), DFA_ERR_NOERR);
}

TEST_F(DntCheck, Version2ChecksumIsTheFoldedByteSum)
{
    Bytes bytes = file("v2_no_cap");
    ASSERT_EQ(check(bytes), DFA_ERR_NOERR);
    bytes[bytes.size() - 1] ^= 0x40;
    EXPECT_EQ(check(bytes), DFA_ERR_DNT_CHKSUM);
    // Any manufacturer is accepted in version 2.
    const auto info = std::make_unique<DntFileInfo>();
    EXPECT_EQ(check(file("v2_other_manufacturer"), info.get()), DFA_ERR_NOERR);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info->manf_id)), "Othrco");
}

TEST(DntRecord, FileInformationLayout)
{
    EXPECT_EQ(offsetof(DntFileInfo, info_exist), 320u);
    EXPECT_EQ(offsetof(DntFileInfo, header_version), 324u);
    EXPECT_EQ(offsetof(DntFileInfo, platform), 336u);
    EXPECT_EQ(offsetof(DntFileInfo, md_count), 352u);
    EXPECT_EQ(offsetof(DntFileInfo, md), 356u);
    EXPECT_EQ(offsetof(DfaDeviceInfo, check_flags), 32u);
    EXPECT_EQ(offsetof(DfaDeviceInfo, manf_model_name), 76u);
    EXPECT_EQ(offsetof(DfaUpgradeRequest, override_flag), 192u);
}

} // namespace
