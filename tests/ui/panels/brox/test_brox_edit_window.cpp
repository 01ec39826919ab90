// The Brox and Pell edit window: its make-up by type and option, pages and
// their bindings, the title, the strips' own rules, zoom, and edits against
// a simulated unit shared with the main panel.
#include "tests/ui/panels/brox/brox_fixture.h"

#include "ui/bind/converters.h"
#include "ui/panels/brox_editchstrip.h"
#include "ui/panels/brox_mainchunit.h"
#include "ui/panels/brox_uiedit.h"
#include "ui/panels/brox_uimain.h"
#include "ui/panels/imagepanel.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zdial.h"
#include "ui/widgets/zlabeldisplay.h"

#include <QButtonGroup>

#include <memory>

namespace {

constexpr JResult kFail = static_cast<JResult>(0x80000000u);

std::unique_ptr<Brox::UIEdit> makeWindow(int type, bool option)
{
    std::unique_ptr<IZDevUIBase> base(Quil::createUIBase(static_cast<uint32_t>(type)));
    QWidget* widget = base->createEditWindow(0, QVariant(0), nullptr, Qt::Dialog, option);
    auto* window = dynamic_cast<Brox::UIEdit*>(widget);
    EXPECT_NE(window, nullptr) << "type " << type;
    if (!window)
        delete widget;
    return std::unique_ptr<Brox::UIEdit>(window);
}

QStringList tabTexts(const Brox::UIEdit& window)
{
    QStringList texts;
    for (int t = 0; t < window.tabCount(); ++t)
        texts << window.tabGroup()->button(t)->text();
    return texts;
}

// Offline units; one case starts a simulated unit as well.
class BroxEditWindow : public broxtest::UnitBed {
protected:
    void SetUp() override { }

