// Controllers on offline-mounted BroxL-D3 units with the real memory thread
// and real widget events. Every write is seen by the recording accessor, so
// a write nobody asked for shows up.
#include "app/app_rackobject.h"
#include "device/memory/dev_meters.h"
#include "tests/support/gui/gui_support.h"
#include "tests/support/recording_dev.h"
#include "ui/bind/controllers.h"
#include "ui/bind/converters.h"
#include "ui/widgets/zdial.h"
#include "ui/widgets/zlabeldisplay.h"
#include "ui/widgets/zmeter.h"
#include "ui/widgets/zpopup.h"
#include "ui/widgets/zstatedisplay.h"

#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

const char* const kHaGain = "/Backup/InCh:0/HAGain:0"; // -6..66, default -6, nominal 0
const char* const kCompGain = "/Backup/InCh:1/CompGain:0"; // -6..66
const char* const kOutGain = "/Backup/OutCh:0/GainLevel:0"; // -9600..2400
const char* const kDelay = "/Backup/OutCh:0/DelayTime:0"; // 0..1000000
const char* const kAssign = "/Backup/Headphone:0/Assign:0"; // 0..58
const char* const kState = "/DevState/devstate:0/ConnectionState:0";
const char* const kWordClock = "/Current/Dev:0/WordclockFs:0";

QString p(const char* path)
{
    return QString::fromUtf8(path);
}

// Double-click to edit, type over the text, Return to accept.
void typeInto(ZLabelDisplay& label, const char* typed)
{
    QTest::mouseDClick(&label, Qt::LeftButton);
    label.selectAll();
    QTest::keyClicks(&label, typed);
    QTest::keyClick(&label, Qt::Key_Return);
}

class Controllers : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rack.memThread);
        host.resize(400, 300);
        ASSERT_TRUE(qtest::showAndWait(&host));
    }

    // Lets queued notifications arrive.
    void settle()
    {
        qtest::waitUntil([] { return false; }, 100);
    }

    qtest::OfflineRack rack{{Quil::MODEL_BROXL_D3, Quil::MODEL_BROXL_D3}};
    qtest::RecordingDev dev{&rack.unit(0)};
    QWidget host;
};

TEST_F(Controllers, DialWritesRoundUpToTheStepAndShowWhatTheMemoryHolds)
{
    struct Row {
        const char* path;
        unsigned step;
        int start; // memory before; one key press up moves the dial by 1
        int written;
    };
    const Row rows[] = {
        {kCompGain, 6, 6, 12}, // 7 -> 12
        {kCompGain, 6, 11, 12}, // 12 stays
        {kCompGain, 1, 10, 11}, {kOutGain, 100, -4951, -4900}, // -4950: the unsigned pattern gave -4896
        {kOutGain, 100, -5001, -5000}, // -5000: the unsigned pattern gave -4996
        {kOutGain, 100, 2350, 2400}, {kOutGain, 1000, 2350, 2400}, // 3000 is clamped into the range
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.path) + " from " + std::to_string(r.start));
        ASSERT_GE(rack.linkWrite(0, r.path, r.start), 0);
        QDial dial(&host);
        ControllerForQDial controller(&host);
        ASSERT_GE(controller.attach(&dial, &dev, p(r.path), r.step), 0);
        dev.writes.clear();
        QTest::keyClick(&dial, Qt::Key_Up);
        ASSERT_EQ(1u, dev.writes.size());
        EXPECT_EQ(r.written, dev.writes[0].value);
        EXPECT_EQ(1, dev.writes[0].source);
        EXPECT_EQ(r.written, rack.read(0, r.path));
        EXPECT_EQ(r.written, dial.value());
        settle();
        EXPECT_EQ(1u, dev.writes.size()) << "showing the memory writes nothing";
    }
}

