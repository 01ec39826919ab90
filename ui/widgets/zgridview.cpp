#include "ui/widgets/zgridview.h"

#include <QApplication>
#include <QBitmap>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <cstdint>

using Utility::MatrixPos;

namespace {

constexpr int kNoFocusWindow = static_cast<int>(0x80000000u);
// Margins kept around a cell scrolled into view by the keys.
constexpr int kEnsureMargin = 24;

int registerTypes()
{
    qRegisterMetaType<Utility::MatrixPos>("Utility::MatrixPos");
    qRegisterMetaType<QKeyEvent*>("QKeyEvent*");
    return 0;
}
[[maybe_unused]] const int kTypesRegistered = registerTypes();

// The plain painter used when a grid is set up without one.
class DefaultGridPainter : public GridViewPainter {
public:
    void paintBackground(QWidget* content, QPainter& painter) override
    {
        painter.fillRect(content->rect(), QColor(0, 0, 255));
    }
    void paintCell(GridViewContent* content, QPainter& painter, MatrixPos pos, const QRect& rect, ZoomCode) override
    {
        QColor fill;
        if (content->value(pos))
            fill = Qt::red;
        else if (content->isOnCurrentCross(pos))
            fill = Qt::green;
        else
            fill = content->isEnabled(pos) ? Qt::white : Qt::gray;
        painter.fillRect(rect, fill);
    }
};

bool removeLines(std::vector<GridView::Line>& lines, int count, int first, int n)
{
    if (first < 0 || first >= count || n <= 0 || static_cast<size_t>(first) + n > lines.size())
        return false;
    lines.erase(lines.begin() + first, lines.begin() + first + n);
    return true;
}

bool insertLines(std::vector<GridView::Line>& lines, int count, int first, int n, int size, int gap)
{
    if (first < 0 || first >= count || n <= 0 || static_cast<size_t>(first) > lines.size())
        return false;
    lines.insert(lines.begin() + first, static_cast<size_t>(n), GridView::Line{size, gap, 0});
    return true;
}

// Offsets as running sums; the gap after the last line is not counted.
int layoutLines(std::vector<GridView::Line>& lines)
{
    int64_t sum = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        lines[i].offset = static_cast<int>(sum);
        sum += lines[i].size;
        if (i + 1 < lines.size())
            sum += lines[i].gap;
    }
    return static_cast<int>(std::min<int64_t>(sum, INT32_MAX));
}

} // namespace

// Painter operations shared by both painters.

void GridViewPainter::enterRepaint(GridViewContent* content)
{
    content->update();
}

void GridViewPainter::leaveRepaint(GridViewContent* content)
{
    content->update();
}

void GridViewPainter::currentChanged(GridViewContent* content, MatrixPos oldPos, MatrixPos newPos)
{
    if (oldPos.row != newPos.row) {
        content->update(content->rowStrip(oldPos.row));
        content->update(content->rowStrip(newPos.row));
    }
    if (oldPos.column != newPos.column) {
        content->update(content->columnStrip(oldPos.column));
        content->update(content->columnStrip(newPos.column));
    }
}

void GridViewPainter::cellsChanged(GridViewContent* content, const GridView::PosValue* pairs, int count)
{
    for (int i = 0; pairs && i < count; ++i)
        content->update(content->cellRect(pairs[i].first));
}

// GridViewContent

GridViewContent::GridViewContent(ZGridView* view)
    : ZScaledWidget(view)
    , m_view(view)
{
}

GridViewContent::~GridViewContent() = default;

bool GridViewContent::setup(
    int rowCount, int columnCount, int cellSize, int rowGap, int columnGap, GridViewPainter* painter)
{
    if (rowCount < 0 || columnCount < 0) {
        delete painter; // owned once handed over, even when refused
        return false;
    }
    m_cells.resize(static_cast<size_t>(rowCount) * static_cast<size_t>(columnCount), false);
    m_rowCount = rowCount;
    m_columnCount = columnCount;
    setPainter(painter ? painter : new DefaultGridPainter);
    m_rows.resize(static_cast<size_t>(rowCount), GridView::Line{cellSize, rowGap, 0});
    m_columns.resize(static_cast<size_t>(columnCount), GridView::Line{cellSize, columnGap, 0});
    m_active = false;
    m_offsetsDirty = false;
    m_sizeDirty = false;
    return true;
}

bool GridViewContent::contains(MatrixPos pos) const
{
    return pos.row >= 0 && pos.row < m_rowCount && pos.column >= 0 && pos.column < m_columnCount;
}

