// Description reader and reboot-setting rewrite.
#include "fwupdate/mavik/mavik_contents.h"

#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>

namespace {

const char kMarker[] = "REBOOT_AFTER_UPDATE VALUE";
constexpr int kMarkerLength = sizeof kMarker - 1;

QString valueOf(const QXmlStreamReader& reader)
{
    return reader.attributes().value(QLatin1String("VALUE")).toString();
}

// Every marker of the line followed by `="` and a digit gets the digit 0.
void disableInLine(QByteArray* line)
{
    for (int at = line->indexOf(kMarker); at >= 0; at = line->indexOf(kMarker, at + kMarkerLength)) {
        const int digit = at + kMarkerLength + 2;
        if (digit < line->size() && line->at(digit - 2) == '=' && line->at(digit - 1) == '"' && line->at(digit) >= '0'
            && line->at(digit) <= '9')
            (*line)[digit] = '0';
    }
}

} // namespace

bool UpdaterContentsReader::read(const QString& path, QString* rootName, QString* version)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QXmlStreamReader reader(&file);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (rootName->isEmpty())
            *rootName = reader.name().toString();
        if (reader.name() == QLatin1String("ATTRIBUTE") && readPackageVersion(reader, version))
            return true;
    }
    return false;
}

bool UpdaterContentsReader::readPackageVersion(QXmlStreamReader& reader, QString* version)
{
    while (reader.readNextStartElement()) {
        if (reader.name() == QLatin1String("UPDATE_PACKAGE_VERSION")) {
            *version = valueOf(reader);
            return true;
        }
        reader.skipCurrentElement();
    }
    return false;
}

bool UpdaterContentsReader::readDataFiles(QXmlStreamReader& reader, QString* fileVersion)
{
    while (reader.readNextStartElement()) {
        if (reader.name() != QLatin1String("DATA_FILE")) {
            reader.skipCurrentElement();
            continue;
        }
        if (readDataFile(reader, fileVersion))
            return true;
    }
    return false;
}

bool UpdaterContentsReader::readDataFile(QXmlStreamReader& reader, QString* fileVersion)
{
    bool marked = false;
    QString version;
    while (reader.readNextStartElement()) {
        if (reader.name() == QLatin1String("MODULE_NAME")) {
            const QString module = valueOf(reader);
            marked = marked || module == QLatin1String("Firm") || module == QLatin1String("MAIN");
        } else if (reader.name() == QLatin1String("FILE_VERSION")) {
            version = valueOf(reader);
        }
        reader.skipCurrentElement();
    }
    if (marked)
        *fileVersion = version;
    return marked;
}

int32_t disableRebootAfterUpdate(const QString& contentsPath)
{
    QFile in(contentsPath);
    if (!in.open(QIODevice::ReadOnly))
        return MAVIK_E_FAIL;
    // A temporary file beside the description, renamed over it on commit.
    QSaveFile out(contentsPath);
    if (!out.open(QIODevice::WriteOnly))
        return MAVIK_E_FAIL;
    while (!in.atEnd()) {
        QByteArray line = in.readLine();
        if (line.isEmpty() && in.error() != QFileDevice::NoError)
            return MAVIK_E_FAIL;
        disableInLine(&line);
        if (out.write(line) != line.size())
            return MAVIK_E_FAIL;
    }
    if (in.error() != QFileDevice::NoError)
        return MAVIK_E_FAIL;
    in.close();
    return out.commit() ? MAVIK_OK : MAVIK_E_FAIL;
}