// The rounded value equals what the memory holds, so the write may announce
// nothing: the dial reads the memory back at once instead of staying at 990.
TEST_F(Controllers, DelayKnobMovedTo990ShowsTheStored1000)
{
    ASSERT_GE(rack.linkWrite(0, kDelay, 1000), 0);
    QDial dial(&host);
    ControllerForQDial controller(&host);
    ASSERT_GE(controller.attach(&dial, &dev, p(kDelay), 1000), 0);
    dial.setSingleStep(10);
    QTest::keyClick(&dial, Qt::Key_Down);
    EXPECT_EQ(1000, dial.value()) << "before any notification could arrive";
    settle();
    EXPECT_EQ(1000, rack.read(0, kDelay));
    EXPECT_EQ(1000, dial.value());
}

TEST_F(Controllers, ControlPressWritesTheDefaultAndShiftTheNominal)
{
    ASSERT_GE(rack.linkWrite(0, kHaGain, 20), 0);
    ZDial dial(&host);
    dial.setGeometry(10, 10, 60, 60);
    dial.show();
    ControllerForQDial controller(&host);
    ASSERT_GE(controller.attach(&dial, &dev, p(kHaGain), 1), 0);
    EXPECT_EQ(20, dial.value());

    QTest::mousePress(&dial, Qt::LeftButton, Qt::ControlModifier, QPoint(30, 30));
    QTest::mouseMove(&dial, QPoint(55, 30));
    QTest::mouseRelease(&dial, Qt::LeftButton, Qt::ControlModifier, QPoint(55, 30));
    settle();
    EXPECT_EQ(-6, rack.read(0, kHaGain));
    EXPECT_EQ(-6, dial.value());

    QTest::mousePress(&dial, Qt::LeftButton, Qt::ControlModifier | Qt::ShiftModifier, QPoint(30, 30));
    QTest::mouseRelease(&dial, Qt::LeftButton, Qt::ControlModifier | Qt::ShiftModifier, QPoint(30, 30));
    settle();
    EXPECT_EQ(0, rack.read(0, kHaGain));
    EXPECT_EQ(0, dial.value());
    for (const auto& w : dev.writes)
        EXPECT_EQ(1, w.source);
}

TEST_F(Controllers, MemoryChangesMoveTheWidgetsAndWriteNothing)
{
    QDial dial(&host);
    ControllerForQDial dialController(&host);
    ASSERT_GE(dialController.attach(&dial, &dev, p(kCompGain), 6), 0);
    QPushButton button(&host);
    button.setCheckable(true);
    ControllerForQPushButton buttonController(&host);
    ASSERT_GE(buttonController.attach(&button, &dev, p(kAssign)), 0);
    ZStateDisplay state(&host);
    state.setnSubImages(60);
    ControllerForZStateDisplay stateController(&host);
    EXPECT_GE(stateController.attach(&state, &dev, p(kAssign)), 0);

    ASSERT_GE(rack.linkWrite(0, kCompGain, 31), 0); // not a multiple of 6
    ASSERT_GE(rack.linkWrite(0, kAssign, 2), 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return dial.value() == 31 && button.isChecked(); }));
    settle();
    EXPECT_EQ(2, state.currentImageIndex());
    EXPECT_TRUE(dev.writes.empty()) << "a stored 2 was written back as " << dev.writes.front().value;
    EXPECT_EQ(2, rack.read(0, kAssign));

    ASSERT_GE(rack.linkWrite(0, kAssign, 0), 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return !button.isChecked(); }));
    EXPECT_TRUE(dev.writes.empty());
}

// A controller attached again follows its value once: the earlier
// subscription ends first, so one change reads the memory once.
TEST_F(Controllers, AttachingAgainFollowsOnce)
{
    QDial dial(&host);
    ControllerForQDial controller(&host);
    for (int i = 0; i < 3; ++i)
        ASSERT_GE(controller.attach(&dial, &dev, p(kCompGain), 1), 0);
    EXPECT_EQ(1, dev.subscriptions - dev.unsubscriptions);
    settle();
    const int reads = dev.readsOf[kCompGain];
    ASSERT_GE(rack.linkWrite(0, kCompGain, 31), 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return dial.value() == 31; }));
    settle();
    EXPECT_EQ(1, dev.readsOf[kCompGain] - reads);
    EXPECT_TRUE(dev.writes.empty());
}

