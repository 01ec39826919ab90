// mDNS datagrams from the network: the parser stays inside the datagram,
// ends on every pointer chain, and what it returns can be queried again.
#include "dante/dnssd/mdns_message.h"
#include "fuzz/fuzz_check.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > MDNS_MESSAGE_MAX)
        return 0;
    // A copy of exactly the input's size, so a read past it is caught.
    const std::vector<uint8_t> bytes(data, data + size);
    mdns_message m;
    if (mdns_message_parse(bytes.data(), bytes.size(), &m) != AUD_SUCCESS)
        return 0;
    fuzzCheck(m.answer_count <= m.records.size());
    std::vector<mdns_question> questions;
    for (const auto& r : m.records) {
        fuzzCheck(r.name.size() <= 2 * MDNS_NAME_WIRE_MAX);
        if (r.type == MDNS_TYPE_TXT)
            fuzzCheck(r.rdata.size() <= size);
        questions.push_back({r.name, r.type, r.klass, false});
    }
    // Every parsed name encodes again and parses back to itself.
    std::vector<uint8_t> query;
    if (!questions.empty() && questions.size() < 64 && mdns_query_build(questions, &query) == AUD_SUCCESS) {
        mdns_message again;
        fuzzCheck(mdns_message_parse(query.data(), query.size(), &again) == AUD_SUCCESS);
        for (size_t i = 0; i < questions.size(); ++i)
            fuzzCheck(mdns_name_equal(again.questions[i].name, questions[i].name));
    }
    return 0;
}
