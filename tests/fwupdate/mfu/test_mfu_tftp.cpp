// The TFTP pull: tftp-hpa's client fetches the file from the transfer's
// server on port 1999; the raw peer that never acknowledges makes it abort.
// Port 1999 is fixed, so these run in their own network namespace.
#include "tests/fwupdate/mfu/mfu_fixture.h"

#include "fwupdate/mfu/mfu_tftp.h"
#include "pbd/vsock/vsock.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace mfutest;

class NoBytes : public ITransfererCallback {
public:
    int32_t sendBytes(const void*, uint32_t) override { return MFU_E_FAIL; }
    int32_t readBytes(void*, uint32_t, uint32_t* countOut) override
    {
        *countOut = 0;
        return 0;
    }
};

std::string tftpPattern(size_t size)
{
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>(i * 13 % 256);
    return out;
}

class MfuTftp : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qtest::insideTestNetns())
            return;
        ASSERT_EQ(qtest::runCommand("ip link set lo up"), 0);
        oswrap_init();
        ASSERT_EQ(vsock_init(), VSOCK_OK);
        TFTPTimings quick;
        quick.resendMs = 100;
        quick.tickMs = 20;
        tftp_setTimings(quick);
        path = dir.file("fw.bin");
    }
    void TearDown() override
    {
        if (!qtest::insideTestNetns())
            return;
        tftp_setTimings(TFTPTimings{});
        vsock_term();
    }
    // A started pull of `content` on 127.0.0.1:1999.
    std::unique_ptr<TransferTFTP> startPull(const std::string& content)
    {
        EXPECT_TRUE(qtest::writeFile(path, content));
        auto t = std::make_unique<TransferTFTP>("127.0.0.1");
        EXPECT_EQ(t->setFilePath(path.c_str()), MFU_OK);
        EXPECT_EQ(t->setCallback(&callback), MFU_OK);
        EXPECT_EQ(t->start(), MFU_OK);
        EXPECT_EQ(t->transferState(), TRANSFER_STATE_TRANSFERRING);
        EXPECT_EQ(t->fileSize(), content.size());
        return t;
    }

    qtest::TempDir dir;
    std::string path;
    NoBytes callback;
};

TEST_F(MfuTftp, TftpHpaPullsTheFile)
{
    QTEST_IN_NETNS();
    const std::string content = tftpPattern(300000);
    auto pull = startPull(content);
    qtest::TempDir local;
    ASSERT_EQ(qtest::runCommand("tftp -m binary 127.0.0.1 1999 -c get fw.bin " + local.file("got.bin")), 0);
    ASSERT_TRUE(qtest::waitFor([&] { return pull->finished(); }, 10000));
    EXPECT_EQ(pull->transferState(), TRANSFER_STATE_FINISHED);
    EXPECT_EQ(qtest::readFile(local.file("got.bin")), content);
    EXPECT_EQ(pull->bytesSent(), content.size());
    // End releases the server: the port is free again, the count stays.
    EXPECT_EQ(pull->end(), MFU_OK);
    EXPECT_EQ(pull->bytesSent(), content.size());
    auto again = startPull(content);
    EXPECT_EQ(again->transferState(), TRANSFER_STATE_TRANSFERRING);
}

TEST_F(MfuTftp, SilentClientAbortsThePull)
{
    QTEST_IN_NETNS();
    LogCapture log;
    auto pull = startPull(tftpPattern(5000));
    qtest::ChildProcess peer(qtest::pythonPeer("tftp_peer.py", {"127.0.0.1", "1999", "noack", "fw.bin", "3000"}));
    // The server gives up after its resends (5 x 100 ms here).
    ASSERT_TRUE(qtest::waitFor([&] { return pull->finished(); }, 10000));
    EXPECT_EQ(pull->transferState(), TRANSFER_STATE_ABORTED);
    EXPECT_TRUE(log.has("[ERROR] !!!!TRANSFER_STATE_ABORTED #1"));
}

TEST_F(MfuTftp, PortHeldByAnotherServer)
{
    QTEST_IN_NETNS();
    LogCapture log;
    TFTPServer holder;
    ASSERT_EQ(holder.setup("127.0.0.1", 1999, (dir.path() + "/").c_str(), nullptr), TFTP_OK);
    ASSERT_EQ(holder.start(), TFTP_OK);
    ASSERT_TRUE(qtest::writeFile(path, "abc"));
    TransferTFTP pull("127.0.0.1");
    ASSERT_EQ(pull.setFilePath(path.c_str()), MFU_OK);
    EXPECT_EQ(pull.start(), MFU_E_FAIL);
    EXPECT_TRUE(log.has("cannot serve on 127.0.0.1 port 1999"));
    EXPECT_FALSE(pull.finished());
    holder.destroy();
    EXPECT_EQ(pull.start(), MFU_OK);
}

TEST(MfuTftpRules, RootOfTheFilePath)
{
    const struct {
        const char* path;
        const char* root;
    } rows[] = {
        {"/data/fw/image.bin", "/data/fw/"},
        {"C:\\fw\\image.bin", "C:\\fw/"},
        {"/data/fw\\image.bin", "/data/fw/"},
        {"image.bin", "./"},
        {"/image.bin", "/"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(TransferTFTP::rootOf(row.path), row.root) << row.path;
}

TEST(MfuTftpRules, StartRefusesMissingFilesAndLongFolders)
{
    qtest::TempDir dir;
    TransferTFTP none("127.0.0.1");
    EXPECT_EQ(none.start(), MFU_E_FAIL);
    ASSERT_EQ(none.setFilePath(dir.file("missing.bin").c_str()), MFU_OK);
    EXPECT_EQ(none.start(), MFU_E_FAIL);
    EXPECT_EQ(none.setFilePath(std::string(257, 'a').c_str()), MFU_E_FAIL);
    TransferTFTP deep("127.0.0.1");
    ASSERT_EQ(deep.setFilePath(("/" + std::string(252, 'd') + "/f").c_str()), MFU_OK);
    EXPECT_EQ(deep.start(), MFU_E_FAIL);
}

TEST(MfuTftpRules, EventsToStates)
{
    const struct {
        uint32_t event;
        int32_t state;
        int32_t result;
    } rows[] = {
        {TFTP_EVENT_STARTED, TRANSFER_STATE_TRANSFERRING, MFU_OK},
        {TFTP_EVENT_BLOCK_SENT, TRANSFER_STATE_TRANSFERRING, MFU_OK},
        {TFTP_EVENT_RESENT, TRANSFER_STATE_TRANSFERRING, MFU_OK},
        {TFTP_EVENT_FINISHED, TRANSFER_STATE_FINISHED, MFU_OK},
        {TFTP_EVENT_ABORTED, TRANSFER_STATE_ABORTED, MFU_E_FAIL},
        {0, TRANSFER_STATE_STARTED, MFU_OK},
        {9, TRANSFER_STATE_STARTED, MFU_OK},
    };
    for (const auto& row : rows) {
        TransferTFTP pull("127.0.0.1");
        EXPECT_EQ(pull.transferEvent(0, row.event), row.result) << row.event;
        EXPECT_EQ(pull.transferState(), row.state) << row.event;
        EXPECT_EQ(pull.finished(), row.state >= TRANSFER_STATE_FINISHED);
    }
}

} // namespace