// A rack slot keeps its place while its unit is unmounted and mounted
// again: the controller bound to the slot is refused meanwhile and then
// writes to the new unit, never into the address cache of the old one.
TEST_F(Controllers, BindingOutlivesTheUnitBehindItsSlot)
{
    Quil::RackObject slot(0);
    ASSERT_EQ(0, slot.setModel(Quil::MODEL_BROXL_D3));
    QDial dial(&host);
    ControllerForQDial controller(&host);
    ASSERT_GE(controller.attach(&dial, &slot, p(kCompGain), 1), 0);
    const auto value = [&] {
        JLIB::JVariant v;
        return slot.getValue(p(kCompGain), &v) >= 0 ? static_cast<int32_t>(v.toInteger()) : -100;
    };
    QTest::keyClick(&dial, Qt::Key_Up);
    EXPECT_EQ(dial.value(), value());

    ASSERT_EQ(0, slot.setModel(Quil::MODEL_NONE));
    QTest::keyClick(&dial, Qt::Key_Up);
    EXPECT_EQ(-100, value()) << "nothing mounted";

    ASSERT_EQ(0, slot.setModel(Quil::MODEL_BROXL_D3));
    const int before = value();
    dial.setValue(before + 5);
    EXPECT_EQ(before + 5, value());
    settle();
}

TEST_F(Controllers, RefusedWritesWhileConnectingPutEveryControlBack)
{
    ASSERT_GE(rack.linkWrite(0, kCompGain, 12), 0);
    ASSERT_GE(rack.linkWrite(0, kAssign, 0), 0);
    ASSERT_GE(rack.linkWrite(0, kOutGain, -600), 0);
    QDial dial(&host);
    ControllerForQDial dialController(&host);
    ASSERT_GE(dialController.attach(&dial, &dev, p(kCompGain), 1), 0);
    QPushButton button(&host);
    button.setCheckable(true);
    button.setGeometry(100, 10, 40, 20);
    button.show();
    ControllerForQPushButton buttonController(&host);
    ASSERT_GE(buttonController.attach(&button, &dev, p(kAssign)), 0);
    ZPopup popup(&host);
    popup.setMenuItemList({"a", "b", "c"});
    ControllerForZPopup popupController(&host);
    ASSERT_GE(popupController.attach(&popup, &dev, p(kAssign)), 0);
    ZLabelDisplay label(&host);
    label.setGeometry(10, 100, 80, 20);
    label.show();
    ControllerForZLabelDisplay labelController(ParamConverterOutGain::instance(), &host);
    ASSERT_GE(labelController.attach(&label, &dev, p(kOutGain)), 0);

    ASSERT_GE(rack.linkWrite(0, kState, 1), 0);
    QTest::keyClick(&dial, Qt::Key_Up);
    QTest::mouseClick(&button, Qt::LeftButton);
    popup.chooseItem(2);
    typeInto(label, "3");
    settle();

    EXPECT_EQ(4u, dev.writes.size());
    EXPECT_EQ(12, rack.read(0, kCompGain));
    EXPECT_EQ(12, dial.value());
    EXPECT_EQ(0, rack.read(0, kAssign));
    EXPECT_FALSE(button.isChecked());
    EXPECT_EQ(0, popup.selectionID());
    EXPECT_EQ(-600, rack.read(0, kOutGain));
    EXPECT_EQ("-6dB", label.text().toStdString());
}

TEST_F(Controllers, UnreadablePathsHideButtonsAndPopups)
{
    const QString missing = p("/Backup/InCh:99/HAGain:0");
    QPushButton button(&host);
    ControllerForQPushButton buttonController(&host);
    EXPECT_LT(buttonController.attach(&button, &dev, missing), 0);
    EXPECT_TRUE(button.isHidden());
    ZPopup popup(&host);
    ControllerForZPopup popupController(&host);
    EXPECT_LT(popupController.attach(&popup, &dev, missing), 0);
    EXPECT_TRUE(popup.isHidden());
    QDial dial(&host);
    dial.show();
    ControllerForQDial dialController(&host);
    EXPECT_EQ(Quil::DEV_E_FAIL, dialController.attach(&dial, &dev, missing, 1));
    EXPECT_FALSE(dial.isHidden());
    // No widget or no accessor: nothing happens.
    EXPECT_EQ(Quil::DEV_E_FAIL, dialController.attach(nullptr, &dev, p(kCompGain), 1));
    EXPECT_EQ(Quil::DEV_E_FAIL, buttonController.attach(&button, nullptr, p(kAssign)));
    EXPECT_TRUE(dev.writes.empty());
}

