// The Mavik-D panel against a simulated unit: what the unit's values show,
// what the buttons send, the workgroup manager's refusal, Properties.
#include "tests/ui/panels/iofam/unit_bed.h"

#include "tests/support/gui/modal_driver.h"
#include "tests/support/recording_dev.h"
#include "ui/panels/mavik_uimain.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zlabeldisplay.h"
#include "ui/widgets/zstatedisplay.h"

#include <QContextMenuEvent>
#include <gtest/gtest.h>

#include <memory>

using iofam::Param;
using iofam::UnitBed;

namespace {

const Param kSrcOn{"Current/SRC/On", 0, "/Current/SRC:0/On:0"};
const Param kExtCtrl{"Current/Dev/ExtCtrl/On", 0, "/Current/Dev:0/ExtCtrl:0/On:0"};
const Param kWclkInSource{"Current/SRCInputClock/Source", 0, "/Current/SRCInputClock:0/Source:0"};
const Param kWclkInLock{"Current/SRCClock_WCLKIN/LockUnlock", 0, "/Current/SRCClock_WCLKIN:0/LockUnlock:0"};
const Param kMadiLock{"Current/SRCClock_MADI/LockUnlock", 0, "/Current/SRCClock_MADI:0/LockUnlock:0"};
const Param kFs{"Current/InputRate/Fs", 0, "/Current/InputRate:0/Fs:0"};
const Param kFsRate{"Current/InputRate/FsRate", 0, "/Current/InputRate:0/FsRate:0"};
const Param kInFrame{"Current/InStatus/Frame", 0, "/Current/InStatus:0/Frame:0"};
const Param kInChannel{"Current/InStatus/Channel", 0, "/Current/InStatus:0/Channel:0"};
const Param kOutFrame{"Current/OutStatus/Frame", 0, "/Current/OutStatus:0/Frame:0"};
const Param kOutChannel{"Current/OutStatus/Channel", 0, "/Current/OutStatus:0/Channel:0"};
const Param kMasterSel{"Current/Dev/MasterWCLK/Sel", 0, "/Current/Dev:0/MasterWCLK:0/Sel:0"};
const Param kMasterFs{"Current/Dev/MasterWCLK/Fs", 0, "/Current/Dev:0/MasterWCLK:0/Fs:0"};
const Param kMasterWclkInLock{
    "Current/Dev/MasterWCLK_WCLKIN/LockUnlock", 0, "/Current/Dev:0/MasterWCLK_WCLKIN:0/LockUnlock:0"};
const Param kMasterMadiLock{
    "Current/Dev/MasterWCLK_MADI/LockUnlock", 0, "/Current/Dev:0/MasterWCLK_MADI:0/LockUnlock:0"};
const Param kDanteLock{"Current/Dev/MasterWCLK_Dante/LockUnlock", 0, "/Current/Dev:0/MasterWCLK_Dante:0/LockUnlock:0"};
const Param kDanteFs{"Current/Dev/MasterWCLK_Dante/Fs", 0, "/Current/Dev:0/MasterWCLK_Dante:0/Fs:0"};

// A Mavik-D unit and its panel, bound.
struct MavikBed {
    explicit MavikBed(const char* runmode = "normal")
        : bed(Quil::MODEL_MAVIK_D, "mavik.xml", runmode)
    {
        panel.reset(static_cast<Mavik::UIMain*>(Quil::createUIMain(6, nullptr)));
        if (bed.up && panel)
            bound = panel->init(3, &bed.link.dev, &host) == 0 && qtest::showAndWait(panel.get());
    }
    bool set(std::initializer_list<std::pair<Param, int>> values)
    {
        for (const auto& [p, v] : values)
            if (!bed.change(p, v))
                return false;
        return true;
    }
    std::vector<int> indexes(ZStateDisplay* (Mavik::UIMain::*led)(int) const, int count)
    {
        std::vector<int> out;
        for (int i = 0; i < count; ++i)
            out.push_back((panel.get()->*led)(i)->currentImageIndex());
        return out;
    }

    UnitBed bed;
    iofam::HostStandIn host;
    std::unique_ptr<Mavik::UIMain> panel;
    bool bound = false;
};

std::vector<int> masterWclkIndexes(Mavik::UIMain& panel)
{
    return {panel.masterWclkLed(0)->currentImageIndex(), panel.masterWclkLed(1)->currentImageIndex(),
        panel.masterWclkLed(2)->currentImageIndex()};
}

std::vector<int> masterFsIndexes(Mavik::UIMain& panel)
{
    std::vector<int> out;
    for (int i = 0; i < 6; ++i)
        out.push_back(panel.masterFsLed(i)->currentImageIndex());
    return out;
}

} // namespace

