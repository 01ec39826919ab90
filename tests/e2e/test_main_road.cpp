// The whole job on the program as its entry builds it, against five units
// that answer like real ones in the namespace bed: find, place, watch, edit,
// zoom, save, reopen and quit. Each test is one step of that road and
// brings the program up to where its step starts.
#include "app/app_instance.h"
#include "tests/support/netns.h"
#include "tests/support/unit_process.h"
#include "tests/ui/main/main_fixture.h"
#include "tests/ui/main/units/program_bed.h"
#include "ui/dialogs/devinfodlg.h"
#include "ui/dialogs/ipaddrdlg.h"
#include "ui/dialogs/propdlg.h"
#include "ui/dialogs/summarydlg.h"
#include "ui/main/netsetupdlg.h"
#include "ui/panels/brox_delayscaleunit.h"
#include "ui/panels/brox_editchstrip.h"
#include "ui/panels/brox_mainchunit.h"
#include "ui/panels/brox_uiedit.h"
#include "ui/panels/brox_uimain.h"
#include "ui/panels/mavik_uimain.h"
#include "ui/panels/meterall.h"
#include "ui/panels/meterstrip.h"
#include "ui/panels/sorn_uimain.h"
#include "ui/panels/sorn_userpatch.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zdial.h"
#include "ui/widgets/zgridview.h"
#include "ui/widgets/zmeter.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QScrollArea>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <memory>

namespace {

constexpr int kWaitMs = qtest::kProgramWaitMs;
constexpr int kSlots = 5;

struct RoadUnit {
    Quil::ModelType type;
    const char* id;
    const char* name;
};

const RoadUnit kUnits[kSlots] = {
    {Quil::MODEL_BROXL_D3, "J001", "Stage Left"},
    {Quil::MODEL_BROXM_D2, "J002", "Stage Right"},
    {Quil::MODEL_PELLM_D2, "J003", "Monitors"},
    {Quil::MODEL_SORN_D, "J004", "Patch"},
    {Quil::MODEL_MAVIK_D, "J005", "Converter"},
};

qtest::UnitSpec roadSpec(int i, int host)
{
    qtest::UnitSpec spec;
    spec.modelType = kUnits[i].type;
    spec.host = host;
    spec.unitId = kUnits[i].id;
    spec.deviceName = kUnits[i].name;
    // Firmware that takes an address setting.
    if (kUnits[i].type == Quil::MODEL_MAVIK_D)
        spec.version = "3.12.0";
    return spec;
}

// Answers every question the program asks with `button`, noting its text,
// for as long as it lives.
class QuestionWatch {
public:
    explicit QuestionWatch(const QString& button)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            for (QAbstractButton* candidate : box->buttons()) {
                if (candidate->text().remove('&') == button) {
                    texts << box->text();
                    candidate->click();
                    return;
                }
            }
        });
        m_timer.start(10);
    }
    QStringList texts;

private:
    QTimer m_timer;
};

class MainRoad : public ::testing::Test {
protected:
    // Inside the test's namespace only: the bed, the five units and an
    // empty configuration (nothing stored yet).
    void bringUpUnits()
    {
        bed = std::make_unique<qtest::NetnsBed>();
        ASSERT_TRUE(bed->ready()) << bed->error();
        units = std::make_unique<qtest::UnitRack>(*bed);
        std::vector<qtest::UnitSpec> specs;
        for (int i = 0; i < kSlots; ++i)
            specs.push_back(roadSpec(i, 11 + i));
        ASSERT_TRUE(units->start(specs)) << units->error();
    }

    // The program on the bed's interface, every unit found.
    void startProgram()
    {
        program = std::make_unique<qtest::Program>(QString::fromLatin1(qtest::NetnsBed::kLocalMac));
        ASSERT_TRUE(program->start());
        ASSERT_TRUE(program->waitFound(kSlots));
    }

    // The program down as the entry takes it down: window, rack owner,
    // memory thread, then the socket layer.
    void shutDown() { program.reset(); }

    DevSelFrame* slotButton(int slot) const { return program->window->slotStrip()->button(slot); }

    // Unit i placed on slot i by its id (1 + i), chosen on the slot button.
    void placeAll()
    {
        for (int i = 0; i < kSlots; ++i)
            ASSERT_NO_FATAL_FAILURE(qtest::chooseUnitId(slotButton(i), i + 1));
        for (int i = 0; i < kSlots; ++i)
            ASSERT_TRUE(qtest::waitForPicture(slotButton(i), SLOT_CONNECTED)) << i << " " << slotButton(i)->indicator();
    }

