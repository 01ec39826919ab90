// The firmware update window with simulated units in the namespace bed: each
// unit answers its update-mode connection (quillon_simunit) and its command
// link (mfu_unit.py) on its own address; the rack owner is real and knows
// the units by the announcements the test feeds it; the Dante agent runs on
// fakes of the Dante services and its device list is scripted.
#include "app/app_log.h"
#include "app/app_quilobject.h"
#include "app/app_rackobject.h"
#include "tests/fwupdate/dfu/dfu_fixture.h"
#include "tests/fwupdate/package/fwpkg_fixture.h"
#include "tests/support/gui/gui_support.h"
#include "tests/support/gui/modal_driver.h"
#include "tests/support/netns.h"
#include "tests/support/rack_fixture.h"
#include "tests/support/unit_process.h"
#include "tests/ui/fwupdate_ui/dante_fakes.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace Quil;
using fwpkgtest::Texts;
using fwpkgtest::word;

constexpr int kWaitMs = 15000;
const uint32_t kV123a = fwpkgtest::version('V', 1, 23, 0);

std::string danteWord(int a, int b, int c)
{
    return word(uint32_t(a) << 24 | uint32_t(b) << 16 | uint32_t(c) << 8);
}

qtest::UnitSpec unitAt(int host, const std::string& name, const std::string& unitId)
{
    qtest::UnitSpec spec;
    spec.modelType = MODEL_BROXL_D2;
    spec.host = host;
    spec.deviceName = name;
    spec.unitId = unitId;
    return spec;
}

// A Dante device of this name on a Brooklyn-2 module.
DfaDeviceInfo danteDevice(const std::string& name, int major, int minor, int bugfix)
{
    DfaDeviceInfo d = dfutest::deviceNamed(name.c_str(), "Bklyn2");
    d.dante_fw_version.major = static_cast<uint8_t>(major);
    d.dante_fw_version.minor = static_cast<uint8_t>(minor);
    d.dante_fw_version.bugfix = static_cast<uint16_t>(bugfix);
    d.manf_sw_version.major = 4;
    d.manf_sw_version.minor = 2;
    d.manf_sw_version.bugfix = 1;
    return d;
}

class FirmWindowUnits : public fwpkgtest::PackageSandbox {
protected:
    void SetUp() override
    {
        // Made before the agent's system is started, as the program does.
        rack = std::make_unique<racktest::RackFixture>(100, bedDiscovery());
        fwpkgtest::PackageSandbox::SetUp();
        const uint8_t mac[6] = {0x02, 0x51, 0x00, 0x00, 0x00, 0x01};
        dante.install(mac, true);
    }
    void TearDown() override
    {
        EXPECT_TRUE(dante.remove());
        rack.reset();
        fwpkgtest::PackageSandbox::TearDown();
    }

    // Starts the units and, with knobs, their command links (one knob text
    // for all, or one per unit); the rack owner is put on the bed's
    // interface, where it finds the units by their announcements.
    bool startUnits(const std::vector<qtest::UnitSpec>& specs, const std::vector<std::string>& linkKnobs)
    {
        if (!bed.ready() || !units.start(specs)) {
            m_error = bed.ready() ? units.error() : bed.error();
            return false;
        }
        if (!linkKnobs.empty()) {
            std::vector<std::string> args = {"--work", work.path()};
            for (size_t i = 0; i < units.size(); ++i)
                args.insert(
                    args.end(), {"--unit", units[i].address() + "," + linkKnobs[std::min(i, linkKnobs.size() - 1)]});
            links = std::make_unique<qtest::ChildProcess>(bed.inPeer(qtest::pythonPeer("mfu_unit.py", args)));
            std::string line;
            if (!links->readLine(&line, 10000) || line != "READY") {
                m_error = "mfu_unit.py: " + line;
                return false;
            }
        }
        if (!rack->ready()) {
            m_error = "rack owner";
            return false;
        }
        core().setNetworkInterface(QString::fromLatin1(qtest::NetnsBed::kLocalMac),
            QString::fromLatin1(qtest::NetnsBed::kLocalAddress), false);
        if (!waitFound(units.size())) {
            m_error = "the rack owner did not find every unit";
            return false;
        }
        return true;
    }
    bool waitFound(size_t count)
    {
        return qtest::waitUntil(
            [&] {
                QMap<QString, DeviceEntry> found;
                core().getFoundDevices(&found);
                return found.size() == static_cast<int>(count);
            },
            kWaitMs);
    }
    QuilObject& core() { return rack->rack(); }
    static DiscoveryOptions bedDiscovery()
    {
        DiscoveryOptions o;
        o.ageingTickMs = 50;
        o.ageingTicks = 4;
        o.announcePeriodMs = 200;
        return o;
    }
    static QString keyOf(qtest::UnitProcess& unit) { return QString::fromStdString(unit.unitId() + "-" + unit.mac()); }
    std::string error() const { return m_error; }

