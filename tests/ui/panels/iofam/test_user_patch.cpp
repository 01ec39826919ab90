// The Sorn user patch editor against a simulated Sorn-D: clicks and keys
// route one source per output, the memory redraws the grid once per tick,
// fixed patterns and clearing reach the unit, unlocked slots are drawn
// disabled, and the name strips follow the grid.
#include "tests/ui/panels/iofam/unit_bed.h"

#include "tests/support/gui/modal_driver.h"
#include "tests/support/recording_dev.h"
#include "ui/panels/sorn_userpatch.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zselectiondisplay.h"

#include <QScrollBar>
#include <gtest/gtest.h>

#include <memory>

using iofam::Param;
using iofam::UnitBed;
using Utility::MatrixPos;

namespace {

Param patchOf(int output)
{
    return Param{"Current/Dev/UserPatch", output, "/Backup/Patch:" + std::to_string(output) + "/UserPatchSrc:0"};
}
Param lockOf(int slot)
{
    return Param{"Current/Dev/SLOTLockStatus", slot, "/Current/Slot:" + std::to_string(slot) + "/SLOTLockStatus:0"};
}

struct PatchBed {
    explicit PatchBed(bool recorded = false)
        : bed(Quil::MODEL_SORN_D, "sorn.xml")
        , recorder(&bed.link.dev)
    {
        window = std::make_unique<Sorn::UserPatch>(nullptr, Qt::Dialog);
        if (!bed.up)
            return;
        for (int slot = 0; slot < 4; ++slot)
            bed.change(lockOf(slot), 1);
        ready = window->setAccessor(recorded ? static_cast<Quil::IZDev*>(&recorder) : &bed.link.dev) == 0
            && qtest::showAndWait(window.get());
        tick();
    }
    // One redraw tick has passed.
    void tick() { QTest::qWait(window->updateTimer()->interval() + 50); }
    std::vector<int> litColumns(int row) const
    {
        std::vector<int> out;
        for (int c = 0; c < Sorn::kPatchSize; ++c)
            if (window->grid()->value({row, c}))
                out.push_back(c);
        return out;
    }
    // Waits until the row lights exactly these columns: on a loaded machine
    // the memory's news may take more than one redraw tick.
    bool lights(int row, const std::vector<int>& columns)
    {
        return qtest::waitUntil([&] { return litColumns(row) == columns; }, 3000);
    }
    void click(MatrixPos pos)
    {
        GridViewContent* content = window->grid()->content();
        const QPoint centre = content->cellRect(pos).center();
        window->grid()->ensureVisible(centre.x(), centre.y(), 30, 30);
        QTest::mouseMove(content, centre);
        QTest::mouseClick(content, Qt::LeftButton, {}, centre);
    }
    bool unitHolds(int output, int source)
    {
        return qtest::waitUntil([&] { return bed.unitValue(patchOf(output)) == std::to_string(source); }, 3000);
    }

    UnitBed bed;
    qtest::RecordingDev recorder;
    std::unique_ptr<Sorn::UserPatch> window;
    bool ready = false;
};

} // namespace

TEST(UserPatch, ClicksRouteOneSourcePerOutput)
{
    PatchBed p;
    ASSERT_TRUE(p.ready);
    ASSERT_TRUE(p.bed.change(patchOf(3), 5));
    ASSERT_TRUE(p.lights(3, {5})) << ::testing::PrintToString(p.litColumns(3));

    p.click({3, 10});
    EXPECT_TRUE(p.unitHolds(3, 10));
    EXPECT_TRUE(p.lights(3, {10})) << ::testing::PrintToString(p.litColumns(3));

    p.click({3, 10}); // the lit cell: no source
    EXPECT_TRUE(p.unitHolds(3, 255));
    p.tick();
    EXPECT_TRUE(p.litColumns(3).empty());

    // A slotless output may take a slot's source; keys do what clicks do.
    p.window->grid()->setCurrentMatrixPos({100, 10});
    QTest::keyClick(p.window->grid()->content(), Qt::Key_Space);
    EXPECT_TRUE(p.unitHolds(100, 10));
    EXPECT_TRUE(p.lights(100, {10})) << ::testing::PrintToString(p.litColumns(100));
}

TEST(UserPatch, SlotlessPairIsNotSupported)
{
    PatchBed p;
    ASSERT_TRUE(p.ready);
    const uint64_t setsBefore = p.bed.received("set");
    qtest::ModalDriver driver;
    driver.pressButton("OK");
    p.click({100, 100});
    ASSERT_TRUE(driver.waitAllAnswered());
    ASSERT_EQ(driver.seen().size(), 1u);
    EXPECT_EQ(driver.seen()[0].title, "Confirmation");
    EXPECT_EQ(driver.seen()[0].text, "Not Supported.");
    EXPECT_FALSE(p.window->grid()->value({100, 100}));
    UnitBed::settle();
    EXPECT_EQ(p.bed.received("set"), setsBefore);
}