    void selectSlot(int slot)
    {
        reveal(slotButton(slot));
        QTest::mouseClick(slotButton(slot), Qt::LeftButton, {}, QPoint(10, 10));
        ASSERT_TRUE(qtest::waitUntil(
            [&] {
                return program->window->selectedSlot() == static_cast<uint32_t>(slot) && program->window->mainPanel();
            },
            kWaitMs));
    }

    Brox::UIMain* broxPanel() const { return qobject_cast<Brox::UIMain*>(program->window->mainPanel()); }
    // The test screen is smaller than the window, whose frame then scrolls:
    // a click lands only where the control is in view.
    void reveal(QWidget* control) const
    {
        if (auto* view = qobject_cast<QScrollArea*>(program->window->centralWidget()))
            view->ensureWidgetVisible(control, 0, 0);
    }

    uint64_t setsOf(int unit) { return (*units)[unit].stats()["set"]; }
    int unitValue(int unit, const char* path, int x) { return std::atoi((*units)[unit].value(path, x, 0).c_str()); }
    bool waitUnitValue(int unit, const char* path, int x, int value)
    {
        return qtest::waitUntil([&] { return unitValue(unit, path, x) == value; }, kWaitMs);
    }
    // File > Open of path; pressed, when given, answers the next message
    // box. What the driver saw, in order.
    std::vector<qtest::ModalDriver::Seen> openFile(
        const QString& path, const QString& filter = QString(), const QString& pressed = QString())
    {
        qtest::ModalDriver driver(kWaitMs);
        driver.typeFileName(path, filter);
        if (!pressed.isEmpty())
            driver.pressButton(pressed);
        program->window->action("Open")->trigger();
        EXPECT_TRUE(driver.waitAllAnswered(kWaitMs));
        EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();
        return driver.seen();
    }

    // A program with nothing stored: the network dialog of its first start
    // gets a double-click on the row named `row`. False when it did not.
    bool startChoosing(const QString& row)
    {
        program = std::make_unique<qtest::Program>(QString());
        auto chosen = std::make_shared<bool>(false);
        qtest::onNextModal<NetSetupDlg>(
            [chosen, row](NetSetupDlg* dialog) {
                QTreeWidget* tree = dialog->treeWidget();
                const auto rows = tree->findItems(row, Qt::MatchExactly);
                if (rows.size() != 1) {
                    dialog->reject();
                    return;
                }
                *chosen = true;
                QTest::mouseDClick(
                    tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualItemRect(rows[0]).center());
            },
            kWaitMs);
        return program->start() && qtest::waitUntil([&] { return *chosen; }, kWaitMs);
    }

    int rackValue(int slot, const char* path)
    {
        JLIB::JVariant value;
        if (program->core->getValue(slot, QString::fromLatin1(path), &value) < 0)
            return INT32_MIN;
        return static_cast<int>(value.toInteger());
    }
    // Lets queued work settle for ms (no condition to wait for).
    static void settle(int ms)
    {
        qtest::waitUntil([] { return false; }, ms);
    }

    std::unique_ptr<qtest::NetnsBed> bed;
    std::unique_ptr<qtest::UnitRack> units;
    std::unique_ptr<qtest::Program> program;
};

TEST_F(MainRoad, FirstStartChoosesTheBedInterface)
{
    QTEST_IN_NETNS();
    ASSERT_NO_FATAL_FAILURE(bringUpUnits());

    ASSERT_TRUE(startChoosing(QString::fromLatin1(qtest::NetnsBed::kLocalInterface)))
        << "no network dialog on the first start, or no row for the bed's interface";
    EXPECT_TRUE(program->waitFound(kSlots));
    Quil::HostInterface current;
    ASSERT_GE(program->core->currentNetworkInterface(&current), 0);
    EXPECT_EQ(current.address, qtest::NetnsBed::kLocalAddress);
    // Nothing is placed before the user chooses ids.
    for (int slot = 0; slot < kSlots; ++slot)
        EXPECT_EQ(program->core->connection(slot), nullptr) << slot;
}

