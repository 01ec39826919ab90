// The BroxL-D3 main panel driving a simulated unit over loopback: what the
// user does reaches the unit as sets, what the unit changes moves the
// controls, and nothing the panel shows goes back.
#include "tests/ui/panels/brox/brox_fixture.h"

#include "tests/support/gui/modal_driver.h"
#include "ui/bind/converters.h"
#include "ui/panels/brox_mainchunit.h"
#include "ui/panels/brox_uimain.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zdial.h"
#include "ui/widgets/zlabeldisplay.h"
#include "ui/widgets/zstatedisplay.h"

#include <memory>

namespace {

class BroxPanelUnit : public broxtest::UnitBed {
protected:
    void openPanel()
    {
        panel.reset(static_cast<Brox::UIMain*>(Quil::createUIMain(11, nullptr)));
        ASSERT_EQ(panel->init(0, &link->dev, &host), 0);
        ASSERT_TRUE(qtest::showAndWait(panel.get()));
        settle();
    }

    broxtest::RecordingHost host;
    std::unique_ptr<Brox::UIMain> panel;
};

TEST_F(BroxPanelUnit, BuildingAndShowingSendsNothing)
{
    ASSERT_NO_FATAL_FAILURE(openPanel());
    ASSERT_EQ(panel->onInputOutputClicked(1), 0);
    settle(300);
    EXPECT_EQ(sets(), 0u);
}

TEST_F(BroxPanelUnit, MouseOnAColumnReachesTheUnit)
{
    ASSERT_NO_FATAL_FAILURE(openPanel());
    Brox::MainChUnit* column = panel->inputColumns()[4];
    ZDial* knob = column->gainKnob();
    const int before = knob->value();
    // Drag from the top of the knob round to its right-hand side.
    const QPoint centre = knob->rect().center();
    QTest::mousePress(knob, Qt::LeftButton, {}, QPoint(centre.x(), 2));
    for (int step = 1; step <= 8; ++step)
        QTest::mouseMove(knob, QPoint(centre.x() + 2 * step, 2 + 2 * step));
    QTest::mouseRelease(knob, Qt::LeftButton, {}, QPoint(centre.x() + 16, centre.y()));
    ASSERT_NE(knob->value(), before);
    const int dragged = knob->value();
    EXPECT_TRUE(pumpUntil([&] { return unitValue("IO:Current/InCh/HAGain", 4) == dragged; }));
    QString text;
    ParamConverterAGain::instance()->toDisplayString(dragged, &text);
    EXPECT_TRUE(pumpUntil([&] { return column->gainValue()->text() == text; }));

    QTest::mouseClick(column->phantomButton(), Qt::LeftButton);
    EXPECT_TRUE(pumpUntil([&] { return unitValue("IO:Current/InCh/48VOn", 4) == 1; }));
    EXPECT_EQ(unitValue("IO:Current/InCh/48VOn", 3), 0);

    // Control-click puts the default back.
    JLIB::JVariant standard;
    ASSERT_GE(link->dev.getDefault(QStringLiteral("/Backup/InCh:4/HAGain:0"), &standard, false), 0);
    QTest::mouseClick(knob, Qt::LeftButton, Qt::ControlModifier, centre);
    EXPECT_TRUE(pumpUntil(
        [&] { return unitValue("IO:Current/InCh/HAGain", 4) == static_cast<int32_t>(standard.toInteger()); }));
    EXPECT_TRUE(pumpUntil([&] { return knob->value() == static_cast<int32_t>(standard.toInteger()); }));
}

TEST_F(BroxPanelUnit, UnitChangesMoveTheControlsAndAreNotSentBack)
{
    ASSERT_NO_FATAL_FAILURE(openPanel());
    const uint64_t before = sets();
    Brox::MainChUnit* column = panel->inputColumns()[6];
    ASSERT_GE(unit().setLocal("Current/InCh/HAGain", 6, 0, JLIB::JVariant(int32_t{20})), 0);
    ASSERT_GE(unit().setLocal("Current/InCh/HPFOn", 6, 0, JLIB::JVariant(int32_t{1})), 0);
    EXPECT_TRUE(pumpUntil([&] { return column->gainKnob()->value() == 20 && column->hpfButton()->isChecked(); }));
    EXPECT_EQ(column->gainValue()->text(), QStringLiteral("+20dB"));
    settle(200);
    EXPECT_EQ(sets(), before);
}

TEST_F(BroxPanelUnit, AllZeroDecibelsWritesTheInputsOnly)
{
    for (int i = 0; i < 32; ++i)
        ASSERT_GE(unit().setLocal("Current/InCh/HAGain", i, 0, JLIB::JVariant(int32_t{12})), 0);
    ASSERT_NO_FATAL_FAILURE(openPanel());
    ASSERT_TRUE(pumpUntil([&] { return panel->inputColumns()[31]->gainKnob()->value() == 12; }));
    const uint64_t before = sets();
    qtest::ModalDriver driver;
    driver.chooseMenuItem(QStringLiteral("All 0dB"));
    ZDial* knob = panel->inputColumns()[9]->gainKnob();
    QTest::mouseClick(knob, Qt::RightButton, {}, knob->rect().center());
    ASSERT_TRUE(driver.waitAllAnswered());
    EXPECT_TRUE(pumpUntil([&] {
        for (int i = 0; i < 32; ++i)
            if (unitValue("IO:Current/InCh/HAGain", i) != 0)
                return false;
        return true;
    }));
    settle(200);
    EXPECT_EQ(sets() - before, 32u);
    EXPECT_EQ(panel->inputColumns()[31]->gainKnob()->value(), 0);
}

TEST_F(BroxPanelUnit, ParameterSetOlderThan111FollowsTheLeaderState)
{
    ASSERT_NO_FATAL_FAILURE(openPanel());
    EXPECT_EQ(panel->phantomPath(), QStringLiteral("/Current/Dev:0/48VLeaderOn:0"));
    ASSERT_GE(unit().setLocal("Current/Dev/48VLeaderOn", 0, 0, JLIB::JVariant(int32_t{1})), 0);
    EXPECT_TRUE(pumpUntil([&] { return panel->phantomIndicator()->currentImageIndex() == 1; }));
}

TEST_F(BroxPanelUnit, ParameterSet111FollowsTheActiveState)
{
    stop();
    ASSERT_NO_FATAL_FAILURE(start(Quil::MODEL_BROXL_D3, "1.1.1"));
    ASSERT_NO_FATAL_FAILURE(openPanel());
    EXPECT_EQ(panel->phantomPath(), QStringLiteral("/Current/Dev:0/48VActiveOn:0"));
    ASSERT_GE(unit().setLocal("Current/Dev/48VLeaderOn", 0, 0, JLIB::JVariant(int32_t{1})), 0);
    settle(200);
    EXPECT_EQ(panel->phantomIndicator()->currentImageIndex(), 0);
    ASSERT_GE(unit().setLocal("Current/Dev/48VActiveOn", 0, 0, JLIB::JVariant(int32_t{1})), 0);
    EXPECT_TRUE(pumpUntil([&] { return panel->phantomIndicator()->currentImageIndex() == 1; }));
}

} // namespace
