// Memory path text from the fuzzer: whatever parses must build back into a
// path that parses to the same address (the round trip every subscriber
// relies on: a proxy key made from a built path matches a parsed one).
#include "device/dev_mempath.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
    Quil::MemAddress address;
    if (Quil::parseMemPath(text, &address) < 0 || address.indexes.empty())
        return 0;
    QString built;
    if (Quil::buildMemPath(address, &built) < 0)
        abort(); // one index per level was checked by the parse
    Quil::MemAddress again;
    if (Quil::parseMemPath(built, &again) < 0 || again.function != address.function
        || again.namePath != address.namePath || again.indexes != address.indexes)
        abort();
    QString twice;
    if (Quil::buildMemPath(again, &twice) < 0 || twice != built)
        abort();
    return 0;
}
