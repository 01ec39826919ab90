#include "app/app_prefs.h"

namespace Quil {

QuilPrefs::QuilPrefs()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Valdor"), QStringLiteral("Quillon"))
{
}

QuilPrefs& QuilPrefs::instance()
{
    // Made on first use, not during static initialisation, so the store
    // sees the environment (HOME, XDG_CONFIG_HOME) the program runs with.
    static QuilPrefs prefs;
    return prefs;
}

QVariant QuilPrefs::value(const QString& key, const QVariant& defaultValue) const
{
    return m_settings.value(key, defaultValue);
}

int32_t QuilPrefs::setValue(const QString& key, const QVariant& value)
{
    m_settings.setValue(key, value);
    return 0;
}

} // namespace Quil