TEST_F(Controllers, LabelEditsAcceptAbortAndRefuseNonNumbers)
{
    ASSERT_GE(rack.linkWrite(0, kOutGain, -4950), 0);
    ZLabelDisplay label(&host);
    label.setGeometry(10, 10, 80, 20);
    label.show();
    QLineEdit elsewhere(&host);
    elsewhere.setGeometry(10, 60, 80, 20);
    elsewhere.show();
    ControllerForZLabelDisplay controller(ParamConverterOutGain::instance(), &host);
    ASSERT_GE(controller.attach(&label, &dev, p(kOutGain)), 0);
    EXPECT_EQ("-49dB", label.text().toStdString());

    auto edit = [&](const char* typed) {
        QTest::mouseDClick(&label, Qt::LeftButton);
        EXPECT_TRUE(controller.isEditing());
        EXPECT_EQ(7, label.maxLength());
        label.selectAll();
        QTest::keyClicks(&label, typed);
        QTest::keyClick(&label, Qt::Key_Return);
        settle();
    };

    QTest::mouseDClick(&label, Qt::LeftButton);
    EXPECT_EQ("-49", label.text().toStdString()) << "the editable text";
    label.selectAll();
    QTest::keyClicks(&label, "5");
    QTest::mouseClick(&elsewhere, Qt::LeftButton); // a click elsewhere aborts
    EXPECT_FALSE(controller.isEditing());
    EXPECT_EQ("-49dB", label.text().toStdString());
    EXPECT_TRUE(dev.writes.empty());

    edit("12");
    EXPECT_EQ(1200, rack.read(0, kOutGain));
    EXPECT_EQ("+12dB", label.text().toStdString());

    for (const char* bad : {"abc", "+", "1e99", "nan"}) {
        edit(bad);
        EXPECT_EQ(1200, rack.read(0, kOutGain)) << bad;
        EXPECT_EQ("+12dB", label.text().toStdString()) << bad;
    }
    EXPECT_EQ(1u, dev.writes.size());
}

// Seven typed nines are too many for the label; the text the converter sees
// is cut to seven characters. Where that count leaves 32 bits the delay is
// left alone; in samples it fits and the memory clamps it.
TEST_F(Controllers, DelayLabelWithSevenNinesInEveryUnit)
{
    ASSERT_GE(rack.linkWrite(0, kWordClock, 48000), 0);
    const struct {
        const IStringParamConverter* converter;
        int stored;
    } rows[] = {{ParamConverterDelayMeter::instance(), 1000}, {ParamConverterDelayFeet::instance(), 1000},
        {ParamConverterDelaySample::instance(48000), 1000000}, {ParamConverterDelayMs::instance(), 1000},
        {ParamConverterDelayFrame::instance(0), 1000}};
    for (const auto& row : rows) {
        ASSERT_GE(rack.linkWrite(0, kDelay, 1000), 0);
        ZLabelDisplay label(&host);
        label.setGeometry(10, 10, 80, 20);
        label.show();
        ControllerForZLabelDisplay controller(row.converter, &host);
        ASSERT_GE(controller.attach(&label, &dev, p(kDelay)), 0);
        const QString before = label.text();
        typeInto(label, "99999999");
        settle();
        EXPECT_EQ(row.stored, rack.read(0, kDelay)) << before.toStdString();
        if (row.stored == 1000) {
            EXPECT_EQ(before, label.text());
        }
    }
}