    // Chooses the package through the real dialog; messages are answered
    // with OK and returned as "title|text".
    QStringList choose(FirmUpdateUI* window, const std::string& path, int messages = 0)
    {
        qtest::ModalDriver driver(kWaitMs);
        driver.typeFileName(QString::fromStdString(path));
        for (int i = 0; i < messages; ++i)
            driver.pressButton(QStringLiteral("OK"));
        QTest::mouseClick(window->form().m_btnFileSelect, Qt::LeftButton);
        EXPECT_TRUE(driver.waitAllAnswered(kWaitMs));
        return seenMessages(driver);
    }
    static QStringList seenMessages(const qtest::ModalDriver& driver)
    {
        QStringList texts;
        for (const auto& seen : driver.seen())
            if (seen.kind == QLatin1String("message"))
                texts << seen.title + "|" + seen.text;
        return texts;
    }
    // A BroxL-D2 package with a Brooklyn-2 Dante file of 4.2.7.
    std::string dantePackage()
    {
        EXPECT_TRUE(dfutest::makeDnt(src, "v3_wildcard", "b2.dnt"));
        return package("dante.bin", 16, "QuilBroxL-D2",
            word(kV123a) + danteWord(4, 2, 7) + word(0) + danteWord(4, 0, 0),
            {"data/", "data/fw.BIN=" + firmware, "data/b2.dnt=" + src + "/b2.dnt"});
    }
    // The window on the rack owner, shown, once the agent has set its Dante
    // interface.
    bool openWithAgent(FirmUpdateUI* window)
    {
        return window->init(&core()) == 0 && qtest::waitUntil([&] { return window->danteAgentResult() == 0; }, kWaitMs)
            && qtest::showAndWait(window);
    }
    // Every row waits for the Dante list.
    static bool waitListAsked(const FirmUpdateUI& window)
    {
        return qtest::waitUntil(
            [&] {
                return !window.rows().empty()
                    && std::all_of(window.rows().begin(), window.rows().end(),
                        [](const auto& r) { return r->danteState() == DeviceObject::Analyzing; });
            },
            kWaitMs);
    }
    // The agent's list: these devices, then the end of its window.
    static void answerList(std::initializer_list<const char*> names)
    {
        for (const char* name : names)
            dfutest::feed(DFA_ERR_NOERR, DFA_CBACK_INF_DEVICE, danteDevice(name, 4, 0, 0));
        dfutest::feed(DFA_ERR_DURATION_EXPIRE, DFA_CBACK_INF_DEVICE_LIST, dfutest::Empty{});
    }
    static bool waitReady(const FirmUpdateUI& window)
    {
        return qtest::waitUntil([&] { return window.uiState() == FirmUpdateUI::UPDATE_UI_READY; }, kWaitMs);
    }
    FirmWindowTimings timings() const
    {
        FirmWindowTimings t;
        t.rows.updateModeMs = 1500;
        return t;
    }