TEST_F(MainRoad, FiveUnitsPlacedByIdAndADuplicateTakesOver)
{
    QTEST_IN_NETNS();
    ASSERT_NO_FATAL_FAILURE(bringUpUnits());
    ASSERT_NO_FATAL_FAILURE(startProgram());
    EXPECT_EQ(program->core->pendingInterval(), 1000);

    std::vector<std::set<int>> seen(kSlots);
    // Sampled on every pass of the event loop from the first choice on: the
    // first slot can pass through its connecting picture while the later
    // ids are still being chosen.
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { seen[0].insert(slotButton(0)->indicator()); });
    sampler.start(0);
    for (int i = 0; i < kSlots; ++i)
        ASSERT_NO_FATAL_FAILURE(qtest::chooseUnitId(slotButton(i), i + 1));
    for (int i = 0; i < kSlots; ++i) {
        ASSERT_TRUE(qtest::waitForPicture(slotButton(i), SLOT_CONNECTED, &seen[i])) << i;
        EXPECT_EQ(slotButton(i)->label(), QString::fromStdString(qtest::unitModelName(kUnits[i].type))) << i;
        EXPECT_EQ(program->core->modelType(i), kUnits[i].type) << i;
    }
    sampler.stop();
    EXPECT_TRUE(seen[0].count(SLOT_CONNECTING)) << "no connecting picture on the way";

    // A sixth unit with the first one's id: the slot shows the conflict,
    // and the newcomer takes the slot over once the first stops.
    qtest::ModalDriver driver(kWaitMs);
    driver.pressButton("No");
    ASSERT_TRUE(units->add(roadSpec(0, 16))) << units->error();
    EXPECT_TRUE(qtest::waitForPicture(slotButton(0), SLOT_DUPLICATED)) << slotButton(0)->indicator();
    EXPECT_TRUE(driver.waitAllAnswered(kWaitMs));
    (*units)[0].stop();
    EXPECT_TRUE(qtest::waitForPicture(slotButton(0), SLOT_CONNECTED)) << slotButton(0)->indicator();
    EXPECT_TRUE(qtest::waitUntil([&] { return (*units)[kSlots].stats()["connections"] > 0; }, kWaitMs))
        << "the second J001 never got a connection";
}

TEST_F(MainRoad, BroxPanelDrivesTheUnitAndFollowsIt)
{
    QTEST_IN_NETNS();
    ASSERT_NO_FATAL_FAILURE(bringUpUnits());
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_NO_FATAL_FAILURE(placeAll());

    // Showing every unit's panel sends nothing to any unit.
    std::vector<uint64_t> before;
    for (int i = 0; i < kSlots; ++i)
        before.push_back(setsOf(i));
    // (Selected without the mouse: pressing a slot button identifies its unit.)
    for (int slot : {4, 3, 2, 1, 0}) {
        ASSERT_EQ(program->window->setSelectId(static_cast<uint>(slot)), 0);
        ASSERT_TRUE(qtest::waitUntil([&] { return program->window->mainPanel(); }, kWaitMs));
    }
    settle(300);
    for (int i = 0; i < kSlots; ++i)
        EXPECT_EQ(setsOf(i), before[i]) << "unit " << i << " got a set from showing panels";

    Brox::UIMain* panel = broxPanel();
    ASSERT_NE(panel, nullptr);
    Brox::MainChUnit* column = panel->inputColumns()[4];
    ZDial* knob = column->gainKnob();
    const int start = knob->value();
    const QPoint centre = knob->rect().center();
    QTest::mousePress(knob, Qt::LeftButton, {}, QPoint(centre.x(), 2));
    for (int step = 1; step <= 8; ++step)
        QTest::mouseMove(knob, QPoint(centre.x() + 2 * step, 2 + 2 * step));
    QTest::mouseRelease(knob, Qt::LeftButton, {}, QPoint(centre.x() + 16, centre.y()));
    ASSERT_NE(knob->value(), start);
    EXPECT_TRUE(waitUnitValue(0, "Current/InCh/HAGain", 4, knob->value()));

    QTest::mouseClick(column->phantomButton(), Qt::LeftButton);
    EXPECT_TRUE(waitUnitValue(0, "Current/InCh/48VOn", 4, 1));

    // The unit's own change moves the control and goes nowhere else.
    settle(200);
    const uint64_t afterEdits = setsOf(0);
    ASSERT_TRUE((*units)[0].set("Current/InCh/HAGain", 6, 0, "20"));
    EXPECT_TRUE(qtest::waitUntil([&] { return panel->inputColumns()[6]->gainKnob()->value() == 20; }, kWaitMs));
    settle(300);
    EXPECT_EQ(setsOf(0), afterEdits) << "the unit's change was sent back";

    // Control-click writes the default.
    JLIB::JVariant standard;
    ASSERT_GE(program->core->rackDevice(0)->getDefault(QStringLiteral("/Backup/InCh:6/HAGain:0"), &standard, false), 0);
    ZDial* sixth = panel->inputColumns()[6]->gainKnob();
    QTest::mouseClick(sixth, Qt::LeftButton, Qt::ControlModifier, sixth->rect().center());
    EXPECT_TRUE(waitUnitValue(0, "Current/InCh/HAGain", 6, static_cast<int>(standard.toInteger())));

    // The output side: scale, frame rate and the right headphone source.
    reveal(panel->outputButton());
    QTest::mouseClick(panel->outputButton(), Qt::LeftButton);
    Brox::MainDelayScaleUnitOutput* block = panel->outputBlock();
    ASSERT_TRUE(qtest::waitUntil([&] { return block->isVisible(); }, kWaitMs));
    QTest::mouseClick(block->scaleButton(4), Qt::LeftButton);
    // Scale and frame rate are the program's own settings, kept with the
    // slot; the unit has no such parameters.
    EXPECT_EQ(rackValue(0, "/Backup/OutputSetup:0/DelayScale:0"), 4);
    {
        qtest::ModalDriver driver;
        driver.chooseMenuItem(QStringLiteral("25"));
        QTest::mouseClick(block->frameRateButton(), Qt::LeftButton);
        ASSERT_TRUE(driver.waitAllAnswered());
    }
    EXPECT_EQ(rackValue(0, "/Backup/OutputSetup:0/DelayFrame:0"), 2);
    ZPopup* right = block->rightPhones();
    reveal(right);
    QTest::mouseClick(right, Qt::LeftButton);
    ASSERT_TRUE(qtest::waitUntil([&] { return right->popupFrame() && right->popupFrame()->isVisible(); }, kWaitMs));
    QTest::mouseClick(right->cells().at(3), Qt::LeftButton);
    EXPECT_TRUE(waitUnitValue(0, "Current/Headphone/Assign", 1, 3));
}

