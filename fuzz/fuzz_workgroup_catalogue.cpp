// The catalogue's readers of untrusted text: the first byte picks one of
// the /proc/net/if_inet6 line parser, the trim value reader or the index
// readers; the rest is the text.
#include "fuzz/fuzz_check.h"

#include "fwupdate/workgroup/wg_adapters.h"
#include "fwupdate/workgroup/wg_catalogue.h"

#include <QString>

#include <cmath>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 4096)
        return 0;
    const uint8_t pick = data[0] % 3;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;
    static WG::ModelInfoList* list = new WG::ModelInfoList;
    const auto* tarn = dynamic_cast<const WG::Tarn_A16Model*>(list->findEntry(82));
    fuzzCheck(tarn != nullptr);
    if (pick == 0) {
        // An exact-size copy: the parser must stop at the length it is given.
        std::unique_ptr<char[]> copy(new char[length ? length : 1]);
        if (length)
            memcpy(copy.get(), text, length);
        WG::WgIfInet6Line line;
        if (WG::wgadapter_parseIfInet6Line(copy.get(), length, &line))
            fuzzCheck(!line.name.empty() && line.name.size() < length);
        return 0;
    }
    const QString s = QString::fromUtf8(text, static_cast<int>(length));
    if (pick == 1) {
        const double v = tarn->trimValue(s);
        const QString e = tarn->trimElement(v >= 0, static_cast<int>(length % 16), v);
        fuzzCheck(!e.isEmpty());
        return 0;
    }
    const int clock = tarn->clockSourceIndex(s);
    fuzzCheck(clock >= 0 && clock < 10);
    const int onOff = tarn->onOffIndex(s);
    fuzzCheck(onOff == 0 || onOff == 1);
    const int gain = tarn->inputGainIndex(s);
    fuzzCheck(gain == 0 || gain == 1);
    fuzzCheck(tarn->clockSourceElement(clock).contains("value="));
    return 0;
}
