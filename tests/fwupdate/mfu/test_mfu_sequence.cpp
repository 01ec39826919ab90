// One unit's whole update against the simulated units of mfu_unit.py: the
// happy path of every expected model code, and a table of failures, each
// ending promptly with the right error type and the unit's connection
// closed. Port 1999 and the units' addresses live in the test's own
// network namespace.
#include "tests/fwupdate/mfu/mfu_driver.h"
#include "tests/fwupdate/mfu/mfu_fixture.h"

#include "fwupdate/mfu/mfu_sequence.h"
#include "pbd/vsock/vsock.h"
#include "tests/support/netns.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace mfutest;

std::string pattern(size_t size)
{
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>((i * 7 + i / 251) % 256);
    return out;
}

std::vector<std::string> commandLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream in(qtest::readFile(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class MfuSequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qtest::insideTestNetns())
            return;
        if (getenv("MFU_TRACE"))
            mfu_setLogSink([](const char* line) { fprintf(stderr, "LOG %s\n", line); });
        ASSERT_EQ(qtest::runCommand("ip link set lo up"), 0);
        oswrap_init();
        ASSERT_EQ(vsock_init(), VSOCK_OK);
        file = work.file("fw.bin");
        ASSERT_TRUE(qtest::writeFile(file, content));
    }
    void TearDown() override
    {
        if (!qtest::insideTestNetns())
            return;
        vsock_term();
    }

    std::string unit(const std::string& address, const std::string& knobs) const
    {
        return address + ",expect=" + file + (knobs.empty() ? "" : "," + knobs);
    }

    // Gets the sequence ready, then runs the update; the events it gave.
    // jumpMs: how far the tick jumps every 200 ms of real time, before and
    // after the start.
    void runUpdate(QuilMfuSequence& sequence, TaskDriver& driver, const std::string& address, uint32_t model,
        const char* version = "V2.10", uint32_t jumpBefore = 0, uint32_t jumpAfter = 0)
    {
        driver.sequence = &sequence;
        ASSERT_EQ(sequence.initialize(&driver, 3, "127.0.0.1", address.c_str(), file.c_str(), model, version), MFU_OK);
        ASSERT_EQ(sequence.getReady(), MFU_OK);
        ASSERT_TRUE(driver.run([&] { return !sequence.running(); }, 30000, jumpBefore));
        if (sequence.step() == MFU_STEP_WAIT_RUN) {
            ASSERT_EQ(sequence.startUpdate(), MFU_OK);
            ASSERT_TRUE(driver.run([&] { return !sequence.running(); }, 60000, jumpAfter));
        }
        EXPECT_EQ(sequence.step(), MFU_STEP_END);
        if (getenv("MFU_TRACE"))
            fprintf(stderr, "error type %u\n", sequence.errorType());
    }

    qtest::TempDir work;
    std::string file;
    std::string content = pattern(70000);
};

// Events: 1, then 4 per transfer percent (rising), then 3 and 5s when the
// unit writes, then 6 last.
void expectEventOrder(const std::vector<int32_t>& events, bool writes, bool transferSeen)
{
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front(), MFU_EVENT_START_WAIT);
    EXPECT_EQ(events.back(), MFU_EVENT_FINISHED);
    size_t i = 1;
    size_t transfers = 0;
    while (i < events.size() && events[i] == MFU_EVENT_TRANSFER_PROGRESS)
        ++i, ++transfers;
    // A short transfer may end within one tick and show no progress.
    if (transferSeen) {
        EXPECT_GT(transfers, 0u);
    }
    if (writes) {
        ASSERT_LT(i, events.size());
        EXPECT_EQ(events[i++], MFU_EVENT_WRITE_STARTED);
        size_t progress = 0;
        while (i < events.size() && events[i] == MFU_EVENT_WRITE_PROGRESS)
            ++i, ++progress;
        EXPECT_GT(progress, 0u);
    }
    EXPECT_EQ(i, events.size() - 1);
}

TEST_F(MfuSequence, ThirdGenerationPullsByTftpAndWrites)
{
    QTEST_IN_NETNS();
    UnitPeer peer(work.path(),
        {unit("127.0.0.2",
            "name=BroxL-D3,version=V1.00,protocols=tftp|xmodem-1k,write=20:60:100,push=1,sep=lfcr,split=3")});
    ASSERT_TRUE(peer.ready());
    // Big enough for the pull to span several ticks.
    content = pattern(3u << 20);
    ASSERT_TRUE(qtest::writeFile(file, content));
    TaskDriver driver;
    QuilMfuSequence sequence;
    runUpdate(sequence, driver, "127.0.0.2", 8);
    EXPECT_EQ(sequence.errorType(), MFU_SEQUENCE_ERR_NONE);
    EXPECT_EQ(sequence.versionRelation(), 1);
    EXPECT_TRUE(peer.waitFor("STORED 127.0.0.2 " + std::to_string(content.size()) + " ok"));
    EXPECT_TRUE(peer.waitFor("CLOSED 127.0.0.2"));
    EXPECT_TRUE(qtest::readFile(work.file("127.0.0.2.bin")) == content);
    expectEventOrder(driver.events, true, true);
    EXPECT_EQ(sequence.writePercent(), 100u);
    EXPECT_EQ(sequence.transferPercent(), 100u);

    const std::vector<std::string> lines = commandLines(work.file("127.0.0.2.cmd"));
    const std::vector<std::string> first
        = {"update get productname", "update get version", "update get protocol", "update erase _flashrom",
            "update request get tftp://127.0.0.1:1999/fw.bin", "update get updatestate", "update write"};
    ASSERT_GT(lines.size(), first.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 7), first);
    for (size_t i = first.size(); i < lines.size(); ++i)
        EXPECT_EQ(lines[i], "update get updatestate");
}