TEST_F(MainRoad, EditWindowsPagesMirroringAndTheLimit)
{
    QTEST_IN_NETNS();
    ASSERT_NO_FATAL_FAILURE(bringUpUnits());
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_NO_FATAL_FAILURE(placeAll());
    ASSERT_NO_FATAL_FAILURE(selectSlot(0));
    Brox::UIMain* panel = broxPanel();
    ASSERT_NE(panel, nullptr);
    QLMainWindow* window = program->window;

    // A double-click on the third row opens the input window on its page.
    QTest::mouseDClick(panel, Qt::LeftButton, {}, QPoint(5, 300));
    ASSERT_TRUE(qtest::waitUntil([&] { return !window->editWindows()[0].isFree(); }, kWaitMs));
    auto* inputs = qobject_cast<Brox::UIEdit*>(window->editWindows()[0].window.data());
    ASSERT_NE(inputs, nullptr);
    ASSERT_TRUE(qtest::waitUntil([&] { return inputs->isVisible(); }, kWaitMs));
    EXPECT_EQ(inputs->currentPage(), 2);
    QTest::mouseClick(inputs->tabGroup()->button(1), Qt::LeftButton);
    ASSERT_EQ(inputs->currentPage(), 1);

    // An edit reaches the unit and the main panel; the unit's change both.
    auto* strip = dynamic_cast<Brox::EditChStrip*>(inputs->strips()[1]);
    ASSERT_NE(strip, nullptr);
    ASSERT_EQ(strip->channel(), 9);
    QTest::mouseClick(strip->phantomButton(), Qt::LeftButton);
    EXPECT_TRUE(waitUnitValue(0, "Current/InCh/48VOn", 9, 1));
    EXPECT_TRUE(qtest::waitUntil([&] { return panel->inputColumns()[9]->phantomButton()->isChecked(); }, kWaitMs));
    ASSERT_TRUE((*units)[0].set("Current/InCh/HAGain", 9, 0, "30"));
    EXPECT_TRUE(qtest::waitUntil(
        [&] { return strip->gainKnob()->value() == 30 && panel->inputColumns()[9]->gainKnob()->value() == 30; },
        kWaitMs));

    // The output window is the second; a third is refused with a message.
    reveal(panel->outputButton());
    QTest::mouseClick(panel->outputButton(), Qt::LeftButton);
    ASSERT_EQ(panel->onOpenEditWindow(), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return !window->editWindows()[1].isFree(); }, kWaitMs));
    ASSERT_NO_FATAL_FAILURE(selectSlot(1));
    qtest::ModalDriver driver;
    driver.pressButton("OK");
    auto* second = broxPanel();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second->onOpenEditWindow(), 0);
    EXPECT_TRUE(driver.waitAllAnswered());
    ASSERT_EQ(driver.seen().size(), 1u);
    EXPECT_EQ(driver.seen()[0].text, "No more Edit Window can be opened!");
}

