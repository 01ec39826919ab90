// MBDF files from untrusted bytes: read from a file with second parts loaded
// and skipped, and blocks parsed from memory. Hangs are caught by the
// fuzzer's time-out.
#include "fuzz/fuzz_work_file.h"
#include "pbd/FileCache/fcache_MBDFFileBlock.h"

#include <string>

using namespace FILECACHE;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    mbdf_registerFileBlockFactory();
    const std::string& path = fuzz_work_file::write("in.mbdf", data, size);

    const int kinds[] = {4, 16, 28};
    for (int kind : kinds) {
        for (bool loadPart2 : {false, true}) {
            MBDF m(kind);
            if (m.read(path.c_str(), loadPart2, nullptr, nullptr) >= 0 && m.isValid()) {
                // Whatever was read can be listed and measured.
                for (MBDF::Position p = m.begin(); p != m.end(); p = m.next(p)) {
                    (void)m.blockOffset(p);
                    if (auto* b = dynamic_cast<MBDFFileBlock*>(&m.blockAt(p)))
                        (void)b->fileName();
                }
                (void)m.topName();
            }
        }
    }

    // Back-to-back blocks from memory; each consumes at least a header.
    size_t offset = 0;
    while (offset < size) {
        MBDFFileBlock block;
        size_t consumed = 0;
        if (block.parseFromMemory(data + offset, size - offset, &consumed) < 0 || consumed == 0)
            break;
        (void)block.fileName();
        offset += consumed;
    }
    return 0;
}