    qtest::NetnsBed bed;
    qtest::UnitRack units{bed};
    qtest::TempDir work;
    std::unique_ptr<qtest::ChildProcess> links;
    std::unique_ptr<racktest::RackFixture> rack;
    fwwindowtest::DanteFakes dante;
    dfutest::TempLog log;
    std::string m_error;
};

} // namespace

// A package with Dante files: the rows connect, the Dante list is asked
// once all have, each unit's Dante module is matched by its name and its
// versions shown, then the model sides are analysed through update mode and
// the command link. A unit the list lacks shows "Dante Network Setting
// Failed" and keeps only its model side.
TEST_F(FirmWindowUnits, DanteModeChainToReady)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(startUnits({unitAt(2, "Stage A", "J0A1"), unitAt(3, "Stage B", "J0A2")},
        {"name=BroxL-D2,version=V1.00,protocols=xmodem-1k"}))
        << error();
    const std::string package = dantePackage();

    FirmUpdateUI window(nullptr, {}, createModelFirmUpdater, timings());
    ASSERT_TRUE(openWithAgent(&window));
    EXPECT_TRUE(choose(&window, package).isEmpty());
    ASSERT_EQ(window.rows().size(), 2u);
    EXPECT_EQ(window.uiState(), FirmUpdateUI::UPDATE_UI_DEVICE_ANALYZING);
    // The list is asked once both rows have connected.
    ASSERT_TRUE(waitListAsked(window));
    EXPECT_EQ(window.uiState(), FirmUpdateUI::UPDATE_UI_DEVICE_ANALYZING);

    qtest::ModalDriver driver(kWaitMs);
    driver.pressButton(QStringLiteral("OK"));
    answerList({"Stage A"});
    ASSERT_TRUE(waitReady(window));
    EXPECT_TRUE(driver.waitAllAnswered(kWaitMs));
    const QStringList messages = seenMessages(driver);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "CAUTION|" + firmMessages().danteSettingFailed.body);

    const DeviceObject* a = window.rowByDeviceName(QStringLiteral("Stage A"));
    const DeviceObject* b = window.rowByDeviceName(QStringLiteral("Stage B"));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->danteVersion(), "4.0.0 ,  4.2.1");
    EXPECT_EQ(a->danteModule(), "Brooklyn-2");
    EXPECT_TRUE(a->danteChecked()) << "the file's 4.2.7 is newer";
    EXPECT_TRUE(b->danteVersion().isEmpty());
    EXPECT_FALSE(b->danteChecked());
    for (const DeviceObject* row : {a, b}) {
        EXPECT_EQ(row->modelState(), DeviceObject::Analyzed);
        EXPECT_EQ(row->modelVersion(), "V1.00");
        EXPECT_TRUE(row->modelChecked());
    }
    EXPECT_TRUE(window.form().m_btnUpdate->isEnabled());
}

