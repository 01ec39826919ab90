// Mavik packages from untrusted bytes. The first byte picks the work:
//   0 mod 4  the rest is an archive, unpacked whole into a fresh folder
//   1 mod 4  the same archive, one entry matched by a filter
//   2 mod 4  the rest is a description, read for root, version, data file
//   3 mod 4  the rest is a description, its reboot setting rewritten
// Nothing may appear outside the destination, and the rewrite may change
// nothing but digits to '0'.
#include "fuzz/fuzz_check.h"
#include "fwupdate/mavik/mavik_contents.h"
#include "fwupdate/mavik/mavik_decompress.h"

#include <QFile>
#include <QXmlStreamReader>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

const std::string& workFolder()
{
    static const std::string path = [] {
        static char folder[] = "/tmp/fuzz_mavik_package.XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return std::string(folder);
    }();
    return path;
}

void writeInput(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    fuzzCheck(f != nullptr);
    if (size > 0)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
}

// Only the input and the destination may be in the work folder.
void checkWorkFolder(const std::string& folder)
{
    DIR* d = ::opendir(folder.c_str());
    fuzzCheck(d != nullptr);
    while (dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != ".." && n != "in.zip" && n != "dest" && n != "updater_contents.xml") {
            std::fprintf(stderr, "written outside the destination: %s\n", n.c_str());
            std::abort();
        }
    }
    ::closedir(d);
}

void unpack(const uint8_t* data, size_t size, bool matching)
{
    const std::string zip = workFolder() + "/in.zip";
    const std::string dest = workFolder() + "/dest";
    writeInput(zip, data, size);
    Decompress decompress;
    QStringList files;
    const bool ok = matching
        ? decompress.extractMatching(QString::fromStdString(zip), QString::fromStdString(dest + "/"), &files,
            QStringLiteral("updater_contents*.xml"))
        : decompress.extractAll(QString::fromStdString(zip), QString::fromStdString(dest + "/"), &files);
    fuzzCheck(ok || files.isEmpty());
    fuzzCheck(ok || !decompress.lastError().isEmpty());
    for (const QString& file : files)
        fuzzCheck(file.startsWith(QString::fromStdString(dest + "/")));
    checkWorkFolder(workFolder());
    std::error_code ignored;
    std::filesystem::remove_all(dest, ignored);
}

void readDescription(const uint8_t* data, size_t size)
{
    const std::string path = workFolder() + "/updater_contents.xml";
    writeInput(path, data, size);
    UpdaterContentsReader reader;
    QString root;
    QString version;
    reader.read(QString::fromStdString(path), &root, &version);
    QXmlStreamReader xml(QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size)));
    if (xml.readNextStartElement()) {
        QString fileVersion;
        reader.readDataFiles(xml, &fileVersion);
    }
}

void rewrite(const uint8_t* data, size_t size)
{
    const std::string path = workFolder() + "/updater_contents.xml";
    writeInput(path, data, size);
    fuzzCheck(disableRebootAfterUpdate(QString::fromStdString(path)) == MAVIK_OK);
    QFile file(QString::fromStdString(path));
    fuzzCheck(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    fuzzCheck(static_cast<size_t>(after.size()) == size);
    for (size_t i = 0; i < size; ++i) {
        const char before = static_cast<char>(data[i]);
        fuzzCheck(after[static_cast<int>(i)] == before
            || (before >= '1' && before <= '9' && after[static_cast<int>(i)] == '0'));
    }
    checkWorkFolder(workFolder());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Small caps keep each run short; the rules are the same.
    mavik_setExtractLimits({1 << 20, 4 << 20, 64});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    switch (data[0] % 4) {
    case 0:
        unpack(data + 1, size - 1, false);
        break;
    case 1:
        unpack(data + 1, size - 1, true);
        break;
    case 2:
        readDescription(data + 1, size - 1);
        break;
    default:
        rewrite(data + 1, size - 1);
        break;
    }
    return 0;
}
