#include "fwupdate/package/fwpkg_filemanager.h"

#include "fwupdate/package/fwpkg_versions.h"
#include "pbd/fsw/fsw.h"
#include "pbd/jlib/jlib_version.h"

namespace {

const char kSeparator[] = "  ,   ";

} // namespace

FirmUpdateUIFileManager::FirmUpdateUIFileManager()
    : FwPackageReader(Variant{fwpkg_modelTable, true})
{
}

JResult FirmUpdateUIFileManager::getModelType(int32_t* type) const
{
    return fwpkg_modelType(packageTypeCode(), type);
}

JResult FirmUpdateUIFileManager::getDanteFiles(QStringList* files) const
{
    if (files)
        *files = danteFileList();
    return FWPKG_OK;
}

uint32_t FirmUpdateUIFileManager::getFileSize(const QString& path)
{
    uint32_t size = 0;
    // 4 GiB or more fails too, and reads as 0.
    if (fsw_getFileSize(&size, path.toUtf8().constData()) < 0)
        return 0;
    return size;
}

JResult FirmUpdateUIFileManager::danteVersionTexts(QString* formatted, QStringList* list)
{
    std::vector<uint32_t> words;
    const JResult r = versionWords(false, &words);
    if (r < 0)
        return r;
    if (list) {
        for (size_t i = 1; i < words.size(); ++i)
            list->append(fwpkg_danteDottedText(words[i]));
    }
    char text[32];
    const JResult f = jlib_formatVersion(text, sizeof text, words[0]);
    if (formatted)
        *formatted = QString::fromLatin1(text);
    return f;
}

JResult FirmUpdateUIFileManager::displayTexts(const QString& header, QString* modelName, const QStringList& versions,
    QString* firmwareVersion, QString* formattedFirmwareVersion, QStringList* danteLines, QString* summary,
    bool* hasDante)
{
    if (modelName)
        *modelName = header.mid(4);
    if (versions.size() < 4)
        return FWPKG_OK;
    if (firmwareVersion)
        *firmwareVersion = versions.first();
    QString formatted;
    QStringList dante;
    const JResult r = danteVersionTexts(&formatted, &dante);
    const QString separator = QLatin1String(kSeparator);
    QString all = formatted;
    QStringList lines;
    for (int i = 0; i + 2 < dante.size(); i += 3) {
        lines.append(dante[i] + separator + dante[i + 2]);
        all += separator + dante[i] + separator + dante[i + 1] + separator + dante[i + 2];
    }
    if (formattedFirmwareVersion)
        *formattedFirmwareVersion = formatted;
    if (danteLines)
        danteLines->append(lines);
    if (summary)
        *summary = all;
    if (hasDante)
        *hasDante = true;
    return r;
}