// A model-only package: a unit already in update mode is switched off and
// on; a unit that never switches fails its model side after the wait; the
// window's end leaves every unit out of update mode.
TEST_F(FirmWindowUnits, UpdateModeOnAndOff)
{
    QTEST_IN_NETNS();
    qtest::UnitSpec inUpdate = unitAt(2, "Stage A", "J0B1");
    inUpdate.runmode = "update";
    ASSERT_TRUE(startUnits({inUpdate, unitAt(3, "Stage B", "J0B2"), unitAt(4, "Stage C", "J0B3")},
        {"name=BroxL-D2,version=V1.00,protocols=xmodem-1k"}))
        << error();
    ASSERT_TRUE(units[1].fwModeSilent(true));
    const std::string package = this->package("model.bin", 16, "QuilBroxL-D2", word(kV123a), firmwareEntries());
    log.clear();
    {
        FirmUpdateUI window(nullptr, {}, createModelFirmUpdater, timings());
        window.init(&core());
        ASSERT_TRUE(qtest::showAndWait(&window));
        EXPECT_TRUE(choose(&window, package).isEmpty());
        EXPECT_FALSE(window.danteMode());
        ASSERT_EQ(window.rows().size(), 3u);
        ASSERT_TRUE(waitReady(window));
        const DeviceObject* a = window.rowByDeviceName(QStringLiteral("Stage A"));
        const DeviceObject* b = window.rowByDeviceName(QStringLiteral("Stage B"));
        const DeviceObject* c = window.rowByDeviceName(QStringLiteral("Stage C"));
        ASSERT_TRUE(a && b && c);
        EXPECT_EQ(a->modelVersion(), "V1.00");
        EXPECT_TRUE(a->modelChecked());
        EXPECT_EQ(c->modelVersion(), "V1.00");
        EXPECT_TRUE(b->modelVersion().isEmpty()) << "the silent unit's model side failed";
        EXPECT_FALSE(b->modelChecked());
        EXPECT_EQ(units[0].runmode(), "update");
        EXPECT_EQ(units[2].runmode(), "update");
        EXPECT_TRUE(log.has("FirmUpdateUI : onReceiveUpdatemode : ON"));
        EXPECT_TRUE(log.has("FirmUpdateUI : onReceiveUpdatemode : OFF"));
        EXPECT_TRUE(log.has("!!! Timeout : receive updateMode On"));
        // Nothing of the Dante side ran.
        EXPECT_FALSE(log.has("All MFU are ready. Start DANTE search"));
    }
    // Each unit is switched on its own connection: one may still be on its
    // way when the other has switched.
    for (size_t unit : {0u, 2u})
        EXPECT_TRUE(qtest::waitUntil([&] { return units[unit].runmode() == "normal"; }, kWaitMs)) << unit;
}

// Rack links are found by unit number: the units of slots 1 and 4 (rows 0
// and 1) have their links closed before the analysis and asked for again
// when the window goes; slot 0, whose unit the package does not fit, stays
// up all along.
TEST_F(FirmWindowUnits, RackLinksOfListedUnitsAreClosedAndAskedForAgain)
{
    QTEST_IN_NETNS();
    qtest::UnitSpec other = unitAt(4, "Stage Other", "J001");
    other.modelType = MODEL_BROXL_D3;
    ASSERT_TRUE(startUnits({unitAt(2, "Stage A", "J002"), unitAt(3, "Stage B", "J005"), other},
        {"name=BroxL-D2,version=V1.00,protocols=xmodem-1k"}))
        << error();
    const auto state = [&](int slot) { return rack->value(slot, kConnectionStatePath); };
    ASSERT_TRUE(qtest::waitUntil([&] { return state(0) == 2 && state(1) == 2 && state(4) == 2; }, 20000))
        << state(0) << " " << state(1) << " " << state(4);
    const std::string package = this->package("model.bin", 16, "QuilBroxL-D2", word(kV123a), firmwareEntries());
    {
        FirmUpdateUI window(nullptr, {}, createModelFirmUpdater, timings());
        window.init(&core());
        ASSERT_TRUE(qtest::showAndWait(&window));
        EXPECT_TRUE(choose(&window, package).isEmpty());
        ASSERT_EQ(window.rows().size(), 2u);
        EXPECT_EQ(window.rows()[0]->unitNumber(), 2);
        EXPECT_EQ(window.rows()[1]->unitNumber(), 5);
        // Each link was down before its unit's row connected.
        EXPECT_EQ(window.suspendedSlots(), (QList<int>{1, 4}));
        EXPECT_EQ(state(1), 0);
        EXPECT_EQ(state(4), 0);
        EXPECT_TRUE(core().isConnected(0));
        ASSERT_TRUE(waitReady(window));
        for (const auto& row : window.rows()) {
            EXPECT_EQ(row->modelVersion(), "V1.00");
        }
        EXPECT_TRUE(core().isConnected(0));
    }
    EXPECT_TRUE(qtest::waitUntil([&] { return state(1) == 2 && state(4) == 2; }, 20000)) << state(1) << " " << state(4);
    EXPECT_TRUE(core().isConnected(0));
}

