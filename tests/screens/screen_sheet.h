// A sheet: a dark page on which pictures and captions are placed in rows at
// 100 % and then zoomed as a whole.
#pragma once

#include "ui/widgets/zscaled.h"

#include <QPixmap>

#include <memory>

namespace screens {

class Sheet {
public:
    explicit Sheet(int width);
    ZScaledWidget* page() const { return m_page.get(); }
    // Places a widget of the given 100 % size at the next free spot, with a
    // caption under it.
    void place(QWidget* widget, QSize size, const QString& caption);
    // Every frame of a combined picture side by side (at most `most`,
    // evenly picked), scaled by `shrink` (1 = own size).
    void frames(const QString& path, int frameCount, const QString& caption, int most = 12, int shrink = 1);
    void newRow();
    // Zooms the finished sheet and hands it over.
    std::unique_ptr<QWidget> finish(ZoomCode code);

private:
    ZScaledLabel* label(const QString& text, int width);

    std::unique_ptr<ZScaledWidget> m_page;
    int m_width;
    int m_x = 10;
    int m_y = 10;
    int m_rowHeight = 0;
};

} // namespace screens
