// The rack slot strip on offline-mounted units: connection pictures and the
// alert icon, unit ids across slots chosen with the mouse, the signals of a
// slot button, and subscriptions that survive repeated mount changes.
#include "tests/support/gui/gui_support.h"
#include "tests/support/recording_dev.h"
#include "ui/panels/devlistframe.h"
#include "ui/widgets/zpopup.h"

#include <QContextMenuEvent>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

const char* const kSlotState = "/DevState/devstate:0/SlotState:0";
const char* const kConnection = "/DevState/devstate:0/ConnectionState:0";
const char* const kDeviceNum = "/DevState/devstate:0/DeviceNum:0";
const char* const kSystem = "/Current/Dev:0/SystemStatus:0";
const char* const kSync = "/Current/Dev:0/SyncStatus:0";

class SlotStrip : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rack.memThread); }
    void settle()
    {
        qtest::waitUntil([] { return false; }, 100);
    }

    // The unit's state; -1 leaves a value as it is.
    void state(int slotState, int connection, int devices, int system = 2, int sync = 1)
    {
        const std::pair<const char*, int> values[] = {{kSlotState, slotState}, {kConnection, connection},
            {kDeviceNum, devices}, {kSystem, system}, {kSync, sync}};
        for (const auto& [path, value] : values) {
            if (value >= 0) {
                ASSERT_GE(rack.linkWrite(0, path, value), 0) << path;
            }
        }
    }

    // Opens a slot's selector with the mouse and clicks the entry of `id`.
    static void choose(DevSelFrame* button, int id)
    {
        ZPopup* popup = button->deviceIdPopup();
        QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(5, 5));
        ASSERT_TRUE(qtest::waitUntil([&] { return popup->popupFrame() && popup->popupFrame()->isVisible(); }, 2000));
        QWidget* cell = popup->cells().at(static_cast<size_t>(id + 1));
        ASSERT_NE(nullptr, cell);
        QTest::mouseClick(cell, Qt::LeftButton, {}, QPoint(5, 5));
        qtest::waitUntil([&] { return popup->popupFrame() == nullptr; }, 2000);
    }

    static bool enabled(DevSelFrame* button, int id)
    {
        return button->deviceIdPopup()->menuItems().at(static_cast<size_t>(id + 1)).enabled;
    }

    qtest::OfflineRack rack{{Quil::MODEL_BROXL_D3}};
    qtest::RecordingDev dev{&rack.unit(0)};
};

TEST_F(SlotStrip, PictureAndAlertFollowTheUnitsState)
{
    struct Row {
        bool mounted;
        int slotState, connection, devices, system, sync;
        const char* failing; // a path that cannot be read, or null
        int forcedPath; // 1: SlotState reads 7, 2: ConnectionState reads 9
        int picture;
        bool alert;
    };
    const Row rows[] = {
        {false, 2, 2, 1, 3, 1, nullptr, 0, SLOT_BLANK, false},
        {true, 0, 2, 1, 2, 1, nullptr, 0, SLOT_BLANK, false},
        {true, 1, 0, 0, 2, 1, nullptr, 0, SLOT_VIRTUAL, false},
        {true, 2, 0, 1, 2, 1, nullptr, 0, SLOT_DISCONNECTED, false},
        {true, 2, 3, 1, 2, 1, nullptr, 0, SLOT_DISCONNECTED, false},
        {true, 2, 1, 1, 2, 1, nullptr, 0, SLOT_CONNECTING, false},
        {true, 2, 2, 1, 2, 1, nullptr, 0, SLOT_CONNECTED, false},
        {true, 2, 2, 0, 2, 1, nullptr, 0, SLOT_CONNECTED, false},
        {true, 2, 2, 2, 2, 1, nullptr, 0, SLOT_DUPLICATED, false},
        {true, 2, 2, 1, 3, 1, nullptr, 0, SLOT_CONNECTED, true}, // DANTE module error
        {true, 2, 2, 1, 2, 4, nullptr, 0, SLOT_CONNECTED, true}, // no DANTE connection
        {true, 2, 2, 1, 2, 9, nullptr, 0, SLOT_CONNECTED, false}, // word clock leader: information
        {true, 2, 2, 1, 2, 3, nullptr, 0, SLOT_CONNECTED, false},
        {true, 2, 2, 1, 3, 1, kSync, 0, SLOT_CONNECTED, false},
        {true, 2, 2, 1, 2, 1, kSlotState, 0, SLOT_BLANK, false},
        {true, 2, 2, 1, 2, 1, kDeviceNum, 0, SLOT_BLANK, false},
        {true, 2, 2, 1, 2, 1, nullptr, 1, SLOT_BLANK, false},
        {true, 2, 2, 1, 2, 1, nullptr, 2, SLOT_BLANK, false},
    };
    int index = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE("row " + std::to_string(index++));
        state(r.slotState, r.connection, r.devices, r.system, r.sync);
        dev.failingReads.clear();
        dev.forcedReads.clear();
        if (r.failing)
            dev.failingReads.insert(r.failing);
        if (r.forcedPath == 1)
            dev.forcedReads[kSlotState] = 7;
        if (r.forcedPath == 2)
            dev.forcedReads[kConnection] = 9;
        DevSelFrame button(0);
        EXPECT_EQ(static_cast<int>(0x80000000u), button.memParamChanged()) << "no accessor yet";
        button.setAccessor(&dev);
        button.setMounted(r.mounted);
        button.memParamChanged();
        EXPECT_EQ(r.picture, button.indicator());
        EXPECT_EQ(r.alert, button.hasAlert());
    }
    EXPECT_TRUE(dev.writes.empty());
}