TEST(MavikPanel, OnOffLedsAndWordClockInput)
{
    MavikBed m;
    ASSERT_TRUE(m.bound);
    struct Row {
        int srcOn, extCtrl, source, lock;
        int srcLed, extLed, wclkLed;
        bool blink;
    };
    const Row rows[] = {
        {1, 0, 1, 1, 1, 0, 1, false},
        {0, 1, 0, 0, 0, 1, 0, true}, // unlocked word clock blinks
        {1, 1, 1, 0, 1, 1, 1, true},
        {0, 0, 0, 1, 0, 0, 0, false},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(m.set(
            {{kSrcOn, row.srcOn}, {kExtCtrl, row.extCtrl}, {kWclkInSource, row.source}, {kWclkInLock, row.lock}}));
        EXPECT_EQ(m.panel->srcLed()->currentImageIndex(), row.srcLed) << row.srcOn;
        EXPECT_EQ(m.panel->extCtrlLed()->currentImageIndex(), row.extLed) << row.extCtrl;
        EXPECT_EQ(m.panel->wclkInLed()->currentImageIndex(), row.wclkLed) << row.source;
        EXPECT_EQ(m.panel->wclkInLed()->blink(), row.blink) << row.lock;
    }
}

TEST(MavikPanel, InputFsFollowsTheMadiLockAlone)
{
    MavikBed m;
    ASSERT_TRUE(m.bound);
    const auto fsLeds = [&] {
        return std::vector<int>{
            m.panel->inputFsLed(0)->currentImageIndex(), m.panel->inputFsLed(1)->currentImageIndex()};
    };
    ASSERT_TRUE(m.set({{kMadiLock, 0}, {kFs, 1}}));
    EXPECT_EQ(fsLeds(), (std::vector<int>{0, 0})); // unlocked: no rate shown
    // Only the lock changes: the LEDs must follow it.
    ASSERT_TRUE(m.set({{kMadiLock, 1}}));
    EXPECT_EQ(fsLeds(), (std::vector<int>{0, 1}));
    ASSERT_TRUE(m.set({{kFs, 0}}));
    EXPECT_EQ(fsLeds(), (std::vector<int>{1, 0}));
    ASSERT_TRUE(m.set({{kMadiLock, 0}}));
    EXPECT_EQ(fsLeds(), (std::vector<int>{0, 0}));

    for (int rate = 0; rate < 3; ++rate) {
        ASSERT_TRUE(m.set({{kFsRate, rate}}));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(m.panel->inputRateLed(i)->currentImageIndex(), i == rate ? 1 : 0) << rate;
    }
}

TEST(MavikPanel, FrameAndChannelLabels)
{
    MavikBed m;
    ASSERT_TRUE(m.bound);
    struct Row {
        int inFrame, inChannel, outFrame, outChannel;
        const char* texts[4];
    };
    const Row rows[] = {
        {0, 0, 0, 0, {"48k", "64", "48k", "64"}},
        {1, 1, 0, 0, {"96k", "56", "96k", "56"}}, // output 0 follows the input
        {1, 1, 1, 1, {"96k", "56", "48k", "64"}}, // output 1: whatever the input
        {0, 0, 2, 2, {"48k", "64", "96k", "56"}},
        {2, 2, 0, 0, {"----", "----", "----", "----"}},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(m.set({{kInFrame, row.inFrame}, {kInChannel, row.inChannel}, {kOutFrame, row.outFrame},
            {kOutChannel, row.outChannel}}));
        EXPECT_EQ(m.panel->inputFrameLabel()->text(), row.texts[0]) << row.inFrame;
        EXPECT_EQ(m.panel->inputChannelLabel()->text(), row.texts[1]) << row.inChannel;
        EXPECT_EQ(m.panel->outputFrameLabel()->text(), row.texts[2]) << row.outFrame;
        EXPECT_EQ(m.panel->outputChannelLabel()->text(), row.texts[3]) << row.outChannel;
    }
}

