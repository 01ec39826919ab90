// The Sorn-D panel against a simulated unit: slot rows, word clock, power,
// routing pattern and its picture, and the one user patch window.
#include "tests/ui/panels/iofam/unit_bed.h"

#include "tests/support/recording_dev.h"
#include "ui/panels/sorn_routingpattern.h"
#include "ui/panels/sorn_uimain.h"
#include "ui/panels/sorn_userpatch.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zlabeldisplay.h"
#include "ui/widgets/zstatedisplay.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <memory>

using iofam::Param;
using iofam::UnitBed;

namespace {

Param slotParam(const char* unit, const char* devFormat, int slot)
{
    return Param{unit, slot, QString::asprintf(devFormat, slot).toStdString()};
}
Param lockOf(int slot)
{
    return slotParam("Current/Dev/SLOTLockStatus", "/Current/Slot:%d/SLOTLockStatus:0", slot);
}
Param cardNameOf(int slot)
{
    return slotParam("Current/Dev/CardName", "/Current/Slot:%d/CardName:0", slot);
}
Param srcEnableOf(int slot)
{
    return slotParam("Current/Dev/Slot/CardSRCEnable", "/Current/Slot:%d/CardSRCEnable:0", slot);
}
Param srcSourceOf(int slot)
{
    return slotParam("Current/Dev/SRCSource", "/Current/Slot:%d/SRCSource:0", slot);
}
Param srcOnOf(int slot)
{
    return slotParam("Current/Dev/SRCOn", "/Current/Slot:%d/SRCOn:0", slot);
}
Param srcLockOf(int slot)
{
    return slotParam("Current/Dev/SRCLockStatus", "/Current/Slot:%d/SRCLockStatus:0", slot);
}
Param inputPortsOf(int slot)
{
    return slotParam("Current/Dev/SLOTInputPortNum", "/Current/Slot:%d/SLOTInputPortNum:0", slot);
}
Param outputPortsOf(int slot)
{
    return slotParam("Current/Dev/SLOTOutputPortNum", "/Current/Slot:%d/SLOTOutputPortNum:0", slot);
}
Param powerOf(int which)
{
    return slotParam("Current/Dev/PowerOn", "/Current/Dev:0/PowerOn:%d", which);
}
const Param kWordClockSelect{"Current/Dev/MasterWCLK/Sel", 0, "/Current/Dev:0/WordClockSelect:0"};
const Param kWordClockLock{"Current/Dev/MasterWCLKLockStatus", 0, "/Current/Dev:0/MasterWCLKLockStatus:0"};
const Param kRoutingPattern{"Current/Dev/RoutingPattern", 0, "/Current/Dev:0/RoutingPattern:0"};

struct SornBed {
    SornBed()
        : bed(Quil::MODEL_SORN_D, "sorn.xml")
    {
        panel.reset(static_cast<Sorn::UIMain*>(Quil::createUIMain(5, nullptr)));
        if (bed.up && panel)
            bound = panel->init(4, &bed.link.dev, &host) == 0 && qtest::showAndWait(panel.get());
    }

    UnitBed bed;
    iofam::HostStandIn host;
    std::unique_ptr<Sorn::UIMain> panel;
    bool bound = false;
};

// Runs `call` and, once its modal window is up, notes and closes it.
struct ModalSeen {
    QString title;
    QSize size;
    bool picture = false;
};
ModalSeen closeNextModal(const std::function<void()>& call)
{
    ModalSeen seen;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* popup = qobject_cast<Sorn::RoutingPatternPopup*>(QApplication::activeModalWidget())) {
            seen.title = popup->windowTitle();
            seen.size = popup->maximumSize();
            seen.picture = popup->hasPicture();
            popup->close();
        }
    });
    timer.start();
    QTimer::singleShot(3000, [] {
        if (QWidget* w = QApplication::activeModalWidget())
            w->close();
    });
    call();
    return seen;
}

} // namespace