TEST_F(MainRoad, ZoomRoundTripGivesTheExactSizesBack)
{
    QTEST_IN_NETNS();
    ASSERT_NO_FATAL_FAILURE(bringUpUnits());
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_NO_FATAL_FAILURE(placeAll());
    ASSERT_NO_FATAL_FAILURE(selectSlot(0));
    QLMainWindow* window = program->window;
    ASSERT_EQ(broxPanel()->onOpenEditWindow(), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return !window->editWindows()[0].isFree(); }, kWaitMs));
    QWidget* edit = window->editWindows()[0].window;
    ASSERT_TRUE(qtest::waitUntil([&] { return edit->isVisible(); }, kWaitMs));
    settle(100);

    const QSize main100 = window->size();
    const QSize panel100 = window->mainPanel()->size();
    const QSize edit100 = edit->size();
    struct Step {
        const char* action;
        int code;
        double factor;
    };
    for (const Step& step : {Step{"150%", 1, 1.5}, Step{"200%", 2, 2.0}, Step{"100%", 0, 1.0}}) {
        SCOPED_TRACE(step.action);
        window->action(step.action)->trigger();
        ASSERT_EQ(window->zoomCode(), step.code);
        settle(100);
        EXPECT_EQ(window->mainPanel()->size(),
            QSize(qRound(panel100.width() * step.factor), qRound(panel100.height() * step.factor)));
        EXPECT_EQ(edit->size(), QSize(qRound(edit100.width() * step.factor), qRound(edit100.height() * step.factor)));
    }
    EXPECT_EQ(window->size(), main100);
    EXPECT_EQ(window->mainPanel()->size(), panel100);
    EXPECT_EQ(edit->size(), edit100);
}

// Every meter of a block of the strip at `level`.
bool blockAt(const MeterStrip* strip, int block, int count, int level)
{
    for (int i = 0; i < count; ++i)
        if (strip->meters(block).at(i)->value() != level)
            return false;
    return true;
}

MeterAll* meterWindow(int mode)
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* meter = qobject_cast<MeterAll*>(top);
        if (meter && meter->layoutMode() == mode && meter->isVisible())
            return meter;
    }
    return nullptr;
}

TEST_F(MainRoad, BothMeterWindowsFollowTheUnitsLevels)
{
    QTEST_IN_NETNS();
    ASSERT_NO_FATAL_FAILURE(bringUpUnits());
    ASSERT_TRUE((*units)[0].setMeterLevel(111)); // 21 of 41 steps
    ASSERT_TRUE((*units)[1].setMeterLevel(127)); // full scale
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_NO_FATAL_FAILURE(placeAll());

    program->window->action("Meter (1Line)")->trigger();
    program->window->action("Meter (2Line)")->trigger();
    MeterAll* one = nullptr;
    MeterAll* two = nullptr;
    ASSERT_TRUE(qtest::waitUntil(
        [&] {
            one = meterWindow(MeterAll::OneLine);
            two = meterWindow(MeterAll::TwoLine);
            return one && two;
        },
        kWaitMs));
    // A second request raises the open window instead of making another.
    program->window->action("Meter (1Line)")->trigger();
    EXPECT_EQ(meterWindow(MeterAll::OneLine), one);

    for (MeterAll* window : {one, two}) {
        SCOPED_TRACE(window->layoutMode());
        const MeterStrip* large = window->strip(0);
        const MeterStrip* medium = window->strip(1);
        EXPECT_TRUE(qtest::waitUntil(
            [&] {
                return blockAt(large, MeterStrip::BlockInput, 32, 21) && blockAt(large, MeterStrip::BlockOutput, 24, 21)
                    && blockAt(large, MeterStrip::BlockPhones, 2, 21) && blockAt(medium, MeterStrip::BlockInput, 16, 41)
                    && blockAt(medium, MeterStrip::BlockOutput, 8, 41);
            },
            kWaitMs));
        EXPECT_EQ(large->nameText(), "Stage Left");
        // The converter and the patch units keep their place, hidden.
        EXPECT_TRUE(window->strip(3)->isHidden());
        EXPECT_TRUE(window->strip(4)->isHidden());
    }

    // The large unit's signal stops: its meters fall in both windows, the
    // other unit's hold.
    ASSERT_TRUE((*units)[0].setMeterLevel(0));
    for (MeterAll* window : {one, two}) {
        SCOPED_TRACE(window->layoutMode());
        EXPECT_TRUE(
            qtest::waitUntil([&] { return blockAt(window->strip(0), MeterStrip::BlockInput, 32, 0); }, kWaitMs));
        EXPECT_TRUE(blockAt(window->strip(1), MeterStrip::BlockInput, 16, 41));
    }
}