// A rack link still up when the bounded wait ends (a wait of 0 ms ends
// before the link thread can close it) fails that row's sides through their
// error handlers: the row never connects in update mode and the slot is not
// suspended, so closing the window asks for no link.
TEST_F(FirmWindowUnits, RackLinkThatOutlastsTheWaitFailsItsRow)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(startUnits({unitAt(2, "Stage A", "J002")}, {})) << error();
    const auto state = [&](int slot) { return rack->value(slot, kConnectionStatePath); };
    ASSERT_TRUE(qtest::waitUntil([&] { return state(1) == 2; }, 20000)) << state(1);
    const std::string package = this->package("model.bin", 16, "QuilBroxL-D2", word(kV123a), firmwareEntries());
    FirmWindowTimings t = timings();
    t.linkCloseMs = 0;
    {
        FirmUpdateUI window(nullptr, {}, createModelFirmUpdater, t);
        window.init(&core());
        ASSERT_TRUE(qtest::showAndWait(&window));
        EXPECT_TRUE(choose(&window, package).isEmpty());
        ASSERT_EQ(window.rows().size(), 1u);
        EXPECT_TRUE(window.suspendedSlots().isEmpty());
        EXPECT_TRUE(waitReady(window));
        const auto lines = log.lines();
        const auto logged = [&](const std::string& text) {
            return std::any_of(lines.begin(), lines.end(),
                [&](const std::string& line) { return line.find(text) != std::string::npos; });
        };
        EXPECT_TRUE(logged("[ERROR] Device Error : MODEL"));
        EXPECT_TRUE(logged("[ERROR] Device Error : DANTE"));
        EXPECT_FALSE(window.rows()[0]->isAssociated());
        EXPECT_EQ(window.rows()[0]->modelState(), DeviceObject::StateNone);
    }
    // The close asked of the link still goes through; nothing asks it back.
    EXPECT_TRUE(qtest::waitUntil([&] { return state(1) == 0; }, kWaitMs)) << state(1);
    QTest::qWait(500);
    EXPECT_EQ(state(1), 0);
}

// A "Brox-D3" package with the agent up: nothing reaches the Dante front,
// both third-generation models are listed and analysed as soon as they
// connect, and only the unit whose firmware is older is ticked.
TEST_F(FirmWindowUnits, ThirdGenerationPackageLeavesTheDanteSideAlone)
{
    QTEST_IN_NETNS();
    qtest::UnitSpec older = unitAt(2, "Stage A", "J0C1");
    older.modelType = MODEL_BROXL_D3;
    qtest::UnitSpec same = unitAt(3, "Stage B", "J0C2");
    same.modelType = MODEL_BROXM_D3;
    qtest::UnitSpec notFitting = unitAt(4, "Stage C", "J0C3");
    ASSERT_TRUE(startUnits({older, same, notFitting},
        {"name=BroxL-D3,version=V1.00,protocols=tftp|xmodem-1k",
            "name=BroxM-D3,version=V1.23b,protocols=tftp|xmodem-1k", "name=BroxL-D2,version=V1.00"}))
        << error();
    const std::string package = this->package(
        "d3.bin", 16, "Brox-D3", fwpkgtest::swappedWord(fwpkgtest::version('V', 1, 23, 1)), {"fw=" + firmware});

    FirmUpdateUI window(nullptr, {}, createModelFirmUpdater, timings());
    ASSERT_TRUE(openWithAgent(&window));
    log.clear();
    EXPECT_TRUE(choose(&window, package).isEmpty());
    EXPECT_TRUE(window.thirdGeneration());
    EXPECT_FALSE(window.danteMode());
    ASSERT_EQ(window.rows().size(), 2u);
    ASSERT_TRUE(waitReady(window));
    const DeviceObject* a = window.rowByDeviceName(QStringLiteral("Stage A"));
    const DeviceObject* b = window.rowByDeviceName(QStringLiteral("Stage B"));
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(a->modelChecked());
    EXPECT_EQ(b->modelState(), DeviceObject::Analyzed);
    EXPECT_FALSE(b->modelChecked()) << "the same version is not ticked";
    EXPECT_EQ(a->danteState(), DeviceObject::StateNone);
    EXPECT_TRUE(window.form().m_btnUpdate->isEnabled());
    EXPECT_FALSE(window.danteReady());
    EXPECT_FALSE(log.has("All MFU are ready. Start DANTE search"));
    EXPECT_FALSE(log.has("[DFU DEVICE LIST] clearDfuDeviceInfo")) << "no Dante list was asked for";
    EXPECT_EQ(window.danteFront()->deviceCount(), 0u);
}

