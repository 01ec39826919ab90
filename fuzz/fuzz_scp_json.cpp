// Feeds arbitrary bytes to the JSON line decoder, whole and in pieces.
#include "fuzz/fuzz_scp_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzz_scp_lines::run<SCP::ScpDecoderJSON>(data, size);
}