TEST(MavikPanel, MasterWordClockSelectionLocksAndFs)
{
    MavikBed m;
    ASSERT_TRUE(m.bound);
    struct Row {
        int sel, wclkInLock, madiLock, danteLock;
        std::vector<int> leds;
        bool blink;
    };
    const Row rows[] = {
        {2, 1, 0, 0, {1, 0, 0}, false},
        {2, 0, 1, 1, {1, 0, 0}, true},
        {1, 0, 1, 1, {0, 1, 0}, false},
        {1, 1, 0, 1, {0, 1, 0}, true},
        {0, 0, 0, 0, {0, 0, 1}, false}, // Dante's clock never blinks
        {0, 0, 0, 1, {0, 0, 1}, false},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(m.set({{kMasterWclkInLock, row.wclkInLock}, {kMasterMadiLock, row.madiLock},
            {kDanteLock, row.danteLock}, {kMasterSel, row.sel}}));
        EXPECT_EQ(masterWclkIndexes(*m.panel), row.leds) << row.sel << row.wclkInLock << row.madiLock;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(m.panel->masterWclkLed(i)->blink(), row.blink) << row.sel;
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(m.panel->masterFsLed(i)->blink(), row.blink) << row.sel;
    }

    // Fs values to the LED grid, read from the master or, on Dante, its own.
    const int order[] = {5, 3, 1, 4, 2, 0};
    for (const Param* source : {&kMasterFs, &kDanteFs}) {
        ASSERT_TRUE(m.set({{kMasterSel, source == &kMasterFs ? 2 : 0}}));
        for (int led = 0; led < 6; ++led) {
            ASSERT_TRUE(m.set({{*source, order[led]}}));
            std::vector<int> want(6, 0);
            want[static_cast<size_t>(led)] = 1;
            EXPECT_EQ(masterFsIndexes(*m.panel), want) << source->unit << " " << order[led];
        }
    }
}