struct PushCase {
    const char* name;
    uint32_t model;
    std::string knobs;
    std::vector<std::string> commands;
    int32_t relation;
    const char* packageVersion = "V2.10";
};

TEST_F(MfuSequence, SecondGenerationAndOlderPushByXModem)
{
    QTEST_IN_NETNS();
    const std::vector<PushCase> cases = {
        {"BroxL-D2", 7, "name=BroxL-D2,version=V1.00,protocols=xmodem-1k|tftp,sep=cr",
            {"update get productname", "update get version", "update get protocol", "update erase _flashrom",
                "update fileput xmodem-1k", "update get updatestate"},
            1},
        {"BroxM-D2 with a sub image", 7, "name=BroxM-D2,version=V200,protocols=xmodem-1k,split=2",
            {"update get productname", "update get version", "update get protocol",
                "update erase _flashrom Brox-D2_V2.10", "update fileput xmodem-1k Brox-D2_V2.10",
                "update get updatestate"},
            -1},
        {"Sorn-D", 3, "name=Sorn-D16,version=V2.10,protocols=xmodem-crc",
            {"update get productname", "update get version", "update get protocol", "update erase _flashrom",
                "update fileput xmodem-1k", "update get updatestate"},
            0, "V210"},
        {"PellM-D2", 4, "name=PellM-D2,version=V1.00,protocols=xmodem-1k,sep=lfcr",
            {"update get productname", "update get version", "update get protocol", "update erase _flashrom",
                "update fileput xmodem-1k", "update get updatestate"},
            1},
        {"Z-Series", 1, "name=Z-Series 24,version=V3.00,protocols=xmodem-sum|xmodem-1k",
            {"update get productname", "update get version", "update get protocol", "update erase _flashrom",
                "update fileput xmodem-1k", "update get updatestate"},
            -1},
    };
    std::vector<std::string> specs;
    for (size_t i = 0; i < cases.size(); ++i)
        specs.push_back(unit("127.0.0." + std::to_string(10 + i), cases[i].knobs));
    UnitPeer peer(work.path(), specs);
    ASSERT_TRUE(peer.ready());
    for (size_t i = 0; i < cases.size(); ++i) {
        const PushCase& c = cases[i];
        SCOPED_TRACE(c.name);
        const std::string address = "127.0.0." + std::to_string(10 + i);
        TaskDriver driver;
        QuilMfuSequence sequence;
        runUpdate(sequence, driver, address, c.model, c.packageVersion);
        EXPECT_EQ(sequence.errorType(), MFU_SEQUENCE_ERR_NONE);
        EXPECT_EQ(sequence.versionRelation(), c.relation);
        EXPECT_TRUE(peer.waitLine([&](const std::string& l) {
            return l.rfind("STORED " + address + " ", 0) == 0 && l.find(" ok") != std::string::npos;
        }));
        EXPECT_TRUE(peer.waitFor("CLOSED " + address));
        expectEventOrder(driver.events, false, false);
        EXPECT_EQ(commandLines(work.file(address + ".cmd")), c.commands);
        EXPECT_EQ(sequence.transferPercent(), 100u);
    }
}

struct FailureCase {
    const char* name;
    std::string knobs;
    uint32_t model;
    uint32_t errorType;
    uint32_t jumpBefore;
    uint32_t jumpAfter;
    int maxRealMs; // the job ends within this
};