TEST(SornPanel, SlotRows)
{
    SornBed s;
    ASSERT_TRUE(s.bound);
    struct Row {
        int lock;
        const char* name;
        int srcEnable, srcSource, inPorts, outPorts;
        const char* nameText;
        const char* sourceText;
        const char* inText;
        const char* outText;
        int led;
        bool blink;
    };
    const Row rows[] = {
        {0, "Lumo-AE", 1, 1, 16, 8, "----", "----", "--", "--", 0, false},
        {1, "Lumo-AE", 1, 1, 16, 8, "Lumo-AE\n(w/SRC)", "CARD", "16", "8", 1, false},
        {2, "Lumo-AE", 0, 1, 16, 8, "Lumo-AE", "WCLK IN", "16", "8", 2, true},
        {3, "MADI-X", 1, 0, 2, 4, "MADI-X", "SLOT", "2", "4", 3, false},
        {4, "0", 0, 0, 0, 0, "----", "SLOT", "0", "0", 4, true},
    };
    const int slot = 2;
    for (const Row& row : rows) {
        ASSERT_TRUE(s.bed.changeText(cardNameOf(slot), row.name));
        ASSERT_TRUE(s.bed.change(srcEnableOf(slot), row.srcEnable));
        ASSERT_TRUE(s.bed.change(srcSourceOf(slot), row.srcSource));
        ASSERT_TRUE(s.bed.change(inputPortsOf(slot), row.inPorts));
        ASSERT_TRUE(s.bed.change(outputPortsOf(slot), row.outPorts));
        ASSERT_TRUE(s.bed.change(lockOf(slot), row.lock));
        EXPECT_EQ(s.panel->cardNameLabel(slot)->text(), row.nameText) << row.lock << row.name;
        EXPECT_EQ(s.panel->srcSourceLabel(slot)->text(), row.sourceText) << row.lock << row.name;
        EXPECT_EQ(s.panel->inputPortLabel(slot)->text(), row.inText) << row.lock;
        EXPECT_EQ(s.panel->outputPortLabel(slot)->text(), row.outText) << row.lock;
        EXPECT_EQ(s.panel->slotLed(slot)->currentImageIndex(), row.led) << row.lock;
        EXPECT_EQ(s.panel->slotLed(slot)->blink(), row.blink) << row.lock;
    }
    // The other slots kept their (locked-off) look.
    EXPECT_EQ(s.panel->cardNameLabel(0)->text(), "----");

    // A lock value past the LED's frames shows its last frame, a negative
    // one its first: the lamp's own index clamp.
    qtest::RecordingDev recorder(&s.bed.link.dev);
    Sorn::UIMain panel;
    ASSERT_EQ(panel.init(1, &recorder, &s.host), 0);
    for (const auto& [lock, led] : {std::pair{5, 4}, {9, 4}, {-1, 0}}) {
        recorder.forcedReads["/Current/Slot:1/SLOTLockStatus:0"] = lock;
        panel.slotLockChanged();
        EXPECT_EQ(panel.slotLed(1)->currentImageIndex(), led) << lock;
        EXPECT_FALSE(panel.slotLed(1)->blink()) << lock;
    }
}

