// Arbitrary request bytes into a server session over the in-memory test
// unit, in pieces cut where the first input byte says. Every reply must be
// whole lines that begin with a reply word, and a line never holds a raw
// line end inside it.
#include "scp/scp_server_session.h"
#include "tests/scp/scp_test_store.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool startsWith(const uint8_t* line, size_t length, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    return length >= n && std::memcmp(line, prefix, n) == 0;
}

void checkReplies(const std::vector<uint8_t>& out)
{
    if (!out.empty() && out.back() != '\n')
        std::abort();
    size_t start = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] != '\n')
            continue;
        const uint8_t* line = out.data() + start;
        const size_t length = i - start;
        if (!startsWith(line, length, "OK ") && !startsWith(line, length, "ERROR")
            && !startsWith(line, length, "{\"result\":\"OK\",") && !startsWith(line, length, "{\"result\":\"ERROR\""))
            std::abort();
        for (size_t k = 0; k < length; ++k) {
            if (line[k] == '\r' || line[k] == 0)
                std::abort();
        }
        start = i + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t piece = 1 + data[0] % 64;
    ++data;
    --size;
    scptest::TestParameters params;
    scptest::TestDevice device;
    scptest::TestMeters meters;
    SCP::ScpServerSession session(&device, &params, &meters, 0);
    if (session.init(2) != SCP::SCP_OK)
        std::abort();
    std::vector<uint8_t> out;
    for (size_t at = 0; at < size; at += piece) {
        const size_t n = size - at < piece ? size - at : piece;
        out.clear();
        session.receive(data + at, n, out);
        checkReplies(out);
    }
    return 0;
}
