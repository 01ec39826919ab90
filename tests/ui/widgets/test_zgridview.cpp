// The routing grid: geometry and hit testing, pointer and keys, what gets
// repainted, the painters by pixels, zoom, and refusal of positions outside
// the matrix.
#include "ui/widgets/zgridview.h"

#include "tests/support/gui/gui_support.h"

#include <QPainter>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <random>
#include <set>

using Utility::MatrixPos;

namespace {

// Draws like the plain painter and records every cell it paints.
class RecordingPainter : public GridViewPainter {
public:
    explicit RecordingPainter(std::set<std::pair<int, int>>* painted)
        : m_painted(painted)
    {
    }
    void paintBackground(QWidget* content, QPainter& painter) override { painter.fillRect(content->rect(), Qt::black); }
    void paintCell(GridViewContent*, QPainter& painter, MatrixPos pos, const QRect& rect, ZoomCode) override
    {
        m_painted->insert({pos.row, pos.column});
        painter.fillRect(rect, Qt::white);
    }

private:
    std::set<std::pair<int, int>>* m_painted;
};

// A shown grid of rows x columns cells of `cell` pixels with `gap` between.
struct Grid {
    Grid(int rows, int columns, int cell, int gap, GridViewPainter* painter = nullptr)
    {
        view = new ZGridView(&host);
        view->setup(rows, columns, cell, gap, gap, painter);
        view->setGeometry(0, 0, 300, 300);
        host.resize(300, 300);
        content = view->content();
    }
    bool show() { return qtest::showAndWait(&host); }
    QPoint centreOf(MatrixPos pos) { return content->cellRect(pos).center(); }

    QWidget host;
    ZGridView* view;
    GridViewContent* content;
};

MatrixPos posOf(const QList<QVariant>& args)
{
    return args.at(0).value<MatrixPos>();
}

} // namespace

TEST(GridView, HitTestSplitsGapsInHalves)
{
    Grid grid(3, 3, 10, 4);
    grid.content->prepare();
    struct Row {
        int y;
        int row; // -1: no hit
    };
    // Rows at 0-9, 14-23, 28-37; gaps 10-13 and 24-27.
    const Row rows[] = {{0, 0}, {9, 0}, {10, 0}, {11, 0}, {12, 1}, {13, 1}, {14, 1}, {25, 1}, {26, 2}, {37, 2},
        {38, -1}, {100, -1}, {-1, -1}};
    for (const Row& row : rows) {
        MatrixPos hit{-7, -7};
        const bool ok = grid.content->hitTest(QPoint(5, row.y), &hit);
        EXPECT_EQ(ok, row.row >= 0) << "y " << row.y;
        if (ok) {
            EXPECT_EQ(hit.row, row.row) << "y " << row.y;
        }
    }
    EXPECT_EQ(grid.content->contentSize(), QSize(38, 38)); // no gap after the last line
}

TEST(GridView, GapsAfterEveryGroupMoveLaterRows)
{
    Grid grid(128, 128, 14, 0);
    for (int i = 15; i < 128; i += 16) {
        EXPECT_TRUE(grid.view->setRowGap(i, 4));
        EXPECT_TRUE(grid.view->setColumnGap(i, 4));
    }
    grid.content->prepare();
    EXPECT_EQ(grid.content->cellRect({16, 0}).top(), 16 * 14 + 4);
    EXPECT_EQ(grid.content->cellRect({0, 33}).left(), 33 * 14 + 8);
    EXPECT_EQ(grid.content->contentSize(), QSize(128 * 14 + 7 * 4, 128 * 14 + 7 * 4));
    EXPECT_EQ(grid.content->size(), grid.content->contentSize());
}

