// Unpacking of a Mavik firmware package (a zip archive) into a folder of its
// own.
//
// Entry names: at most 511 bytes, read as Latin-1 text, every backslash
// turned into a slash. A byte 0x81-0x9F or 0xE0-0xFC leads a two-byte
// character, so the byte after it never ends a folder name; a name that
// ends in a slash (not after a lead byte) is a folder.
//
// The archive comes from outside: a name that is absolute, has a drive
// letter or an empty, "." or ".." segment fails the run, nothing is written
// through a link in the folder, and the caps below bound what one entry, one
// run and the number of entries may take.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>

// Bytes one entry, one run, and entries one run may unpack (a real package
// is far smaller).
struct MavikExtractLimits {
    uint64_t entryBytes;
    uint64_t runBytes;
    uint32_t entries;
};
MavikExtractLimits mavik_defaultExtractLimits();
// Tests lower the caps; the defaults come back with mavik_defaultExtractLimits().
void mavik_setExtractLimits(const MavikExtractLimits& limits);
MavikExtractLimits mavik_extractLimits();

constexpr int MAVIK_ZIP_NAME_MAX = 511; // bytes of an entry name
constexpr int MAVIK_COPY_BUFFER = 8192;

class Decompress : public QObject {
    Q_OBJECT
public:
    explicit Decompress(QObject* parent = nullptr);

    // Unpacks every entry below destFolder; files gets the full path of each
    // file written, in archive order. A failure empties files and leaves
    // what was written before it (the caller removes the folder).
    bool extractAll(const QString& zipPath, const QString& destFolder, QStringList* files);
    // Unpacks the first file entry whose name matches nameFilter (see
    // matchesFilter) and stops there; no progress.
    bool extractMatching(
        const QString& zipPath, const QString& destFolder, QStringList* files, const QString& nameFilter);
    // Creates every missing folder on the way to the entry (the entry's own
    // folder when it ends in a slash).
    bool makePath(const QString& destFolder, const QString& entryName);

    QString lastError() const { return m_lastError; }

    // The filter's complete base name decides: "*" compares the complete
    // suffixes; without a star the whole names are compared; a star at p
    // compares the first p characters of a longer entry name. Case is
    // ignored.
    static bool matchesFilter(const QString& entryName, const QString& nameFilter);

signals:
    void progress(int unzipped, int total);

private:
    struct Run;
    bool openRun(Run* run, const QString& zipPath, const QString& destFolder);
    bool extractEntry(Run* run, const QByteArray& name, QStringList* files);
    bool makeFolders(Run* run, const QByteArray& name);
    void fail(const QString& text);
    QString corruptText(const QString& zipPath) const;

    QString m_lastError;
};
