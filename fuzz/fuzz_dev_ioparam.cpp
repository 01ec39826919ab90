// "IO:" names, channels and values from the fuzzer, as a version-1 setup file
// carries them. A converted path must parse, name "Backup" and carry one
// index per level; the high-pass value must come out as a table index.
#include "device/layouts/dev_iotable.h"
#include "device/memory/dev_mempath.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8)
        return 0;
    int32_t channel = 0;
    int32_t value = 0;
    std::memcpy(&channel, data, 4);
    std::memcpy(&value, data + 4, 4);
    // The name: the rest, or a table name picked by its first byte.
    std::string name(reinterpret_cast<const char*>(data + 8), size - 8);
    size_t count = 0;
    const Quil::IoTableRow* rows = Quil::ioTable(&count);
    if (!name.empty() && static_cast<uint8_t>(name[0]) >= 0xF0)
        name = rows[static_cast<uint8_t>(name[0]) % count].ioName;
    QString path;
    int32_t out = 0;
    if (Quil::convertIoParameter(name.c_str(), channel, value, &path, &out) < 0)
        return 0;
    fuzzCheck(name != "IO:Current/InCh/HPFFreq" || (out >= 0 && out < Quil::kHpfCount));
    if (path.isEmpty())
        return 0;
    Quil::MemAddress address;
    // A negative channel makes "-5", which is no index: the path is refused.
    const JResult r = Quil::parseMemPath(path, &address);
    fuzzCheck(channel < 0
        || (r >= 0 && address.function == "Backup" && address.indexes.size() == 2
            && address.indexes[0] == static_cast<uint32_t>(channel)));
    fuzzCheck(channel >= 0 || r < 0);
    return 0;
}