TEST(GridView, KeysMoveToggleAndAreDroppedWhileInactive)
{
    Grid grid(4, 4, 10, 1);
    ASSERT_TRUE(grid.show());
    QSignalSpy moved(grid.view, &ZGridView::currentMatrixPosChanged);
    QSignalSpy keys(grid.view, &ZGridView::keyPressed);
    QSignalSpy toggled(grid.view, &ZGridView::onOffChanged);

    // Nothing is current yet: keys vanish without a signal.
    QTest::keyClick(grid.content, Qt::Key_Right);
    QTest::keyClick(grid.content, Qt::Key_Space);
    EXPECT_EQ(keys.count() + moved.count() + toggled.count(), 0);

    ASSERT_TRUE(grid.view->setCurrentMatrixPos({0, 0}));
    moved.clear();
    struct Row {
        Qt::Key key;
        MatrixPos after;
        bool moves;
    };
    const Row rows[] = {
        {Qt::Key_Left, {0, 0}, false},
        {Qt::Key_Up, {0, 0}, false},
        {Qt::Key_Right, {0, 1}, true},
        {Qt::Key_Down, {1, 1}, true},
        {Qt::Key_Down, {2, 1}, true},
        {Qt::Key_Down, {3, 1}, true},
        {Qt::Key_Down, {3, 1}, false}, // last row
        {Qt::Key_A, {3, 1}, false},
    };
    for (const Row& row : rows) {
        moved.clear();
        keys.clear();
        QTest::keyClick(grid.content, row.key);
        MatrixPos now;
        ASSERT_TRUE(grid.view->currentMatrixPos(&now));
        EXPECT_EQ(now, row.after) << row.key;
        EXPECT_EQ(keys.count(), 1) << row.key;
        ASSERT_EQ(moved.count(), row.moves ? 1 : 0) << row.key;
        if (row.moves) {
            EXPECT_EQ(posOf(moved.at(0)), row.after);
            EXPECT_TRUE(moved.at(0).at(1).toBool()); // by keyboard
        }
    }

    // The toggle happens before keyPressed, so a listener reads the new value.
    bool seenValue = false;
    QObject::connect(grid.view, &ZGridView::keyPressed, [&] { seenValue = grid.view->value({3, 1}); });
    QTest::keyClick(grid.content, Qt::Key_Return);
    EXPECT_TRUE(grid.view->value({3, 1}));
    EXPECT_TRUE(seenValue);
    QTest::keyClick(grid.content, Qt::Key_Space);
    EXPECT_FALSE(grid.view->value({3, 1}));
}

TEST(GridView, ClicksToggleDisabledCellsOnlyWhenAllowed)
{
    Grid grid(4, 4, 10, 2);
    ASSERT_TRUE(grid.show());
    grid.view->setDisabledAreas({{0, 2, 4, 1}}); // column 2
    QSignalSpy clicked(grid.view, &ZGridView::clicked);

    QTest::mouseClick(grid.content, Qt::LeftButton, {}, grid.centreOf({1, 2}));
    EXPECT_FALSE(grid.view->value({1, 2}));
    EXPECT_EQ(clicked.count(), 0);
    grid.view->setCurrentMatrixPos({1, 2});
    QTest::keyClick(grid.content, Qt::Key_Space);
    EXPECT_FALSE(grid.view->value({1, 2}));

    QTest::mouseClick(grid.content, Qt::LeftButton, {}, grid.centreOf({1, 1}));
    EXPECT_TRUE(grid.view->value({1, 1}));
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_EQ(posOf(clicked.at(0)), (MatrixPos{1, 1}));

    grid.view->setToggleDisabled(true);
    QTest::mouseClick(grid.content, Qt::LeftButton, {}, grid.centreOf({1, 2}));
    EXPECT_TRUE(grid.view->value({1, 2}));
    QTest::keyClick(grid.content, Qt::Key_Space);
    EXPECT_FALSE(grid.view->value({1, 2}));

    // Below the last row nothing is hit.
    clicked.clear();
    grid.content->resize(grid.content->width(), 80);
    QTest::mouseClick(grid.content, Qt::LeftButton, {}, QPoint(5, 60));
    EXPECT_EQ(clicked.count(), 0);
}

TEST(GridView, SettingTheHeldValueEmitsNothing)
{
    Grid grid(2, 2, 10, 1);
    QSignalSpy changed(grid.view, &ZGridView::onOffChanged);
    EXPECT_TRUE(grid.view->setValue({1, 0}, true));
    EXPECT_TRUE(grid.view->setValue({1, 0}, true));
    EXPECT_TRUE(grid.view->setValue({0, 0}, false));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(posOf(changed.at(0)), (MatrixPos{1, 0}));
    EXPECT_TRUE(changed.at(0).at(1).toBool());
}