// Types "a.b.c.d" into four address fields by keys.
void typeAddress(const QList<QLineEdit*>& fields, const QString& address)
{
    const QStringList parts = address.split('.');
    for (int i = 0; i < 4; ++i) {
        fields[i]->setFocus();
        QTest::keyClick(fields[i], Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(fields[i], Qt::Key_Delete);
        QTest::keyClicks(fields[i], parts.value(i));
    }
}

TEST_F(MainRoad, IoPanelsAndUnitDialogs)
{
    QTEST_IN_NETNS();
    ASSERT_NO_FATAL_FAILURE(bringUpUnits());
    for (int slot = 0; slot < 4; ++slot)
        ASSERT_TRUE((*units)[3].set("Current/Dev/SLOTLockStatus", slot, 0, "1"));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_NO_FATAL_FAILURE(placeAll());

    // The patch unit: a click in the user patch, then a preset.
    ASSERT_NO_FATAL_FAILURE(selectSlot(3));
    auto* sorn = qobject_cast<Sorn::UIMain*>(program->window->mainPanel());
    ASSERT_NE(sorn, nullptr);
    QTest::mouseClick(sorn->userPatternButton(), Qt::LeftButton);
    ASSERT_TRUE(qtest::waitUntil([&] { return sorn->userPatch() && sorn->userPatch()->isVisible(); }, kWaitMs));
    Sorn::UserPatch* patch = sorn->userPatch();
    GridViewContent* content = patch->grid()->content();
    const QPoint cell = content->cellRect({3, 10}).center();
    patch->grid()->ensureVisible(cell.x(), cell.y(), 30, 30);
    QTest::mouseMove(content, cell);
    QTest::mouseClick(content, Qt::LeftButton, {}, cell);
    EXPECT_TRUE(waitUnitValue(3, "Current/Dev/UserPatch", 3, 10));
    {
        qtest::ModalDriver driver;
        driver.chooseMenuItem("Pattern #4");
        driver.pressButton("Yes");
        QTest::mouseClick(patch->presetButton(), Qt::LeftButton);
        ASSERT_TRUE(driver.waitAllAnswered());
    }
    EXPECT_TRUE(waitUnitValue(3, "Current/Dev/UserPatch", 0, 16));
    EXPECT_TRUE(waitUnitValue(3, "Current/Dev/UserPatch", 3, Sorn::fixedPatternSource(3, 3)));
    patch->close();

    // The converter's SRC switch.
    ASSERT_NO_FATAL_FAILURE(selectSlot(4));
    auto* mavik = qobject_cast<Mavik::UIMain*>(program->window->mainPanel());
    ASSERT_NE(mavik, nullptr);
    QTest::mouseClick(mavik->srcButton(), Qt::LeftButton);
    EXPECT_TRUE(waitUnitValue(4, "Current/SRC/On", 0, 1));

    // Device information lists the five; its IP button opens the address
    // dialog, which refuses a bad address and writes a good one.
    QStringList infoModels;
    QStringList ipMessages;
    bool ipAccepted = false;
    qtest::onNextModal<Quil::DevInfoDlg>(
        [&](Quil::DevInfoDlg* info) {
            QTreeWidget* tree = info->treeWidget();
            for (int i = 0; i < tree->topLevelItemCount(); ++i)
                infoModels << tree->topLevelItem(i)->text(1);
            // Rows are numbered by rack slot from 1.
            const auto found = tree->findItems(QStringLiteral("5"), Qt::MatchExactly, 0);
            QTreeWidgetItem* row = found.value(0);
            if (row) {
                QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(row).center());
                qtest::onNextModal<Quil::IpAddrDlg>(
                    [&](Quil::IpAddrDlg* ip) {
                        QTest::mouseClick(ip->modeGroup()->button(3), Qt::LeftButton);
                        typeAddress(ip->ipFields(), "127.0.0.1");
                        typeAddress(ip->maskFields(), "255.255.255.0");
                        typeAddress(ip->gatewayFields(), "127.0.0.2");
                        qtest::ModalDriver driver;
                        driver.pressButton("OK");
                        QTest::mouseClick(ip->buttonBox()->button(QDialogButtonBox::Ok), Qt::LeftButton);
                        driver.waitAllAnswered();
                        for (const auto& seen : driver.seen())
                            ipMessages << seen.text;
                        typeAddress(ip->ipFields(), "192.168.0.10");
                        typeAddress(ip->gatewayFields(), "192.168.0.1");
                        QTest::mouseClick(ip->buttonBox()->button(QDialogButtonBox::Ok), Qt::LeftButton);
                        ipAccepted = ip->result() == QDialog::Accepted;
                        if (!ipAccepted)
                            ip->reject();
                    },
                    kWaitMs);
                QTest::mouseClick(info->ipAddrButton(), Qt::LeftButton);
            }
            info->reject();
        },
        kWaitMs);
    program->window->action("Device Information")->trigger();
    ASSERT_GE(infoModels.size(), kSlots);
    for (int i = 0; i < kSlots; ++i)
        EXPECT_EQ(infoModels[i], QString::fromStdString(qtest::unitModelName(kUnits[i].type))) << i;
    EXPECT_EQ(ipMessages, QStringList{"Invalid IP Address."});
    EXPECT_TRUE(ipAccepted);
    const int octets[] = {192, 168, 0, 10};
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(waitUnitValue(4, "NextBoot/Dev/IPAddress", i, octets[i])) << i;

    // Properties of the large unit show its model.
    QStringList properties;
    qtest::onNextModal<Quil::PropDlg>(
        [&](Quil::PropDlg* dialog) {
            QTableWidget* table = dialog->infoArea();
            for (int r = 0; r < table->rowCount(); ++r)
                for (int c = 0; c < table->columnCount(); ++c)
                    if (table->item(r, c))
                        properties << table->item(r, c)->text();
            dialog->reject();
        },
        kWaitMs);
    qtest::rightClickChoose(program->window, 0, "Properties");
    EXPECT_TRUE(properties.contains("BroxL-D3")) << properties.join('|').toStdString();

    // The summary of a second-generation unit: its twelve lines.
    QStringList summary;
    qtest::onNextModal<Quil::SummaryDlg>(
        [&](Quil::SummaryDlg* dialog) {
            qtest::waitUntil([&] { return dialog->lines().size() == 12; }, kWaitMs);
            summary = dialog->lines();
            dialog->reject();
        },
        kWaitMs);
    qtest::rightClickChoose(program->window, 1, "Summary");
    ASSERT_EQ(summary.size(), 12);
    EXPECT_EQ(summary[0], "IO:_CurSummary item 3");

    // Its log, saved into a folder of ours.
    const qtest::TempDir folder;
    {
        qtest::ModalDriver driver(kWaitMs);
        driver.chooseMenuItem("Log");
        driver.typeFileName(QString::fromStdString(folder.path()) + "/");
        program->window->contextMenuRequestSlot(1);
        EXPECT_TRUE(driver.waitAllAnswered(kWaitMs));
    }
    const QStringList logs = QDir(QString::fromStdString(folder.path())).entryList({"*.log"}, QDir::Files);
    ASSERT_EQ(logs.size(), 1);
    EXPECT_TRUE(logs[0].startsWith("BroxM-D2_")) << logs[0].toStdString();
}

