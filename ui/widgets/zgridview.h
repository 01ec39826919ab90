// ZGridView: a zoomable, scrollable matrix of on/off cells (a routing grid:
// one row per destination, one column per source). The inner widget,
// GridViewContent, holds the cells, the row and column geometry, the
// current cell, hit testing, pointer and key handling and painting; the
// drawing itself is done by an exchangeable painter. GUI thread only.
//
// Every operation that takes a row, a column or a position refuses one
// outside the current counts (false, or nothing done): a caller's slip
// never indexes the cells.
#pragma once

#include "ui/widgets/zscaled.h"

#include <QColor>
#include <QPixmap>

#include <deque>
#include <memory>
#include <utility>
#include <vector>

class QKeyEvent;
class QPainter;

namespace Utility {

struct MatrixPos {
    int row = 0;
    int column = 0;
    bool operator==(const MatrixPos& o) const { return row == o.row && column == o.column; }
    bool operator!=(const MatrixPos& o) const { return !(*this == o); }
};

} // namespace Utility

Q_DECLARE_METATYPE(Utility::MatrixPos)

namespace GridView {

// One row's or column's geometry in screen pixels at the content's zoom.
struct Line {
    int size = 0;
    int gap = 0; // after this line; never counted after the last one
    int offset = 0; // derived
};

// First row, first column, number of rows, number of columns.
struct Area {
    int row = 0;
    int column = 0;
    int rows = 0;
    int columns = 0;
    bool contains(int r, int c) const { return r >= row && r < row + rows && c >= column && c < column + columns; }
};

using PosValue = std::pair<Utility::MatrixPos, bool>;

} // namespace GridView

class GridViewContent;
class ZGridView;

// What draws a grid: background, cells, and which parts to repaint when the
// pointer or the values change.
class GridViewPainter {
public:
    virtual ~GridViewPainter() = default;
    virtual void enterRepaint(GridViewContent* content);
    virtual void leaveRepaint(GridViewContent* content);
    // Repaints the full strips of the rows and columns that changed.
    virtual void currentChanged(GridViewContent* content, Utility::MatrixPos oldPos, Utility::MatrixPos newPos);
    virtual void cellsChanged(GridViewContent* content, const GridView::PosValue* pairs, int count);
    virtual void paintBackground(QWidget* content, QPainter& painter) = 0;
    virtual void paintCell(
        GridViewContent* content, QPainter& painter, Utility::MatrixPos pos, const QRect& rect, ZoomCode code)
        = 0;
};

class GridViewContent : public ZScaledWidget {
    Q_OBJECT
public:
    // How a paint is buffered: an off-screen picture of the whole widget,
    // or only of the exposed region's bounds (same pixels, less memory).
    enum class PaintBuffer { WholeContent, ExposedRegion };

    explicit GridViewContent(ZGridView* view);
    ~GridViewContent() override;

    ZoomCode scale() const override { return m_ownCode; }
    bool applyScale(ZoomCode code) override;

    bool setup(int rowCount, int columnCount, int cellSize, int rowGap, int columnGap, GridViewPainter* painter);
    bool setValue(Utility::MatrixPos pos, bool on);
    // Geometry records only: counts and cells stay as they are.
    bool insertRows(int first, int count, int size, int gap);
    bool removeRows(int first, int count);
    bool insertColumns(int first, int count, int size, int gap);
    bool removeColumns(int first, int count);
    bool setRowSize(int row, int size);
    bool setColumnSize(int column, int size);
    bool setRowGap(int row, int gap);
    bool setColumnGap(int column, int gap);
    void setDisabledAreas(const std::vector<GridView::Area>& areas);
    void setMarkedAreas(const std::vector<GridView::Area>& areas);
    void addDisabledArea(const GridView::Area& area);
    // Owned; a different previous painter is deleted.
    void setPainter(GridViewPainter* painter);
    bool setCurrentMatrixPos(Utility::MatrixPos pos);
    QWidget* contentWidget() { return this; }
    void setToggleDisabled(bool on) { m_toggleDisabled = on; }
    void prepare();
    int takeFocusInActiveWindow();
    void recomputeOffsets();
    void resizeToContent();
    void setPaintBuffer(PaintBuffer mode) { m_paintBuffer = mode; }