size_t GridViewContent::indexOf(MatrixPos pos) const
{
    return static_cast<size_t>(pos.row) * static_cast<size_t>(m_columnCount) + static_cast<size_t>(pos.column);
}

bool GridViewContent::value(MatrixPos pos) const
{
    return contains(pos) && m_cells[indexOf(pos)];
}

bool GridViewContent::isEnabled(MatrixPos pos) const
{
    for (const GridView::Area& area : m_disabled)
        if (area.contains(pos.row, pos.column))
            return false;
    return true;
}

bool GridViewContent::isMarked(MatrixPos pos) const
{
    for (const GridView::Area& area : m_marked)
        if (area.contains(pos.row, pos.column))
            return true;
    return false;
}

bool GridViewContent::isOnCurrentCross(MatrixPos pos) const
{
    return m_active && (pos.row == m_current.row || pos.column == m_current.column);
}

bool GridViewContent::setValue(MatrixPos pos, bool on)
{
    if (!contains(pos))
        return false;
    if (m_cells[indexOf(pos)] == on)
        return true;
    m_cells[indexOf(pos)] = on;
    emit onOffChanged(pos, on);
    const GridView::PosValue pair{pos, on};
    valueChanged(&pair, 1);
    return true;
}

void GridViewContent::valueChanged(const GridView::PosValue* posAndValues, int numOfPosAndValues)
{
    if (m_painter)
        m_painter->cellsChanged(this, posAndValues, numOfPosAndValues);
}

void GridViewContent::setValueFailed(MatrixPos, bool, bool) { }

bool GridViewContent::insertRows(int first, int count, int size, int gap)
{
    if (!insertLines(m_rows, m_rowCount, first, count, size, gap))
        return false;
    m_offsetsDirty = true;
    return true;
}

bool GridViewContent::removeRows(int first, int count)
{
    if (!removeLines(m_rows, m_rowCount, first, count))
        return false;
    m_offsetsDirty = true;
    return true;
}

bool GridViewContent::insertColumns(int first, int count, int size, int gap)
{
    if (!insertLines(m_columns, m_columnCount, first, count, size, gap))
        return false;
    m_offsetsDirty = true;
    return true;
}

bool GridViewContent::removeColumns(int first, int count)
{
    if (!removeLines(m_columns, m_columnCount, first, count))
        return false;
    m_offsetsDirty = true;
    return true;
}

bool GridViewContent::setRowSize(int row, int size)
{
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size())
        return false;
    m_rows[static_cast<size_t>(row)].size = size;
    m_offsetsDirty = true;
    update();
    return true;
}

bool GridViewContent::setColumnSize(int column, int size)
{
    if (column < 0 || static_cast<size_t>(column) >= m_columns.size())
        return false;
    m_columns[static_cast<size_t>(column)].size = size;
    m_offsetsDirty = true;
    update();
    return true;
}

bool GridViewContent::setRowGap(int row, int gap)
{
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size())
        return false;
    m_rows[static_cast<size_t>(row)].gap = gap;
    m_offsetsDirty = true;
    return true;
}

bool GridViewContent::setColumnGap(int column, int gap)
{
    if (column < 0 || static_cast<size_t>(column) >= m_columns.size())
        return false;
    m_columns[static_cast<size_t>(column)].gap = gap;
    m_offsetsDirty = true;
    return true;
}

void GridViewContent::setDisabledAreas(const std::vector<GridView::Area>& areas)
{
    m_disabled = areas;
    update();
}

void GridViewContent::setMarkedAreas(const std::vector<GridView::Area>& areas)
{
    m_marked = areas;
    update();
}

void GridViewContent::addDisabledArea(const GridView::Area& area)
{
    m_disabled.push_back(area);
}

void GridViewContent::setPainter(GridViewPainter* painter)
{
    if (painter == m_painter.get())
        return;
    m_painter.reset(painter);
}

bool GridViewContent::setCurrentMatrixPos(MatrixPos pos)
{
    if (!contains(pos))
        return false;
    if (pos == m_current && m_active)
        return true;
    const MatrixPos old = m_current;
    m_current = pos;
    m_active = true;
    if (m_painter)
        m_painter->currentChanged(this, old, pos);
    emit currentMatrixPosChanged(pos, false);
    return true;
}

void GridViewContent::prepare()
{
    setAttribute(Qt::WA_MouseTracking);
    recomputeOffsets();
    resizeToContent();
}

