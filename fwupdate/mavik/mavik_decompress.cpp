// Zip extraction with minizip, confined to the destination folder.
#include "fwupdate/mavik/mavik_decompress.h"

#include "fwupdate/mavik/mavik_confined.h"
#include "pbd/FileCache/fcache_MBDFFileBlock.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>

namespace {

std::mutex g_limitsLock;
MavikExtractLimits g_limits = mavik_defaultExtractLimits();

struct ZipCloser {
    void operator()(void* zip) const { unzClose(zip); }
};
using ZipHandle = std::unique_ptr<void, ZipCloser>;

bool isLeadByte(uint32_t c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool isFolderName(const QByteArray& name)
{
    const int n = name.size();
    return n > 0 && name[n - 1] == '/' && (n < 2 || !isLeadByte(static_cast<uint8_t>(name[n - 2])));
}

// What the name writes below the folder must stay there; a folder entry is
// judged without its final slash.
bool isSafe(const QByteArray& name)
{
    const QByteArray judged = isFolderName(name) ? name.left(name.size() - 1) : name;
    return FILECACHE::mbdf_isSafeEntryName(judged.toStdString());
}

std::string encoded(const QString& text)
{
    return QFile::encodeName(text).toStdString();
}

bool writeAll(int fd, const char* data, size_t n)
{
    while (n > 0) {
        const ssize_t w = write(fd, data, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            return false;
        if (w == 0) {
            errno = ENOSPC;
            return false;
        }
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

} // namespace

MavikExtractLimits mavik_defaultExtractLimits()
{
    // An entry as large as the largest content a container block holds; a
    // run four times that; entries far beyond a package's few dozen files.
    return {FILECACHE::MBDF_CONTENT_LIMIT, 4 * FILECACHE::MBDF_CONTENT_LIMIT, 10000};
}

void mavik_setExtractLimits(const MavikExtractLimits& limits)
{
    std::lock_guard<std::mutex> guard(g_limitsLock);
    g_limits = limits;
}

MavikExtractLimits mavik_extractLimits()
{
    std::lock_guard<std::mutex> guard(g_limitsLock);
    return g_limits;
}

struct Decompress::Run {
    QString zipPath;
    QString dest; // ends in a slash
    ZipHandle zip;
    TFTPFd root;
    MavikExtractLimits limits{};
    uint64_t bytes = 0;
    uint32_t entries = 0;
};

Decompress::Decompress(QObject* parent)
    : QObject(parent)
{
}

void Decompress::fail(const QString& text)
{
    if (m_lastError.isEmpty())
        m_lastError = text;
}

QString Decompress::corruptText(const QString& zipPath) const
{
    return tr("Failed to extract.\nThe file %1 is corrupted. Try to download again.").arg(zipPath);
}

bool Decompress::openRun(Run* run, const QString& zipPath, const QString& destFolder)
{
    m_lastError.clear();
    run->zipPath = zipPath;
    run->dest = destFolder.endsWith(QLatin1Char('/')) ? destFolder : destFolder + QLatin1Char('/');
    run->limits = mavik_extractLimits();
    run->zip.reset(unzOpen64(QFile::encodeName(zipPath).constData()));
    if (!run->zip)
        return false;
    if (mavik_openRoot(encoded(run->dest), true, &run->root) != 0) {
        fail(tr("Could not create directory."));
        return false;
    }
    return true;
}

bool Decompress::makePath(const QString& destFolder, const QString& entryName)
{
    // Characters past Latin-1 turn into '?', which separates nothing.
    if (!isSafe(entryName.toLatin1()))
        return false;
    const QString dest = destFolder.endsWith(QLatin1Char('/')) ? destFolder : destFolder + QLatin1Char('/');
    TFTPFd root;
    if (mavik_openRoot(encoded(dest), true, &root) != 0)
        return false;
    for (int i = 0; i < entryName.size(); ++i) {
        if (isLeadByte(entryName[i].unicode())) {
            ++i; // its second byte is never a separator
            continue;
        }
        if (entryName[i] != QLatin1Char('/') || i == 0)
            continue;
        TFTPFd folder;
        if (mavik_openFolder(root.get(), encoded(entryName.left(i)), true, &folder) != 0)
            return false;
    }
    return true;
}

bool Decompress::makeFolders(Run* run, const QByteArray& name)
{
    if (makePath(run->dest, QString::fromLatin1(name)))
        return true;
    fail(tr("Could not create directory."));
    return false;
}

bool Decompress::extractEntry(Run* run, const QByteArray& name, QStringList* files)
{
    if (!makeFolders(run, name))
        return false;
    if (unzOpenCurrentFile(run->zip.get()) != UNZ_OK)
        return false;
    const QString relative = QString::fromLatin1(name);
    const std::string path = encoded(relative);
    const size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    TFTPFd folder;
    TFTPFd file;
    int error
        = mavik_openFolder(run->root.get(), slash == std::string::npos ? "" : path.substr(0, slash), false, &folder);
    if (error == 0)
        error = mavik_createFile(folder.get(), base, &file);
    if (error != 0) {
        unzCloseCurrentFile(run->zip.get());
        fail(qt_error_string(error));
        return false;
    }
    bool ok = true;
    uint64_t entryBytes = 0;
    char buffer[MAVIK_COPY_BUFFER];
    for (;;) {
        const int n = unzReadCurrentFile(run->zip.get(), buffer, sizeof buffer);
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        entryBytes += static_cast<uint64_t>(n);
        run->bytes += static_cast<uint64_t>(n);
        if (entryBytes > run->limits.entryBytes || run->bytes > run->limits.runBytes) {
            ok = false;
            break;
        }
        if (!writeAll(file.get(), buffer, static_cast<size_t>(n))) {
            fail(qt_error_string(errno));
            ok = false;
            break;
        }
    }
    // Also checks the CRC once the whole entry was read.
    if (unzCloseCurrentFile(run->zip.get()) != UNZ_OK)
        ok = false;
    if (ok) {
        struct stat st { };
        if (fstat(file.get(), &st) == 0)
            fchmod(file.get(), (st.st_mode & 07777) | S_IXUSR | S_IXGRP | S_IXOTH);
        if (close(file.release()) != 0) {
            fail(qt_error_string(errno));
            ok = false;
        }
    }
    // Only a file that was written whole is listed.
    if (ok) {
        files->append(run->dest + relative);
    } else {
        file.reset();
        unlinkat(folder.get(), base.c_str(), 0);
    }
    return ok;
}

namespace {

// The current entry's name with slashes; false when it cannot be read or is
// longer than the longest name taken (a cut name would name another file).
bool currentName(void* zip, QByteArray* name)
{
    unz_file_info64 info{};
    char buffer[MAVIK_ZIP_NAME_MAX + 1] = {};
    if (unzGetCurrentFileInfo64(zip, &info, buffer, sizeof buffer, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    if (info.size_filename > MAVIK_ZIP_NAME_MAX)
        return false;
    *name = QByteArray(buffer, static_cast<int>(info.size_filename));
    name->replace('\\', '/');
    return true;
}

// UNZ_OK for a next entry, UNZ_END_OF_LIST_OF_FILE at the end, else an error.
int step(void* zip, bool first)
{
    return first ? unzGoToFirstFile(zip) : unzGoToNextFile(zip);
}

} // namespace

bool Decompress::extractAll(const QString& zipPath, const QString& destFolder, QStringList* files)
{
    files->clear();
    Run run;
    bool ok = openRun(&run, zipPath, destFolder);
    if (ok) {
        unz_global_info64 global{};
        ok = unzGetGlobalInfo64(run.zip.get(), &global) == UNZ_OK;
        const int total = static_cast<int>(std::min<ZPOS64_T>(global.number_entry, INT32_MAX));
        int count = 0;
        if (ok)
            emit progress(0, total);
        for (int r = step(run.zip.get(), true); ok && r != UNZ_END_OF_LIST_OF_FILE; r = step(run.zip.get(), false)) {
            QByteArray name;
            ok = r == UNZ_OK && ++run.entries <= run.limits.entries && currentName(run.zip.get(), &name)
                && isSafe(name);
            if (!ok)
                break;
            ok = isFolderName(name) ? makeFolders(&run, name) : extractEntry(&run, name, files);
            if (ok)
                emit progress(++count, total);
        }
    }
    run.zip.reset();
    if (!ok) {
        files->clear();
        fail(corruptText(zipPath));
    }
    return ok;
}

bool Decompress::extractMatching(
    const QString& zipPath, const QString& destFolder, QStringList* files, const QString& nameFilter)
{
    files->clear();
    Run run;
    bool ok = openRun(&run, zipPath, destFolder);
    bool written = false;
    for (int r = ok ? step(run.zip.get(), true) : UNZ_END_OF_LIST_OF_FILE; ok && r != UNZ_END_OF_LIST_OF_FILE;
         r = step(run.zip.get(), false)) {
        QByteArray name;
        ok = r == UNZ_OK && ++run.entries <= run.limits.entries && currentName(run.zip.get(), &name) && isSafe(name)
            && makeFolders(&run, name);
        if (ok && !isFolderName(name) && matchesFilter(QString::fromLatin1(name), nameFilter)) {
            written = extractEntry(&run, name, files);
            break;
        }
    }
    run.zip.reset();
    if (!written)
        fail(corruptText(zipPath));
    return written;
}

bool Decompress::matchesFilter(const QString& entryName, const QString& nameFilter)
{
    const QFileInfo filter(nameFilter);
    const QString base = filter.completeBaseName();
    if (base == QLatin1String("*"))
        return QFileInfo(entryName).completeSuffix().compare(filter.completeSuffix(), Qt::CaseInsensitive) == 0;
    const int star = base.indexOf(QLatin1Char('*'));
    if (star < 0)
        return entryName.compare(nameFilter, Qt::CaseInsensitive) == 0;
    return entryName.size() > star && entryName.left(star).compare(base.left(star), Qt::CaseInsensitive) == 0;
}
