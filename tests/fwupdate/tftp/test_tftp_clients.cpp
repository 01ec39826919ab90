// Real clients on loopback: tftp-hpa's tftp and curl fetch and store files,
// and the bytes that arrive are compared with the originals.
#include "tests/fwupdate/tftp/tftp_fixture.h"

namespace {

using namespace tftptest;

const size_t kSizes[] = {0, 511, 512, 513, 1024};

std::string base()
{
    return std::string(kHost) + " " + std::to_string(kPort);
}

std::string url(const std::string& name)
{
    return "tftp://" + std::string(kHost) + ":" + std::to_string(kPort) + "/" + name;
}

class TftpClients : public TftpNetTest { };

TEST_F(TftpClients, TftpHpaGetsAndPutsEverySize)
{
    QTEST_IN_NETNS();
    startServer();
    qtest::TempDir local;
    size_t transfers = 0;
    for (size_t size : kSizes) {
        SCOPED_TRACE(size);
        const std::string name = "get" + std::to_string(size) + ".bin";
        put(name, pattern(size, 3));
        ASSERT_EQ(qtest::runCommand("tftp -m binary " + base() + " -c get " + name + " " + local.file(name)), 0);
        EXPECT_EQ(qtest::readFile(local.file(name)), pattern(size, 3));

        const std::string up = "put" + std::to_string(size) + ".bin";
        qtest::writeFile(local.file(up), pattern(size, 5));
        ASSERT_EQ(qtest::runCommand("cd " + local.path() + " && tftp -m binary " + base() + " -c put " + up), 0);
        transfers += 2;
        ASSERT_TRUE(events.waitCount(TFTP_EVENT_FINISHED, transfers));
        EXPECT_EQ(qtest::readFile(file(up)), pattern(size, 5));
    }
}

TEST_F(TftpClients, CurlGetsWithAndWithoutOptions)
{
    QTEST_IN_NETNS();
    startServer();
    qtest::TempDir local;
    // curl's default request carries tsize, blksize and timeout options
    // after the mode; they are ignored and curl falls back to plain
    // 512-byte blocks.
    for (const char* flags : {"--tftp-no-options", ""}) {
        for (size_t size : kSizes) {
            SCOPED_TRACE(std::string(flags) + " " + std::to_string(size));
            const std::string name = "c" + std::to_string(size) + ".bin";
            put(name, pattern(size, 11));
            const std::string out = local.file(name);
            ASSERT_EQ(
                qtest::runCommand("curl -sS --max-time 20 " + std::string(flags) + " -o " + out + " " + url(name)), 0);
            EXPECT_EQ(qtest::readFile(out), pattern(size, 11));
        }
    }
}

TEST_F(TftpClients, CurlPutsWithOptions)
{
    QTEST_IN_NETNS();
    startServer();
    qtest::TempDir local;
    qtest::writeFile(local.file("up.bin"), pattern(1300, 9));
    ASSERT_EQ(qtest::runCommand("curl -sS --max-time 20 -T " + local.file("up.bin") + " " + url("up.bin")), 0);
    ASSERT_TRUE(events.waitCount(TFTP_EVENT_FINISHED, 1));
    EXPECT_EQ(qtest::readFile(file("up.bin")), pattern(1300, 9));
}

TEST_F(TftpClients, FilePastTheBlockNumberWrap)
{
    QTEST_IN_NETNS();
    startServer();
    // 65536 full blocks and a short one: block numbers wrap from 65535 to 0.
    const std::string body = pattern(65536 * 512 + 100, 1);
    put("big.bin", body);
    qtest::TempDir local;
    ASSERT_EQ(qtest::runCommand("tftp -m binary " + base() + " -c get big.bin " + local.file("big.bin")), 0);
    const std::string got = qtest::readFile(local.file("big.bin"));
    EXPECT_EQ(got.size(), body.size());
    EXPECT_TRUE(got == body);
}

} // namespace
