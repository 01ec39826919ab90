// The user patch editor's routing grid (128 x 128 cells).
// - Redrawing the grid from the unit's memory after a pattern recall
//   (UserPatch::updatePatch: 128 reads, 16384 setValue calls, their repaint
//   requests, then the paint) against the floor of the same 128 reads setting
//   a plain cell array and one repaint of the grid.
// - Painting while the pointer moves along a row, at 100 % and 200 %: each
//   move repaints two column strips. The off-screen buffer of the whole
//   content per paint (about 60 MB at 200 %) against a buffer of the exposed
//   region only; the program checks that both give the same pixels.
// Offscreen; both sides of each pair run in the same program.
#include "bench/bench_gui.h"
#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "pbd/jlib/jvariant.h"
#include "ui/panels/sorn_userpatch.h"
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"
#include "ui/widgets/zgridview.h"

#include <QApplication>
#include <QMouseEvent>
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

using Utility::MatrixPos;

QString patchPath(int output)
{
    return QString::asprintf("/Backup/Patch:%d/UserPatchSrc:0", output);
}

// An offline Sorn unit and a shown patch window bound to it.
struct PatchWindow {
    Quil::DevObject unit{0, Quil::MODEL_SORN_D};
    std::unique_ptr<Sorn::UserPatch> window = std::make_unique<Sorn::UserPatch>(nullptr, Qt::Dialog);

    PatchWindow()
    {
        for (int slot = 0; slot < 4; ++slot)
            unit.setValue(
                QString::asprintf("/Current/Slot:%d/SLOTLockStatus:0", slot), JLIB::JVariant(1), Quil::SOURCE_LINK);
        window->setAccessor(&unit);
        window->updateTimer()->stop();
        window->show();
        QApplication::processEvents();
    }
    void recall(int pattern)
    {
        for (int output = 0; output < Sorn::kPatchSize; ++output)
            unit.setValue(
                patchPath(output), JLIB::JVariant(Sorn::fixedPatternSource(pattern, output)), Quil::SOURCE_LINK);
    }
};

// Made on first use and gone before the application (the GUI main's exit hook).
std::unique_ptr<PatchWindow> gWindow;

PatchWindow& patchWindow()
{
    if (!gWindow) {
        gWindow = std::make_unique<PatchWindow>();
        bench_gui_atExit([] { gWindow.reset(); });
    }
    return *gWindow;
}

void BM_UpdatePatchAfterRecall(benchmark::State& state)
{
    PatchWindow& p = patchWindow();
    int pattern = 0;
    for (auto _ : state) {
        state.PauseTiming();
        p.recall(pattern);
        pattern = (pattern + 1) % Sorn::kFixedPatternCount;
        state.ResumeTiming();
        p.window->updatePatch();
        QApplication::processEvents(); // the coalesced repaint
    }
}
BENCHMARK(BM_UpdatePatchAfterRecall)->Unit(benchmark::kMicrosecond);

void BM_SetCellsRepaintOnceFloor(benchmark::State& state)
{
    PatchWindow& p = patchWindow();
    std::vector<bool> cells(static_cast<size_t>(Sorn::kPatchSize) * Sorn::kPatchSize);
    int pattern = 0;
    for (auto _ : state) {
        state.PauseTiming();
        p.recall(pattern);
        pattern = (pattern + 1) % Sorn::kFixedPatternCount;
        state.ResumeTiming();
        std::fill(cells.begin(), cells.end(), false);
        for (int output = 0; output < Sorn::kPatchSize; ++output) {
            JLIB::JVariant value;
            if (p.unit.getValue(patchPath(output), &value) < 0)
                continue;
            const uint32_t source = value.toInteger();
            if (source < static_cast<uint32_t>(Sorn::kPatchSize))
                cells[static_cast<size_t>(output) * Sorn::kPatchSize + source] = true;
        }
        benchmark::DoNotOptimize(cells);
        p.window->grid()->content()->repaint();
    }
}
BENCHMARK(BM_SetCellsRepaintOnceFloor)->Unit(benchmark::kMicrosecond);

// A grid of the editor's geometry in a window of the editor's size.
struct MoveGrid {
    QWidget host;
    ZGridView* view = new ZGridView(&host);
    int column = 0;

    MoveGrid(ZoomCode code, GridViewContent::PaintBuffer mode)
    {
        view->setup(Sorn::kPatchSize, Sorn::kPatchSize, 14, 1, 1);
        for (int i = 15; i < Sorn::kPatchSize; i += 16) {
            view->setRowGap(i, 4);
            view->setColumnGap(i, 4);
        }
        for (int r = 0; r < Sorn::kPatchSize; ++r)
            view->setValue({r, (r * 5) % Sorn::kPatchSize}, true);
        view->content()->setPaintBuffer(mode);
        view->setGeometry(0, 0, ZScale::scaleValue(code, 678), ZScale::scaleValue(code, 480));
        host.resize(view->size());
        host.show();
        QApplication::processEvents();
        view->applyScale(code);
        QApplication::processEvents();
        view->setCurrentMatrixPos({10, 0});
    }
    void moveOne()
    {
        column = (column + 1) % 20;
        GridViewContent* content = view->content();
        const QPoint at = content->cellRect({10, column}).center();
        QMouseEvent move(QEvent::MouseMove, at, content->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(content, &move);
        QApplication::processEvents();
    }
};

bool samePixels(ZoomCode code)
{
    MoveGrid whole(code, GridViewContent::PaintBuffer::WholeContent);
    MoveGrid exposed(code, GridViewContent::PaintBuffer::ExposedRegion);
    for (int i = 0; i < 5; ++i) {
        whole.moveOne();
        exposed.moveOne();
    }
    return whole.view->grab().toImage() == exposed.view->grab().toImage()
        && whole.view->content()->grab(QRect(0, 0, 600, 300)).toImage()
        == exposed.view->content()->grab(QRect(0, 0, 600, 300)).toImage();
}

void movePaint(benchmark::State& state, GridViewContent::PaintBuffer mode)
{
    const ZoomCode code = static_cast<ZoomCode>(state.range(0));
    MoveGrid grid(code, mode);
    for (auto _ : state)
        grid.moveOne();
    state.counters["same_pixels"] = samePixels(code) ? 1 : 0;
}

void BM_MovePaintWholeContent(benchmark::State& state)
{
    movePaint(state, GridViewContent::PaintBuffer::WholeContent);
}
void BM_MovePaintExposedRegion(benchmark::State& state)
{
    movePaint(state, GridViewContent::PaintBuffer::ExposedRegion);
}
BENCHMARK(BM_MovePaintWholeContent)->Arg(0)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MovePaintExposedRegion)->Arg(0)->Arg(2)->Unit(benchmark::kMicrosecond);

} // namespace
