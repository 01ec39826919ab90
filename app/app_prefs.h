// The per-user preferences: the platform's settings store in native format
// and user scope, organisation "Valdor", application "Quillon". One object
// for the whole process, made on first use.
#pragma once

#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>

namespace Quil {

class QuilPrefs : public QObject {
    Q_OBJECT

public:
    // The stored keys.
    static constexpr const char* kDefaultDir = "DefaultDir"; // setup-file folder
    static constexpr const char* kMacAddr = "MACAddr"; // chosen interface's hardware address
    static constexpr const char* kGeometry = "Geometry"; // main window geometry

    static QuilPrefs& instance();

    QVariant value(const QString& key, const QVariant& defaultValue = QVariant()) const;
    // Always 0: the store reports write errors only when it syncs.
    int32_t setValue(const QString& key, const QVariant& value);

private:
    QuilPrefs();

    QSettings m_settings;
};

} // namespace Quil