TEST_F(MfuSequence, FailuresEndTheJobWithTheirErrorType)
{
    QTEST_IN_NETNS();
    const std::vector<FailureCase> cases = {
        {"no answer to the product name", "name=BroxL-D2,fault=silent_name", 7, MFU_SEQUENCE_ERR_GET_INFO, 1000, 0,
            5000},
        {"refused model", "name=Mavik-D,protocols=tftp", 7, MFU_SEQUENCE_ERR_GET_INFO, 0, 0, 3000},
        {"version error on erase", "name=BroxL-D2,fault=erase_version", 7, MFU_SEQUENCE_ERR_ERASE, 0, 0, 3000},
        {"unit cancels, then ERROR STORAGE", "name=BroxL-D2,fault=can_storage", 7, MFU_SEQUENCE_ERR_TRANSFER, 0, 0,
            4000},
        {"unit closes mid-transfer", "name=BroxL-D2,fault=close_mid", 7, MFU_SEQUENCE_ERR_TRANSFER, 0, 0, 4000},
        {"NAK storm", "name=BroxL-D2,fault=nak_storm", 7, MFU_SEQUENCE_ERR_TRANSFER, 0, 0, 6000},
        {"write silent for 30 s", "name=BroxL-D3,protocols=tftp,write=10:20,fault=write_silent", 8,
            MFU_SEQUENCE_ERR_WRITE, 0, 2000, 8000},
        {"state never READY", "name=BroxL-D2,fault=never_ready", 7, MFU_SEQUENCE_ERR_GET_INFO, 0, 1000, 8000},
        {"connection refused", "fault=refuse", 7, MFU_SEQUENCE_ERR_CONNECTION, 1000, 0, 5000},
    };
    std::vector<std::string> specs;
    for (size_t i = 0; i < cases.size(); ++i)
        specs.push_back(unit("127.0.0." + std::to_string(20 + i), cases[i].knobs));
    UnitPeer peer(work.path(), specs);
    ASSERT_TRUE(peer.ready());
    for (size_t i = 0; i < cases.size(); ++i) {
        const FailureCase& c = cases[i];
        SCOPED_TRACE(c.name);
        const std::string address = "127.0.0." + std::to_string(20 + i);
        TaskDriver driver;
        QuilMfuSequence sequence;
        const auto start = std::chrono::steady_clock::now();
        runUpdate(sequence, driver, address, c.model, "V2.10", c.jumpBefore, c.jumpAfter);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, std::chrono::milliseconds(c.maxRealMs));
        EXPECT_EQ(sequence.errorType(), c.errorType);
        ASSERT_FALSE(driver.events.empty());
        EXPECT_EQ(driver.events.back(), MFU_EVENT_FINISHED);
        EXPECT_EQ(sequence.link().linkState(), MFU_LINK_IDLE);
        EXPECT_EQ(driver.versionErrorFlag(3), c.errorType == MFU_SEQUENCE_ERR_ERASE ? 1 : 0);
        if (c.errorType != MFU_SEQUENCE_ERR_CONNECTION) {
            EXPECT_TRUE(peer.waitFor("CLOSED " + address));
        }
    }
}

// A pull that failed ends its server with the job: the next unit's pull
// serves on port 1999 again, though the failed job's sequence still exists
// (the manager keeps every sequence to the end of the run).
TEST_F(MfuSequence, FailedTftpPullFreesItsPortForTheNextUnit)
{
    QTEST_IN_NETNS();
    // The first unit fetches the file but expected another one, so it
    // answers every pull with ERROR STORAGE.
    const std::string other = work.file("other.bin");
    ASSERT_TRUE(qtest::writeFile(other, pattern(1000)));
    UnitPeer peer(work.path(),
        {unit("127.0.0.40", "name=BroxL-D3,protocols=tftp,write=100") + ",expect=" + other,
            unit("127.0.0.41", "name=BroxL-D3,protocols=tftp,write=100")});
    ASSERT_TRUE(peer.ready());
    TaskDriver failing;
    QuilMfuSequence first;
    runUpdate(first, failing, "127.0.0.40", 8);
    EXPECT_EQ(first.errorType(), MFU_SEQUENCE_ERR_TRANSFER);
    TaskDriver passing;
    QuilMfuSequence second;
    runUpdate(second, passing, "127.0.0.41", 8);
    EXPECT_EQ(second.errorType(), MFU_SEQUENCE_ERR_NONE);
    EXPECT_TRUE(qtest::readFile(work.file("127.0.0.41.bin")) == content);
}

TEST_F(MfuSequence, UnreadableUnitVersionCountsAsOlder)
{
    QTEST_IN_NETNS();
    UnitPeer peer(work.path(), {unit("127.0.0.40", "name=BroxL-D2,version=1.00")});
    ASSERT_TRUE(peer.ready());
    TaskDriver driver;
    QuilMfuSequence sequence;
    driver.sequence = &sequence;
    ASSERT_EQ(sequence.initialize(&driver, 0, "127.0.0.1", "127.0.0.40", file.c_str(), 7, "V2.10"), MFU_OK);
    ASSERT_EQ(sequence.getReady(), MFU_OK);
    ASSERT_TRUE(driver.run([&] { return !sequence.running(); }));
    EXPECT_EQ(sequence.step(), MFU_STEP_WAIT_RUN);
    EXPECT_EQ(driver.events, std::vector<int32_t>{MFU_EVENT_START_WAIT});
    EXPECT_EQ(sequence.versionRelation(), 1);
    char version[16];
    ASSERT_EQ(sequence.unitVersion(version, sizeof(version)), MFU_OK);
    EXPECT_STREQ(version, "1.00");
    // Not started: the update waits, and destroying it closes the link.
    EXPECT_EQ(sequence.getReady(), MFU_E_FAIL);
    sequence.destroy();
    EXPECT_TRUE(peer.waitFor("CLOSED 127.0.0.40"));
}

} // namespace