// A typed delay outside the delay range is written as typed; the memory
// clamps it to the range's end.
TEST_F(Controllers, TypedDelayOutsideTheRangeIsClampedByTheMemory)
{
    const struct {
        const char* typed;
        int stored;
    } rows[] = {{"1000.1", 1000000}, {"5000", 1000000}, {"-1", 0}, {"999.98", 999980}};
    for (const auto& row : rows) {
        ASSERT_GE(rack.linkWrite(0, kDelay, 1000), 0);
        ZLabelDisplay label(&host);
        label.setGeometry(10, 10, 80, 20);
        label.show();
        ControllerForZLabelDisplay controller(ParamConverterDelayMs::instance(), &host);
        ASSERT_GE(controller.attach(&label, &dev, p(kDelay)), 0);
        typeInto(label, row.typed);
        settle();
        EXPECT_EQ(row.stored, rack.read(0, kDelay)) << row.typed;
    }
}

TEST_F(Controllers, SampleDisplaysKeepTheirOwnRateWhicheverBoundLast)
{
    qtest::RecordingDev second(&rack.unit(1));
    ASSERT_GE(rack.linkWrite(0, kWordClock, 48000), 0);
    ASSERT_GE(rack.linkWrite(1, kWordClock, 96000), 0);
    ASSERT_GE(rack.linkWrite(0, kDelay, 1000), 0);
    ASSERT_GE(rack.linkWrite(1, kDelay, 1000), 0);

    ZLabelDisplay a(&host);
    a.setGeometry(10, 10, 80, 20);
    a.show();
    ZLabelDisplay b(&host);
    b.setGeometry(10, 60, 80, 20);
    b.show();
    ControllerForZLabelDisplay ca(ParamConverterDelaySample::instance(rack.read(0, kWordClock)), &host);
    ASSERT_GE(ca.attach(&a, &dev, p(kDelay)), 0);
    ControllerForZLabelDisplay cb(ParamConverterDelaySample::instance(rack.read(1, kWordClock)), &host);
    ASSERT_GE(cb.attach(&b, &second, p(kDelay)), 0);
    EXPECT_EQ("48", a.text().toStdString());
    EXPECT_EQ("96", b.text().toStdString());

    QTest::mouseDClick(&a, Qt::LeftButton);
    EXPECT_EQ("48", a.text().toStdString()) << "unit A's edit shows A's rate";
    typeInto(a, "24");
    settle();
    EXPECT_EQ(500, rack.read(0, kDelay));
    EXPECT_EQ("24", a.text().toStdString());

    typeInto(b, "24");
    settle();
    EXPECT_EQ(250, rack.read(1, kDelay));
    EXPECT_EQ("24", b.text().toStdString());
}

TEST_F(Controllers, MeterFollowsTheUnitsMeterData)
{
    ZMeter meter(&host);
    meter.setValue(7);
    ControllerForZMeter controller(ParamConverterMeter41pix::instance(), &host);
    ASSERT_GE(controller.attach(&meter, &dev, p("Dev/InputLevel"), 3), 0);
    EXPECT_EQ(0, meter.value());
    struct Row {
        uint8_t data;
        int level;
    };
    const Row rows[] = {{65, 0}, {66, 1}, {111, 21}, {127, 41}, {0x80 | 66, 1}, {0xFF, 41}};
    for (const Row& r : rows) {
        controller.meterChanged(r.data, r.data);
        EXPECT_EQ(r.level, meter.value()) << int(r.data);
        EXPECT_EQ(r.level, meter.peakHoldValue());
        EXPECT_EQ(r.level > 0 ? 1 : 0, meter.peakHoldSize());
    }
    // Through the unit's meter store: channel 3 of the input meter.
    uint8_t bytes[32] = {};
    bytes[3] = 111;
    Quil::MemMeters* meters = rack.unit(0).meters();
    ASSERT_NE(nullptr, meters);
    ASSERT_GE(meters->update(p("Dev/InputLevel"), bytes, 32), 0);
    meters->notify();
    EXPECT_TRUE(qtest::waitUntil([&] { return meter.value() == 21; }, 2000));
    EXPECT_TRUE(dev.writes.empty());

    // Attached again, the meter starts dark and the level it showed before
    // is shown again, not taken for a repeat.
    ASSERT_GE(controller.attach(&meter, &dev, p("Dev/InputLevel"), 3), 0);
    EXPECT_EQ(0, meter.value());
    controller.meterChanged(111, 111);
    EXPECT_EQ(21, meter.value());
    EXPECT_EQ(21, meter.peakHoldValue());
}

} // namespace
