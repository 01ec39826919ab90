#include "ui/widgets/zscaled.h"

#include "ui/widgets/zzoomstyle.h"

ZScaledDial::ZScaledDial(QWidget* parent)
    : ZScaledBase<QDial>(parent)
{
}

ZScaledDialog::ZScaledDialog(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledBase<QDialog>(parent, flags)
{
}

ZScaledFrame::ZScaledFrame(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledBase<QFrame>(parent, flags)
{
}

ZScaledLabel::ZScaledLabel(QWidget* parent)
    : ZScaledBase<QLabel>(parent)
{
    setScaledContents(true);
}

ZScaledLineEdit::ZScaledLineEdit(QWidget* parent)
    : ZScaledBase<QLineEdit>(parent)
{
}

ZScaledMainWindow::ZScaledMainWindow(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledBase<QMainWindow>(parent, flags)
{
}

ZScaledPushButton::ZScaledPushButton(QWidget* parent)
    : ZScaledBase<QPushButton>(parent)
{
}

ZScaledScrollArea::ZScaledScrollArea(QWidget* parent)
    : ZScaledBase<QScrollArea>(parent)
{
}

bool ZScaledScrollArea::applyScale(ZoomCode code)
{
    if (auto* inner = dynamic_cast<IScaledWidget*>(widget()))
        inner->applyScale(code);
    if (m_barsFollowZoom)
        ZZoomStyle::apply(this, code);
    return ZScale::applyScale(this, code);
}

ZScaledWidget::ZScaledWidget(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledBase<QWidget>(parent, flags)
{
}
