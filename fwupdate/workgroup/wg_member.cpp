#include "fwupdate/workgroup/wg_member.h"

#include <QStringList>

namespace WG {

QString memberDisplayName(const QString& idText)
{
    const QStringList parts = idText.split(QLatin1Char('-'));
    if (parts.size() < 5 || parts[0].size() != 4 || !parts[0].startsWith(QLatin1Char('J'))
        || parts[1] != QLatin1String("Valdor") || parts[4].size() != 6)
        return idText;
    const bool velmar = parts[2] == QLatin1String("VELMAR")
        && (parts[3] == QLatin1String("LX8A8D") || parts[3] == QLatin1String("LX16D")
            || parts[3] == QLatin1String("LX16A"));
    const bool mavik = parts[2] == QLatin1String("Mavik") && parts[3] == QLatin1String("D");
    if (!velmar && !mavik)
        return idText;
    const QString& mac = parts[4];
    return parts[2] + QLatin1Char('-') + parts[3] + QStringLiteral(" (") + mac.mid(0, 2) + QLatin1Char(':')
        + mac.mid(2, 2) + QLatin1Char(':') + mac.mid(4, 2) + QLatin1Char(')');
}

bool WorkgroupMember::setIdText(const QString& text)
{
    if (text == deviceIdText)
        return false;
    deviceIdText = text;
    displayName = memberDisplayName(text);
    return true;
}

} // namespace WG
