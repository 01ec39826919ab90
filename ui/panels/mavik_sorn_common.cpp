#include "ui/panels/mavik_sorn_common.h"

#include "device/layouts/dev_devstate.h"
#include "device/memory/dev_object.h"
#include "pbd/jlib/jvariant.h"
#include "ui/widgets/zlabeldisplay.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QPalette>

namespace IoPanels {

namespace {

} // namespace

QString path(const char* format, int first, int second, int third)
{
    return QString::asprintf(format, first, second, third);
}

JResult readInt(Quil::IZDev* accessor, const QString& path, int* value)
{
    JLIB::JVariant read;
    const JResult result = accessor->getValue(path, &read);
    bool ok = false;
    const uint32_t word = read.toInteger(&ok);
    *value = ok ? static_cast<int>(word) : 0;
    return result;
}

bool isOnline(Quil::IZDev* accessor)
{
    int state = 0;
    if (readInt(accessor, QString::fromUtf8(Quil::kConnectionStatePath), &state) < 0)
        return true;
    return state == Quil::stateValue(Quil::ConnectionState::Connected);
}

void setUpValueLabel(ZLabelDisplay* label)
{
    label->setEditable(false);
    label->setFocusPolicy(Qt::NoFocus);
    QPalette palette = label->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setBrush(group, QPalette::Window, QBrush(QColor(0, 0, 0, 0), Qt::SolidPattern));
        palette.setBrush(group, QPalette::Text, QBrush(QColor(255, 255, 255, 255), Qt::SolidPattern));
    }
    label->setPalette(palette);
    QFont font = label->baseFont();
    font.setPixelSize(12);
    font.setFamily(QStringLiteral("Arial"));
    font.setWeight(75);
    label->setFontScaled(font);
}

bool paintBackground(QWidget* widget, const QPixmap& background)
{
    if (background.isNull())
        return false;
    QPainter painter(widget);
    painter.drawPixmap(widget->rect(), background);
    return true;
}

void execPropertiesMenu(QWidget* panel, QAction* properties, ZoomCode code, QContextMenuEvent* event)
{
    QMenu menu(panel);
    menu.addAction(properties);
    menu.setFont(ZScale::scaleFont(code, 0, menu.font()));
    menu.exec(event->globalPos());
}

} // namespace IoPanels