// Which units a package lists: PellM-D lists PellM-D2, BroxL-D not BroxM-D;
// a package that fits no unit ends ready with an empty list.
TEST_F(FirmWindowUnits, FittingUnits)
{
    QTEST_IN_NETNS();
    const auto of = [](int type, int host, const char* id) {
        qtest::UnitSpec spec = unitAt(host, "Unit", id);
        spec.modelType = type;
        return spec;
    };
    ASSERT_TRUE(startUnits({of(MODEL_PELLM_D, 2, "J0D1"), of(MODEL_PELLM_D2, 3, "J0D2"), of(MODEL_BROXL_D, 4, "J0D3"),
                               of(MODEL_BROXM_D, 5, "J0D4")},
        {}))
        << error();
    const Texts paths = packages({
        {"pell.bin", 16, "QuilPellM-D", word(kV123a), firmwareEntries(), ""},
        {"brox.bin", 16, "QuilBroxL-D", word(kV123a), firmwareEntries(), ""},
        {"sorn.bin", 16, "QuilSorn-D", word(kV123a), firmwareEntries(), ""},
    });
    const struct {
        std::string path;
        std::vector<std::string> models;
    } rows[] = {
        {paths[0], {"PellM-D", "PellM-D2"}},
        {paths[1], {"BroxL-D"}},
        {paths[2], {}},
    };
    FirmUpdateUI window(nullptr, {}, createModelFirmUpdater, timings());
    window.init(&core());
    ASSERT_TRUE(qtest::showAndWait(&window));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_TRUE(choose(&window, row.path).isEmpty());
        std::vector<std::string> models;
        for (const auto& r : window.rows())
            models.push_back(r->modelName().toStdString());
        EXPECT_EQ(models, row.models);
        EXPECT_TRUE(waitReady(window));
    }
    EXPECT_FALSE(window.form().m_btnUpdate->isEnabled());
}

// Units that come and go while the window analyses are handled once it is
// ready: a new fitting unit shows "NEW DEVICE FOUND" and is analysed (its
// Dante side; it has no command link), a name announced twice is handled
// once, a lost unit drops its link.
TEST_F(FirmWindowUnits, DiscoveryWhileBusy)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(startUnits({unitAt(2, "Stage A", "J0E1"), unitAt(3, "Stage B", "J0E2")},
        {"name=BroxL-D2,version=V1.00,protocols=xmodem-1k"}))
        << error();
    const std::string package = dantePackage();
    FirmUpdateUI window(nullptr, {}, createModelFirmUpdater, timings());
    ASSERT_TRUE(openWithAgent(&window));

    EXPECT_TRUE(choose(&window, package).isEmpty());
    ASSERT_TRUE(waitListAsked(window));
    // While the window waits for the list: a new unit, the same name twice
    // and a unit lost.
    qtest::UnitSpec late = unitAt(4, "Stage C", "J0E3");
    ASSERT_TRUE(units.add(late)) << units.error();
    ASSERT_TRUE(waitFound(3));
    const QString lateKey = keyOf(units[2]);
    const QString lostKey = keyOf(units[1]);
    window.onJsdpFoundDevice(lateKey);
    window.onJsdpLostDevice(lostKey);
    window.onJsdpLostDevice(lostKey);
    EXPECT_EQ(window.rows().size(), 2u) << "nothing is handled while busy";

    qtest::ModalDriver driver(kWaitMs);
    driver.pressButton(QStringLiteral("OK"));
    answerList({"Stage A", "Stage B", "Stage C"});
    ASSERT_TRUE(driver.waitAllAnswered(kWaitMs));
    QStringList messages = seenMessages(driver);
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_EQ(messages.back(), "NEW DEVICE FOUND|New updatable device found.");
    const auto lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                  "/////////////  try Ready foundDevice : " + lateKey.toStdString() + "  /////////////////"),
        1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Device Lost : " + lostKey.toStdString()), 1);
    ASSERT_EQ(window.rows().size(), 3u);
    EXPECT_FALSE(window.rowByServiceName(lostKey)->isAssociated()) << "the lost unit dropped its link";
    // The new unit's row connects and the list is asked again.
    ASSERT_TRUE(qtest::waitUntil(
        [&] { return window.rowByServiceName(lateKey)->danteState() == DeviceObject::Analyzing; }, kWaitMs));
    answerList({"Stage A", "Stage B", "Stage C"});
    ASSERT_TRUE(waitReady(window));
    EXPECT_EQ(window.rowByServiceName(lateKey)->danteVersion(), "4.0.0 ,  4.2.1");
}

