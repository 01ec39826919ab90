// SAP datagrams from the network: the header check and the SDP parser stay
// inside the datagram and every text they keep is terminated in its field.
#include "dante/browse/db_sap.h"
#include "fuzz/fuzz_check.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 65536)
        return 0;
    const std::vector<uint8_t> bytes(data, data + size);
    sdp_session s;
    if (get_sdp_parsed_structure(bytes.data(), bytes.size(), &s) != AUD_SUCCESS)
        return 0;
    fuzzCheck(std::memchr(s.user_name, 0, sizeof s.user_name) != nullptr);
    fuzzCheck(std::memchr(s.session_name, 0, sizeof s.session_name) != nullptr);
    fuzzCheck(std::memchr(s.session_info, 0, sizeof s.session_info) != nullptr);
    fuzzCheck(std::memchr(s.title, 0, sizeof s.title) != nullptr);
    fuzzCheck(std::memchr(s.ptp_domain, 0, sizeof s.ptp_domain) != nullptr);
    fuzzCheck(s.encoding_bits == 0 || s.encoding_bits == 16 || s.encoding_bits == 24 || s.encoding_bits == 32);
    return 0;
}