TEST_F(SlotStrip, UnitIdsChosenByMouseAreTakenFromTheOtherSlots)
{
    DevListFrame strip(24);
    strip.resize(strip.width(), 24 * 74);
    ASSERT_TRUE(qtest::showAndWait(&strip));
    ASSERT_EQ(129, strip.deviceIdNames().size());
    EXPECT_EQ("NONE", strip.deviceIdNames().front().toStdString());
    EXPECT_EQ("J07F", strip.deviceIdNames().back().toStdString());
    EXPECT_EQ(74 * 5, strip.button(5)->y());
    QSignalSpy chosen(&strip, &DevListFrame::deviceIdSelected);

    choose(strip.button(1), 5);
    ASSERT_EQ(1, chosen.count());
    EXPECT_EQ(1u, chosen[0][0].toUInt());
    EXPECT_EQ(5, chosen[0][1].toInt());
    EXPECT_EQ(5, strip.button(1)->deviceId());
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(i == 1, enabled(strip.button(i), 5)) << "slot " << i;
        EXPECT_TRUE(enabled(strip.button(i), -1)) << "NONE stays free";
        EXPECT_TRUE(enabled(strip.button(i), 6));
    }

    choose(strip.button(1), -1);
    ASSERT_EQ(2, chosen.count());
    EXPECT_EQ(-1, chosen[1][1].toInt());
    for (int i = 0; i < 24; ++i)
        EXPECT_TRUE(enabled(strip.button(i), 5)) << "slot " << i;
}

TEST_F(SlotStrip, WhileConnectingTheSelectorSnapsBackSilently)
{
    DevListFrame strip(4);
    strip.resize(strip.width(), 4 * 74);
    state(2, 1, 1);
    strip.setAccessor(2, &dev);
    strip.setMounted(2, true);
    ASSERT_EQ(SLOT_CONNECTING, strip.button(2)->indicator());
    ASSERT_TRUE(qtest::showAndWait(&strip));
    QSignalSpy chosen(&strip, &DevListFrame::deviceIdSelected);

    choose(strip.button(2), 7);
    EXPECT_EQ(0, chosen.count());
    EXPECT_EQ(-1, strip.button(2)->deviceId());
    EXPECT_EQ(-1, strip.button(2)->deviceIdPopup()->selectionID());
    EXPECT_TRUE(enabled(strip.button(0), 7));
}

