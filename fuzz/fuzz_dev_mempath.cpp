// Memory path text from the fuzzer: whatever parses must build back into a
// path that parses to the same address (the round trip every subscriber
// relies on: a proxy key made from a built path matches a parsed one).
#include "device/memory/dev_mempath.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
    Quil::MemAddress address;
    if (Quil::parseMemPath(text, &address) < 0 || address.indexes.empty())
        return 0;
    QString built;
    // One index per level was checked by the parse.
    fuzzCheck(Quil::buildMemPath(address, &built) >= 0);
    Quil::MemAddress again;
    fuzzCheck(Quil::parseMemPath(built, &again) >= 0 && again.function == address.function
        && again.namePath == address.namePath && again.indexes == address.indexes);
    QString twice;
    fuzzCheck(Quil::buildMemPath(again, &twice) >= 0 && twice == built);
    return 0;
}
