// Zooming a panel-sized tree of about 1000 zoomable widgets (ZScale::applyScale
// 0 -> 2 -> 0) against the floor of a bare setGeometry + setFont loop over the
// same widgets, and 58 meters taking new values and painting against the
// floor of one widget drawing the same 58 meter rectangles with drawPixmap
// (and, to tell Qt's share apart, 58 plain child widgets drawing theirs).
// Offscreen; both sides of each pair run in the same program.
#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"
#include "ui/widgets/zmeter.h"
#include "ui/widgets/zscaled.h"

#include <QApplication>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kGroups = 40;
constexpr int kPerGroup = 24; // 40 frames x (1 + 24) children = 1000 widgets
constexpr int kMeters = 58;

struct Tree {
    std::unique_ptr<ZScaledWidget> root = std::make_unique<ZScaledWidget>();
    std::vector<QWidget*> widgets; // every widget below the root
    std::vector<QRect> geometry; // their 100 % geometry
    std::vector<QFont> fonts; // their 100 % font

    Tree()
    {
        root->setGeometryScaled(0, 0, 1200, 900);
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(12);
        for (int g = 0; g < kGroups; ++g) {
            auto* frame = new ZScaledFrame(root.get());
            add(frame, QRect((g % 8) * 150, (g / 8) * 180, 146, 176), font);
            for (int i = 0; i < kPerGroup; ++i) {
                QWidget* child = i % 2 ? static_cast<QWidget*>(new ZScaledLabel(frame))
                                       : static_cast<QWidget*>(new ZScaledWidget(frame));
                add(child, QRect((i % 4) * 36, (i / 4) * 29, 34, 27), font);
            }
        }
    }
    void add(QWidget* w, const QRect& rect, const QFont& font)
    {
        ZScale::setGeometry(w, 0, rect);
        ZScale::setFont(w, 0, font);
        widgets.push_back(w);
        geometry.push_back(rect);
        fonts.push_back(font);
    }
};

void BM_ApplyScale(benchmark::State& state)
{
    Tree tree;
    for (auto _ : state) {
        tree.root->applyScale(2);
        tree.root->applyScale(0);
    }
    state.SetItemsProcessed(state.iterations() * 2 * static_cast<int64_t>(tree.widgets.size()));
}
BENCHMARK(BM_ApplyScale)->Unit(benchmark::kMicrosecond);

// Floor: the geometry and font each widget ends up with, set directly.
void BM_BareGeometryAndFont(benchmark::State& state)
{
    Tree tree;
    for (auto _ : state) {
        for (ZoomCode code : {2u, 0u}) {
            for (size_t i = 0; i < tree.widgets.size(); ++i) {
                tree.widgets[i]->setGeometry(ZScale::scaleRect(code, tree.geometry[i]));
                tree.widgets[i]->setFont(ZScale::scaleFont(code, 0, tree.fonts[i]));
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * 2 * static_cast<int64_t>(tree.widgets.size()));
}
BENCHMARK(BM_BareGeometryAndFont)->Unit(benchmark::kMicrosecond);

int levelOf(int64_t round, int meter)
{
    return static_cast<int>((round * 7 + meter * 3) % 42);
}

// 58 meters of type M side by side in a shown window, each set up by `setUp`.
template <class M, class SetUp> std::vector<M*> meterRow(QWidget& window, SetUp setUp)
{
    window.resize(kMeters * 11, 50);
    std::vector<M*> meters;
    for (int i = 0; i < kMeters; ++i) {
        auto* m = new M(&window);
        m->move(i * 11, 4);
        setUp(m);
        meters.push_back(m);
    }
    window.show();
    QApplication::processEvents();
    return meters;
}

void BM_MeterUpdateAndPaint(benchmark::State& state)
{
    QWidget window;
    const QPixmap lit(QStringLiteral(":brox/images/meter_value.png"));
    const std::vector<ZMeter*> meters = meterRow<ZMeter>(window, [&](ZMeter* m) { m->setMeterImage(lit); });
    int64_t round = 0;
    for (auto _ : state) {
        ++round;
        for (int i = 0; i < kMeters; ++i) {
            ZMeter* m = meters[static_cast<size_t>(i)];
            m->setValue(levelOf(round, i));
            m->setPeakHold(levelOf(round, i) + 2, 1);
        }
        window.repaint();
    }
    state.SetItemsProcessed(state.iterations() * kMeters);
}
BENCHMARK(BM_MeterUpdateAndPaint)->Unit(benchmark::kMicrosecond);

// Floor: one widget drawing the same lit rectangles and peak rows.
class BareMeters : public QWidget {
public:
    int64_t round = 0;
    QPixmap lit{QStringLiteral(":brox/images/meter_value.png")};

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const int h = lit.height();
        for (int i = 0; i < kMeters; ++i) {
            const int v = std::min(levelOf(round, i), h);
            const int peak = levelOf(round, i) + 2;
            p.drawPixmap(QRect(i * 11, 4 + h - v, lit.width(), v), lit, QRect(0, h - v, lit.width(), v));
            if (peak <= h)
                p.drawPixmap(QRect(i * 11, 4 + h - peak, lit.width(), 1), lit, QRect(0, h - peak, lit.width(), 1));
        }
    }
};

void BM_BareMeterPixmaps(benchmark::State& state)
{
    BareMeters window;
    window.resize(kMeters * 11, 50);
    window.show();
    QApplication::processEvents();
    for (auto _ : state) {
        ++window.round;
        window.repaint();
    }
    state.SetItemsProcessed(state.iterations() * kMeters);
}
BENCHMARK(BM_BareMeterPixmaps)->Unit(benchmark::kMicrosecond);

// Second floor: 58 plain child widgets each drawing its own lit rectangle,
// which is what Qt's painting of one widget per meter costs on its own.
class BareMeter : public QWidget {
public:
    using QWidget::QWidget;
    QPixmap lit{QStringLiteral(":brox/images/meter_value.png")};
    int value = 0;
    void setValue(int v)
    {
        if (v == value)
            return;
        value = v;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const int h = lit.height();
        const int v = std::min(value, h);
        p.drawPixmap(QRect(0, h - v, lit.width(), v), lit, QRect(0, h - v, lit.width(), v));
    }
};

void BM_BareChildWidgets(benchmark::State& state)
{
    QWidget window;
    const std::vector<BareMeter*> meters = meterRow<BareMeter>(window, [](BareMeter* m) { m->resize(5, 41); });
    int64_t round = 0;
    for (auto _ : state) {
        ++round;
        for (int i = 0; i < kMeters; ++i)
            meters[static_cast<size_t>(i)]->setValue(levelOf(round, i));
        window.repaint();
    }
    state.SetItemsProcessed(state.iterations() * kMeters);
}
BENCHMARK(BM_BareChildWidgets)->Unit(benchmark::kMicrosecond);

} // namespace
