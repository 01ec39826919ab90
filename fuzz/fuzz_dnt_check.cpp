// A .dnt file from untrusted bytes: the check reads nothing outside the
// file, gives one of its codes, and the file information it produces is
// safe to match against a device and to filter.
//
// Input: one flag byte, then the file. Flag bit 0 re-seals a version-3
// file's CRC first, so mutations reach the descriptor and capability checks
// behind it.
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_internal.h"
#include "fuzz/fuzz_check.h"

#include <cstring>
#include <memory>

namespace {

void reseal(uint8_t* file, size_t size)
{
    if (size < 28)
        return;
    const uint8_t zero[4] = {};
    uint32_t crc = dfa_crc32(0, file, 24);
    crc = dfa_crc32(crc, zero, 4);
    crc = dfa_crc32(crc, file + 28, size - 28);
    for (int i = 0; i < 4; ++i)
        file[24 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

bool knownCode(DfaResult code)
{
    switch (code) {
    case DFA_ERR_NOERR:
    case DFA_ERR_DNT_CHKSUM:
    case DFA_ERR_DNT_FORMAT:
    case DFA_ERR_DNT_DEVICE_ID:
    case DFA_ERR_DNT_MANF_ID:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        dfa_set_print_level(0);
        return true;
    }();
    (void)quiet;
    if (size == 0)
        return 0;
    const uint8_t flags = data[0];
    const size_t length = size - 1;
    // An exact-size copy so the sanitizer sees any read past the file.
    std::unique_ptr<uint8_t[]> file(new uint8_t[length ? length : 1]);
    std::memcpy(file.get(), data + 1, length);
    if (flags & 1)
        reseal(file.get(), length);

    const auto info = std::make_unique<DntFileInfo>();
    const DfaResult code = dfa_dntchk_check(file.get(), length, info.get());
    fuzzCheck(knownCode(code));
    fuzzCheck((code == DFA_ERR_NOERR) == (info->info_exist == 1));
    fuzzCheck(info->md_count <= DNT_MAX_DESCRIPTORS);

    DfaOverride overrides[2] = {};
    overrides[1].enabled = 1;
    std::memcpy(overrides[1].model_id, data + 1, length < 8 ? length : 8);
    for (const DfaOverride& record : overrides) {
        DfaDeviceInfo device{};
        std::memcpy(device.manf_model_id, info->md[0].model_id, DFA_MODEL_ID_SIZE);
        fuzzCheck(dfa_dntchk_devinfo(&record, info.get(), &device) == DFA_ERR_NOERR);
        fuzzCheck(code == DFA_ERR_NOERR || device.check_flags == DNT_FLAG_NO_INFO);

        DfaFilterInfo filter{};
        const DfaResult r = dfa_dntchk_filter_info(&record, info.get(), &filter);
        fuzzCheck(r == DFA_ERR_NOERR || r == DFA_ERR_FILTER_COND || r == DFA_ERR_DNT_NOT_FOUND);
        fuzzCheck(filter.model_id_count <= 16);

        const auto one = std::make_unique<DntFileInfo>();
        const DfaResult m = dfa_dntchk_model_info(record.model_id, info.get(), one.get());
        fuzzCheck(m != DFA_ERR_NOERR || one->md_count == 1);
    }
    return 0;
}