TEST(UserPatch, UnitValuesOutsideTheGridLightNothing)
{
    PatchBed p;
    ASSERT_TRUE(p.ready);
    struct Row {
        int output, source;
        std::vector<int> lit;
    };
    const Row rows[] = {{5, 255, {}}, {6, 200, {}}, {7, 128, {}}, {70, 70, {}}, {71, 3, {3}}, {8, 127, {127}}};
    for (const Row& row : rows)
        ASSERT_TRUE(p.bed.change(patchOf(row.output), row.source));
    // Once the last lit row shows, the redraw that took every row has run.
    EXPECT_TRUE(p.lights(8, {127}));
    for (const Row& row : rows)
        EXPECT_EQ(p.litColumns(row.output), row.lit) << row.output << " = " << row.source;
}

TEST(UserPatch, ChangesWithinOneTickRedrawOnce)
{
    PatchBed p(true);
    ASSERT_TRUE(p.ready);
    p.window->updateTimer()->stop();
    p.window->preUpdatePatch();
    const std::string last = patchOf(127).dev;
    const int readsBefore = p.recorder.readsOf[last];

    ASSERT_TRUE(p.bed.change(patchOf(10), 20));
    ASSERT_TRUE(p.bed.change(patchOf(11), 21));
    EXPECT_TRUE(p.window->updatePending());
    p.window->preUpdatePatch();
    p.window->preUpdatePatch();
    EXPECT_EQ(p.recorder.readsOf[last], readsBefore + 1);
    EXPECT_EQ(p.litColumns(10), (std::vector<int>{20}));
    EXPECT_EQ(p.litColumns(11), (std::vector<int>{21}));
}

TEST(UserPatch, RecallAndClearReachTheUnit)
{
    PatchBed p;
    ASSERT_TRUE(p.ready);
    qtest::ModalDriver driver;
    driver.chooseMenuItem("Pattern #4");
    driver.pressButton("Yes");
    QTest::mouseClick(p.window->presetButton(), Qt::LeftButton);
    ASSERT_TRUE(driver.waitAllAnswered());
    ASSERT_EQ(driver.seen().size(), 2u);
    EXPECT_EQ(driver.seen()[1].title, "Confirmation");
    EXPECT_EQ(driver.seen()[1].text, "Recall Pattern #4?");
    const std::pair<int, int> listed[] = {{0, 16}, {16, 0}, {32, 48}, {48, 32}, {64, 0}, {127, 63}};
    for (const auto& [output, source] : listed)
        EXPECT_TRUE(p.unitHolds(output, source)) << output;
    for (int output = 0; output < Sorn::kPatchSize; ++output)
        EXPECT_EQ(p.bed.unitValue(patchOf(output)), std::to_string(Sorn::fixedPatternSource(3, output))) << output;
    EXPECT_TRUE(p.lights(17, {1})) << ::testing::PrintToString(p.litColumns(17));
    EXPECT_TRUE(p.lights(100, {36})) << ::testing::PrintToString(p.litColumns(100));

    // No: nothing is written.
    const uint64_t sets = p.bed.received("set");
    driver.pressButton("No");
    EXPECT_EQ(p.window->recallPattern(0), 0);
    UnitBed::settle();
    EXPECT_EQ(p.bed.received("set"), sets);
    EXPECT_EQ(p.window->recallPattern(7), Quil::DEV_E_FAIL);
    EXPECT_EQ(p.window->recallPattern(-1), Quil::DEV_E_FAIL);

    driver.pressButton("Yes");
    QTest::mouseClick(p.window->clearAllButton(), Qt::LeftButton);
    ASSERT_TRUE(driver.waitAllAnswered());
    EXPECT_EQ(driver.seen().back().text, "Clear All Patches?");
    EXPECT_TRUE(p.unitHolds(127, 255));
    for (int output = 0; output < Sorn::kPatchSize; ++output)
        EXPECT_EQ(p.bed.unitValue(patchOf(output)), "255") << output;
    EXPECT_TRUE(p.lights(17, {}) && p.lights(100, {}));
    for (int row = 0; row < Sorn::kPatchSize; ++row)
        EXPECT_TRUE(p.litColumns(row).empty()) << row;
    EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join("; ").toStdString();
}