TEST(GridView, MovingAlongARowRepaintsTwoColumnStrips)
{
    std::set<std::pair<int, int>> painted;
    Grid grid(8, 8, 10, 2, new RecordingPainter(&painted));
    ASSERT_TRUE(grid.show());
    grid.view->setCurrentMatrixPos({3, 2});
    QTest::qWait(30);
    painted.clear();

    QTest::keyClick(grid.content, Qt::Key_Right);
    ASSERT_TRUE(qtest::waitUntil([&] { return !painted.empty(); }));
    QTest::qWait(30);
    std::set<std::pair<int, int>> expected;
    for (int r = 0; r < 8; ++r) {
        expected.insert({r, 2});
        expected.insert({r, 3});
    }
    EXPECT_EQ(painted, expected);

    // A value change repaints its cell only.
    painted.clear();
    grid.view->setValue({5, 6}, true);
    ASSERT_TRUE(qtest::waitUntil([&] { return !painted.empty(); }));
    QTest::qWait(30);
    EXPECT_EQ(painted, (std::set<std::pair<int, int>>{{5, 6}}));
}

TEST(GridView, PlainPainterColours)
{
    Grid grid(4, 4, 10, 4);
    ASSERT_TRUE(grid.show());
    grid.view->setDisabledAreas({{3, 0, 1, 4}}); // last row
    grid.view->setValue({0, 0}, true);
    grid.view->setCurrentMatrixPos({1, 1});
    QTest::qWait(30);
    struct Row {
        QPoint at;
        QColor colour;
    };
    const Row rows[] = {
        {grid.centreOf({0, 0}), Qt::red}, {grid.centreOf({1, 3}), Qt::green}, // current row
        {grid.centreOf({2, 1}), Qt::green}, // current column
        {grid.centreOf({2, 2}), Qt::white}, {grid.centreOf({3, 3}), Qt::gray},
        {QPoint(11, 5), QColor(0, 0, 255)}, // the gap shows the background
    };
    for (const Row& row : rows)
        EXPECT_TRUE(qtest::near(qtest::pixelAt(grid.content, row.at), row.colour))
            << row.at.x() << "," << row.at.y() << " " << qtest::pixelAt(grid.content, row.at).name().toStdString();
}

TEST(GridView, GridPainterDrawsMaskedPictureCentred)
{
    auto* painter = new GridPainter;
    QPixmap ball(6, 6);
    ball.fill(Qt::black); // corner colour: masked out
    {
        QPainter p(&ball);
        p.fillRect(2, 2, 2, 2, QColor(250, 0, 250));
    }
    painter->setOnPixmap(ball);
    painter->setDisabledOnPixmap(ball);
    painter->setBackgroundColor(QColor(59, 59, 59));
    painter->setNormalColor(Qt::white);
    painter->setDisabledColor(QColor(200, 200, 200));
    painter->setMarkedColor(QColor(117, 117, 117));
    Grid grid(4, 4, 14, 1, painter);
    ASSERT_TRUE(grid.show());
    grid.view->setMarkedAreas({{2, 2, 2, 2}});
    grid.view->setDisabledAreas({{0, 3, 4, 1}});
    grid.view->setValue({0, 0}, true);
    QTest::qWait(30);
    const QRect cell = grid.content->cellRect({0, 0});
    EXPECT_TRUE(qtest::near(qtest::pixelAt(grid.content, cell.topLeft() + QPoint(6, 6)), QColor(250, 0, 250)));
    EXPECT_TRUE(qtest::near(qtest::pixelAt(grid.content, cell.topLeft() + QPoint(4, 4)), Qt::white)); // masked
    EXPECT_TRUE(qtest::near(qtest::pixelAt(grid.content, grid.centreOf({3, 2})), QColor(117, 117, 117)));
    EXPECT_TRUE(qtest::near(qtest::pixelAt(grid.content, grid.centreOf({3, 3})), QColor(200, 200, 200)));
    EXPECT_TRUE(qtest::near(qtest::pixelAt(grid.content, QPoint(14, 3)), QColor(59, 59, 59)));
}

TEST(GridView, ZoomRescalesAndComesBack)
{
    Grid grid(32, 32, 14, 1);
    grid.view->setRowGap(15, 4);
    grid.view->setColumnGap(15, 4);
    ASSERT_TRUE(grid.show());
    const QSize at100 = grid.content->contentSize();

    grid.view->applyScale(2);
    EXPECT_EQ(grid.content->scale(), 2u);
    EXPECT_EQ(grid.content->rowLine(0).size, 28);
    EXPECT_EQ(grid.content->rowLine(0).gap, 2);
    EXPECT_EQ(grid.content->columnLine(15).gap, 8);
    EXPECT_EQ(grid.content->size(), QSize(32 * 28 + 30 * 2 + 8, 32 * 28 + 30 * 2 + 8));
    // A gap set on a zoomed view is given at 100 %.
    grid.view->setRowGap(31 - 1, 3);
    EXPECT_EQ(grid.content->rowLine(30).gap, 6);
    grid.view->setRowGap(30, 1);

    grid.view->applyScale(0);
    EXPECT_EQ(grid.content->rowLine(0).size, 14);
    EXPECT_EQ(grid.content->rowLine(0).gap, 1);
    EXPECT_EQ(grid.content->columnLine(15).gap, 4);
    EXPECT_EQ(grid.content->contentSize(), at100);
}

