#include "ui/skins/zlook.h"

#include <QApplication>
#include <QFont>

namespace ZLook {

void applyPinnedLook()
{
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QApplication::setStyle(QStringLiteral("Fusion"));
}

QPalette darkPalette()
{
    const QColor text(222, 226, 230);
    const QColor window(40, 44, 50);
    const QColor button(72, 78, 88);
    QPalette palette(button, window);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Base, QColor(24, 27, 31));
        palette.setColor(group, QPalette::Highlight, QColor(42, 104, 168));
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    const QColor faint(120, 126, 134);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(QPalette::Disabled, role, faint);
    return palette;
}

void preferOffscreen()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace ZLook
