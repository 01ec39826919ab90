#include "ui/widgets/zselectiondisplay.h"

#include <QPainter>

ZSelectionDisplay::ZSelectionDisplay(QWidget* parent)
    : ZScaledWidget(parent)
{
}

void ZSelectionDisplay::setPixmaps(const QPixmap& background, const QPixmap& sprite)
{
    m_background = background;
    m_sprite = sprite;
    update();
}

void ZSelectionDisplay::setSelection(int index)
{
    if (index == m_selected)
        return;
    m_selected = index;
    update();
}

void ZSelectionDisplay::setCellLayout(
    const QSize& cellSize, int count, int groupLength, int gapInGroup, int gapAfterGroup, bool vertical)
{
    m_cellSize = cellSize;
    m_count = count;
    // The group length divides the cell index: zero would leave no group.
    m_groupLength = groupLength < 1 ? 1 : groupLength;
    m_gapInGroup = gapInGroup;
    m_gapAfterGroup = gapAfterGroup;
    m_vertical = vertical;
}

QRect ZSelectionDisplay::cellRect(int index, bool scaled) const
{
    if (index < 0 || index >= m_count)
        return QRect();
    const ZoomCode code = scaled ? scale() : 0;
    const QSize cell = ZScale::scaleSize(code, m_cellSize);
    const int extent = m_vertical ? cell.height() : cell.width();
    const int inGroup = ZScale::scaleValue(code, m_gapInGroup);
    const int afterGroup = ZScale::scaleValue(code, m_gapAfterGroup);
    int offset = 0;
    for (int i = 1; i <= index; ++i)
        offset += extent + (i % m_groupLength == 0 ? afterGroup : inGroup);
    return m_vertical ? QRect(QPoint(0, offset), cell) : QRect(QPoint(offset, 0), cell);
}

QRect ZSelectionDisplay::sourceCellRect(int index) const
{
    return cellRect(index, false);
}

QRect ZSelectionDisplay::targetCellRect(int index) const
{
    return cellRect(index, true);
}

void ZSelectionDisplay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), m_background);
    const QRect target = targetCellRect(m_selected);
    if (!target.isEmpty())
        painter.drawPixmap(target, m_sprite, sourceCellRect(m_selected));
}