    int rowCount() const { return m_rowCount; }
    int columnCount() const { return m_columnCount; }
    bool contains(Utility::MatrixPos pos) const;
    // False for a position outside the matrix.
    bool value(Utility::MatrixPos pos) const;
    bool isEnabled(Utility::MatrixPos pos) const;
    bool isMarked(Utility::MatrixPos pos) const;
    bool isActive() const { return m_active; }
    bool toggleDisabled() const { return m_toggleDisabled; }
    Utility::MatrixPos currentPos() const { return m_current; }
    // On the current cross: active, and in the current row or column.
    bool isOnCurrentCross(Utility::MatrixPos pos) const;
    QSize contentSize();
    // Empty for a position outside the matrix.
    QRect cellRect(Utility::MatrixPos pos);
    QRect rowStrip(int row);
    QRect columnStrip(int column);
    GridView::Line rowLine(int row) const;
    GridView::Line columnLine(int column) const;
    // The cell under a point in content coordinates.
    bool hitTest(const QPoint& point, Utility::MatrixPos* pos);
    const std::vector<GridView::Area>& disabledAreas() const { return m_disabled; }
    const std::vector<GridView::Area>& markedAreas() const { return m_marked; }

signals:
    void cursorEntered(Utility::MatrixPos pos);
    void cursorLeft();
    void clicked(Utility::MatrixPos pos);
    void keyPressed(QKeyEvent* e);
    void onOffChanged(Utility::MatrixPos pos, bool on);
    void currentMatrixPosChanged(Utility::MatrixPos pos, bool keyboard);

public slots:
    // Repaints the named cells; the stored values stay.
    void valueChanged(const GridView::PosValue* posAndValues, int numOfPosAndValues);
    void setValueFailed(Utility::MatrixPos pos, bool currentValue, bool requestedValue);

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    static int hitLine(const std::vector<GridView::Line>& lines, int v);
    void moveCurrent(Utility::MatrixPos pos, bool keyboard);
    void toggle(Utility::MatrixPos pos);
    void ensureOffsets();
    size_t indexOf(Utility::MatrixPos pos) const;

    ZGridView* m_view;
    std::deque<bool> m_cells;
    int m_rowCount = 0;
    int m_columnCount = 0;
    std::unique_ptr<GridViewPainter> m_painter;
    std::vector<GridView::Line> m_rows;
    std::vector<GridView::Line> m_columns;
    QSize m_contentSize{-1, -1};
    Utility::MatrixPos m_current;
    bool m_active = false;
    bool m_offsetsDirty = false;
    bool m_sizeDirty = false;
    std::vector<GridView::Area> m_disabled;
    std::vector<GridView::Area> m_marked;
    bool m_leftOutside = false;
    bool m_toggleDisabled = false;
    ZoomCode m_ownCode = 0;
    PaintBuffer m_paintBuffer = PaintBuffer::ExposedRegion;
};

class ZGridView : public ZScaledScrollArea {
    Q_OBJECT
public:
    using IPainter = GridViewPainter;

    explicit ZGridView(QWidget* parent = nullptr);

    bool setup(int rowCount, int columnCount, int cellSize, int rowGap, int columnGap, IPainter* painter = nullptr);
    bool setValue(Utility::MatrixPos pos, bool on);
    bool setColumnSize(int column, int size);
    // The gap is given at 100 % and scaled to the view's zoom.
    bool setRowGap(int row, int gap);
    bool setColumnGap(int column, int gap);
    void setDisabledAreas(const std::vector<GridView::Area>& areas);
    void setMarkedAreas(const std::vector<GridView::Area>& areas);
    void setToggleDisabled(bool on);
    bool setCurrentMatrixPos(Utility::MatrixPos pos);

    // Width: the column count; height: the row count.
    QSize matrixSize() const;
    bool value(Utility::MatrixPos pos) const;
    // True and the current position while the pointer or keys are on the grid.
    bool currentMatrixPos(Utility::MatrixPos* out) const;
    GridViewContent* content() const { return m_content; }

signals:
    void cursorEntered(Utility::MatrixPos pos);
    void cursorLeft();
    void clicked(Utility::MatrixPos pos);
    void keyPressed(QKeyEvent* e);
    void onOffChanged(Utility::MatrixPos pos, bool on);
    void currentMatrixPosChanged(Utility::MatrixPos pos, bool keyboard);

public slots:
    void valueChanged(const GridView::PosValue* posAndValues, int numOfPosAndValues);
    void setValueFailed(Utility::MatrixPos pos, bool currentValue, bool requestedValue);
    void gridCurrentMatrixPosChanged(Utility::MatrixPos pos, bool keyboard);

protected:
    bool event(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    GridViewContent* m_content;
};

// Configurable colours, and a picture drawn centred on every lit cell.
class GridPainter : public GridViewPainter {
public:
    void setNormalColor(const QColor& c) { m_normal = c; }
    void setDisabledColor(const QColor& c) { m_disabled = c; }
    void setMarkedColor(const QColor& c) { m_marked = c; }
    void setBackgroundColor(const QColor& c) { m_background = c; }
    void setCurrentColor(const QColor& c) { m_current = c; }
    // The picture's corner colour becomes transparent.
    void setOnPixmap(const QPixmap& pixmap);
    void setDisabledOnPixmap(const QPixmap& pixmap);

    void paintBackground(QWidget* content, QPainter& painter) override;
    void paintCell(
        GridViewContent* content, QPainter& painter, Utility::MatrixPos pos, const QRect& rect, ZoomCode code) override;

private:
    QColor m_normal = Qt::white;
    QColor m_disabled = Qt::lightGray;
    QColor m_marked = Qt::darkGray;
    QColor m_background;
    QColor m_current = Qt::red;
    QPixmap m_on;
    QPixmap m_disabledOn;
};
