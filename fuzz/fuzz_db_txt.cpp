// Resolved TXT records from the network, through every resolved handler of
// the browser into its tree, then the matching loss: TXT look-ups stay
// inside the record, identifier and number texts are bounded, the
// "name@device" split holds, and the tree stays sorted.
#include "dante/browse/db_internal.h"
#include "fuzz/fuzz_check.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > 1200)
        return 0;
    static db_browse* browse = [] {
        db_browse* b = nullptr;
        db_browse_new(nullptr, 0x3F, &b);
        return b;
    }();
    const unsigned type = data[0] % 6;
    const size_t nameLength = data[1] % 64;
    if (size - 2 < nameLength)
        return 0;
    const std::string name(reinterpret_cast<const char*>(data + 2), nameLength);
    const size_t txtLength = size - 2 - nameLength;
    // A copy of exactly the record's size, so a read past it is caught.
    const std::string txt(reinterpret_cast<const char*>(data + 2 + nameLength), txtLength);

    TXTRecordContainsKey(static_cast<uint16_t>(txt.size()), txt.data(), "id");
    uint8_t valueLength = 0;
    const void* v = TXTRecordGetValuePtr(static_cast<uint16_t>(txt.size()), txt.data(), "enc", &valueLength);
    if (v)
        fuzzCheck(static_cast<const char*>(v) + valueLength <= txt.data() + txt.size());

    db_resolve r;
    r.browse = browse;
    r.type = type;
    r.network = data[1] >> 7;
    r.name = name;
    db_handle_resolved(
        &r, "host", 4440, static_cast<uint16_t>(txt.size()), reinterpret_cast<const unsigned char*>(txt.data()));
    for (size_t i = 1; i < db_browse_num_devices(browse); ++i)
        fuzzCheck(std::string(db_node_name(db_browse_device_at(browse, i - 1)))
            < db_node_name(db_browse_device_at(browse, i)));
    for (size_t i = 0; i < db_browse_num_devices(browse); ++i) {
        const db_node* d = db_browse_device_at(browse, i);
        fuzzCheck(std::string(db_node_name(d)).size() < 64 && std::string(db_node_default_name(d)).size() < 32);
    }
    db_handle_lost(browse, type, r.network, name);
    browse->error = AUD_SUCCESS;
    return 0;
}