int GridViewContent::takeFocusInActiveWindow()
{
    QWidget* focus = QApplication::focusWidget();
    QWidget* own = window();
    if (!focus || !own)
        return kNoFocusWindow;
    if (focus->window() == own && !hasFocus())
        setFocus(Qt::MouseFocusReason);
    return 0;
}

void GridViewContent::recomputeOffsets()
{
    const int width = layoutLines(m_columns);
    const int height = layoutLines(m_rows);
    m_contentSize = QSize(width, height);
    m_offsetsDirty = false;
    m_sizeDirty = true;
}

void GridViewContent::resizeToContent()
{
    resize(m_contentSize);
    m_sizeDirty = false;
}

void GridViewContent::ensureOffsets()
{
    if (m_offsetsDirty)
        recomputeOffsets();
}

QSize GridViewContent::contentSize()
{
    ensureOffsets();
    return m_contentSize;
}

GridView::Line GridViewContent::rowLine(int row) const
{
    return row >= 0 && static_cast<size_t>(row) < m_rows.size() ? m_rows[static_cast<size_t>(row)] : GridView::Line{};
}

GridView::Line GridViewContent::columnLine(int column) const
{
    return column >= 0 && static_cast<size_t>(column) < m_columns.size() ? m_columns[static_cast<size_t>(column)]
                                                                         : GridView::Line{};
}

QRect GridViewContent::cellRect(MatrixPos pos)
{
    if (!contains(pos) || static_cast<size_t>(pos.row) >= m_rows.size()
        || static_cast<size_t>(pos.column) >= m_columns.size())
        return QRect();
    ensureOffsets();
    const GridView::Line& r = m_rows[static_cast<size_t>(pos.row)];
    const GridView::Line& c = m_columns[static_cast<size_t>(pos.column)];
    return QRect(c.offset, r.offset, c.size, r.size);
}

QRect GridViewContent::rowStrip(int row)
{
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size())
        return QRect();
    ensureOffsets();
    const GridView::Line& r = m_rows[static_cast<size_t>(row)];
    return QRect(0, r.offset, width(), r.size);
}

QRect GridViewContent::columnStrip(int column)
{
    if (column < 0 || static_cast<size_t>(column) >= m_columns.size())
        return QRect();
    ensureOffsets();
    const GridView::Line& c = m_columns[static_cast<size_t>(column)];
    return QRect(c.offset, 0, c.size, height());
}

int GridViewContent::hitLine(const std::vector<GridView::Line>& lines, int v)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        const GridView::Line& line = lines[i];
        const int end = line.offset + line.size;
        if (v >= line.offset && v < end)
            return static_cast<int>(i);
        // A point in the gap goes to the nearer line, the first half to this one.
        if (i + 1 < lines.size() && v >= end && v < end + line.gap)
            return v - end < line.gap / 2 ? static_cast<int>(i) : static_cast<int>(i + 1);
    }
    return -1;
}

bool GridViewContent::hitTest(const QPoint& point, MatrixPos* pos)
{
    ensureOffsets();
    const int row = hitLine(m_rows, point.y());
    const int column = hitLine(m_columns, point.x());
    if (row < 0 || column < 0)
        return false;
    const MatrixPos hit{row, column};
    // The geometry records may outnumber the cells after insertRows.
    if (!contains(hit))
        return false;
    if (pos)
        *pos = hit;
    return true;
}

void GridViewContent::moveCurrent(MatrixPos pos, bool keyboard)
{
    if (pos == m_current)
        return;
    const MatrixPos old = m_current;
    m_current = pos;
    if (m_painter)
        m_painter->currentChanged(this, old, pos);
    emit currentMatrixPosChanged(pos, keyboard);
}

void GridViewContent::toggle(MatrixPos pos)
{
    if (!isEnabled(pos) && !m_toggleDisabled)
        return;
    setCurrentMatrixPos(pos);
    setValue(pos, !value(pos));
}

void GridViewContent::enterEvent(QEvent* event)
{
    takeFocusInActiveWindow();
    m_active = true;
    if (m_painter)
        m_painter->enterRepaint(this);
    if (m_leftOutside) {
        MatrixPos hit;
        if (hitTest(mapFromGlobal(QCursor::pos()), &hit))
            moveCurrent(hit, false);
    }
    emit cursorEntered(m_current);
    ZScaledWidget::enterEvent(event);
}

