#include "fwupdate/package/fwpkg_datafiles.h"

#include "pbd/fsw/fsw.h"

#include <cstring>

namespace {

// A folder of a package holds a handful of files; the walk stops here in any
// case.
constexpr int kMaxEntries = 100000;
constexpr size_t kNameBuffer = 1024;

// The three characters after the first ".", or nothing when the name is
// shorter than four characters or has no dot.
bool extensionOf(const char* name, char extension[4])
{
    const size_t length = std::strlen(name);
    if (length < 4)
        return false;
    const char* dot = static_cast<const char*>(std::memchr(name, '.', length));
    if (!dot)
        return false;
    const size_t after = length - static_cast<size_t>(dot + 1 - name);
    const size_t n = after < 3 ? after : 3;
    std::memcpy(extension, dot + 1, n);
    extension[n] = '\0';
    return true;
}

} // namespace

JResult fwpkg_listDataFiles(const QString& folder, QString* firmwareName, QStringList* danteNames)
{
    FswSearch* search = nullptr;
    const JResult started = fsw_findFirst(&search, folder.toUtf8().constData());
    if (started < 0)
        return started;
    QString firmware;
    QStringList dante;
    char name[kNameBuffer];
    for (int i = 0; i < kMaxEntries; ++i) {
        if (fsw_findNext(search, name, sizeof name) < 0)
            break;
        char extension[4];
        if (!extensionOf(name, extension))
            continue;
        if (std::strcmp(extension, "dnt") == 0)
            dante.append(QString::fromUtf8(name));
        else if (std::strcmp(extension, "BIN") == 0 || std::strcmp(extension, "prg") == 0)
            firmware = QString::fromUtf8(name);
    }
    const JResult closed = fsw_findClose(search);
    if (firmwareName)
        *firmwareName = firmware;
    if (danteNames)
        *danteNames = dante;
    return closed;
}