// A unit id the program applies (from a setup file) is not the user's
// choice: re-emitting it would unmount and re-place a connected unit.
TEST_F(SlotStrip, ProgramSetIdsEmitNothingButStillTakeTheId)
{
    DevListFrame strip(24);
    QSignalSpy chosen(&strip, &DevListFrame::deviceIdSelected);
    QSignalSpy buttonChosen(strip.button(3), &DevSelFrame::deviceIdSelected);
    EXPECT_EQ(0, strip.setDeviceId(3, 9));
    EXPECT_EQ(0, chosen.count());
    EXPECT_EQ(0, buttonChosen.count());
    EXPECT_EQ(9, strip.button(3)->deviceId());
    EXPECT_EQ(9, strip.button(3)->deviceIdPopup()->selectionID());
    EXPECT_FALSE(enabled(strip.button(0), 9));
    EXPECT_TRUE(enabled(strip.button(3), 9));
    EXPECT_EQ(static_cast<int>(0x80000000u), strip.setDeviceId(24, 1));
    EXPECT_EQ(static_cast<int>(0x80000000u), strip.setSelected(24));
    EXPECT_EQ(static_cast<int>(0x80000000u), strip.setSlotLabel(24, "x"));
    EXPECT_EQ(0, strip.setMounted(24, true));
}

TEST_F(SlotStrip, PressReleaseAndContextMenuSignalInOrder)
{
    DevListFrame strip(3);
    strip.resize(strip.width(), 3 * 74);
    ASSERT_TRUE(qtest::showAndWait(&strip));
    std::vector<std::string> order;
    QObject::connect(
        &strip, &DevListFrame::selPressed, [&](uint s) { order.push_back("pressed " + std::to_string(s)); });
    QObject::connect(
        &strip, &DevListFrame::selReleased, [&](uint s) { order.push_back("released " + std::to_string(s)); });
    QObject::connect(
        &strip, &DevListFrame::selClicked, [&](uint s) { order.push_back("clicked " + std::to_string(s)); });
    QObject::connect(
        &strip, &DevListFrame::contextMenuRequest, [&](uint s) { order.push_back("menu " + std::to_string(s)); });
    DevSelFrame* button = strip.button(2);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 50));
    EXPECT_TRUE(button->isPressed());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(20, 50));
    EXPECT_FALSE(button->isPressed());
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(20, 50));
    QApplication::sendEvent(button, &menu);
    const std::vector<std::string> expected = {"pressed 2", "released 2", "clicked 2", "menu 2"};
    EXPECT_EQ(expected, order);
    EXPECT_EQ(0, strip.setSelected(2));
    EXPECT_TRUE(button->isSelected());
    EXPECT_FALSE(strip.button(0)->isSelected());
}

// Every mount change subscribes again; without dropping the old
// subscription first, one change ran the handler once per mount.
TEST_F(SlotStrip, RepeatedMountsHandleEachChangeOnce)
{
    DevListFrame strip(2);
    strip.setAccessor(0, &dev);
    state(2, 0, 1);
    for (int i = 0; i < 10; ++i) {
        strip.setMounted(0, false);
        strip.setMounted(0, true);
        ASSERT_EQ(0, strip.subscribeSlot(0));
    }
    settle();
    DevSelFrame* button = strip.button(0);
    // Each run of the handler reads the slot state once.
    const int start = dev.readsOf[kSlotState];
    ASSERT_GE(rack.linkWrite(0, kConnection, 2), 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return button->indicator() == SLOT_CONNECTED; }));
    settle();
    EXPECT_EQ(1, dev.readsOf[kSlotState] - start);
    EXPECT_EQ(static_cast<int>(0x80000000u), strip.subscribeSlot(1)) << "no accessor";
}

TEST_F(SlotStrip, NameBarAndImagePanelHoldTheirContent)
{
    DevNameFrame bar;
    EXPECT_EQ(QSize(752, 51), bar.size());
    EXPECT_EQ(0, bar.setName(4, "Stage left"));
    EXPECT_EQ(4, bar.slot());
    EXPECT_EQ("Stage left", bar.name().toStdString());
    DevSelFrame button(0);
    EXPECT_EQ(QSize(114, 67), button.size());
    EXPECT_EQ(QRect(32, 7, 50, 12), button.deviceIdPopup()->geometry());
    EXPECT_EQ(Qt::NoFocus, button.deviceIdPopup()->focusPolicy());
}

} // namespace
