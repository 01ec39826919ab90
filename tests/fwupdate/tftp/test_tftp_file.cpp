// Confinement of request names to the root folder, through both resolvers
// (openat2 beneath the root, and the segment walk of older kernels).
#include "fwupdate/tftp/tftp.h"
#include "fwupdate/tftp/tftp_file.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class TftpFile : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        tftp_forceSegmentWalk(GetParam());
        rootDir = top.file("root");
        ASSERT_EQ(mkdir(rootDir.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((rootDir + "/sub").c_str(), 0755), 0);
        ASSERT_TRUE(qtest::writeFile(rootDir + "/sub/ok.bin", "ok"));
        ASSERT_TRUE(qtest::writeFile(top.file("x"), "sentinel"));
        ASSERT_EQ(symlink(top.file("x").c_str(), (rootDir + "/out").c_str()), 0);
        ASSERT_EQ(symlink(top.path().c_str(), (rootDir + "/updir").c_str()), 0);
        ASSERT_EQ(symlink("../../x", (rootDir + "/sub/rel").c_str()), 0);
    }
    void TearDown() override { tftp_forceSegmentWalk(false); }

    qtest::TempDir top;
    std::string rootDir;
};

struct NameCase {
    const char* name;
    uint8_t code;
};

// Refused names get the access error; "x" (the sentinel) lies beside the root.
const NameCase kNames[] = {
    {"../x", TFTP_ERR_ACCESS},
    {"/etc/passwd", TFTP_ERR_ACCESS},
    {"a/../../x", TFTP_ERR_ACCESS},
    {"sub/../../x", TFTP_ERR_ACCESS},
    {"..", TFTP_ERR_ACCESS},
    {"out", TFTP_ERR_ACCESS}, // a link inside the root pointing outside
    {"updir/x", TFTP_ERR_ACCESS}, // a folder link pointing outside
    {"sub/rel", TFTP_ERR_ACCESS},
};

TEST_P(TftpFile, ReadsOnlyInsideTheRoot)
{
    for (const NameCase& c : kNames) {
        SCOPED_TRACE(c.name);
        TFTPFd fd;
        EXPECT_EQ(tftp_openForRead(rootDir, c.name, &fd), c.code);
        EXPECT_FALSE(fd.valid());
    }
    TFTPFd fd;
    ASSERT_EQ(tftp_openForRead(rootDir, "sub/ok.bin", &fd), TFTP_ERR_NONE);
    uint8_t buffer[8];
    EXPECT_EQ(tftp_readBlock(fd.get(), buffer, sizeof buffer), 2);
    EXPECT_EQ(tftp_openForRead(rootDir, "sub/none.bin", &fd), TFTP_ERR_NOT_FOUND);
    EXPECT_EQ(tftp_openForRead(rootDir, "sub", &fd), TFTP_ERR_NOT_FOUND);
    EXPECT_EQ(tftp_openForRead(rootDir, "", &fd), TFTP_ERR_NOT_FOUND);
    // Cutting a long name would name another file.
    EXPECT_EQ(tftp_openForRead(rootDir, std::string(256, 'n').c_str(), &fd), TFTP_ERR_ACCESS);
}

TEST_P(TftpFile, WritesOnlyInsideTheRoot)
{
    for (const NameCase& c : kNames) {
        SCOPED_TRACE(c.name);
        TFTPWriteFile file;
        EXPECT_EQ(file.open(rootDir, c.name), c.code);
    }
    EXPECT_EQ(qtest::readFile(top.file("x")), "sentinel");
    std::string listing;
    qtest::runCommand("ls -A " + rootDir + " | tr '\\n' ' '; ls -A " + rootDir + "/sub | tr '\\n' ' '", &listing);
    EXPECT_EQ(listing, "out sub updir ok.bin rel ");
    {
        TFTPWriteFile file;
        ASSERT_EQ(file.open(rootDir, "sub/ok.bin"), TFTP_ERR_NONE);
        ASSERT_EQ(file.append(reinterpret_cast<const uint8_t*>("new"), 3), TFTP_ERR_NONE);
        // Until committed the old bytes stay.
        EXPECT_EQ(qtest::readFile(rootDir + "/sub/ok.bin"), "ok");
        ASSERT_EQ(file.commit(), TFTP_ERR_NONE);
    }
    EXPECT_EQ(qtest::readFile(rootDir + "/sub/ok.bin"), "new");
    TFTPWriteFile folder;
    EXPECT_EQ(folder.open(rootDir, "sub"), TFTP_ERR_ACCESS);
    TFTPWriteFile missing;
    EXPECT_EQ(missing.open(rootDir, "nofolder/x"), TFTP_ERR_NOT_FOUND);
}

TEST_P(TftpFile, AbandonedWriteLeavesNothing)
{
    {
        TFTPWriteFile file;
        ASSERT_EQ(file.open(rootDir, "sub/ok.bin"), TFTP_ERR_NONE);
        ASSERT_EQ(file.append(reinterpret_cast<const uint8_t*>("partial"), 7), TFTP_ERR_NONE);
    }
    EXPECT_EQ(qtest::readFile(rootDir + "/sub/ok.bin"), "ok");
    std::string listing;
    qtest::runCommand("ls -A " + rootDir + "/sub | tr '\\n' ' '", &listing);
    EXPECT_EQ(listing, "ok.bin rel ");
}

TEST_P(TftpFile, ReceivedSizeIsCapped)
{
    TFTPWriteFile file;
    ASSERT_EQ(file.open(rootDir, "big.bin"), TFTP_ERR_NONE);
    std::vector<uint8_t> block(1 << 20, 0x5a);
    for (uint64_t done = 0; done < TFTP_RECEIVE_LIMIT; done += block.size())
        ASSERT_EQ(file.append(block.data(), block.size()), TFTP_ERR_NONE);
    EXPECT_EQ(file.append(block.data(), 1), TFTP_ERR_DISK_FULL);
}

INSTANTIATE_TEST_SUITE_P(Resolvers, TftpFile, ::testing::Values(false, true),
    [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "SegmentWalk" : "Openat2"; });

} // namespace
