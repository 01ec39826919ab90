// The recovery updater's settings: "update.ini" in the program directory,
// group "UPDATE", read with the Shift-JIS codec. Every call reads the file
// again, so a change on disk is seen by the next call.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The program directory followed by "/"; the base of every file name the
// updater builds. The directory is the executable's unless the program's
// entry named another.
QString applicationFilePath();
void setApplicationDirectory(const QString& directory);

// Six bytes from "xx-xx-xx-xx-xx-xx" (one or two hexadecimal digits per
// part); false for any other text.
bool parseMacAddress(const QString& text, QByteArray* mac);

class IniSettings {
public:
    static constexpr uint16_t kDefaultPort = 12302;

    static IniSettings& instance();

    QString program() const;
    QString ipAddress() const;
    // Six bytes; a value that is not six hexadecimal bytes gives the
    // broadcast address ff-ff-ff-ff-ff-ff and a line on standard error.
    QByteArray macAddress() const;
    // 0 (no unit can listen there) for a value that is not a port number.
    uint16_t portNumber() const;

    IniSettings(const IniSettings&) = delete;
    IniSettings& operator=(const IniSettings&) = delete;

private:
    IniSettings() = default;
    QString read(const char* key, const QString& fallback) const;
};
