// Address text parsing, differential against inet_pton, and printing back.
#include "dante/support/aud_inet.h"
#include "fuzz/fuzz_check.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text;
    if (!fuzzText(data, size, 64, &text))
        return 0;

    uint32_t ours = 0;
    in_addr ref{};
    const bool ok = aud_inet_aton(text.c_str(), &ours) == AUD_SUCCESS;
    fuzzCheck(ok == (inet_pton(AF_INET, text.c_str(), &ref) == 1));
    if (!ok)
        return 0;
    fuzzCheck(ours == ref.s_addr);

    // Printing gives the text back (inet_pton takes no leading zeros).
    char printed[AUD_INET_TEXT_SIZE];
    fuzzCheck(aud_inet_ntoa(ours, printed, sizeof printed) != nullptr);
    fuzzCheck(text == printed);
    fuzzCheck(aud_inet_ntoa(ours, printed, strlen(printed)) == nullptr);

    aud_sockaddr record{};
    fuzzCheck(aud_sockaddr_from_text(&record, AF_INET, text.c_str(), 9875) == AUD_SUCCESS);
    char line[AUD_SOCKADDR_TEXT_SIZE];
    fuzzCheck(text + ":9875 (len=16)" == aud_sockaddr_text(&record, line, sizeof line));
    return 0;
}