    BroxEditWindow()
        : rack({Quil::MODEL_BROXL_D3, Quil::MODEL_BROXL_D3, Quil::MODEL_BROXL_D})
    {
        for (size_t slot = 0; slot < rack.units.size(); ++slot)
            rack.unit(slot).setAddress(QStringLiteral("127.0.0.1"), 49280);
    }
    qtest::OfflineRack rack;
    broxtest::RecordingHost host;
};

TEST_F(BroxEditWindow, MakeUpByTypeAndOption)
{
    enum Kind { BroxIn, PellIn, Out };
    struct Row {
        int type;
        bool option;
        Kind kind;
        int channels;
        const char* background;
        const char* tabs;
    };
    const Row rows[] = {
        {1, true, BroxIn, 32, "bg_edit_device.png", "1-8,9-16,17-24,25-32"},
        {8, false, BroxIn, 32, "bg_edit_device.png", "1-8,9-16,17-24,25-32"},
        {2, false, BroxIn, 16, "bg_edit_device.png", "1-8,9-16"},
        {9, true, BroxIn, 16, "bg_edit_device.png", "1-8,9-16"},
        {3, false, BroxIn, 8, "bg_edit_device.png", "1-8"},
        {7, true, PellIn, 16, "bg_edit_device.png", "1-8,9-16"},
        {10, false, PellIn, 16, "bg_edit_device.png", "1-8,9-16"},
        {11, false, BroxIn, 32, "bg_edit_device.png", "1-8,9-16,17-24,25-32"},
        {11, true, Out, 24, "bg_edit_device_output.png", "1-8,9-16,AES/EBU 1-8"},
        {12, false, BroxIn, 16, "bg_edit_device.png", "1-8,9-16"},
        {12, true, Out, 8, "bg_edit_device_output.png", "1-8"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << row.type << " option " << row.option);
        auto window = makeWindow(row.type, row.option);
        ASSERT_TRUE(window);
        EXPECT_EQ(window->size(), QSize(604, 394));
        EXPECT_EQ(window->minimumSize(), QSize(604, 394));
        EXPECT_EQ(window->maximumSize(), QSize(604, 394));
        EXPECT_FALSE(window->windowFlags() & Qt::WindowContextHelpButtonHint);
        EXPECT_EQ(window->channelCount(), row.channels);
        EXPECT_EQ(window->backgroundName(), QString::fromLatin1(row.background));
        EXPECT_FALSE(window->backgroundPanel()->pixmap().isNull());
        EXPECT_EQ(tabTexts(*window).join(QLatin1Char(',')), QString::fromLatin1(row.tabs));
        EXPECT_TRUE(window->tabGroup()->button(0)->isChecked());
        EXPECT_EQ(window->tabGroup()->button(1 % window->tabCount())->geometry().topLeft(),
            window->tabCount() > 1 ? QPoint(161, 34) : QPoint(17, 34));
        ASSERT_NE(window->peakHoldButton(), nullptr);
        EXPECT_EQ(window->peakHoldButton()->geometry(), QRect(503, 9, 96, 20));
        ASSERT_EQ(window->strips().size(), 8u);
        for (int k = 0; k < 8; ++k) {
            IEditChStrip* strip = window->strips()[k];
            auto* widget = dynamic_cast<QWidget*>(strip);
            EXPECT_EQ(widget->pos(), QPoint(17 + 72 * k, 71));
            switch (row.kind) {
            case BroxIn:
                EXPECT_NE(dynamic_cast<Brox::EditChStrip*>(strip), nullptr);
                break;
            case PellIn:
                EXPECT_NE(dynamic_cast<Pell::EditChStrip*>(strip), nullptr);
                break;
            case Out:
                EXPECT_NE(dynamic_cast<Brox::EditChStripOutput*>(strip), nullptr);
                break;
            }
        }
    }
    // BroxO-D has no edit window.
    std::unique_ptr<IZDevUIBase> outputOnly(Quil::createUIBase(4));
    EXPECT_FALSE(outputOnly->hasEditWindow());
    EXPECT_EQ(outputOnly->createEditWindow(0, QVariant(0), nullptr, Qt::Dialog, false), nullptr);
}

TEST_F(BroxEditWindow, PagesRebindTheEightStrips)
{
    qtest::RecordingDev dev(&rack.unit(0));
    rack.linkWrite(0, "/Backup/OutChAES:3/GainLevel:0", -1200);
    auto window = makeWindow(11, true);
    ASSERT_EQ(window->init(2, &dev, &host), 0);
    ASSERT_TRUE(qtest::showAndWait(window.get()));

    // The current page: nothing is read again.
    const int reads = dev.reads;
    EXPECT_EQ(window->setPage(QVariant(0)), 0);
    EXPECT_EQ(dev.reads, reads);
    EXPECT_EQ(window->setPage(QVariant(3)), kFail);
    EXPECT_EQ(window->setPage(QVariant(-1)), kFail);
    EXPECT_EQ(window->currentPage(), 0);

    // The third tab by mouse: AES outputs 1-8 on OutChAES 0-7.
    QTest::mouseClick(window->tabGroup()->button(2), Qt::LeftButton);
    ASSERT_EQ(window->currentPage(), 2);
    for (int k = 0; k < 8; ++k) {
        auto* strip = dynamic_cast<Brox::EditChStripOutput*>(window->strips()[k]);
        EXPECT_EQ(strip->channel(), 16 + k);
        EXPECT_EQ(strip->identifyButton()->text(), QStringLiteral("AES %1").arg(k + 1));
    }
    auto* fourth = dynamic_cast<Brox::EditChStripOutput*>(window->strips()[3]);
    QString text;
    ParamConverterOutGain::instance()->toDisplayString(-1200, &text);
    EXPECT_EQ(fourth->gainValue()->text(), text);
    EXPECT_EQ(fourth->gainKnob()->value(), -1200);
    QTest::mouseClick(fourth->polarityButton(), Qt::LeftButton);
    EXPECT_EQ(rack.read(0, "/Backup/OutChAES:3/Polarity:0"), 1);
    EXPECT_EQ(rack.read(0, "/Backup/OutCh:19/Polarity:0"), 0);
    dev.writes.clear();
    QTest::mousePress(fourth->identifyButton(), Qt::LeftButton);
    QTest::mouseRelease(fourth->identifyButton(), Qt::LeftButton);
    ASSERT_EQ(dev.writes.size(), 2u);
    EXPECT_EQ(dev.writes[0].path, "/Event/OutCh:19/Identify:0");
    EXPECT_EQ(dev.writes[0].value, 1);
    EXPECT_EQ(dev.writes[1].value, 0);

    auto inputs = makeWindow(11, false);
    ASSERT_EQ(inputs->init(2, &dev, &host), 0);
    EXPECT_EQ(inputs->setPage(QVariant(4)), kFail);
    EXPECT_EQ(inputs->setPage(QVariant(3)), 0);
    EXPECT_EQ(dynamic_cast<Brox::EditChStrip*>(inputs->strips()[7])->identifyButton()->text(), QStringLiteral("32"));
}

TEST_F(BroxEditWindow, InputStripIdentifyWhileHeld)
{
    qtest::RecordingDev dev(&rack.unit(0));
    auto window = makeWindow(11, false);
    ASSERT_EQ(window->init(2, &dev, &host), 0);
    ASSERT_EQ(window->setPage(QVariant(3)), 0);
    ASSERT_TRUE(qtest::showAndWait(window.get()));
    auto* strip = dynamic_cast<Brox::EditChStrip*>(window->strips()[7]);
    ASSERT_NE(strip, nullptr);
    dev.writes.clear();
    QTest::mousePress(strip->identifyButton(), Qt::LeftButton);
    ASSERT_EQ(dev.writes.size(), 1u) << "on while pressed";
    QTest::mouseRelease(strip->identifyButton(), Qt::LeftButton);
    ASSERT_EQ(dev.writes.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(dev.writes[i].path, "/Event/InCh:31/Identify:0");
        EXPECT_EQ(dev.writes[i].value, i == 0 ? 1 : 0);
        EXPECT_EQ(dev.writes[i].source, Quil::SOURCE_UI);
    }
}

TEST_F(BroxEditWindow, TitleAndNullAccessor)
{
    ASSERT_GE(broxtest::writeText(rack.unit(0), "/DevInfo/devinfo:0/devicename:0", "Stage"), 0);
    auto window = makeWindow(11, false);
    EXPECT_EQ(window->init(2, nullptr, &host), kFail);
    ASSERT_EQ(window->init(2, &rack.unit(0), nullptr), 0); // a host is not needed
    EXPECT_EQ(window->windowTitle(), QStringLiteral(" #3: Stage"));
    EXPECT_EQ(window->setDeviceName(QStringLiteral("Front of house")), 0);
    EXPECT_EQ(window->windowTitle(), QStringLiteral(" #3: Front of house"));
}

TEST_F(BroxEditWindow, InputStripRules)
{
    auto window = makeWindow(8, false);
    ASSERT_EQ(window->init(0, &rack.unit(2), &host), 0);
    ASSERT_TRUE(qtest::showAndWait(window.get()));
    auto* strip = dynamic_cast<Brox::EditChStrip*>(window->strips()[1]);
    EXPECT_FALSE(strip->compensationValue()->isVisible());
    QTest::mouseClick(strip->gcButton(), Qt::LeftButton);
    EXPECT_EQ(rack.read(2, "/Backup/InCh:1/GainCompOn:0"), 1);
    EXPECT_TRUE(strip->compensationValue()->isVisible());
    QTest::mouseClick(strip->gcButton(), Qt::LeftButton);
    EXPECT_FALSE(strip->compensationValue()->isVisible());

    // "All 0dB" covers the window's channels.
    EXPECT_EQ(window->onAll0dBHaGain(), 0);
    EXPECT_EQ(rack.read(2, "/Backup/InCh:31/HAGain:0"), 0);

    // A Pell strip's label identifies nothing.
    qtest::OfflineRack pellRack({Quil::MODEL_PELLM_D2});
    qtest::RecordingDev dev(&pellRack.unit(0));
    auto pell = makeWindow(10, false);
    ASSERT_EQ(pell->init(0, &dev, &host), 0);
    ASSERT_TRUE(qtest::showAndWait(pell.get()));
    auto* pellStrip = dynamic_cast<Pell::EditChStrip*>(pell->strips()[2]);
    EXPECT_EQ(pellStrip->channelLabel()->text(), QStringLiteral("3"));
    dev.writes.clear();
    QTest::mouseClick(pellStrip->channelLabel(), Qt::LeftButton);
    EXPECT_TRUE(dev.writes.empty());
}

TEST_F(BroxEditWindow, OutputDelayDisplaysFollowScaleAndOwnRate)
{
    // Two BroxL-D3 at 48 and 96 kHz with the sample scale: each window keeps
    // its own unit's rate, whichever unit was bound last.
    rack.linkWrite(0, "/Current/Dev:0/WordclockFs:0", 48000);
    rack.linkWrite(1, "/Current/Dev:0/WordclockFs:0", 96000);
    for (size_t slot : {0u, 1u}) {
        rack.linkWrite(slot, "/Backup/OutputSetup:0/DelayScale:0", 2);
        rack.linkWrite(slot, "/Backup/OutCh:0/DelayTime:0", 9600);
    }
    auto first = makeWindow(11, true);
    ASSERT_EQ(first->init(0, &rack.unit(0), &host), 0);
    auto second = makeWindow(11, true);
    ASSERT_EQ(second->init(1, &rack.unit(1), &host), 0);
    ASSERT_TRUE(qtest::showAndWait(first.get()));
    auto* firstStrip = dynamic_cast<Brox::EditChStripOutput*>(first->strips()[0]);
    auto* secondStrip = dynamic_cast<Brox::EditChStripOutput*>(second->strips()[0]);
    QString at48;
    QString at96;
    ParamConverterDelaySample::instance(48000)->toDisplayString(9600, &at48);
    ParamConverterDelaySample::instance(96000)->toDisplayString(9600, &at96);
    ASSERT_NE(at48, at96);
    EXPECT_EQ(firstStrip->delayValue()->text(), at48);
    EXPECT_EQ(secondStrip->delayValue()->text(), at96);
    rack.linkWrite(0, "/Backup/OutCh:0/DelayTime:0", 4800);
    QString later;
    ParamConverterDelaySample::instance(48000)->toDisplayString(4800, &later);
    EXPECT_TRUE(qtest::waitUntil([&] { return firstStrip->delayValue()->text() == later; }));
    EXPECT_EQ(secondStrip->delayValue()->text(), at96);

    // The ms display shows exactly when the scale is not ms.
    struct Row {
        int scale;
        const char* unit;
    };
    for (const Row& row : {Row{3, "ms"}, Row{0, "m"}, Row{3, "ms"}, Row{4, "frame"}}) {
        rack.linkWrite(0, "/Backup/OutputSetup:0/DelayScale:0", row.scale);
        ASSERT_TRUE(qtest::waitUntil([&] { return firstStrip->unitLabel()->text() == QLatin1String(row.unit); }));
        EXPECT_EQ(firstStrip->delayMs()->isVisible(), row.scale != 3) << row.scale;
        EXPECT_EQ(firstStrip->msLabel()->isVisible(), row.scale != 3) << row.scale;
    }

    // Page changes rebind the strips without adding handlers.
    for (int page : {1, 2, 0, 1, 0})
        ASSERT_EQ(first->setPage(QVariant(page)), 0);
    const int before = firstStrip->rebindCount();
    rack.linkWrite(0, "/Backup/OutputSetup:0/DelayScale:0", 1);
    ASSERT_TRUE(qtest::waitUntil([&] { return firstStrip->unitLabel()->text() == QLatin1String("feet"); }));
    qtest::waitUntil([] { return false; }, 60);
    EXPECT_EQ(firstStrip->rebindCount() - before, 1);
}

TEST_F(BroxEditWindow, ZoomRoundTripRestoresTheSize)
{
    auto window = makeWindow(11, true);
    ASSERT_EQ(window->init(0, &rack.unit(0), &host), 0);
    ASSERT_TRUE(qtest::showAndWait(window.get()));
    window->applyScale(2);
    EXPECT_EQ(window->size(), QSize(1208, 788));
    EXPECT_EQ(window->minimumSize(), QSize(1208, 788));
    window->applyScale(0);
    EXPECT_EQ(window->size(), QSize(604, 394));
    EXPECT_EQ(window->maximumSize(), QSize(604, 394));
    EXPECT_EQ(window->strips()[7] ? dynamic_cast<QWidget*>(window->strips()[7])->pos() : QPoint(), QPoint(521, 71));
}

TEST_F(BroxEditWindow, EditsReachTheUnitAndMoveTheMainPanel)
{
    ASSERT_NO_FATAL_FAILURE(start(Quil::MODEL_BROXL_D3, "1.1.0"));
    std::unique_ptr<Brox::UIMain> panel(static_cast<Brox::UIMain*>(Quil::createUIMain(11, nullptr)));
    ASSERT_EQ(panel->init(0, &link->dev, &host), 0);
    auto window = makeWindow(11, false);
    ASSERT_EQ(window->init(0, &link->dev, &host), 0);
    ASSERT_EQ(window->setPage(QVariant(1)), 0);
    ASSERT_TRUE(qtest::showAndWait(panel.get()));
    ASSERT_TRUE(qtest::showAndWait(window.get()));
    settle();
    ASSERT_EQ(sets(), 0u);

    // The window's +48V and a gain step by wheel on channel 10.
    auto* strip = dynamic_cast<Brox::EditChStrip*>(window->strips()[1]);
    ASSERT_EQ(strip->channel(), 9);
    QTest::mouseClick(strip->phantomButton(), Qt::LeftButton);
    const int gain = strip->gainKnob()->value();
    QWheelEvent wheel(QPointF(10, 10), strip->gainKnob()->mapToGlobal(QPoint(10, 10)), QPoint(), QPoint(0, 120),
        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(strip->gainKnob(), &wheel);
    ASSERT_NE(strip->gainKnob()->value(), gain);
    const int wheeled = strip->gainKnob()->value();
    EXPECT_TRUE(pumpUntil([&] {
        return unitValue("IO:Current/InCh/48VOn", 9) == 1 && unitValue("IO:Current/InCh/HAGain", 9) == wheeled;
    }));
    Brox::MainChUnit* column = panel->inputColumns()[9];
    EXPECT_TRUE(
        pumpUntil([&] { return column->phantomButton()->isChecked() && column->gainKnob()->value() == wheeled; }));
    const uint64_t afterEdits = sets();
    EXPECT_EQ(afterEdits, 2u);

    // The unit's own change moves both, and nothing goes back.
    ASSERT_GE(unit().setLocal("Current/InCh/HPFFreq", 9, 0, JLIB::JVariant(int32_t{1000})), 0);
    ASSERT_GE(unit().setLocal("Current/InCh/HPFOn", 9, 0, JLIB::JVariant(int32_t{1})), 0);
    EXPECT_TRUE(pumpUntil([&] { return strip->hpfButton()->isChecked() && column->hpfButton()->isChecked(); }));
    settle(200);
    EXPECT_EQ(sets(), afterEdits);
}

} // namespace