TEST(GridView, PositionsOutsideTheMatrixAreRefused)
{
    Grid grid(3, 5, 10, 1);
    QSignalSpy changed(grid.view, &ZGridView::onOffChanged);
    QSignalSpy moved(grid.view, &ZGridView::currentMatrixPosChanged);
    const MatrixPos bad[] = {{-1, 0}, {0, -1}, {3, 0}, {0, 5}, {3, 5}, {INT32_MAX, INT32_MAX}, {1, -100000}};
    for (const MatrixPos& pos : bad) {
        EXPECT_FALSE(grid.view->setValue(pos, true)) << pos.row << "," << pos.column;
        EXPECT_FALSE(grid.view->value(pos));
        EXPECT_FALSE(grid.view->setCurrentMatrixPos(pos));
        EXPECT_TRUE(grid.content->cellRect(pos).isEmpty());
    }
    for (const int bad : {-1, 5, INT32_MIN}) {
        EXPECT_FALSE(grid.view->setColumnSize(bad, 20));
        EXPECT_FALSE(grid.view->setColumnGap(bad, 2));
        EXPECT_FALSE(grid.content->setColumnSize(bad, 20));
        EXPECT_TRUE(grid.content->columnStrip(bad).isEmpty());
    }
    for (const int bad : {-1, 3, INT32_MAX}) {
        EXPECT_FALSE(grid.view->setRowGap(bad, 2));
        EXPECT_FALSE(grid.content->setRowSize(bad, 20));
        EXPECT_TRUE(grid.content->rowStrip(bad).isEmpty());
    }
    const GridView::PosValue pairs[] = {{{9, 9}, true}, {{-1, 2}, false}};
    grid.view->valueChanged(pairs, 2);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(moved.count(), 0);
    MatrixPos current;
    EXPECT_FALSE(grid.view->currentMatrixPos(&current));
    // Geometry records: counts outside the lines are refused too.
    EXPECT_FALSE(grid.content->removeRows(2, 2));
    EXPECT_FALSE(grid.content->insertColumns(5, 1, 10, 1));
    EXPECT_TRUE(grid.content->removeRows(2, 1));
    EXPECT_TRUE(grid.content->cellRect({2, 0}).isEmpty()); // its line is gone
}

TEST(GridView, RandomOperationsWithBadPositionsRunClean)
{
    // Meant for the sanitizer builds as much as for this one: every index
    // that reaches the cells must be in range.
    Grid grid(20, 30, 6, 1);
    ASSERT_TRUE(grid.show());
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> coordinate(-40, 60);
    std::uniform_int_distribution<int> operation(0, 9);
    int ons = 0;
    for (int i = 0; i < 4000; ++i) {
        const MatrixPos pos{coordinate(random), coordinate(random)};
        switch (operation(random)) {
        case 0:
            grid.view->setValue(pos, true);
            break;
        case 1:
            grid.view->setValue(pos, false);
            break;
        case 2:
            grid.view->setCurrentMatrixPos(pos);
            break;
        case 3:
            grid.content->setRowSize(pos.row, 1 + (pos.column & 7));
            break;
        case 4:
            grid.view->setColumnGap(pos.column, pos.row & 3);
            break;
        case 5:
            grid.content->removeRows(pos.row, pos.column);
            break;
        case 6:
            grid.content->insertRows(pos.row, pos.column & 3, 6, 1);
            break;
        case 7:
            grid.content->hitTest(QPoint(pos.column * 3, pos.row * 3), nullptr);
            break;
        case 8:
            QTest::mouseClick(grid.content, Qt::LeftButton, {}, QPoint(pos.column * 3, pos.row * 3));
            break;
        default:
            QTest::keyClick(grid.content, Qt::Key_Space);
            break;
        }
        if (i % 200 == 0)
            grid.content->repaint();
    }
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 30; ++c)
            ons += grid.view->value({r, c});
    EXPECT_GE(ons, 0);
    EXPECT_EQ(grid.view->matrixSize(), QSize(30, 20));
}
