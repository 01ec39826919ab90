// Pictures and hosts shared by the widget tests.
#pragma once

#include <QColor>
#include <QEvent>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <vector>

namespace fixtures {

// A combined image of solid frames, one colour per frame, stacked.
inline QPixmap solidFrames(int width, int height, const std::vector<QColor>& colours)
{
    QPixmap pixmap(width, height * static_cast<int>(colours.size()));
    QPainter p(&pixmap);
    for (size_t i = 0; i < colours.size(); ++i)
        p.fillRect(0, height * static_cast<int>(i), width, height, colours[i]);
    return pixmap;
}

const std::vector<QColor> kFour = {QColor(200, 0, 0), QColor(0, 200, 0), QColor(0, 0, 200), QColor(200, 200, 0)};

// Counts the paint events one widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        count += e->type() == QEvent::Paint;
        return false;
    }
};

} // namespace fixtures
