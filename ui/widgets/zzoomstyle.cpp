#include "ui/widgets/zzoomstyle.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QPointer>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyleFactory>

#include <array>

namespace {

class ZoomedStyle : public QProxyStyle {
public:
    ZoomedStyle(QStyle* base, ZoomCode code)
        : QProxyStyle(base)
        , m_code(code)
    {
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        const int value = QProxyStyle::pixelMetric(metric, option, widget);
        switch (metric) {
        case PM_ScrollBarExtent:
        case PM_ScrollBarSliderMin:
        case PM_ButtonIconSize:
        case PM_SmallIconSize:
        case PM_ToolBarIconSize:
        case PM_ListViewIconSize:
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight:
            return ZScale::scaleValue(m_code, value);
        default:
            return value;
        }
    }

private:
    const ZoomCode m_code;
};

} // namespace

namespace ZZoomStyle {

QStyle* forZoom(ZoomCode code)
{
    if (ZScale::factor(code) == 100 || !qApp)
        return nullptr;
    static std::array<QPointer<QStyle>, 3> styles;
    QPointer<QStyle>& style = styles.at(code);
    if (!style) {
        // A base of its own: the proxy owns it, and the application's style
        // may be replaced while ours lives on.
        QStyle* base = QStyleFactory::create(QApplication::style()->objectName());
        style = new ZoomedStyle(base, code);
        style->setParent(qApp);
    }
    return style;
}

void apply(QWidget* w, ZoomCode code)
{
    QStyle* style = forZoom(code);
    // A widget that never had a style of its own already has the 100 % one.
    if (!style && !w->testAttribute(Qt::WA_SetStyle))
        return;
    if (auto* area = qobject_cast<QAbstractScrollArea*>(w)) {
        area->horizontalScrollBar()->setStyle(style);
        area->verticalScrollBar()->setStyle(style);
        // The view lays its bars out again on its own style change.
        area->setStyle(style);
    } else if (qobject_cast<QScrollBar*>(w) || qobject_cast<QAbstractButton*>(w)) {
        w->setStyle(style);
    }
}

} // namespace ZZoomStyle