TEST(MavikPanel, ConnectingTurnsEverythingOffAndKeepsBlinking)
{
    MavikBed m;
    ASSERT_TRUE(m.bound);
    ASSERT_TRUE(m.set({{kSrcOn, 1}, {kExtCtrl, 1}, {kWclkInSource, 1}, {kWclkInLock, 0}, {kMadiLock, 1}, {kFs, 1},
        {kFsRate, 2}, {kInFrame, 0}, {kMasterSel, 2}, {kMasterWclkInLock, 0}, {kMasterFs, 5}}));
    ASSERT_EQ(m.panel->srcLed()->currentImageIndex(), 1);
    ASSERT_TRUE(m.panel->wclkInLed()->blink());

    m.bed.setConnectionState(1);
    EXPECT_EQ(m.panel->srcLed()->currentImageIndex(), 0);
    EXPECT_EQ(m.panel->extCtrlLed()->currentImageIndex(), 0);
    EXPECT_EQ(m.panel->wclkInLed()->currentImageIndex(), 0);
    EXPECT_TRUE(m.panel->wclkInLed()->blink());
    EXPECT_TRUE(m.panel->masterWclkLed(0)->blink());
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(m.panel->inputFsLed(i)->currentImageIndex(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(m.panel->inputRateLed(i)->currentImageIndex(), 0);
    EXPECT_EQ(masterWclkIndexes(*m.panel), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(masterFsIndexes(*m.panel), std::vector<int>(6, 0));
    for (ZLabelDisplay* label : {m.panel->inputFrameLabel(), m.panel->inputChannelLabel(), m.panel->outputFrameLabel(),
             m.panel->outputChannelLabel()})
        EXPECT_EQ(label->text(), "----");

    m.bed.setConnectionState(2);
    EXPECT_EQ(m.panel->srcLed()->currentImageIndex(), 1);
    EXPECT_EQ(m.panel->inputFrameLabel()->text(), "48k");

    // A connection state that cannot be read counts as online.
    qtest::RecordingDev recorder(&m.bed.link.dev);
    recorder.failingReads.insert(Quil::kConnectionStatePath);
    Mavik::UIMain panel;
    ASSERT_EQ(panel.init(1, &recorder, &m.host), 0);
    EXPECT_EQ(panel.srcLed()->currentImageIndex(), 1);
    EXPECT_EQ(panel.inputFrameLabel()->text(), "48k");
}

TEST(MavikPanel, ButtonsSendTheNextValue)
{
    MavikBed m;
    ASSERT_TRUE(m.bound);
    struct Row {
        ZButton* button;
        Param param;
        int before;
        int sent;
    };
    const Row rows[] = {
        {m.panel->srcButton(), kSrcOn, 0, 1},
        {m.panel->srcButton(), kSrcOn, 1, 0},
        {m.panel->wclkInButton(), kWclkInSource, 0, 1},
        {m.panel->wclkInButton(), kWclkInSource, 1, 0},
        {m.panel->rateButton(), kFsRate, 0, 1},
        {m.panel->rateButton(), kFsRate, 1, 2},
        {m.panel->rateButton(), kFsRate, 2, 0},
        {m.panel->masterWclkButton(), kMasterSel, 0, 2},
        {m.panel->masterWclkButton(), kMasterSel, 2, 1},
        {m.panel->masterWclkButton(), kMasterSel, 1, 0},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(m.set({{row.param, row.before}}));
        QTest::mouseClick(row.button, Qt::LeftButton);
        EXPECT_TRUE(qtest::waitUntil([&] { return m.bed.unitValue(row.param) == std::to_string(row.sent); }, 3000))
            << row.param.unit << " " << row.before << " -> " << m.bed.unitValue(row.param);
    }

    // Values outside the tables: 99 goes out, as the unit's protocol has it.
    qtest::RecordingDev recorder(&m.bed.link.dev);
    Mavik::UIMain panel;
    ASSERT_EQ(panel.init(1, &recorder, &m.host), 0);
    recorder.forcedReads["/Current/InputRate:0/FsRate:0"] = 7;
    recorder.forcedReads["/Current/SRC:0/On:0"] = 2;
    panel.changeFsRate();
    panel.changeSrcOn();
    ASSERT_EQ(recorder.writes.size(), 2u);
    EXPECT_EQ(recorder.writes[0].value, 99);
    EXPECT_EQ(recorder.writes[1].value, 99);
    EXPECT_EQ(recorder.writes[0].source, Quil::SOURCE_UI);
}

// A switch key reads pressed while its function is on (away from the
// default 0), whichever side changed the value, and stays up while offline.
TEST(MavikPanel, SwitchKeysFollowTheUnitsValues)
{
    MavikBed m;
    ASSERT_TRUE(m.bound);
    const struct {
        ZButton* button;
        Param param;
    } keys[] = {
        {m.panel->srcButton(), kSrcOn},
        {m.panel->wclkInButton(), kWclkInSource},
        {m.panel->rateButton(), kFsRate},
        {m.panel->masterWclkButton(), kMasterSel},
    };
    for (const auto& key : keys) {
        SCOPED_TRACE(key.param.unit);
        EXPECT_FALSE(key.button->isChecked());
        for (int value : {1, 2, 0, 1}) {
            if (value == 2 && (key.button == m.panel->srcButton() || key.button == m.panel->wclkInButton()))
                continue; // two-valued
            ASSERT_TRUE(m.set({{key.param, value}}));
            EXPECT_EQ(key.button->isChecked(), value != 0) << value;
        }
    }
    // A click sends the next value and the key follows what comes back,
    // not its own toggle.
    ASSERT_TRUE(m.set({{kFsRate, 1}}));
    QTest::mouseClick(m.panel->rateButton(), Qt::LeftButton);
    ASSERT_TRUE(qtest::waitUntil([&] { return m.bed.unitValue(kFsRate) == "2"; }, 3000));
    EXPECT_TRUE(qtest::waitUntil([&] { return m.panel->rateButton()->isChecked(); }, 3000));
}

TEST(MavikPanel, WorkgroupManagerRefusesClicks)
{
    MavikBed m("WGM");
    ASSERT_TRUE(m.bound);
    qtest::ModalDriver driver;
    driver.pressButton("OK");
    QTest::mouseClick(m.panel->srcButton(), Qt::LeftButton);
    ASSERT_TRUE(driver.waitAllAnswered());
    ASSERT_EQ(driver.seen().size(), 1u);
    EXPECT_EQ(driver.seen()[0].title, "Confirmation");
    EXPECT_EQ(driver.seen()[0].text, "Access denied by\n Workgroup Manager");
    UnitBed::settle();
    QTest::qWait(100);
    EXPECT_EQ(m.bed.received("set"), 0u);
    EXPECT_EQ(m.bed.unitValue(kSrcOn), "0");
    EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join("; ").toStdString();
}

TEST(MavikPanel, PropertiesAndUnboundPanel)
{
    MavikBed m;
    ASSERT_TRUE(m.bound);
    qtest::ModalDriver driver;
    driver.chooseMenuItem("Properties");
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(300, 200), m.panel->mapToGlobal(QPoint(300, 200)));
    QApplication::sendEvent(m.panel.get(), &event);
    ASSERT_TRUE(driver.waitAllAnswered());
    EXPECT_EQ(m.host.propertiesOf, (std::vector<uint32_t>{3}));

    Mavik::UIMain unbound;
    EXPECT_EQ(unbound.init(1, nullptr, &m.host), Quil::DEV_E_FAIL);
    EXPECT_EQ(unbound.init(1, &m.bed.link.dev, nullptr), Quil::DEV_E_FAIL);
    EXPECT_EQ(unbound.srcOnChanged(), Quil::DEV_E_FAIL);
    EXPECT_EQ(unbound.masterWCLKFsChanged(), Quil::DEV_E_FAIL);
    EXPECT_EQ(unbound.onProperty(), Quil::DEV_E_FAIL);
    EXPECT_EQ(unbound.changeSrcOn(), Quil::DEV_E_FAIL);
}
