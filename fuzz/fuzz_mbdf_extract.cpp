// Archives from untrusted bytes are extracted into a fresh folder; nothing
// may appear anywhere else. Odd first bytes wrap the input in a valid top
// and end block so that the fuzzer reaches the file blocks quickly.
#include "pbd/FileCache/fcache_MBDFFileBlock.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>

using namespace FILECACHE;

namespace {

const std::string& workFolder()
{
    static const std::string path = [] {
        static char folder[] = "/tmp/fuzz_mbdf_extract.XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        std::atexit([] { fcache_removePath(folder); });
        return std::string(folder);
    }();
    return path;
}

std::string wrap(const uint8_t* data, size_t size)
{
    MBDFTopBlock top;
    top.setFields(MBDF_ARCHIVE_KIND, "fuzz", "1", "x", 1);
    std::string out(reinterpret_cast<const char*>(top.header()), MBDF_HEADER_SIZE);
    out.append(reinterpret_cast<const char*>(top.part1Data()), top.part1Size(true));
    out.append(reinterpret_cast<const char*>(data + 1), size - 1);
    // Keep the end block on a 4-byte boundary.
    out.append((4 - out.size() % 4) % 4, '\0');
    std::string end(MBDF_HEADER_SIZE, '\0');
    std::memcpy(&end[0], "#END", 4);
    return out + end;
}

// Only the input file and the destination may exist in the work folder.
void checkWorkFolder(const std::string& folder)
{
    DIR* d = ::opendir(folder.c_str());
    if (!d)
        std::abort();
    while (dirent* e = ::readdir(d)) {
        const char* n = e->d_name;
        if (std::strcmp(n, ".") && std::strcmp(n, "..") && std::strcmp(n, "in.mbdf") && std::strcmp(n, "dest")) {
            std::fprintf(stderr, "written outside the destination: %s\n", n);
            std::abort();
        }
    }
    ::closedir(d);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string& folder = workFolder();
    const std::string path = folder + "/in.mbdf";
    const std::string dest = folder + "/dest";
    const std::string bytes = (data[0] & 1) ? wrap(data, size) : std::string(reinterpret_cast<const char*>(data), size);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);

    ArchiveFile archive;
    if (archive.open(folder.c_str(), "in.mbdf", nullptr) >= 0)
        archive.extractAll(dest.c_str(), nullptr, nullptr);

    // The same blocks extracted from memory.
    MBDF m(16);
    if (m.read(path.c_str(), true, nullptr, nullptr) >= 0) {
        for (MBDF::Position p = m.begin(); p != m.end(); p = m.next(p))
            if (auto* b = dynamic_cast<MBDFFileBlock*>(&m.blockAt(p)))
                b->extractTo(dest.c_str());
    }
    checkWorkFolder(folder);
    fcache_removePath(dest.c_str());
    return 0;
}