// Rows keep unique unit ids when rows go: a row whose unit refuses its link
// is deleted (from its own signal), and the unit found next takes the
// lowest free id instead of the number of rows, which the remaining row
// holds.
TEST_F(FirmWindowUnits, UnitIdsStayUniqueAfterARowGoes)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(bed.ready()) << bed.error();
    // Announcements that live long, fed by the test: no unit announces here.
    DiscoveryOptions slowAgeing = bedDiscovery();
    slowAgeing.ageingTickMs = 10000;
    rack.reset();
    rack = std::make_unique<racktest::RackFixture>(100, slowAgeing);
    ASSERT_TRUE(rack->ready());
    core().setNetworkInterface(
        QString::fromLatin1(qtest::NetnsBed::kLocalMac), QString::fromLatin1(qtest::NetnsBed::kLocalAddress), false);
    // A unit that takes the link and never answers: a bare listener.
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(qtest::UnitProcess::kScpPort);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(silent, 8), 0);
    const auto unit = [](const char* id, int n, const char* address) {
        return racktest::UnitAnnouncement{id, "02:53:00:00:01:0" + std::to_string(n), address, "BroxL-D2"};
    };
    // Sorted by key: the refusing unit's row comes first (id 0).
    rack->announce(unit("J0F1", 1, qtest::NetnsBed::kPeerAddress));
    rack->announce(unit("J0F2", 2, qtest::NetnsBed::kLocalAddress));
    ASSERT_TRUE(waitFound(2));
    const std::string package = this->package("model.bin", 16, "QuilBroxL-D2", word(kV123a), firmwareEntries());

    FirmWindowTimings t = timings();
    t.rows.connectionMs = 60000;
    FirmUpdateUI window(nullptr, {}, createModelFirmUpdater, t);
    window.init(&core());
    ASSERT_TRUE(qtest::showAndWait(&window));
    EXPECT_TRUE(choose(&window, package).isEmpty());
    ASSERT_EQ(window.rows().size(), 2u);
    ASSERT_TRUE(qtest::waitUntil([&] { return window.rows().size() == 1; }, kWaitMs));
    EXPECT_EQ(window.rows()[0]->id(), 1u);

    window.setUiState(FirmUpdateUI::UPDATE_UI_READY);
    qtest::ModalDriver driver(kWaitMs);
    driver.pressButton(QStringLiteral("OK"));
    // Discovery knows one unit per address: the next one has its own.
    ASSERT_EQ(qtest::runCommand("ip addr add 198.18.0.9/24 dev " + std::string(qtest::NetnsBed::kLocalInterface)), 0);
    rack->announce(unit("J0F3", 3, "198.18.0.9"));
    ASSERT_TRUE(driver.waitAllAnswered(kWaitMs));
    ASSERT_TRUE(qtest::waitUntil([&] { return window.rows().size() == 2; }, kWaitMs));
    EXPECT_EQ(window.rows()[1]->id(), 0u) << "the lowest free id";
    EXPECT_EQ(window.rowById(1), window.rows()[0].get());
    ::close(silent);
}