TEST_F(MainRoad, SaveShutDownReopenAndOpenFiles)
{
    QTEST_IN_NETNS();
    // Whether to save the rack first, when a file is opened or waiting
    // units are placed: no, all through.
    QuestionWatch answers(QStringLiteral("No"));
    ASSERT_NO_FATAL_FAILURE(bringUpUnits());
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_NO_FATAL_FAILURE(placeAll());
    ASSERT_TRUE((*units)[0].set("Current/InCh/HAGain", 2, 0, "10"));
    ASSERT_TRUE(qtest::waitUntil([&] { return rackValue(0, "/Backup/InCh:2/HAGain:0") == 10; }, kWaitMs));

    const qtest::TempDir dir;
    const QString path = QString::fromStdString(dir.file("road.quil"));
    {
        qtest::ModalDriver driver(kWaitMs);
        driver.typeFileName(path);
        program->window->action("Save As")->trigger();
        ASSERT_TRUE(driver.waitAllAnswered(kWaitMs));
    }
    ASSERT_TRUE(QFileInfo(path).size() > 0);
    const std::string saved = qtest::readFile(path.toStdString());

    // While the program is down the unit changes; at connect the unit wins.
    ASSERT_NO_FATAL_FAILURE(shutDown());
    ASSERT_TRUE((*units)[0].set("Current/InCh/HAGain", 2, 0, "25"));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    {
        openFile(path);
        for (int i = 0; i < kSlots; ++i)
            EXPECT_EQ(program->core->modelType(i), kUnits[i].type) << i;
        for (int i = 0; i < kSlots; ++i) {
            EXPECT_TRUE(qtest::waitForPicture(slotButton(i), SLOT_CONNECTED)) << i << " " << slotButton(i)->indicator();
            EXPECT_EQ(slotButton(i)->deviceId(), i + 1) << i;
        }
    }
    EXPECT_TRUE(std::any_of(answers.texts.begin(), answers.texts.end(), [](const QString& text) {
        return text.startsWith("New devices has been discovered");
    })) << answers.texts.join('|').toStdString();
    EXPECT_TRUE(qtest::waitUntil([&] { return rackValue(0, "/Backup/InCh:2/HAGain:0") == 25; }, kWaitMs));
    EXPECT_EQ(unitValue(0, "Current/InCh/HAGain", 2), 25) << "the file's value was sent to the unit";

    // A damaged file: the error with its text, and the rack as it was.
    const QString damaged = QString::fromStdString(dir.file("damaged.quil"));
    ASSERT_TRUE(qtest::writeFile(damaged.toStdString(), saved.substr(0, 40) + "garbage"));
    const auto seen = openFile(damaged, QString(), QStringLiteral("OK"));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[1].text.startsWith("Load operation not complete due to an error.\n\n"))
        << seen[1].text.toStdString();
    for (int i = 0; i < kSlots; ++i) {
        EXPECT_EQ(program->core->modelType(i), kUnits[i].type) << i;
        EXPECT_EQ(slotButton(i)->indicator(), SLOT_CONNECTED) << i;
    }
    EXPECT_EQ(rackValue(0, "/Backup/InCh:2/HAGain:0"), 25);

    // Offline: the file's own values come back.
    ASSERT_NO_FATAL_FAILURE(shutDown());
    ASSERT_TRUE(startChoosing(QStringLiteral("Offline")));
    openFile(path);
    for (int i = 0; i < kSlots; ++i)
        EXPECT_EQ(program->core->modelType(i), kUnits[i].type) << i;
    EXPECT_EQ(rackValue(0, "/Backup/InCh:2/HAGain:0"), 10);
    EXPECT_EQ(program->core->connection(0), nullptr);

    // A version-1 file opens too.
    const QString qln = QString::fromStdString(dir.file("old.qln"));
    ASSERT_TRUE(qtest::writeFile(qln.toStdString(),
        "<?xml version=\"1.0\"?>\n<brox_device version=\"0.1\">\n  <brox devid=\"7\">\n"
        "    <param_set version=\"0.1\">\n"
        "      <param address=\"IO:Current/OutCh/DelayTime\" x=\"4\" y=\"0\" val=\"480\"/>\n"
        "    </param_set>\n  </brox>\n</brox_device>\n"));
    openFile(qln, QStringLiteral("QuillonV1 File(*.qln)"));
    EXPECT_EQ(program->core->modelType(7), Quil::MODEL_BROXL_D);
    EXPECT_EQ(rackValue(7, "/Backup/OutCh:4/DelayTime:0"), 480);
}

