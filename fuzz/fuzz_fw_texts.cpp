// Texts the firmware update window takes from a package or a unit: a model
// firmware version through the version formatting, and a Dante version line
// through the module-type split. Nothing crashes; the formatted version
// grows by at most the one point it inserts and keeps the text's last
// letter unless that is the "a" of a first release.
#include "fuzz_check.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"

#include <QString>

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
    return 0;
}
