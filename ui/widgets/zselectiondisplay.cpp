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
    const int extent = m_vertical ? m_cellSize.height() : m_cellSize.width();
    int offset = 0;
    for (int i = 1; i <= index; ++i)
        offset += extent + (i % m_groupLength == 0 ? m_gapAfterGroup : m_gapInGroup);
    const QRect cell = m_vertical ? QRect(QPoint(0, offset), m_cellSize) : QRect(QPoint(offset, 0), m_cellSize);
    // Scaled as a whole, like the background it is drawn over: summing
    // rounded steps drifts half a pixel a cell at 150 %.
    return scaled ? ZScale::scaleRect(scale(), cell) : cell;
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
