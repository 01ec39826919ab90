// Directory searches: one current entry at a time.
#include "pbd/fsw/fsw_internal.h"

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

using namespace fsw_detail;

namespace {

constexpr uint32_t kSearchMarker = 0x46535753; // "FSWS"

} // namespace

struct FswSearch {
    uint32_t marker = kSearchMarker;
    DIR* dir = nullptr;
    bool hasCurrent = false;
    std::string current;

    ~FswSearch()
    {
        if (dir)
            closedir(dir);
    }

    void advance()
    {
        const dirent* entry = readdir(dir);
        hasCurrent = entry != nullptr;
        current = entry ? entry->d_name : "";
    }
};

namespace {

FswResult checkSearch(const FswSearch* search)
{
    if (!search)
        return FSW_E_ARGUMENT;
    return search->marker == kSearchMarker && search->dir ? FSW_OK : FSW_E_HANDLE;
}

// Length of the longest prefix of text that fits in `room` bytes without
// cutting a multi-byte character.
size_t fittingLength(const std::string& text, size_t room)
{
    if (text.size() <= room)
        return text.size();
    size_t length = room;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return length;
}

} // namespace

FswResult fsw_findFirst(FswSearch** search, const char* directory)
{
    if (!search)
        return FSW_E_ARGUMENT;
    *search = nullptr;
    if (FswResult r = checkPath(directory); r < 0)
        return r;
    auto record = std::unique_ptr<FswSearch>(new (std::nothrow) FswSearch);
    if (!record)
        return FSW_E_NO_MEMORY;
    record->dir = opendir(directory);
    if (!record->dir)
        return fromErrno(errno);
    record->advance();
    if (!record->hasCurrent)
        return FSW_E_NOT_FOUND;
    *search = record.release();
    return FSW_OK;
}

FswResult fsw_getEntryNameSize(FswSearch* search, uint32_t* size)
{
    if (!size)
        return FSW_E_ARGUMENT;
    *size = 0;
    if (FswResult r = checkSearch(search); r < 0)
        return r;
    if (!search->hasCurrent)
        return FSW_E_NOT_FOUND;
    *size = static_cast<uint32_t>(search->current.size() + 1);
    return FSW_OK;
}

FswResult fsw_findNext(FswSearch* search, char* name, uint32_t bufferSize)
{
    if (!name || bufferSize == 0)
        return FSW_E_ARGUMENT;
    if (FswResult r = checkSearch(search); r < 0)
        return r;
    name[0] = '\0';
    if (!search->hasCurrent)
        return FSW_E_NOT_FOUND;
    // A name that is not UTF-8 can't be handed on: it reads as empty.
    const std::string& current = search->current;
    if (isValidUtf8(current.data(), current.size())) {
        const size_t length = fittingLength(current, bufferSize - 1);
        std::memcpy(name, current.data(), length);
        name[length] = '\0';
    }
    search->advance();
    return FSW_OK;
}

FswResult fsw_findClose(FswSearch* search)
{
    if (FswResult r = checkSearch(search); r < 0)
        return r;
    search->marker = 0;
    delete search;
    return FSW_OK;
}
