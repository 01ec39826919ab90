// Byte builders for MBDF test files, and an observer that records reports.
#pragma once

#include "pbd/FileCache/fcache_MBDF.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mbdftest {

inline void putBE32(std::string& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>(v >> shift));
}

inline std::string zeros(size_t n)
{
    return std::string(n, '\0');
}

// A block with the given name area and parts; the lengths in the header may
// be overridden to describe parts that are not there.
inline std::string block(const std::string& tag, const std::string& sub, size_t tagWidth, const std::string& p1 = "",
    const std::string& p2 = "", int64_t l1 = -1, int64_t l2 = -1)
{
    std::string out = tag.substr(0, tagWidth);
    out.resize(tagWidth, '\0');
    out += sub.substr(0, 24 - tagWidth);
    out.resize(24, '\0');
    putBE32(out, static_cast<uint32_t>(l1 < 0 ? p1.size() : l1));
    putBE32(out, static_cast<uint32_t>(l2 < 0 ? p2.size() : l2));
    putBE32(out, 0);
    out += p1 + zeros((4 - p1.size() % 4) % 4);
    out += p2 + zeros((4 - p2.size() % 4) % 4);
    return out;
}

inline std::string topFields(size_t size, const std::string& name = "unit", const std::string& version = "v1")
{
    std::string f = name;
    f.resize(16, '\0');
    f += version;
    f.resize(size, '\0');
    return f;
}

inline std::string topBlock(
    size_t part1Size = 48, const std::string& kind = "Archive", const std::string& name = "unit")
{
    return block("#VALDOR MBDF", kind, 12, topFields(part1Size, name));
}

inline std::string endBlock()
{
    return block("#END", "", 24);
}

struct Report {
    int direction;
    uint64_t current;
    uint64_t total;
    std::string text;
    bool finished;
};

class RecordingObserver : public FILECACHE::IMBDFObserver {
public:
    JResult progress(
        int direction, uint64_t current, uint64_t total, const char*, const char* text, bool finished) override
    {
        reports.push_back({direction, current, total, text ? text : "", finished});
        if (onProgress)
            onProgress(reports.back());
        return 0;
    }
    JResult error(int direction, const char*, JResult code) override
    {
        errors.push_back({direction, code});
        return 0;
    }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> t;
        for (const auto& r : reports)
            t.push_back(r.text);
        return t;
    }

    std::vector<Report> reports;
    std::vector<std::pair<int, JResult>> errors;
    std::function<void(const Report&)> onProgress;
};

} // namespace mbdftest