// After a run in which only a Dante job failed, the window analyses again in
// the analysing state: the list it asks for is taken, and the unit's Dante
// side is read anew.
TEST_F(FirmWindowUnits, OnlyDanteFailedAnalysesTheDanteSidesAgain)
{
    QTEST_IN_NETNS();
    // The unit's model firmware is the package's: only its Dante side is out
    // of date.
    ASSERT_TRUE(startUnits({unitAt(2, "Stage A", "J0A1")}, {"name=BroxL-D2,version=V1.23a,protocols=xmodem-1k"}))
        << error();
    const std::string package = dantePackage();
    // The module never reports on its upgrade: the Dante job fails soon.
    FirmWindowTimings t = timings();
    t.danteUpdateMs = 300;
    FirmUpdateUI window(nullptr, {}, createModelFirmUpdater, t);
    ASSERT_TRUE(openWithAgent(&window));
    EXPECT_TRUE(choose(&window, package).isEmpty());
    ASSERT_EQ(window.rows().size(), 1u);
    const DeviceObject* row = window.rows()[0].get();
    ASSERT_TRUE(waitListAsked(window));
    answerList({"Stage A"});
    ASSERT_TRUE(waitReady(window));
    ASSERT_TRUE(row->danteChecked());
    ASSERT_FALSE(row->modelChecked());

    log.clear();
    {
        qtest::ModalDriver driver(kWaitMs);
        driver.pressButton(QStringLiteral("OK"));
        QTest::mouseClick(window.form().m_btnUpdate, Qt::LeftButton);
        ASSERT_TRUE(driver.waitAllAnswered(kWaitMs));
    }
    ASSERT_TRUE(qtest::waitUntil([&] { return log.has("NO Model. So start from DANTE search"); }, kWaitMs));
    EXPECT_EQ(window.uiState(), FirmUpdateUI::UPDATE_UI_DEVICE_ANALYZING);
    answerList({"Stage A"});
    ASSERT_TRUE(waitReady(window));
    EXPECT_TRUE(log.has("got DfuCallback_DEVICE_LIST"));
    EXPECT_TRUE(log.has("setupDanteList 0 : Device Name is Stage A"));
    EXPECT_EQ(row->danteVersion(), "4.0.0 ,  4.2.1");
    EXPECT_TRUE(row->isDanteListed());
}

// The agent reports that the Dante list failed: the window does not wait for
// a list that will never come; the Dante sides fail and the model sides are
// analysed, so the window gets ready.
TEST_F(FirmWindowUnits, FailedDanteListStillAnalysesTheModelSides)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(startUnits({unitAt(2, "Stage A", "J0A1")}, {"name=BroxL-D2,version=V1.00,protocols=xmodem-1k"}))
        << error();
    const std::string package = dantePackage();
    FirmUpdateUI window(nullptr, {}, createModelFirmUpdater, timings());
    ASSERT_TRUE(openWithAgent(&window));
    EXPECT_TRUE(choose(&window, package).isEmpty());
    ASSERT_EQ(window.rows().size(), 1u);
    const DeviceObject* row = window.rows()[0].get();
    ASSERT_TRUE(waitListAsked(window));

    dfutest::feed(DFA_ERR_CONMON_ABSENT, DFA_CBACK_INF_DEVICE_LIST, dfutest::Empty{});
    ASSERT_TRUE(waitReady(window));
    EXPECT_TRUE(log.has("[ERROR] DfuAppErrorCallback : DEVICE_LIST"));
    EXPECT_EQ(row->modelVersion(), "V1.00");
    EXPECT_TRUE(row->modelChecked());
    EXPECT_TRUE(row->danteVersion().isEmpty());
    EXPECT_FALSE(row->danteChecked());
    EXPECT_TRUE(window.form().m_btnUpdate->isEnabled());
}
