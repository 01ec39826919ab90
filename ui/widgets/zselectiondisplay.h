// ZSelectionDisplay: a strip of cells (numbers under a name row) drawn from
// a background picture, with the selected cell copied from a sprite picture
// of the same layout. Cells come in groups with a small gap inside a group
// and a larger one after it; the strip runs left to right or top to bottom.
#pragma once

#include "ui/widgets/zscaled.h"

#include <QPixmap>

class ZSelectionDisplay : public ZScaledWidget {
public:
    explicit ZSelectionDisplay(QWidget* parent = nullptr);

    void setPixmaps(const QPixmap& background, const QPixmap& sprite);
    // Repaints only when the index changes; -1 selects nothing.
    void setSelection(int index);
    int selection() const { return m_selected; }
    // Sizes in 100 % pixels. A group length below 1 is stored as 1.
    void setCellLayout(
        const QSize& cellSize, int count, int groupLength, int gapInGroup, int gapAfterGroup, bool vertical);
    // Where cell `index` lies, in 100 % pixels (source) and at the widget's
    // zoom (target); an empty rect for a cell outside the layout.
    QRect sourceCellRect(int index) const;
    QRect targetCellRect(int index) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect cellRect(int index, bool scaled) const;

    QPixmap m_background;
    QPixmap m_sprite;
    int m_selected = -1;
    QSize m_cellSize;
    int m_count = 0;
    int m_groupLength = 1;
    int m_gapInGroup = 0;
    int m_gapAfterGroup = 0;
    bool m_vertical = false;
};
