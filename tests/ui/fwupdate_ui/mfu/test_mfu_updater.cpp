// The model firmware updater: engine codes become window callbacks on the
// GUI thread, and several simulated units are prepared and then updated one
// after another through the real MFU task.
#include "ui/fwupdate_ui/fw_modelupdater.h"

#include "app/app_log.h"
#include "device/layouts/dev_modeltypes.h"
#include "pbd/vsock/vsock.h"
#include "tests/fwupdate/mfu/mfu_driver.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <map>
#include <thread>

namespace {

using namespace Quil;

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "test_mfu_updater";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return *instance;
}

// Records the window calls with the thread they came on.
class RecordingWindow : public IModelUICallback {
public:
    void modelCallback(uint32_t kind, uint32_t unitId) override
    {
        calls.emplace_back(kind, unitId);
        onGuiThread = onGuiThread && std::this_thread::get_id() == guiThread;
        if (kind == MODEL_CB_WRITING_PROGRESS && updater) {
            int32_t overall = -1;
            updater->overallProgress(&overall);
            writing[unitId].push_back(overall);
        }
    }
    int32_t deviceName(uint32_t, char*) override { return static_cast<int32_t>(0x80000000u); }
    bool unitIdOf(const char*, uint32_t*) override { return false; }

    std::vector<uint32_t> of(uint32_t unitId) const
    {
        std::vector<uint32_t> kinds;
        for (const auto& c : calls) {
            if (c.second == unitId)
                kinds.push_back(c.first);
        }
        return kinds;
    }
    bool ended(uint32_t unitId) const
    {
        for (uint32_t kind : of(unitId)) {
            if (kind == MODEL_CB_FINISHED || kind == MODEL_CB_ERROR)
                return true;
        }
        return false;
    }

    std::thread::id guiThread = std::this_thread::get_id();
    bool onGuiThread = true;
    IModelFirmUpdater* updater = nullptr;
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    std::map<uint32_t, std::vector<int32_t>> writing;
};

template <class Pred> bool spin(Pred pred, int timeoutMs, const std::function<void()>& each = {})
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (each)
            each();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TEST(MfuUpdaterCodes, ExpectedModelFromTheDeviceType)
{
    const std::pair<int32_t, uint32_t> rows[]
        = {{MODEL_NONE, 11}, {MODEL_BROXL_D, 1}, {MODEL_BROXM_D, 1}, {MODEL_BROXI_D, 1}, {MODEL_BROXO_D, 1},
            {MODEL_SORN_D, 3}, {MODEL_MAVIK_D, 11}, {MODEL_PELLM_D, 4}, {MODEL_BROXL_D2, 7}, {MODEL_BROXM_D2, 7},
            {MODEL_PELLM_D2, 4}, {MODEL_BROXL_D3, 8}, {MODEL_BROXM_D3, 8}, {13, 11}, {-1, 11}};
    for (const auto& row : rows)
        EXPECT_EQ(modelCodeOfDeviceType(row.first), row.second) << row.first;
}

TEST(MfuUpdaterCodes, EngineCodesBecomeWindowCallbacksOnTheGuiThread)
{
    app();
    oswrap_init();
    qtest::TempDir dir;
    const std::string logPath = dir.file("app.log");
    ASSERT_EQ(appLogSetPath(logPath.c_str()), APPLOG_OK);
    RecordingWindow window;
    auto updater = std::make_unique<ModelFirmUpdater>();
    window.updater = updater.get();
    ASSERT_EQ(updater->init(&window, "127.0.0.1", "/tmp/fw.bin", MODEL_BROXL_D3, "V2.00a"), 0);
    EXPECT_EQ(updater->expectedModel(), 8u);
    int32_t overall = -1;
    updater->overallProgress(&overall);
    EXPECT_EQ(overall, 0);
    // The engine calls from its own thread.
    std::thread engine([&] {
        for (uint32_t code = 0; code <= 8; ++code)
            updater->mfuAppCallback(code, code + 10);
    });
    engine.join();
    EXPECT_TRUE(window.calls.empty()); // nothing before the GUI thread runs
    ASSERT_TRUE(spin([&] { return window.calls.size() >= 6; }, 5000));
    QCoreApplication::processEvents();
    const std::vector<std::pair<uint32_t, uint32_t>> expected
        = {{MODEL_CB_WAITING_START, 11}, {MODEL_CB_WRITING_PROGRESS, 13}, {MODEL_CB_TRANSFER_PROGRESS, 14},
            {MODEL_CB_WRITING_PROGRESS, 15}, {MODEL_CB_FINISHED, 16}, {MODEL_CB_ERROR, 17}};
    EXPECT_EQ(window.calls, expected);
    EXPECT_TRUE(window.onGuiThread);
    const std::string log = qtest::readFile(logPath);
    EXPECT_NE(log.find("MFU_CALLBACK_WAITING_START : index 11\n"), std::string::npos);
    EXPECT_NE(log.find("MFU_CALLBACK_FINISH : index 16\n"), std::string::npos);
    EXPECT_NE(log.find("MFU_CALLBACK_ERROR : index 17\n"), std::string::npos);

    // Destroying the updater destroys its engine: a new one can run.
    updater->mfuAppCallback(MFU_APP_FINISHED, 3);
    updater.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.of(3), std::vector<uint32_t>{});
    FirmwareUpdateManager next;
    EXPECT_TRUE(next.started());
}

