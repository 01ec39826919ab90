// Feeds arbitrary bytes to the RAW line decoder, whole and in pieces.
#include "fuzz/fuzz_scp_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzz_scp_lines::run<SCP::ScpDecoderRAW>(data, size);
}
