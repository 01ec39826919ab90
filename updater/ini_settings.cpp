#include "updater/ini_settings.h"

#include <QCoreApplication>
#include <QSettings>
#include <QStringList>

#include <cstdio>

namespace {

QString& programDirectory()
{
    static QString directory;
    return directory;
}

const char* const kGroup = "UPDATE";
const char* const kDefaultIp = "192.168.0.2";
const char* const kDefaultMac = "ff-ff-ff-ff-ff-ff";

} // namespace

QString applicationFilePath()
{
    const QString& directory = programDirectory();
    return (directory.isEmpty() ? QCoreApplication::applicationDirPath() : directory) + QLatin1Char('/');
}

void setApplicationDirectory(const QString& directory)
{
    programDirectory() = directory;
}

bool parseMacAddress(const QString& text, QByteArray* mac)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('-'));
    if (parts.size() != 6)
        return false;
    QByteArray bytes;
    for (const QString& part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok, 16);
        if (!ok || part.isEmpty() || part.size() > 2 || part.startsWith(QLatin1Char('+')))
            return false;
        bytes.append(static_cast<char>(value));
    }
    *mac = bytes;
    return true;
}

IniSettings& IniSettings::instance()
{
    static IniSettings settings;
    return settings;
}

QString IniSettings::read(const char* key, const QString& fallback) const
{
    QSettings settings(applicationFilePath() + QStringLiteral("update.ini"), QSettings::IniFormat);
    settings.setIniCodec("Shift-JIS");
    settings.beginGroup(QLatin1String(kGroup));
    const QString value = settings.value(QLatin1String(key), fallback).toString();
    settings.endGroup();
    return value;
}

QString IniSettings::program() const
{
    return read("PROGRAM", QString());
}

QString IniSettings::ipAddress() const
{
    return read("IPaddress", QLatin1String(kDefaultIp));
}

QByteArray IniSettings::macAddress() const
{
    const QString text = read("MACaddress", QLatin1String(kDefaultMac));
    QByteArray mac;
    if (parseMacAddress(text, &mac))
        return mac;
    std::fprintf(stderr,
        "update.ini: MACaddress \"%s\" is not six hexadecimal bytes joined by '-'; "
        "ff-ff-ff-ff-ff-ff is used\n",
        text.toUtf8().constData());
    parseMacAddress(QLatin1String(kDefaultMac), &mac);
    return mac;
}

uint16_t IniSettings::portNumber() const
{
    const QString text = read("PortNumber", QString::number(kDefaultPort));
    bool ok = false;
    const uint value = text.trimmed().toUInt(&ok);
    if (ok && value <= 0xFFFF)
        return static_cast<uint16_t>(value);
    std::fprintf(stderr, "update.ini: PortNumber \"%s\" is not a TCP port\n", text.toUtf8().constData());
    return 0;
}
