// One update run through the front over the real agent, against
// fake_conmon.py (a device that fetches its file over TFTP) and fake_cmm.py
// (two interfaces) inside the test's own network namespace: the interface
// chain, the front's TFTP server, the device list with its 10 s window on
// the agent's stepped clock, and the upgrade to its finish.
#include "tests/fwupdate/dfu/dfu_fixture.h"
#include "tests/support/dante_agent_fakes.h"

#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vsock/vsock.h"

#include <zlib.h>

namespace {

using namespace dfaagent;
using dfutest::makeDnt;
using dfutest::path160;
using dfutest::u16;

TEST(DfuFrontAgent, UpdateRunAgainstTheFakeServices)
{
    if (::access("/usr/bin/tftp", X_OK) != 0)
        GTEST_SKIP() << "tftp-hpa missing: run scripts/bootstrap";
    AGENT_BED();
    oswrap_init();
    ASSERT_EQ(vsock_init(), VSOCK_OK);
    dfa_set_glue(nullptr);
    dfa_set_service_probe(nullptr);
    dfa_set_print_level(std::getenv("DFA_GLUE_VERBOSE") != nullptr ? 2 : 0);
    dfutest::TempLog log;
    qtest::TempDir dir;
    ASSERT_TRUE(makeDnt(dir.path(), "v3_wildcard", "module.dnt"));
    const std::string file = qtest::readFile(dir.file("module.dnt"));

    SteppedClock clock;
    Peer conmon("fake_conmon.py", {"--port", "8900", "--lifetime", "120", "--device", "dev1,tftp=1"});
    Peer cmm("fake_cmm.py", cmmWith("eth-first") + std::vector<std::string>{"--port", "8850", "--lifetime", "120"});
    ASSERT_TRUE(conmon.ready() && cmm.ready());

    dfutest::Recording calls;
    {
        DanteFirmwareUpdateModule front;
        // 1-3: the agent starts and sets the wanted interface (already the
        // current one), then the TFTP side serves the folder.
        const uint8_t mac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
        ASSERT_EQ(front.InitializeDfa(&calls, mac), DFU_OK);
        ASSERT_TRUE(calls.await("E6", 15000)) << ::testing::PrintToString(calls.calls());
        EXPECT_EQ(calls.calls(), (std::vector<std::string>{"E5", "E6"}));
        const uint8_t loopback[4] = {127, 0, 0, 1};
        const auto p0 = path160(u16(dir.file("module.dnt")));
        const auto p1 = path160(u"");
        ASSERT_EQ(front.InitializeTftp(loopback, 1999, p0.data(), p1.data()), DFU_OK);

        // 4: the list; the device is reported and its status stored, then
        // the window closes on the stepped clock.
        size_t from = calls.size();
        ASSERT_EQ(front.reqDeviceList(), DFU_OK);
        ASSERT_TRUE(postDevice("dev1"));
        ASSERT_TRUE(calls.await("E1", 10000, from)) << ::testing::PrintToString(calls.since(from));
        EXPECT_EQ(calls.since(from), (std::vector<std::string>{"E3", "E1"}));
        DfuDevice device{};
        ASSERT_TRUE(front.getDeviceStat("dev1", &device));
        const uint8_t address[4] = {127, 0, 0, 2};
        EXPECT_EQ(std::memcmp(device.ipv4, address, 4), 0);
        EXPECT_EQ(front.getDeviceModuleType("dev1"), DFU_MODULE_BKLYN2);
        bool closed = false;
        for (int i = 0; i < 4 && !closed; ++i) {
            clock.step(11);
            closed = calls.await("E2", 1000, from);
        }
        // The agent may still be on its way to the check that closes it.
        ASSERT_TRUE(closed || calls.await("E2", 10000, from)) << ::testing::PrintToString(calls.since(from));

        // 5: the target, its file, the start; the module fetches the file
        // from the front's server and reports its phases to the finish.
        from = calls.size();
        ASSERT_EQ(front.setTargetDevice("dev1"), DFU_OK);
        char16_t path[DFU_PATH_CHARS] = {};
        ASSERT_EQ(front.getDntFilePath("dev1", path), DFU_OK);
        EXPECT_EQ(std::u16string(path), u16(dir.file("module.dnt")));
        ASSERT_EQ(front.reqStartUpdateTargetDevice(), DFA_ERR_NOERR);
        const std::string crc
            = std::to_string(crc32(0, reinterpret_cast<const Bytef*>(file.data()), static_cast<uInt>(file.size())));
        EXPECT_TRUE(conmon.printed(
            {"TFTP", "dev1", "\"ok\":true", "\"bytes\":" + std::to_string(file.size()), "\"crc32\":" + crc}, 10000));
        ASSERT_TRUE(qtest::waitFor([&] { return front.getTargetUpdatePhase() == DFU_PHASE_FINISH; }, 10000))
            << ::testing::PrintToString(calls.since(from));
        const auto run = calls.since(from);
        EXPECT_EQ(run.front().substr(run.front().size() - 2), ":1") << "the transfer started first";
        EXPECT_NE(std::find(run.begin(), run.end(), "E4"), run.end());
        EXPECT_EQ(
            std::count_if(run.begin(), run.end(), [](const std::string& c) { return c[0] == 'D' || c[0] == 'A'; }), 0)
            << ::testing::PrintToString(run);
    }
    vsock_term();
}

} // namespace
