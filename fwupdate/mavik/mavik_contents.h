// The package description "updater_contents.xml": its reader and the
// rewrite that keeps units from rebooting by themselves after an update.
#pragma once

#include <QString>

#include <cstdint>

class QXmlStreamReader;

constexpr int32_t MAVIK_OK = 0;
constexpr int32_t MAVIK_E_FAIL = static_cast<int32_t>(0x80000000u);

// Element names are compared exactly; other elements are skipped whole.
class UpdaterContentsReader {
public:
    virtual ~UpdaterContentsReader() = default;

    // rootName: the document element's name; version: the "VALUE" of the
    // first UPDATE_PACKAGE_VERSION inside an ATTRIBUTE. True when a version
    // was found.
    bool read(const QString& path, QString* rootName, QString* version);

    // Within an ATTRIBUTE element: true once UPDATE_PACKAGE_VERSION gave
    // the version; false at the end of the ATTRIBUTE.
    virtual bool readPackageVersion(QXmlStreamReader& reader, QString* version);
    // Within the current element: the FILE_VERSION of the first DATA_FILE
    // whose MODULE_NAME is "Firm" or "MAIN".
    virtual bool readDataFiles(QXmlStreamReader& reader, QString* fileVersion);
    // One DATA_FILE element: true when its module is "Firm" or "MAIN".
    virtual bool readDataFile(QXmlStreamReader& reader, QString* fileVersion);
};

// Sets the digit of every `REBOOT_AFTER_UPDATE VALUE="d` in the description
// to 0. The new text goes to a temporary file in the description's folder,
// which replaces the description only once complete; MAVIK_E_FAIL leaves
// the description as it was.
int32_t disableRebootAfterUpdate(const QString& contentsPath);
