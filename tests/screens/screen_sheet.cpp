#include "tests/screens/screen_sheet.h"

#include <algorithm>

namespace screens {

namespace {

constexpr int kCaption = 14;
constexpr int kGap = 12;

QFont captionFont()
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(10);
    return f;
}

} // namespace

Sheet::Sheet(int width)
    : m_page(std::make_unique<ZScaledWidget>())
    , m_width(width)
{
    QPalette p = m_page->palette();
    p.setColor(QPalette::Window, QColor(59, 59, 59));
    p.setColor(QPalette::WindowText, QColor(235, 235, 235));
    m_page->setPalette(p);
    m_page->setAutoFillBackground(true);
    m_page->setFontScaled(captionFont());
}

ZScaledLabel* Sheet::label(const QString& text, int width)
{
    auto* l = new ZScaledLabel(m_page.get());
    l->setText(text);
    l->setFontScaled(captionFont());
    l->setGeometryScaled(m_x, m_y, std::max(width, 40), kCaption);
    return l;
}

void Sheet::newRow()
{
    if (m_rowHeight == 0)
        return;
    m_y += m_rowHeight + kGap;
    m_x = 10;
    m_rowHeight = 0;
}

void Sheet::place(QWidget* widget, QSize size, const QString& caption)
{
    const int captionWidth = QFontMetrics(captionFont()).horizontalAdvance(caption) + 4;
    const int width = std::max(size.width(), captionWidth);
    if (m_x > 10 && m_x + width > m_width)
        newRow();
    widget->setParent(m_page.get());
    ZScale::setGeometry(widget, 0, QRect(QPoint(m_x, m_y), size));
    const int savedY = m_y;
    m_y += size.height() + 2;
    label(caption, width);
    m_y = savedY;
    m_x += width + kGap;
    m_rowHeight = std::max(m_rowHeight, size.height() + 2 + kCaption);
}

void Sheet::frames(const QString& path, int frameCount, const QString& caption, int most, int shrink)
{
    const QPixmap picture(path);
    const int h = picture.height() / frameCount;
    const int shown = std::min(frameCount, most);
    const QSize one(picture.width() / shrink, h / shrink);
    auto* strip = new ZScaledWidget;
    for (int i = 0; i < shown; ++i) {
        const int frame = shown == 1 ? 0 : i * (frameCount - 1) / (shown - 1);
        auto* l = new ZScaledLabel(strip);
        l->setPixmap(picture.copy(0, frame * h, picture.width(), h));
        l->setGeometryScaled(i * (one.width() + 3), 0, one.width(), one.height());
    }
    const QSize size(shown * (one.width() + 3) - 3, one.height());
    place(strip, size, caption);
}

std::unique_ptr<QWidget> Sheet::finish(ZoomCode code)
{
    newRow();
    m_page->setGeometryScaled(0, 0, m_width, m_y);
    m_page->applyScale(code);
    return std::move(m_page);
}

} // namespace screens