void GridViewContent::leaveEvent(QEvent* event)
{
    m_leftOutside = !rect().contains(mapFromGlobal(QCursor::pos()));
    m_active = false;
    if (m_painter)
        m_painter->leaveRepaint(this);
    emit cursorLeft();
    ZScaledWidget::leaveEvent(event);
}

void GridViewContent::mouseMoveEvent(QMouseEvent* event)
{
    MatrixPos hit;
    if (hitTest(event->pos(), &hit))
        moveCurrent(hit, false);
    ZScaledWidget::mouseMoveEvent(event);
}

void GridViewContent::mouseReleaseEvent(QMouseEvent* event)
{
    MatrixPos hit;
    if (hitTest(event->pos(), &hit) && (isEnabled(hit) || m_toggleDisabled)) {
        toggle(hit);
        emit clicked(hit);
    }
    ZScaledWidget::mouseReleaseEvent(event);
}

void GridViewContent::keyPressEvent(QKeyEvent* event)
{
    if (!m_active)
        return; // dropped: the grid shows no current cell
    MatrixPos next = m_current;
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (contains(m_current))
            toggle(m_current);
        break;
    case Qt::Key_Left:
        next.column -= next.column >= 1 ? 1 : 0;
        break;
    case Qt::Key_Up:
        next.row -= next.row >= 1 ? 1 : 0;
        break;
    case Qt::Key_Right:
        next.column += next.column < m_columnCount - 1 ? 1 : 0;
        break;
    case Qt::Key_Down:
        next.row += next.row < m_rowCount - 1 ? 1 : 0;
        break;
    default:
        break;
    }
    moveCurrent(next, true);
    emit keyPressed(event);
}

void GridViewContent::paintEvent(QPaintEvent* event)
{
    ensureOffsets();
    if (m_sizeDirty)
        resizeToContent();
    if (!m_painter)
        return;
    // Off-screen first, then one copy: no half-drawn grid is ever shown.
    const QRect target = m_paintBuffer == PaintBuffer::WholeContent ? rect() : event->rect();
    if (target.isEmpty())
        return;
    QPixmap buffer(target.size());
    {
        QPainter p(&buffer);
        p.translate(-target.topLeft());
        p.setClipRegion(event->region());
        m_painter->paintBackground(this, p);
        const QRegion region = event->region();
        for (int r = 0; r < m_rowCount && static_cast<size_t>(r) < m_rows.size(); ++r) {
            const GridView::Line& row = m_rows[static_cast<size_t>(r)];
            if (row.offset > target.bottom() || row.offset + row.size <= target.top())
                continue;
            for (int c = 0; c < m_columnCount && static_cast<size_t>(c) < m_columns.size(); ++c) {
                const GridView::Line& column = m_columns[static_cast<size_t>(c)];
                const QRect cell(column.offset, row.offset, column.size, row.size);
                if (region.intersects(cell))
                    m_painter->paintCell(this, p, MatrixPos{r, c}, cell, m_ownCode);
            }
        }
    }
    QPainter screen(this);
    screen.drawPixmap(target.topLeft(), buffer);
}

bool GridViewContent::applyScale(ZoomCode code)
{
    for (GridView::Line& line : m_rows) {
        line.size = ZScale::rescaleValue(code, m_ownCode, line.size);
        line.gap = ZScale::rescaleValue(code, m_ownCode, line.gap);
    }
    for (GridView::Line& line : m_columns) {
        line.size = ZScale::rescaleValue(code, m_ownCode, line.size);
        line.gap = ZScale::rescaleValue(code, m_ownCode, line.gap);
    }
    m_offsetsDirty = true;
    m_sizeDirty = true;
    prepare();
    m_ownCode = code;
    update();
    return true;
}

// ZGridView

ZGridView::ZGridView(QWidget* parent)
    : ZScaledScrollArea(parent)
    , m_content(new GridViewContent(this))
{
    connect(m_content, &GridViewContent::cursorEntered, this, &ZGridView::cursorEntered);
    connect(m_content, &GridViewContent::cursorLeft, this, &ZGridView::cursorLeft);
    connect(m_content, &GridViewContent::clicked, this, &ZGridView::clicked);
    connect(m_content, &GridViewContent::keyPressed, this, &ZGridView::keyPressed);
    connect(m_content, &GridViewContent::onOffChanged, this, &ZGridView::onOffChanged);
    connect(m_content, &GridViewContent::currentMatrixPosChanged, this, &ZGridView::gridCurrentMatrixPosChanged);
}

