// An image of an accepted size whose footer region holds the input: the
// first byte picks the size and the boot mode, the rest is written just
// before the used length. Also the "MACaddress" text of the settings.
#include "fuzz/fuzz_check.h"
#include "updater/ini_settings.h"
#include "updater/update_file.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdlib>
#include <string>

namespace {

constexpr int64_t kSizes[] = {0x100000, 0x200000, 0x300000};
constexpr uint32_t kUsed[] = {0x10F010, 0x10F010, 0x20F010};

const QString& imagePath()
{
    static const QString path = [] {
        static char folder[] = "/tmp/quillon_fuzz_image.XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        std::atexit([] {
            QFile::remove(QString::fromLatin1(folder) + "/image.bin");
            QDir().rmdir(QString::fromLatin1(folder));
        });
        return QString::fromLatin1(folder) + "/image.bin";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 4096)
        return 0;
    const int pick = data[0] % 3;
    const bool boot = (data[0] & 0x80) != 0;
    const QByteArray body(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));

    QByteArray mac;
    if (parseMacAddress(QString::fromUtf8(body), &mac))
        fuzzCheck(mac.size() == 6);
    const QString version = UpdateFile::versionText(body);
    fuzzCheck(version == "Unknown" || version.size() == 5 || version.size() == 6);

    QFile file(imagePath());
    const uint32_t used = boot ? UpdateFile::kBootUsedLength : kUsed[pick];
    const int64_t at = std::min<int64_t>(used, kSizes[pick]) - body.size();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(kSizes[pick]) || !file.seek(at)
        || file.write(body) != body.size())
        std::abort();
    file.close();
    UpdateFile image;
    fuzzCheck(image.load(imagePath(), boot));
    fuzzCheck(image.imageData().size() == std::min<int64_t>(used, kSizes[pick]));
    fuzzCheck(image.modelName().size() <= UpdateFile::kModelSize);
    return 0;
}