TEST(UserPatch, RefusedWritesStopAndTheGridShowsTheMemory)
{
    PatchBed p(true);
    ASSERT_TRUE(p.ready);
    ASSERT_TRUE(p.bed.change(patchOf(2), 7));
    ASSERT_TRUE(p.lights(2, {7}));
    p.recorder.refuseWrites = true;

    qtest::ModalDriver driver;
    driver.pressButton("Yes");
    EXPECT_EQ(p.window->recallPattern(0), Quil::DEV_E_FAIL);
    EXPECT_EQ(p.recorder.writes.size(), 1u); // stopped at output 0

    // A refused click: the toggled cell goes back to what the memory holds.
    p.click({2, 9});
    EXPECT_TRUE(p.lights(2, {7})) << ::testing::PrintToString(p.litColumns(2));
    EXPECT_EQ(p.bed.unitValue(patchOf(2)), "7");
}

TEST(UserPatch, UnlockedSlotIsDisabledButClickable)
{
    PatchBed p;
    ASSERT_TRUE(p.ready);
    ASSERT_TRUE(p.bed.change(patchOf(20), 255));
    ASSERT_TRUE(p.bed.change(lockOf(1), 0));
    GridViewContent* content = p.window->grid()->content();
    ASSERT_EQ(content->disabledAreas().size(), 2u);
    for (const MatrixPos pos : {MatrixPos{20, 40}, MatrixPos{40, 20}, MatrixPos{127, 31}})
        EXPECT_FALSE(content->isEnabled(pos)) << pos.row << "," << pos.column;
    for (const MatrixPos pos : {MatrixPos{15, 40}, MatrixPos{40, 32}})
        EXPECT_TRUE(content->isEnabled(pos));
    EXPECT_TRUE(content->isMarked({64, 64}));
    EXPECT_FALSE(content->isMarked({63, 64}));

    p.tick();
    p.window->grid()->ensureVisible(0, 0);
    UnitBed::settle();
    const QRect disabled = content->cellRect({20, 5});
    EXPECT_TRUE(qtest::near(qtest::pixelAt(content, disabled.topLeft() + QPoint(1, 1)), QColor(200, 200, 200)));
    p.click({20, 40});
    EXPECT_TRUE(p.unitHolds(20, 40));

    ASSERT_TRUE(p.bed.change(lockOf(1), 2));
    EXPECT_TRUE(content->disabledAreas().empty());
}

TEST(UserPatch, NameStripsFollowTheGrid)
{
    PatchBed p;
    ASSERT_TRUE(p.ready);
    ZGridView* grid = p.window->grid();
    grid->horizontalScrollBar()->setValue(300);
    grid->verticalScrollBar()->setValue(400);
    EXPECT_EQ(p.window->inputStrip()->horizontalScrollBar()->value(), 300);
    EXPECT_EQ(p.window->outputStrip()->verticalScrollBar()->value(), 400);
    p.window->inputStrip()->horizontalScrollBar()->setValue(120);
    EXPECT_EQ(grid->horizontalScrollBar()->value(), 120);

    p.window->resize(1000, 700);
    UnitBed::settle();
    EXPECT_EQ(grid->width(), 1000 - 122);
    EXPECT_EQ(p.window->inputStrip()->width(), grid->viewport()->width());
    EXPECT_EQ(p.window->outputStrip()->height(), grid->viewport()->height());
    grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
    EXPECT_EQ(p.window->inputStrip()->horizontalScrollBar()->value(), grid->horizontalScrollBar()->value());

    // The numbers show where the pointer is.
    grid->setCurrentMatrixPos({5, 9});
    EXPECT_EQ(p.window->outputNumbers()->selection(), 5);
    EXPECT_EQ(p.window->inputNumbers()->selection(), 9);
    p.window->gridCursorLeft();
    EXPECT_EQ(p.window->outputNumbers()->selection(), -1);
}

TEST(UserPatch, WithoutAccessor)
{
    Sorn::UserPatch window;
    EXPECT_EQ(window.windowTitle(), "USER PATTERN ROUTING");
    EXPECT_EQ(window.setAccessor(nullptr), Quil::DEV_E_FAIL);
    EXPECT_EQ(window.updatePatch(), Quil::DEV_E_FAIL);
    EXPECT_EQ(window.recallPattern(0), Quil::DEV_E_FAIL);
    EXPECT_EQ(window.clearAllButtonClicked(), Quil::DEV_E_FAIL);
    EXPECT_EQ(window.lockStatusChanged(), Quil::DEV_E_FAIL);
    EXPECT_FALSE(window.gridClicked({0, 0}));
    bool deleted = false;
    {
        auto* doomed = new Sorn::UserPatch;
        QObject::connect(doomed, &Sorn::UserPatch::deleted, [&] { deleted = true; });
        delete doomed;
    }
    EXPECT_TRUE(deleted);
}
