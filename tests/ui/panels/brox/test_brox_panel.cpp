// The Brox and Pell main panel on its own and against offline units:
// construction by device type, view switching, menus, the double-click
// page at every zoom, and the +48V path chosen by the parameter set.
#include "tests/ui/panels/brox/brox_fixture.h"

#include "tests/support/gui/modal_driver.h"
#include "ui/panels/brox_delayscaleunit.h"
#include "ui/panels/brox_mainchunit.h"
#include "ui/panels/brox_uimain.h"
#include "ui/panels/imagepanel.h"
#include "ui/panels/statusunits.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zdial.h"
#include "ui/widgets/zlabeldisplay.h"
#include "ui/widgets/zstatedisplay.h"

#include <QButtonGroup>
#include <QContextMenuEvent>

#include <memory>

namespace {

using broxtest::RecordingHost;

constexpr JResult kFail = static_cast<JResult>(0x80000000u);

std::unique_ptr<Brox::UIMain> makePanel(int type)
{
    QWidget* widget = Quil::createUIMain(static_cast<uint32_t>(type), nullptr);
    auto* panel = dynamic_cast<Brox::UIMain*>(widget);
    EXPECT_NE(panel, nullptr) << "type " << type;
    if (!panel)
        delete widget;
    return std::unique_ptr<Brox::UIMain>(panel);
}

QPoint expectedPlace(int i)
{
    return QPoint(57 + 68 * (i % 8), 14 + 132 * (i / 8));
}

class BroxPanel : public testing::Test {
protected:
    explicit BroxPanel(std::vector<Quil::ModelType> models
        = {Quil::MODEL_BROXM_D, Quil::MODEL_BROXO_D, Quil::MODEL_BROXL_D3, Quil::MODEL_BROXM_D3})
        : rack(models)
    {
        // The device information is read only from units with an address.
        for (size_t slot = 0; slot < models.size(); ++slot)
            rack.unit(slot).setAddress(QStringLiteral("127.0.0.1"), 49280);
    }
    qtest::OfflineRack rack;
    RecordingHost host;
};

TEST_F(BroxPanel, ConstructionByType)
{
    struct Row {
        int type;
        int inputs;
        int outputs;
        const char* background;
        const char* caption; // empty: no caption, indicator or peak hold
        const char* phantomPath;
    };
    const Row rows[] = {
        {1, 32, 0, "bg_dev_BroxLD.png", "bg_dev_Brox_txt_+48V.png", "/Current/Dev:0/48VMasterOn:0"},
        {2, 16, 0, "bg_dev_BroxMD.png", "bg_dev_Brox_txt_+48V.png", "/Current/Dev:0/48VMasterOn:0"},
        {3, 8, 0, "bg_dev_BroxID.png", "bg_dev_Brox_txt_+48V.png", "/Current/Dev:0/48VMasterOn:0"},
        {4, 0, 0, "bg_dev_BroxOD.png", "", "/Current/Dev:0/48VMasterOn:0"},
        {7, 16, 0, "bg_dev_BroxMD.png", "bg_dev_Brox_txt_+48V.png", "/Current/Dev:0/48VMasterOn:0"},
        {8, 32, 0, "bg_dev_BroxLD.png", "bg_dev_Brox_txt_+48V.png", "/Current/Dev:0/48VMasterOn:0"},
        {9, 16, 0, "bg_dev_BroxMD.png", "bg_dev_Brox_txt_+48V.png", "/Current/Dev:0/48VMasterOn:0"},
        {10, 16, 0, "bg_dev_BroxMD.png", "bg_dev_Brox_txt_+48V_active.png", "/Current/Dev:0/48VMasterOn:0"},
        {11, 32, 24, "bg_dev_BroxLD.png", "bg_dev_Brox_txt_+48V_active.png", ""},
        {12, 16, 8, "bg_dev_BroxMD.png", "bg_dev_Brox_txt_+48V_active.png", "/Current/Dev:0/48VLeaderOn:0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << row.type);
        auto panel = makePanel(row.type);
        ASSERT_TRUE(panel);
        EXPECT_EQ(panel->size(), QSize(752, 543));
        EXPECT_EQ(panel->backgroundName(), QString::fromLatin1(row.background));
        EXPECT_FALSE(panel->background().isNull());
        EXPECT_EQ(panel->phantomPath(), QString::fromLatin1(row.phantomPath));
        EXPECT_EQ(panel->blockCount(), row.inputs / 8);
        ASSERT_EQ(static_cast<int>(panel->inputColumns().size()), row.inputs);
        ASSERT_EQ(static_cast<int>(panel->outputColumns().size()), row.outputs);
        for (int i = 0; i < row.inputs; ++i) {
            const Brox::MainChUnit* column = panel->inputColumns()[i];
            EXPECT_EQ(column->geometry(), QRect(expectedPlace(i), QSize(58, 118))) << "input " << i;
            EXPECT_EQ(column->identifyButton()->text(), QString::number(i + 1));
        }
        for (int i = 0; i < row.outputs; ++i) {
            const Brox::MainChUnitOutput* column = panel->outputColumns()[i];
            EXPECT_EQ(column->pos(), expectedPlace(i)) << "output " << i;
            EXPECT_EQ(column->identifyButton()->text(),
                i < 16 ? QString::number(i + 1) : QStringLiteral("AES %1").arg(i - 15));
        }
        const bool hasInputs = row.inputs > 0;
        EXPECT_EQ(panel->peakHoldButton() != nullptr, hasInputs);
        EXPECT_EQ(panel->phantomIndicator() != nullptr, hasInputs);
        ASSERT_EQ(panel->phantomCaption() != nullptr, hasInputs);
        if (hasInputs) {
            EXPECT_FALSE(panel->phantomCaption()->pixmap().isNull());
            EXPECT_EQ(panel->phantomCaption()->geometry(), QRect(610, 13, 98, 10));
            EXPECT_EQ(panel->peakHoldButton()->geometry(), QRect(611, 111, 96, 20));
            EXPECT_EQ(panel->phantomIndicator()->nSubImages(), 2);
        }
        EXPECT_EQ(panel->sysUnit()->geometry(), QRect(611, 49, 49, 42));
        EXPECT_EQ(panel->syncUnit()->geometry(), QRect(659, 49, 49, 42));
        const bool twoViews = row.outputs > 0;
        EXPECT_EQ(panel->outputBlock() != nullptr, twoViews);
        EXPECT_EQ(panel->viewKind(), twoViews ? 0 : 2);
        if (twoViews) {
            EXPECT_EQ(panel->outputBlock()->geometry(), QRect(47, 405, 554, 130));
            EXPECT_TRUE(panel->inputButton()->isChecked());
            EXPECT_EQ(panel->inputButton()->geometry(), QRect(614, 180, 90, 18));
            EXPECT_EQ(panel->outputButton()->geometry(), QRect(614, 205, 90, 18));
            EXPECT_EQ(panel->onInputOutputClicked(0), 0); // already the input view
        } else {
            EXPECT_EQ(panel->onInputOutputClicked(0), kFail);
            EXPECT_EQ(panel->viewKind(), 2);
        }
    }
}

// The next widget Tab moves to from `from`.
QWidget* nextTabStop(QWidget* from)
{
    QWidget* w = from->nextInFocusChain();
    for (int guard = 0; w != from && guard < 10000; ++guard, w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus)
            return w;
    return nullptr;
}

TEST_F(BroxPanel, TabOrderRunsAlongEachRowOfKnobsAndValues)
{
    auto panel = makePanel(11);
    const auto& inputs = panel->inputColumns();
    for (size_t i = 0; i + 1 < inputs.size(); ++i) {
        EXPECT_EQ(nextTabStop(inputs[i]->gainKnob()), inputs[i + 1]->gainKnob()) << i;
        EXPECT_EQ(nextTabStop(inputs[i]->gainValue()), inputs[i + 1]->gainValue()) << i;
    }
    const auto& outputs = panel->outputColumns();
    for (size_t i = 0; i + 1 < outputs.size(); ++i) {
        EXPECT_EQ(nextTabStop(outputs[i]->delayKnob()), outputs[i + 1]->delayKnob()) << i;
        EXPECT_EQ(nextTabStop(outputs[i]->delayMs()), outputs[i + 1]->delayMs()) << i;
    }
}

TEST_F(BroxPanel, OutputViewShowsTheOutputSide)
{
    struct Row {
        int type;
        const char* outputBackground;
        const char* inputBackground;
    };
    for (const Row& row :
        {Row{11, "bg_dev_BroxLD3Output.png", "bg_dev_BroxLD.png"}, Row{12, "bg_dev_BroxID.png", "bg_dev_BroxMD.png"}}) {
        SCOPED_TRACE(row.type);
        auto panel = makePanel(row.type);
        ASSERT_TRUE(qtest::showAndWait(panel.get()));
        QTest::mouseClick(panel->outputButton(), Qt::LeftButton);
        EXPECT_EQ(panel->viewKind(), 1);
        EXPECT_EQ(panel->backgroundName(), QString::fromLatin1(row.outputBackground));
        EXPECT_TRUE(panel->outputBlock()->isVisible());
        for (auto* column : panel->outputColumns())
            EXPECT_TRUE(column->isVisible());
        for (auto* column : panel->inputColumns())
            EXPECT_FALSE(column->isVisible());
        QTest::mouseClick(panel->inputButton(), Qt::LeftButton);
        EXPECT_EQ(panel->viewKind(), 0);
        EXPECT_EQ(panel->backgroundName(), QString::fromLatin1(row.inputBackground));
        EXPECT_FALSE(panel->outputBlock()->isVisible());
        EXPECT_TRUE(panel->inputColumns().back()->isVisible());
    }
}

TEST_F(BroxPanel, MenusByTypeAndTheirCommands)
{
    // Right-click on the panel: "Open Edit Window" and "Properties", only
    // "Properties" on a BroxO-D; right-click on a gain knob: the gain menu.
    auto panel = makePanel(2);
    ASSERT_EQ(panel->init(5, &rack.unit(0), &host), 0);
    ASSERT_TRUE(qtest::showAndWait(panel.get()));
    {
        qtest::ModalDriver driver;
        driver.chooseMenuItem(QStringLiteral("Properties"));
        QTest::mouseClick(panel.get(), Qt::RightButton, {}, QPoint(700, 400));
        ASSERT_TRUE(driver.waitAllAnswered());
        ASSERT_EQ(driver.seen().size(), 1u);
        EXPECT_EQ(driver.seen()[0].text, QStringLiteral("Open Edit Window\nProperties"));
        ASSERT_EQ(host.properties.size(), 1u);
        EXPECT_EQ(host.properties[0], 5u);
    }
    {
        qtest::ModalDriver driver;
        driver.chooseMenuItem(QStringLiteral("Open Edit Window"));
        QTest::mouseClick(panel.get(), Qt::RightButton, {}, QPoint(700, 400));
        ASSERT_TRUE(driver.waitAllAnswered());
        ASSERT_EQ(host.editRequests.size(), 1u);
        EXPECT_EQ(host.editRequests[0].kind, 2);
        EXPECT_EQ(host.editRequests[0].page, 0);
        EXPECT_FALSE(host.editRequests[0].option);
    }
    {
        qtest::ModalDriver driver;
        driver.chooseMenuItem(QStringLiteral("All 0dB"));
        ZDial* knob = panel->inputColumns()[3]->gainKnob();
        QTest::mouseClick(knob, Qt::RightButton, {}, knob->rect().center());
        ASSERT_TRUE(driver.waitAllAnswered());
        ASSERT_EQ(driver.seen().size(), 1u);
        EXPECT_EQ(driver.seen()[0].text, QStringLiteral("All Default\nAll 0dB"));
        EXPECT_EQ(rack.read(0, "/Backup/InCh:15/HAGain:0"), 0);
    }

    auto outputOnly = makePanel(4);
    ASSERT_EQ(outputOnly->init(1, &rack.unit(1), &host), 0);
    ASSERT_TRUE(qtest::showAndWait(outputOnly.get()));
    qtest::ModalDriver driver;
    driver.chooseMenuItem(QStringLiteral("Properties"));
    QTest::mouseClick(outputOnly.get(), Qt::RightButton, {}, QPoint(300, 300));
    ASSERT_TRUE(driver.waitAllAnswered());
    ASSERT_EQ(driver.seen().size(), 1u);
    EXPECT_EQ(driver.seen()[0].text, QStringLiteral("Properties"));
}

TEST_F(BroxPanel, AllGainCommandsWriteEveryInputOnly)
{
    qtest::RecordingDev dev(&rack.unit(0));
    auto panel = makePanel(2);
    ASSERT_EQ(panel->init(0, &dev, &host), 0);
    JLIB::JVariant standard;
    ASSERT_GE(dev.getDefault(QStringLiteral("/Backup/InCh:0/HAGain:0"), &standard, false), 0);
    for (const bool nominal : {true, false}) {
        dev.writes.clear();
        EXPECT_EQ(nominal ? panel->onAll0dBHaGain() : panel->onAllDefultHaGain(), 0);
        ASSERT_EQ(dev.writes.size(), 16u);
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(dev.writes[i].path, "/Backup/InCh:" + std::to_string(i) + "/HAGain:0");
            EXPECT_EQ(dev.writes[i].value, nominal ? 0 : static_cast<int32_t>(standard.toInteger()));
            EXPECT_EQ(dev.writes[i].source, 1);
        }
    }
    // Without an accessor nothing is written and nothing fails.
    auto unbound = makePanel(2);
    EXPECT_EQ(unbound->onAll0dBHaGain(), 0);
    EXPECT_EQ(unbound->onOpenEditWindow(), kFail);
    EXPECT_EQ(unbound->onProperty(), kFail);
    EXPECT_EQ(unbound->init(0, nullptr, &host), kFail);
    EXPECT_EQ(unbound->init(0, &dev, nullptr), kFail);
}

// Holding a column's identify button lights the channel on the unit; an AES
// output identifies through its plain output index.
TEST_F(BroxPanel, ColumnIdentifyWhileHeldIncludingAesOutputs)
{
    qtest::RecordingDev dev(&rack.unit(2));
    auto panel = makePanel(11);
    ASSERT_EQ(panel->init(0, &dev, &host), 0);
    ASSERT_TRUE(qtest::showAndWait(panel.get()));
    const struct {
        ZButton* button;
        const char* label;
        std::string path;
        int view; // the columns of the other side are hidden in their place
    } rows[] = {
        {panel->inputColumns()[5]->identifyButton(), "6", "/Event/InCh:5/Identify:0", 0},
        {panel->outputColumns()[0]->identifyButton(), "1", "/Event/OutCh:0/Identify:0", 1},
        {panel->outputColumns()[16]->identifyButton(), "AES 1", "/Event/OutCh:16/Identify:0", 1},
        {panel->outputColumns()[23]->identifyButton(), "AES 8", "/Event/OutCh:23/Identify:0", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(row.button->text(), QString::fromLatin1(row.label));
        QTest::mouseClick(row.view == 0 ? panel->inputButton() : panel->outputButton(), Qt::LeftButton);
        ASSERT_TRUE(row.button->isVisible());
        dev.writes.clear();
        QTest::mousePress(row.button, Qt::LeftButton);
        ASSERT_EQ(dev.writes.size(), 1u) << "on while pressed";
        QTest::mouseRelease(row.button, Qt::LeftButton);
        ASSERT_EQ(dev.writes.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(dev.writes[i].path, row.path);
            EXPECT_EQ(dev.writes[i].value, i == 0 ? 1 : 0);
            EXPECT_EQ(dev.writes[i].source, Quil::SOURCE_UI);
        }
    }
}

TEST_F(BroxPanel, DoubleClickAsksForTheRowUnderThePointerAtEveryZoom)
{
    // Rows are 132 pixels high from y 14 at 100 %; the third row of a
    // 16-input unit is not a page. The same visible row gives the same page
    // zoomed.
    struct Row {
        int type;
        int y100;
        int page;
    };
    const Row rows[] = {{2, 300, 0}, {2, 200, 1}, {2, 20, 0}, {2, 5, 0}, {11, 300, 2}, {11, 450, 3}, {11, 10, 0}};
    for (const ZoomCode zoom : {0u, 1u, 2u}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << "zoom " << zoom << " type " << row.type << " y " << row.y100);
            auto panel = makePanel(row.type);
            ASSERT_EQ(panel->init(7, &rack.unit(row.type == 2 ? 0 : 2), &host), 0);
            panel->applyScale(zoom);
            ASSERT_TRUE(qtest::showAndWait(panel.get()));
            host.editRequests.clear();
            // Between the columns, so the panel itself takes the click.
            QTest::mouseDClick(panel.get(), Qt::LeftButton, {},
                QPoint(ZScale::scaleValue(zoom, 5), ZScale::scaleValue(zoom, row.y100)));
            ASSERT_EQ(host.editRequests.size(), 1u);
            EXPECT_EQ(host.editRequests[0].page, row.page);
            EXPECT_EQ(host.editRequests[0].unitId, 7u);
        }
    }
}

