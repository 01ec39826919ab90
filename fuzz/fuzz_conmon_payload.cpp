// Replies of Dante modules (device payloads inside a channel message): the
// five readers and the file-location block reader. Nothing may read past
// the payload; what a reader returns lies inside it.
#include "dante/conmon/conmon_payload.h"
#include "fuzz/fuzz_check.h"

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > CONMON_PAYLOAD_MAX)
        return 0;
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
    memcpy(exact.get(), data, size);
    const uint8_t* p = exact.get();
    const uint8_t* end = p + size;

    conmon_module_info module;
    conmon_read_module_info(p, size, &module);
    conmon_device_info device;
    if (conmon_read_device_info(p, size, &device) == AUD_SUCCESS)
        fuzzCheck(strlen(device.manufacturer_name) < CONMON_INFO_TEXT_SIZE
            && strlen(device.model_name) < CONMON_INFO_TEXT_SIZE);
    conmon_iftable table;
    if (conmon_read_interface_table(p, size, &table) == AUD_SUCCESS)
        fuzzCheck(12 + size_t(table.count) * 28 <= size);
    conmon_upgrade_progress progress;
    conmon_read_upgrade_progress(p, size, &progress);
    conmon_file_location loc;
    if (conmon_read_upgrade_status(p, size, &loc) == AUD_SUCCESS && loc.path) {
        const char* path = loc.path;
        fuzzCheck(reinterpret_cast<const uint8_t*>(path) >= p && reinterpret_cast<const uint8_t*>(path) < end);
        fuzzCheck(memchr(path, 0, size_t(end - reinterpret_cast<const uint8_t*>(path))) != nullptr);
    }
    // The block reader at every offset the first two bytes may name.
    if (size >= 2) {
        const size_t offset = size_t(p[0] << 8 | p[1]);
        if (conmon_file_location_read(p, size, offset, &loc) == AUD_SUCCESS) {
            fuzzCheck(offset % 4 == 0 && offset + CONMON_LOCATION_BLOCK_SIZE <= size);
            if (loc.path)
                fuzzCheck(memchr(loc.path, 0, size_t(end - reinterpret_cast<const uint8_t*>(loc.path))) != nullptr);
        }
    }
    return 0;
}