TEST_F(MainRoad, QuitStoresTheSettingsAndASecondStartRaisesTheFirst)
{
    QTEST_IN_NETNS();
    ASSERT_NO_FATAL_FAILURE(bringUpUnits());
    InstanceChecker checker;
    ASSERT_FALSE(checker.check(0, nullptr));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    int raised = 0;
    QObject::connect(&checker, &InstanceChecker::activationRequested, program->window, [&](qint64) {
        ++raised;
        program->app.raiseMainWindow();
    });
    program->window->showMinimized();
    ASSERT_TRUE(qtest::waitUntil([&] { return program->window->isMinimized(); }, kWaitMs));

    // A second start of the real program ends at once and raises this one.
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(QUILLON_PROGRAM), QStringList());
    ASSERT_TRUE(qtest::waitUntil([&] { return second.state() == QProcess::NotRunning; }, kWaitMs));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return raised == 1 && !program->window->isMinimized(); }, kWaitMs));

    program->window->move(40, 60);
    program->window->action("Quit")->trigger();
    Quil::QuilPrefs& prefs = Quil::QuilPrefs::instance();
    EXPECT_EQ(prefs.value(Quil::QuilPrefs::kMacAddr).toString(), qtest::NetnsBed::kLocalMac);
    EXPECT_TRUE(prefs.value(Quil::QuilPrefs::kDefaultDir).isValid());
    EXPECT_EQ(prefs.value(Quil::QuilPrefs::kGeometry).toPoint(), QPoint(40, 60));
}

} // namespace