struct UnitPlan {
    std::string address;
    std::string knobs;
    bool fails;
};

class MfuUpdaterUnits : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qtest::insideTestNetns())
            return;
        app();
        ASSERT_EQ(qtest::runCommand("ip link set lo up"), 0);
        oswrap_init();
        ASSERT_EQ(vsock_init(), VSOCK_OK);
    }
    void TearDown() override
    {
        if (qtest::insideTestNetns())
            vsock_term();
    }

    // Prepares every unit, then starts them one after another, as a run
    // does; checks each unit's calls and its stored file.
    void runBatch(int32_t deviceType, const std::string& file, const std::vector<UnitPlan>& units, bool writes)
    {
        std::vector<std::string> specs;
        for (const UnitPlan& u : units)
            specs.push_back(u.address + "," + u.knobs + ",expect=" + file);
        mfutest::UnitPeer peer(work.path(), specs);
        ASSERT_TRUE(peer.ready());
        RecordingWindow window;
        ModelFirmUpdater updater;
        window.updater = &updater;
        ASSERT_EQ(updater.init(&window, "127.0.0.1", QString::fromStdString(file), deviceType, "V2.00a"), 0);
        for (uint32_t i = 0; i < units.size(); ++i)
            ASSERT_EQ(updater.prepare(i, QString::fromStdString(units[i].address)), 0) << units[i].address;
        // The window's forwarders run while the task works.
        auto poke = [&] {
            int32_t value = 0;
            for (uint32_t i = 0; i < units.size(); ++i) {
                updater.unitFirmwareVersion(i);
                updater.versionRelation(i);
                updater.transferPercent(i, &value);
                updater.versionError(i);
            }
            updater.overallProgress(&value);
        };
        ASSERT_TRUE(spin(
            [&] {
                for (uint32_t i = 0; i < units.size(); ++i) {
                    if (window.of(i).empty())
                        return false;
                }
                return true;
            },
            20000, poke));
        for (uint32_t i = 0; i < units.size(); ++i) {
            SCOPED_TRACE(units[i].address);
            ASSERT_EQ(window.of(i), std::vector<uint32_t>{MODEL_CB_WAITING_START});
            EXPECT_EQ(updater.versionRelation(i), 1);
            EXPECT_EQ(updater.unitFirmwareVersion(i), QStringLiteral("V1.00"));
            ASSERT_EQ(updater.startUpdate(i), 0);
            ASSERT_TRUE(spin([&] { return window.ended(i); }, 30000, poke));
            const std::vector<uint32_t> kinds = window.of(i);
            EXPECT_EQ(kinds.back(), units[i].fails ? MODEL_CB_ERROR : MODEL_CB_FINISHED);
            for (size_t k = 1; k + 1 < kinds.size(); ++k)
                EXPECT_TRUE(kinds[k] == MODEL_CB_TRANSFER_PROGRESS || kinds[k] == MODEL_CB_WRITING_PROGRESS);
            if (units[i].fails)
                continue;
            EXPECT_TRUE(peer.waitLine([&](const std::string& l) {
                return l.rfind("STORED " + units[i].address + " ", 0) == 0 && l.find(" ok") != std::string::npos;
            }));
            if (writes) {
                // Overall progress while writing is this unit's write percent.
                const std::vector<int32_t>& overall = window.writing[i];
                ASSERT_FALSE(overall.empty());
                for (int32_t v : overall)
                    EXPECT_TRUE(v == 0 || v == 30 || v == 70 || v == 100) << v;
                // The last percent may arrive with the end of the write,
                // in the tick that leaves the writing step.
                EXPECT_GE(overall.back(), 30);
            }
        }
        EXPECT_TRUE(window.onGuiThread);
    }

    qtest::TempDir work;
};

TEST_F(MfuUpdaterUnits, SeveralUnitsPreparedThenUpdatedOneAfterAnother)
{
    QTEST_IN_NETNS();
    const std::string pulled = work.file("d3.bin");
    const std::string pushed = work.file("d2.bin");
    std::string content(1u << 20, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 13 + (i >> 9));
    ASSERT_TRUE(qtest::writeFile(pulled, content));
    ASSERT_TRUE(qtest::writeFile(pushed, content.substr(0, 200000)));

    // Third generation: pull by TFTP on port 1999, one at a time.
    const std::string d3 = "name=BroxL-D3,version=V1.00,protocols=tftp|xmodem-1k,write=30:70:100";
    runBatch(MODEL_BROXL_D3, pulled,
        {{"127.0.0.2", d3, false}, {"127.0.0.3", d3 + ",push=1", false}, {"127.0.0.4", d3 + ",sep=lfcr", false},
            {"127.0.0.5", d3 + ",fault=erase_version", true}},
        true);
    // Second generation: pushed by XMODEM through rx.
    const std::string d2 = "name=BroxL-D2,version=V1.00,protocols=xmodem-1k";
    runBatch(MODEL_BROXL_D2, pushed,
        {{"127.0.0.6", d2, false}, {"127.0.0.7", d2 + ",sep=cr", false}, {"127.0.0.8", d2 + ",fault=close_mid", true},
            {"127.0.0.9", d2 + ",split=3", false}},
        false);
}

} // namespace