TEST_F(BroxPanel, OutputViewAsksForTheOutputWindow)
{
    auto panel = makePanel(11);
    ASSERT_EQ(panel->init(3, &rack.unit(2), &host), 0);
    ASSERT_EQ(panel->onInputOutputClicked(1), 0);
    ASSERT_EQ(panel->onOpenEditWindow(), 0);
    ASSERT_EQ(host.editRequests.size(), 1u);
    EXPECT_EQ(host.editRequests[0].kind, 1);
    EXPECT_TRUE(host.editRequests[0].option);
}

TEST_F(BroxPanel, ParameterSetChoosesThePhantomPath)
{
    // Only the digits count; no digits, or more than a number holds, give 0.
    struct Row {
        const char* paramSetVer;
        const char* path;
    };
    const Row rows[] = {{"1.1.0", "/Current/Dev:0/48VLeaderOn:0"}, {"1.1.1", "/Current/Dev:0/48VActiveOn:0"},
        {"V2.0", "/Current/Dev:0/48VLeaderOn:0"}, {"2.0.0 beta", "/Current/Dev:0/48VActiveOn:0"},
        {"", "/Current/Dev:0/48VLeaderOn:0"}, {"abc", "/Current/Dev:0/48VLeaderOn:0"},
        {"99999999999.1", "/Current/Dev:0/48VLeaderOn:0"}};
    for (const int slot : {2, 3}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << "slot " << slot << " paramsetver '" << row.paramSetVer << "'");
            ASSERT_GE(broxtest::writeText(rack.unit(slot), "/DevInfo/devinfo:0/paramsetver:0", row.paramSetVer), 0);
            rack.linkWrite(slot, "/Current/Dev:0/48VLeaderOn:0", 0);
            rack.linkWrite(slot, "/Current/Dev:0/48VActiveOn:0", 0);
            auto panel = makePanel(slot == 2 ? 11 : 12);
            ASSERT_EQ(panel->init(0, &rack.unit(slot), &host), 0);
            EXPECT_EQ(panel->phantomPath(), QString::fromLatin1(row.path));
            // The indicator follows that path and no other.
            const bool active = QString::fromLatin1(row.path).contains(QLatin1String("Active"));
            rack.linkWrite(slot, active ? "/Current/Dev:0/48VLeaderOn:0" : "/Current/Dev:0/48VActiveOn:0", 1);
            qtest::waitUntil([] { return false; }, 30);
            EXPECT_EQ(panel->phantomIndicator()->currentImageIndex(), 0);
            rack.linkWrite(slot, row.path, 1);
            EXPECT_TRUE(qtest::waitUntil([&] { return panel->phantomIndicator()->currentImageIndex() == 1; }));
        }
    }
}

TEST_F(BroxPanel, ParameterSetChangeRebindsTheIndicatorOnce)
{
    const std::string active = "/Current/Dev:0/48VActiveOn:0";
    qtest::RecordingDev dev(&rack.unit(2));
    ASSERT_GE(broxtest::writeText(rack.unit(2), "/DevInfo/devinfo:0/paramsetver:0", "1.1.1"), 0);
    auto panel = makePanel(11);
    ASSERT_EQ(panel->init(0, &dev, &host), 0);
    ASSERT_EQ(panel->init(0, &dev, &host), 0); // a second init adds no handler
    for (const char* text : {"1.1.2", "1.1.3", "1.2.0"}) {
        dev.readsOf[active] = 0;
        ASSERT_GE(broxtest::writeText(rack.unit(2), "/DevInfo/devinfo:0/paramsetver:0", text), 0);
        qtest::waitUntil([] { return false; }, 100);
        // Each run binds a new indicator controller, which reads its path once.
        EXPECT_EQ(dev.readsOf[active], 1) << text;
    }
}

} // namespace
