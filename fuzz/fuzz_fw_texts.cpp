// Texts the firmware update window takes from a package or a unit: a model
// firmware version through the version formatting, a Dante version line
// through the module-type and version split, and the interface address
// through the TFTP address split. Nothing crashes; the formatted version
// grows by at most the one point it inserts and keeps the text's last
// letter unless that is the "a" of a first release; a line's version is
// taken only with its module type; an address is taken only when it is one
// to four decimal bytes.
#include "fuzz/fuzz_check.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text;
    if (!fuzzText(data, size, 256, &text))
        return 0;
    const QString in = QString::fromUtf8(text.data(), static_cast<int>(text.size()));

    const QString version = Quil::formatModelVersion(in);
    fuzzCheck(version.size() <= in.size() + 1);
    fuzzCheck(!in.isEmpty() || version.isEmpty());
    if (!in.isEmpty() && !in.back().isDigit() && in.back() != QLatin1Char('a'))
        fuzzCheck(version.endsWith(in.back()));

    const int module = Quil::danteLineModuleType(in);
    fuzzCheck(module >= -1 && module <= 1);

    DfuVersion danteVersion{};
    int danteModule = -1;
    if (Quil::danteLineVersion(in, &danteVersion, &danteModule))
        fuzzCheck(danteModule == module && module >= 0);

    uint8_t address[4] = {1, 1, 1, 1};
    if (Quil::danteTftpAddress(in, address)) {
        const QStringList parts = in.split(QLatin1Char('.'));
        fuzzCheck(parts.size() <= 4);
        for (int i = 0; i < 4; ++i)
            fuzzCheck(i < parts.size() ? parts[i].toUInt() == address[i] : address[i] == 0);
    }
    return 0;
}
