// The working folder of a package: its name, where it may go, unpacking into
// it and finding the firmware files in it.
#include "fwupdate/package/fwpkg_filemanager.h"

#include "fwupdate/package/fwpkg_datafiles.h"
#include "pbd/fsw/fsw.h"

#include <QStandardPaths>

#include <cstdio>

namespace {

const char kDataFolder[] = "data";

} // namespace

JResult FwPackageReader::makeUnpackFolderName(QString* name) const
{
    FswDate utc{};
    FswDate local{2000, 1, 1, 0, 0, 0};
    // The conversion yields 2000-01-01 00:00:00 itself when it fails.
    if (fsw_getFileTime(nullptr, nullptr, &utc, m_packagePath.toUtf8().constData()) >= 0)
        fsw_utcToLocalTime(&local, &utc);
    FILECACHE::FileDateTime time;
    time.assign(local);
    if (name) {
        *name = QString::asprintf("QuilMBDFOut%04d%02d%02d%02d%02d%02d", time.year, time.month, time.day, time.hour,
            time.minute, time.second);
    }
    return FWPKG_OK;
}

QStringList FwPackageReader::candidateBaseFolders(const QString& packageFolder) const
{
    const QString homeVariable = QString::fromLocal8Bit(qgetenv("HOME"));
    QString home = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    if (home.isEmpty())
        home = homeVariable;
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = homeVariable;
    const QStringList bases{home, documents, packageFolder};
    for (int i = 0; i < bases.size(); ++i)
        std::printf("path%d : %s\n", i + 1, bases[i].toUtf8().constData());
    std::fflush(stdout);
    return bases;
}

JResult FwPackageReader::removeUnpackFolder()
{
    if (m_unpackFolder.isEmpty())
        return FWPKG_OK;
    const JResult r = fcache_removePath(m_unpackFolder.toUtf8().constData());
    m_unpackFolder.clear();
    return r;
}

JResult FwPackageReader::listDataFiles()
{
    const QString data = m_unpackFolder + QLatin1Char('/') + QLatin1String(kDataFolder);
    QString firmware;
    QStringList dante;
    const JResult r = fwpkg_listDataFiles(data, &firmware, &dante);
    if (r < 0)
        return r;
    m_firmwarePath = data + QLatin1Char('/') + firmware;
    m_danteFiles.clear();
    for (const QString& name : dante)
        m_danteFiles.append(data + QLatin1Char('/') + name);
    return r;
}

JResult FwPackageReader::checkEntryNames() const
{
    for (const FILECACHE::AbstractArchiveFile::Entry& entry : m_inUse->entries()) {
        if (!FILECACHE::mbdf_isSafeEntryName(entry.name))
            return FWPKG_E_INVALID;
    }
    return FWPKG_OK;
}

JResult FwPackageReader::unpack(const QString& packageFolder, const FILECACHE::MBDFAbortFlag* abortFlag,
    FILECACHE::IMBDFObserver* observer, QString* header, QStringList* versions)
{
    // A crafted name is the package's fault: no base folder would do better.
    JResult r = checkEntryNames();
    if (r < 0)
        return r;
    const QStringList bases = candidateBaseFolders(packageFolder);
    QString name;
    if (makeUnpackFolderName(&name) < 0)
        return FWPKG_E_FOLDER_NAME;
    for (const QString& base : bases) {
        if (base.isEmpty())
            continue;
        m_unpackFolder = base + QLatin1Char('/') + name;
        const QByteArray folder = m_unpackFolder.toUtf8();
        fcache_removePath(folder.constData());
        if (m_inUse->extractAll(folder.constData(), abortFlag, observer) < 0) {
            // No half-unpacked copy stays behind in a folder given up.
            fcache_removePath(folder.constData());
            continue;
        }
        if (listDataFiles() < 0)
            return FWPKG_E_INVALID;
        return readVersions(header, versions);
    }
    return FWPKG_E_UNPACK;
}
