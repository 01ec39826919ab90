// A scratch file for fuzz targets whose parser reads from a path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace fuzz_work_file {

// Replaces the content of `name` in a private folder, made on first use and
// removed at exit, with the input; returns the file's path. One name per
// program: the first call fixes it.
inline const std::string& write(const char* name, const uint8_t* data, size_t size)
{
    static std::string path;
    if (path.empty()) {
        static char folder[] = "/tmp/quillon_fuzz.XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        path = std::string(folder) + "/" + name;
        std::atexit([] {
            ::unlink(path.c_str());
            ::rmdir(folder);
        });
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size > 0)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
    return path;
}

} // namespace fuzz_work_file
