// Firmware package reader. A package (*.bin) is a block container of kind
// "Archive" whose top block name names the model ("Quil" + model name, or the
// bare "Brox-D3") and whose top block field holds 32-bit version words: the
// model firmware version, then three words per Dante firmware file. Its
// "#FILE" entries are unpacked into a working folder whose "data" subfolder
// holds the model firmware file ("BIN" or "prg") and the Dante files ("dnt").
//
// FirmUpdateUIFileManager serves the firmware update window; RecoveryFileManager
// is the recovery updater's reduced variant (no "Brox-D3" packages, no Dante
// texts). Both run the same code through FwPackageReader. Not thread-safe:
// one owner thread per instance.
#pragma once

#include "fwupdate/package/fwpkg_models.h"
#include "fwupdate/package/fwpkg_result.h"
#include "pbd/FileCache/fcache_MBDFFileBlock.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// The state and operations both variants share.
class FwPackageReader {
public:
    FwPackageReader(const FwPackageReader&) = delete;
    FwPackageReader& operator=(const FwPackageReader&) = delete;

    // Opens the package at path, replacing the previous one (whose unpack
    // folder is removed first), checks its header, unpacks it and appends
    // the version texts to *versions. abortFlag and observer go to the
    // extraction unchanged; callers pass none. Any output may be null.
    JResult openPackage(const QString& path, const FILECACHE::MBDFAbortFlag* abortFlag,
        FILECACHE::IMBDFObserver* observer, QString* header, QStringList* versions);
    // folder = text before the last "/", file name = text after it (the
    // whole path, with an empty folder, when there is no "/"). Always 0.
    static JResult splitPath(const QString& path, QString* folder, QString* fileName);
    // Set when the last openPackage succeeded.
    bool isUnpacked() const { return m_unpacked; }
    // The model firmware file, or the package itself for a "Brox-D3"
    // package. Always 0.
    JResult getFirmwarePath(QString* path) const;
    // Header text and version texts ("v123a", then "v" + the four bytes of
    // each Dante word) of the open package, appended to *versions.
    JResult readVersions(QString* header, QStringList* versions);
    // Removes the current unpack folder (nothing when there is none); the
    // package stays open, its firmware path then names a removed file.
    JResult removeUnpackFolder();

protected:
    struct Variant {
        const FwPackageModelRow* models; // ends with a row of type code 0
        bool bareBrox3; // accepts the bare "Brox-D3" header (not unpacked, word 0 swapped)
    };

    explicit FwPackageReader(const Variant& variant);
    // Removes the current unpack folder when a package path was ever set.
    ~FwPackageReader();

    FILECACHE::ArchiveFile* archiveInUse() const { return m_inUse; }
    int32_t packageTypeCode() const { return m_typeCode; }
    const QStringList& danteFileList() const { return m_danteFiles; }
    // The 3n + 1 version words (n Dante files), big-endian as stored, word
    // 0 byte-swapped when asked. FWPKG_E_OPEN without a package,
    // FWPKG_E_VERSION when the field holds fewer words.
    JResult versionWords(bool swapWord0, std::vector<uint32_t>* words) const;

private:
    JResult lookupModel(const QString& name);
    JResult makeUnpackFolderName(QString* name) const;
    QStringList candidateBaseFolders(const QString& packageFolder) const;
    JResult listDataFiles();
    JResult checkEntryNames() const;
    JResult unpack(const QString& packageFolder, const FILECACHE::MBDFAbortFlag* abortFlag,
        FILECACHE::IMBDFObserver* observer, QString* header, QStringList* versions);

    const Variant m_variant;
    FILECACHE::ArchiveFile* m_inUse = nullptr;
    FILECACHE::ArchiveFile m_archive16;
    FILECACHE::ArchiveFile m_archive28;
    QString m_packagePath;
    QString m_unpackFolder;
    QString m_firmwarePath;
    QStringList m_danteFiles;
    bool m_unpacked = false;
    int32_t m_typeCode = FWPKG_TYPE_NONE;
};

// The firmware update window's reader.
class FirmUpdateUIFileManager final : public FwPackageReader {
public:
    FirmUpdateUIFileManager();
    ~FirmUpdateUIFileManager() = default;

    // The package type mapped to the device's model type (Quil::ModelType
    // numbers); 0 and FWPKG_E_MODEL_TYPE for a type outside the table.
    JResult getModelType(int32_t* type) const;
    // Full paths of the package's Dante firmware files. Always 0.
    JResult getDanteFiles(QStringList* files) const;
    // Size in bytes; 0 when the file can't be read or has 4 GiB or more.
    static uint32_t getFileSize(const QString& path);
    // Texts for the window. modelName is the header without its first four
    // characters; the rest is left untouched when versions has fewer than
    // four entries (no Dante file). Dante lines and the summary use the
    // separator "  ,   ".
    JResult displayTexts(const QString& header, QString* modelName, const QStringList& versions,
        QString* firmwareVersion, QString* formattedFirmwareVersion, QStringList* danteLines, QString* summary,
        bool* hasDante);
    // formatted: word 0 as "V1.23a" / "R1.23a" ("V?.???" when malformed, with
    // its failure as the result); list: "4.1.2" for every Dante word.
    JResult danteVersionTexts(QString* formatted, QStringList* list);
};

// The recovery updater's reader: only "Quil" headers, no "Brox-D3" row.
class RecoveryFileManager final : public FwPackageReader {
public:
    RecoveryFileManager();
    ~RecoveryFileManager() = default;

    // The top block name without its first four characters; FWPKG_E_OPEN
    // without an open package.
    JResult modelName(QString* name) const;
    // "BroxL-D", "BroxM-D", "BroxI-D", "BroxO-D", "BroxL-D2" or "BroxM-D2".
    bool isBroxModel() const;
    // "PellM-D".
    bool isPellModel() const;
};