bool ZGridView::setup(int rowCount, int columnCount, int cellSize, int rowGap, int columnGap, IPainter* painter)
{
    if (!m_content->setup(rowCount, columnCount, cellSize, rowGap, columnGap, painter))
        return false;
    setWidget(m_content);
    setFocusProxy(m_content);
    m_content->setFocusPolicy(focusPolicy());
    return true;
}

bool ZGridView::setValue(MatrixPos pos, bool on)
{
    return m_content->setValue(pos, on);
}

bool ZGridView::setColumnSize(int column, int size)
{
    return m_content->setColumnSize(column, size);
}

bool ZGridView::setRowGap(int row, int gap)
{
    return m_content->setRowGap(row, ZScale::scaleValue(scale(), gap));
}

bool ZGridView::setColumnGap(int column, int gap)
{
    return m_content->setColumnGap(column, ZScale::scaleValue(scale(), gap));
}

void ZGridView::setDisabledAreas(const std::vector<GridView::Area>& areas)
{
    m_content->setDisabledAreas(areas);
}

void ZGridView::setMarkedAreas(const std::vector<GridView::Area>& areas)
{
    m_content->setMarkedAreas(areas);
}

void ZGridView::setToggleDisabled(bool on)
{
    m_content->setToggleDisabled(on);
}

bool ZGridView::setCurrentMatrixPos(MatrixPos pos)
{
    return m_content->setCurrentMatrixPos(pos);
}

void ZGridView::valueChanged(const GridView::PosValue* posAndValues, int numOfPosAndValues)
{
    m_content->valueChanged(posAndValues, numOfPosAndValues);
}

void ZGridView::setValueFailed(MatrixPos pos, bool currentValue, bool requestedValue)
{
    m_content->setValueFailed(pos, currentValue, requestedValue);
}

void ZGridView::gridCurrentMatrixPosChanged(MatrixPos pos, bool keyboard)
{
    if (keyboard) {
        const QPoint centre = m_content->cellRect(pos).center();
        ensureVisible(centre.x(), centre.y(), kEnsureMargin, kEnsureMargin);
    }
    emit currentMatrixPosChanged(pos, keyboard);
}

QSize ZGridView::matrixSize() const
{
    return QSize(m_content->columnCount(), m_content->rowCount());
}

bool ZGridView::value(MatrixPos pos) const
{
    return m_content->value(pos);
}

bool ZGridView::currentMatrixPos(MatrixPos* out) const
{
    if (!m_content->isActive())
        return false;
    if (out)
        *out = m_content->currentPos();
    return true;
}

bool ZGridView::event(QEvent* event)
{
    const bool handled = ZScaledScrollArea::event(event);
    if (event->type() == QEvent::Polish)
        m_content->prepare();
    return handled;
}

bool ZGridView::focusNextPrevChild(bool next)
{
    // The scroll area's version would keep Tab inside the grid.
    return QWidget::focusNextPrevChild(next);
}

// GridPainter

namespace {

QPixmap maskedByCorner(const QPixmap& pixmap)
{
    QPixmap masked = pixmap;
    if (!masked.isNull())
        masked.setMask(masked.createHeuristicMask(true));
    return masked;
}

} // namespace

void GridPainter::setOnPixmap(const QPixmap& pixmap)
{
    m_on = maskedByCorner(pixmap);
}

void GridPainter::setDisabledOnPixmap(const QPixmap& pixmap)
{
    m_disabledOn = maskedByCorner(pixmap);
}

void GridPainter::paintBackground(QWidget* content, QPainter& painter)
{
    painter.fillRect(content->rect(), m_background);
}

void GridPainter::paintCell(
    GridViewContent* content, QPainter& painter, MatrixPos pos, const QRect& rect, ZoomCode code)
{
    const bool enabled = content->isEnabled(pos);
    QColor fill;
    if (content->isOnCurrentCross(pos))
        fill = m_current;
    else if (!enabled)
        fill = m_disabled;
    else if (content->isMarked(pos))
        fill = m_marked;
    else
        fill = m_normal;
    painter.fillRect(rect, fill);
    if (!content->value(pos))
        return;
    const QPixmap& picture = enabled ? m_on : m_disabledOn;
    if (picture.isNull())
        return;
    const int w = ZScale::scaleValue(code, picture.width());
    const int h = ZScale::scaleValue(code, picture.height());
    painter.drawPixmap(
        QRect(rect.left() + (rect.width() - w) / 2, rect.top() + (rect.height() - h) / 2, w, h), picture);
}
