#include "ui/skins/zlook.h"

#include <QApplication>
#include <QFont>

namespace ZLook {

void applyPinnedLook()
{
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QApplication::setStyle(QStringLiteral("Fusion"));
}

void preferOffscreen()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace ZLook