TEST(SornPanel, SrcSwitchesAndLocks)
{
    SornBed s;
    ASSERT_TRUE(s.bound);
    struct Row {
        int on, lock, led;
    };
    for (const Row& row : {Row{0, 1, 0}, Row{1, 0, 1}, Row{1, 1, 2}, Row{0, 0, 0}}) {
        ASSERT_TRUE(s.bed.change(srcLockOf(1), row.lock));
        ASSERT_TRUE(s.bed.change(srcOnOf(1), row.on));
        EXPECT_EQ(s.panel->srcLockLed(1)->currentImageIndex(), row.led) << row.on << row.lock;
        EXPECT_EQ(s.panel->srcButton(1)->isChecked(), row.on == 1);
    }
    // The switch writes through its controller (its right half lies under
    // the SRC source label).
    QTest::mouseClick(s.panel->srcButton(3), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(qtest::waitUntil([&] { return s.bed.unitValue(srcOnOf(3)) == "1"; }, 3000));

    // Power LEDs follow their two elements.
    ASSERT_TRUE(s.bed.change(powerOf(1), 1));
    EXPECT_EQ(s.panel->powerLedA()->currentImageIndex(), 0);
    EXPECT_EQ(s.panel->powerLedB()->currentImageIndex(), 1);
    ASSERT_TRUE(s.bed.change(powerOf(0), 1));
    EXPECT_EQ(s.panel->powerLedA()->currentImageIndex(), 1);
}

TEST(SornPanel, WordClockLedsAndButton)
{
    SornBed s;
    ASSERT_TRUE(s.bound);
    struct Row {
        int select, lock, lit;
    };
    for (const Row& row : {Row{1, 1, 0}, Row{2, 1, 0}, Row{3, 1, 1}, Row{0, 1, 2}, Row{0, 0, 2}, Row{2, 0, 0}}) {
        ASSERT_TRUE(s.bed.change(kWordClockLock, row.lock));
        ASSERT_TRUE(s.bed.change(kWordClockSelect, row.select));
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(s.panel->wordClockLed(i)->currentImageIndex(), i == row.lit ? 1 : 0) << row.select;
            EXPECT_EQ(s.panel->wordClockLed(i)->blink(), i == row.lit && row.lock == 0) << row.select;
        }
    }
    // The button takes the unit through 0, 2, 3 and back to 0.
    ASSERT_TRUE(s.bed.change(kWordClockSelect, 0));
    for (const char* next : {"2", "3", "0"}) {
        QTest::mouseClick(s.panel->wordClockButton(), Qt::LeftButton);
        ASSERT_TRUE(qtest::waitUntil([&] { return s.bed.unitValue(kWordClockSelect) == next; }, 3000)) << next;
        ASSERT_TRUE(qtest::waitUntil([&] { return s.bed.link.read(kWordClockSelect.dev) == next; }, 3000));
        UnitBed::settle();
    }
    s.bed.setConnectionState(1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(s.panel->wordClockLed(i)->currentImageIndex(), 0);
}

TEST(SornPanel, RoutingPatternAndItsPicture)
{
    SornBed s;
    ASSERT_TRUE(s.bound);
    ASSERT_TRUE(s.bed.change(kRoutingPattern, 3));
    EXPECT_EQ(s.panel->routingPatternButton()->text(), "PATTERN #3");
    const ModalSeen seen = closeNextModal([&] { QTest::mouseClick(s.panel->routingPatternButton(), Qt::LeftButton); });
    EXPECT_EQ(seen.title, "ROUTING PATTERN");
    EXPECT_TRUE(seen.picture);
    EXPECT_EQ(seen.size, QSize(420, 250));

    // Zoomed panel: the picture window opens zoomed.
    s.panel->applyScale(2);
    const ModalSeen zoomed = closeNextModal([&] { s.panel->openRoutingPattern(); });
    EXPECT_EQ(zoomed.size, QSize(840, 500));
    s.panel->applyScale(0);

    // A pattern the unit should not report names itself but opens nothing.
    qtest::RecordingDev recorder(&s.bed.link.dev);
    Sorn::UIMain panel;
    ASSERT_EQ(panel.init(1, &recorder, &s.host), 0);
    recorder.forcedReads[kRoutingPattern.dev] = 8;
    panel.routingPatternChanged();
    EXPECT_EQ(panel.routingPatternButton()->text(), "PATTERN #8");
    EXPECT_FALSE(closeNextModal([&] { panel.openRoutingPattern(); }).picture);
    EXPECT_EQ(Sorn::RoutingPatternPopup(8).hasPicture(), false);

    // Connecting: no pattern shown, and nothing opens.
    s.bed.setConnectionState(1);
    EXPECT_EQ(s.panel->routingPatternButton()->text(), "----");
    EXPECT_TRUE(closeNextModal([&] { s.panel->openRoutingPattern(); }).title.isEmpty());
}

TEST(SornPanel, OneUserPatchWindowThatKeepsItsPlace)
{
    SornBed s;
    ASSERT_TRUE(s.bound);
    QTest::mouseClick(s.panel->userPatternButton(), Qt::LeftButton);
    QPointer<Sorn::UserPatch> window = s.panel->userPatch();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "USER PATTERN ROUTING");
    QTest::mouseClick(s.panel->userPatternButton(), Qt::LeftButton);
    EXPECT_EQ(s.panel->userPatch(), window.data());

    window->move(120, 80);
    const QPoint before = window->pos();
    const QSize size100 = window->size();
    s.panel->applyScale(1);
    EXPECT_EQ(window->pos(), before);
    EXPECT_EQ(window->size(), QSize(size100.width() * 3 / 2, size100.height() * 3 / 2));
    s.panel->applyScale(0);
    EXPECT_EQ(window->size(), size100);

    // Closed, it is forgotten; the next press opens a new one.
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(window.isNull());
    EXPECT_EQ(s.panel->userPatch(), nullptr);
    s.panel->openUserPatch();
    window = s.panel->userPatch();
    ASSERT_TRUE(window);
    // The panel takes its window along.
    s.panel.reset();
    EXPECT_TRUE(window.isNull());
}

TEST(SornPanel, UnboundPanel)
{
    Sorn::UIMain panel;
    iofam::HostStandIn host;
    EXPECT_EQ(panel.init(1, nullptr, &host), Quil::DEV_E_FAIL);
    for (JResult r : {panel.srcSourceChanged(), panel.masterWCLKChanged(), panel.srcLockChanged(),
             panel.slotLockChanged(), panel.routingPatternChanged(), panel.cardNameChanged(),
             panel.inputPortNumChanged(), panel.outputPortNumChanged(), panel.onProperty()})
        EXPECT_EQ(r, Quil::DEV_E_FAIL);
    EXPECT_EQ(panel.cardNameLabel(0)->text(), "");
}
