#include "ui/widgets/zlabeldisplay.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>

ZLabelDisplay::ZLabelDisplay(QWidget* parent)
    : ZScaledLineEdit(parent)
    , m_fontPixelSize(font().pixelSize())
{
    setReadOnly(true);
    setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    setFocusPolicy(Qt::StrongFocus);
    setFrame(false);
}

int ZLabelDisplay::fontPixelSize() const
{
    return unscaledFont().pixelSize();
}

void ZLabelDisplay::setFontPixelSize(int size)
{
    m_fontPixelSize = size;
    QFont f = unscaledFont();
    f.setPixelSize(size);
    setFontScaled(f);
}

void ZLabelDisplay::setBackgroundImage(const QPixmap& image)
{
    m_background = image;
    update();
}

void ZLabelDisplay::beginEdit()
{
    // Setting read-only off can move focus around; the flag keeps that from ending the edit.
    m_starting = true;
    emit startEdit();
    setReadOnly(false);
    selectAll();
    m_starting = false;
}

void ZLabelDisplay::focusInEvent(QFocusEvent* event)
{
    const bool byTab = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (byTab && m_editable)
        beginEdit();
    ZScaledLineEdit::focusInEvent(event);
}

void ZLabelDisplay::focusOutEvent(QFocusEvent* event)
{
    if (!isReadOnly() && !m_starting) {
        const Qt::FocusReason reason = event->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) {
            emit acceptEdit();
            setReadOnly(true);
        }
        // A popup is the line edit's own context menu: the edit stays open.
        if (reason != Qt::PopupFocusReason) {
            emit abortEdit();
            m_starting = false;
            setReadOnly(true);
        }
    }
    ZScaledLineEdit::focusOutEvent(event);
}

void ZLabelDisplay::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!m_editable)
        return;
    if (isReadOnly()) {
        beginEdit();
        return;
    }
    ZScaledLineEdit::mouseDoubleClickEvent(event);
}

void ZLabelDisplay::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (!isReadOnly()) {
            emit acceptEdit();
            setReadOnly(true);
        }
        return;
    }
    ZScaledLineEdit::keyPressEvent(event);
}

void ZLabelDisplay::contextMenuEvent(QContextMenuEvent* event)
{
    if (isReadOnly()) {
        event->ignore(); // the panel's menu
        return;
    }
    ZScaledLineEdit::contextMenuEvent(event);
}

void ZLabelDisplay::paintEvent(QPaintEvent* event)
{
    if (isReadOnly()) {
        QPainter painter(this);
        if (m_background.isNull())
            painter.fillRect(rect(), palette().color(QPalette::Window));
        else
            painter.drawPixmap(rect(), m_background);
        painter.drawText(rect(), static_cast<int>(alignment()), text());
    } else {
        ZScaledLineEdit::paintEvent(event);
    }
    if (hasFocus()) {
        QPainter painter(this);
        painter.setPen(QPen(Qt::magenta, 2));
        painter.drawRect(1, 1, width() - 2, height() - 2);
    }
}
