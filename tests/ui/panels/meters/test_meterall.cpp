// The meter window over the real rack owner with offline-mounted units: the
// form, both layouts, mount changes arriving queued, zoom round trips.
#include "tests/ui/panels/meters/meters_fixture.h"

#include "app/app_quilobject.h"
#include "device/memory/dev_memthread.h"
#include "ui/panels/imagepanel.h"
#include "ui/panels/meterall.h"
#include "ui/widgets/zscale.h"

#include <QLayout>
#include <QScrollBar>

#include <memory>

namespace {

using namespace Quil;

// The rack owner with the process's memory thread, as the program has it.
struct Rack {
    Rack()
        : memThread(createMemThread() == 0)
    {
    }
    ~Rack()
    {
        core.reset();
        if (memThread)
            destroyMemThread();
    }
    bool memThread;
    std::unique_ptr<QuilObject> core = std::make_unique<QuilObject>();
};

std::unique_ptr<MeterAll> makeWindow(QuilObject* core, int mode)
{
    auto window = std::make_unique<MeterAll>(nullptr, Qt::Dialog, core);
    EXPECT_EQ(0, window->setLayoutMode(mode));
    return window;
}

int scrollBarHeight(const MeterAll& window)
{
    return window.scrollArea()->horizontalScrollBar()->sizeHint().height();
}

TEST_F(MeterWindows, WindowFormBeforeAnyLayout)
{
    Rack rack;
    MeterAll window(nullptr, Qt::Dialog | Qt::WindowContextHelpButtonHint, rack.core.get());
    EXPECT_EQ(QStringLiteral("MeterAll"), window.objectName());
    EXPECT_EQ(QStringLiteral("Meter"), window.windowTitle());
    EXPECT_EQ(QSize(765, 820), window.size());
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::Dialog));
    EXPECT_FALSE(flags.testFlag(Qt::WindowContextHelpButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(QColor(53, 50, 47), window.palette().color(QPalette::Active, QPalette::Window));
    EXPECT_EQ(QColor(Qt::white), window.palette().color(QPalette::Inactive, QPalette::Base));
    EXPECT_EQ(QColor(53, 50, 47), window.palette().color(QPalette::Disabled, QPalette::Base));
    EXPECT_EQ(QStringLiteral("Arial"), window.font().family());
    ASSERT_NE(nullptr, window.layout());
    EXPECT_EQ(QStringLiteral("verticalLayout"), window.layout()->objectName());
    EXPECT_EQ(QMargins(1, 1, 1, 1), window.layout()->contentsMargins());
    EXPECT_EQ(QStringLiteral("m_scrollArea"), window.scrollArea()->objectName());
    EXPECT_FALSE(window.scrollArea()->widgetResizable());
    ASSERT_NE(nullptr, window.scrollArea()->widget());
    EXPECT_EQ(QStringLiteral("scrollAreaWidgetContents"), window.scrollArea()->widget()->objectName());
    EXPECT_EQ(QRect(0, 0, 628, 342), window.scrollArea()->widget()->geometry());
    EXPECT_EQ(MeterAll::NoLayout, window.layoutMode());
    EXPECT_EQ(nullptr, window.strip(0));
    // No strips yet: a mount change has nothing to bind.
    EXPECT_EQ(DEV_E_FAIL, window.slotDeviceMountChanged(0, MODEL_BROXL_D3));
}

TEST_F(MeterWindows, BothLayoutsPlaceTwentyFourStripsAndSizeTheWindow)
{
    Rack rack;
    struct Row {
        int mode;
        QSize frame;
        int columnBreak; // first slot of the second column; 24 for none
    };
    const Row rows[] = {{0, QSize(739, 24 * 67 - 23), 24}, {1, QSize(2 * 740 - 2, 12 * 67 - 11), 12}};
    for (const Row& row : rows) {
        auto window = makeWindow(rack.core.get(), row.mode);
        const int s = scrollBarHeight(*window);
        QWidget* frame = window->scrollArea()->widget();
        EXPECT_EQ(QColor(90, 90, 90), frame->palette().color(QPalette::Window));
        EXPECT_TRUE(frame->autoFillBackground());
        EXPECT_EQ(Qt::ScrollBarAlwaysOn, window->scrollArea()->horizontalScrollBarPolicy());
        EXPECT_EQ(Qt::ScrollBarAlwaysOn, window->scrollArea()->verticalScrollBarPolicy());
        EXPECT_EQ(row.frame, frame->size()) << row.mode;
        for (int i = 0; i < 24; ++i) {
            const MeterStrip* strip = window->strip(i);
            ASSERT_NE(nullptr, strip);
            EXPECT_EQ(frame, strip->parentWidget());
            EXPECT_EQ(QStringLiteral("#%1").arg(i + 1), strip->numberText());
            // Slots 1-12 in the left column, 13-24 in the right in two lines;
            // neighbours overlap by one pixel.
            const bool right = i >= row.columnBreak;
            const int k = right ? i - row.columnBreak : i;
            EXPECT_EQ(QPoint(right ? 740 : 1, k * 66), strip->pos()) << row.mode << " slot " << i;
            // An empty rack: every strip hidden, every place kept.
            EXPECT_TRUE(strip->isHidden());
        }
        // Around the view: the layout's one-pixel margins and its frame.
        const int c = s + 2 + 2 * window->scrollArea()->frameWidth();
        if (row.mode == 0) {
            EXPECT_EQ(QSize(740 + c, 24 * 67 - 23 + c), window->maximumSize());
            EXPECT_EQ(QSize(740 + c, (24 * 67 - 23 + c) / 2), window->size());
        } else {
            EXPECT_EQ(QSize(2 * 740 - 1 + c, 12 * 67 - 11 + c), window->maximumSize());
            EXPECT_EQ(window->maximumSize(), window->size());
        }
    }
}

// The two-line window opens showing both columns whole: the bottom strips
// (#12, #24) and the right column end inside the view, above its bars.
TEST_F(MeterWindows, TwoLinesOpenWithEveryStripInView)
{
    Rack rack;
    ASSERT_EQ(0, rack.core->mountModel(11, MODEL_BROXL_D3));
    ASSERT_EQ(0, rack.core->mountModel(23, MODEL_BROXL_D3));
    for (ZoomCode code : {0u, 2u}) {
        auto window = makeWindow(rack.core.get(), 1);
        window->applyScale(code);
        ASSERT_TRUE(qtest::showAndWait(window.get()));
        QWidget* viewport = window->scrollArea()->viewport();
        QWidget* frame = window->scrollArea()->widget();
        const QRect whole(frame->mapTo(viewport, QPoint(0, 0)), frame->size());
        EXPECT_TRUE(viewport->rect().contains(whole)) << code;
        for (int slot : {11, 23}) {
            const MeterStrip* strip = window->strip(slot);
            ASSERT_TRUE(qtest::waitUntil([&] { return strip->isVisible(); })) << slot;
            EXPECT_LE(strip->mapTo(viewport, QPoint(0, strip->height() - 1)).y(), viewport->height() - 1)
                << code << " #" << slot + 1;
        }
    }
}

TEST_F(MeterWindows, LayoutModeChangesRebuildAndBadModesChangeNothing)
{
    Rack rack;
    auto window = makeWindow(rack.core.get(), 0);
    MeterStrip* first = window->strip(0);
    const QSize size = window->size();
    EXPECT_EQ(0, window->setLayoutMode(0));
    EXPECT_EQ(first, window->strip(0));
    for (int mode : {2, 3, -1}) {
        EXPECT_EQ(DEV_E_FAIL, window->setLayoutMode(mode)) << mode;
        EXPECT_EQ(MeterAll::OneLine, window->layoutMode());
        EXPECT_EQ(first, window->strip(0));
        EXPECT_EQ(size, window->size());
    }
    ASSERT_EQ(0, window->setLayoutMode(1));
    settle();
    EXPECT_EQ(24, window->findChildren<MeterStrip*>().size());
    EXPECT_EQ(QPoint(740, 0), window->strip(12)->pos());
}

TEST_F(MeterWindows, MountChangesReachTheirStripQueued)
{
    Rack rack;
    ASSERT_TRUE(rack.memThread);
    ASSERT_EQ(0, rack.core->mountModel(0, MODEL_BROXM_D2));
    // A window made after a mount shows the unit at once.
    auto window = makeWindow(rack.core.get(), 0);
    ASSERT_TRUE(qtest::showAndWait(window.get()));
    EXPECT_FALSE(window->strip(0)->isHidden());
    EXPECT_EQ(QStringLiteral("BroxM-D2"), window->strip(0)->nameText());

    ASSERT_EQ(0, rack.core->mountModel(2, MODEL_BROXL_D3));
    ASSERT_EQ(0, rack.core->mountModel(3, MODEL_SORN_D));
    ASSERT_EQ(0, rack.core->mountModel(4, MODEL_MAVIK_D));
    // Nothing changes before the queued signal arrives.
    EXPECT_TRUE(window->strip(2)->isHidden());
    ASSERT_TRUE(qtest::waitUntil([&] { return !window->strip(2)->isHidden(); }, 2000));
    settle();
    EXPECT_EQ(QStringLiteral("BroxL-D3"), window->strip(2)->nameText());
    int controllers = 0;
    for (int block = 0; block < MeterStrip::BlockCount; ++block)
        controllers += window->strip(2)->controllers(block).size();
    EXPECT_EQ(58, controllers);
    // Sorn and Mavik strips stay hidden and keep their place.
    EXPECT_TRUE(window->strip(3)->isHidden());
    EXPECT_TRUE(window->strip(4)->isHidden());
    EXPECT_EQ(QPoint(1, 5 * 66), window->strip(5)->pos());

    ASSERT_EQ(0, rack.core->mountModel(2, MODEL_NONE));
    EXPECT_TRUE(qtest::waitUntil([&] { return window->strip(2)->isHidden(); }, 2000));
    EXPECT_TRUE(window->strip(2)->nameText().isEmpty());
    EXPECT_EQ(QPoint(1, 2 * 66), window->strip(2)->pos());

    EXPECT_EQ(DEV_E_FAIL, window->slotDeviceMountChanged(24, 0));
    EXPECT_EQ(0, window->slotDeviceMountChanged(23, 0));
}

TEST_F(MeterWindows, DeletedIsSignalledBeforeTheStripsGo)
{
    Rack rack;
    auto window = makeWindow(rack.core.get(), 1);
    int stripsAtSignal = -1;
    QObject::connect(window.get(), &MeterAll::deleted,
        [&, w = window.get()] { stripsAtSignal = w->findChildren<MeterStrip*>().size(); });
    window.reset();
    EXPECT_EQ(24, stripsAtSignal);
}

TEST_F(MeterWindows, ZoomRoundTripGivesExactSizesAndPositionBack)
{
    Rack rack;
    ASSERT_EQ(0, rack.core->mountModel(13, MODEL_BROXL_D3));
    for (int mode : {0, 1}) {
        auto window = makeWindow(rack.core.get(), mode);
        ASSERT_TRUE(qtest::showAndWait(window.get()));
        window->move(40, 30);
        const QSize size = window->size();
        const QSize maximum = window->maximumSize();
        const QSize frame = window->scrollArea()->widget()->size();
        const QRect strip = window->strip(13)->geometry();
        const QRect meter = window->strip(13)->meterBases(1).at(23)->geometry();
        const int barExtent = scrollBarHeight(*window);

        for (ZoomCode code : {1u, 2u}) {
            // As the main window re-zooms a meter window: same 100 % position.
            const QPoint at = ZScale::unscaledPos(window.get(), window->scale());
            window->applyScale(code);
            window->moveScaled(at);
            EXPECT_EQ(ZScale::scaleSize(code, strip.topLeft()), window->strip(13)->pos()) << mode << code;
            EXPECT_EQ(ZScale::scaleSize(code, strip.size()), window->strip(13)->size());
            EXPECT_EQ(ZScale::scaleSize(code, frame), window->scrollArea()->widget()->size());
            EXPECT_EQ(ZScale::scaleSize(code, size), window->size());
            EXPECT_EQ(ZScale::scaleSize(code, QPoint(40, 30)), window->pos());
            // The bars take the zoom with the strips.
            EXPECT_EQ(ZScale::scaleValue(code, barExtent), scrollBarHeight(*window)) << mode << code;
            EXPECT_EQ(
                ZScale::scaleValue(code, barExtent), window->scrollArea()->verticalScrollBar()->sizeHint().width());
        }
        const QPoint at = ZScale::unscaledPos(window.get(), window->scale());
        window->applyScale(0);
        window->moveScaled(at);
        EXPECT_EQ(size, window->size()) << mode;
        EXPECT_EQ(maximum, window->maximumSize()) << mode;
        EXPECT_EQ(frame, window->scrollArea()->widget()->size()) << mode;
        EXPECT_EQ(strip, window->strip(13)->geometry()) << mode;
        EXPECT_EQ(meter, window->strip(13)->meterBases(1).at(23)->geometry()) << mode;
        EXPECT_EQ(QPoint(40, 30), window->pos()) << mode;
        EXPECT_EQ(barExtent, scrollBarHeight(*window)) << mode;
    }
}

} // namespace
