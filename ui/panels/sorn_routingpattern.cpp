#include "ui/panels/sorn_routingpattern.h"

#include "ui/panels/panel_images.h"

namespace Sorn {

namespace {

constexpr int kPatternCount = 8;

} // namespace

RoutingPatternPopup::RoutingPatternPopup(int pattern, QWidget* parent, Qt::WindowFlags flags)
    : ZScaledDialog(parent, flags)
{
    setWindowTitle(QStringLiteral("ROUTING PATTERN"));
    setFocusPolicy(Qt::NoFocus);
    if (pattern < 0 || pattern >= kPatternCount)
        return;
    const QPixmap picture = Panels::loadPicture(QStringLiteral(":sorn/images/bg_pattern_%1.png").arg(pattern));
    auto* label = new ZScaledLabel(this);
    label->setGeometry(QRect(QPoint(0, 0), picture.size()));
    label->setPixmap(picture);
    setMinimumSize(picture.size());
    setMaximumSize(picture.size());
    m_hasPicture = !picture.isNull();
}

bool RoutingPatternPopup::applyScale(ZoomCode code)
{
    setMaximumSize(ZScale::scaleSize(code, maximumSize()));
    setMinimumSize(ZScale::scaleSize(code, minimumSize()));
    ZScale::scaleChildWidgets(this, code);
    update();
    return setScale(code);
}

} // namespace Sorn
