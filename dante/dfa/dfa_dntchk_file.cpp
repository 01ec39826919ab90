// Reading a .dnt file whole into a buffer of its own and checking it.
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_internal.h"
#include "dante/support/aud_string.h"
#include "dante/support/aud_text.h"
#include "pbd/fsw/fsw.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr size_t kUtf8PathMax = 255;

struct FileCloser {
    void operator()(FswFile* file) const { fsw_closeFile(file); }
};
using FileHandle = std::unique_ptr<FswFile, FileCloser>;

// Reads exactly size bytes; false (with its line printed) otherwise.
bool readWhole(const char* path, std::vector<uint8_t>* bytes)
{
    FswFile* raw = nullptr;
    if (fsw_openFile(&raw, path, FSW_MODE_READ) < 0 || raw == nullptr) {
        dfa_print("[dntchk] Seek error (to top).\n");
        return false;
    }
    const FileHandle file(raw);
    size_t done = 0;
    while (done < bytes->size()) {
        uint32_t got = 0;
        const FswResult r = fsw_readFile(bytes->data() + done, &got, static_cast<uint32_t>(bytes->size() - done), raw);
        if (r < 0 || r == FSW_END_OF_FILE || got == 0)
            break;
        done += got;
    }
    if (done < bytes->size()) {
        dfa_print("[dntchk] Can not read to the end of file. Size:%d Read:%d\n", int(bytes->size()), int(done));
        return false;
    }
    return true;
}

// The UTF-8 conversion stops at an unpaired surrogate, which would leave the
// name of another file: such a path is refused.
bool wellFormed(const char16_t* path, size_t units)
{
    for (size_t i = 0; i < units; ++i) {
        const char16_t unit = path[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF)
            ++i;
        else if (unit >= 0xD800 && unit <= 0xDFFF)
            return false;
    }
    return true;
}

DfaResult readAndCheck(const char* path, DntFileInfo* info)
{
    uint32_t size = 0;
    if (fsw_getFileSize(&size, path) < 0)
        return DFA_ERR_DNT_NOT_FOUND;
    if (size > DNT_SIZE_LIMIT) {
        dfa_print("[dntchk] File size (%d) exceeds maximum limit.\n", int(size));
        return DFA_ERR_DNT_SIZE;
    }
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        return DFA_ERR_DNT_ACCESS;
    }
    if (!readWhole(path, &bytes))
        return DFA_ERR_DNT_ACCESS;
    return dfa_dntchk_check(bytes.data(), bytes.size(), info);
}

} // namespace

DfaResult dfa_dntchk_dntfile(const char16_t* path, DntFileInfo* info)
{
    if (path == nullptr || info == nullptr)
        return DFA_ERR_PARAM;
    *info = DntFileInfo{};
    const size_t units = aud_wcslcpy(info->path, path, DNT_PATH_CHARS);
    char shown[DNT_PATH_CHARS + 1];
    aud_wcs_to_mbs(shown, info->path, sizeof shown);
    dfa_print("[dntchk] Start checking dnt file [%s]\n", shown);

    DfaResult r = DFA_ERR_DNT_NOT_FOUND;
    char utf8[kUtf8PathMax + 1];
    // A path that was cut or does not fit the file-system wrapper names
    // another file: it is not looked for at all.
    if (units < DNT_PATH_CHARS && wellFormed(path, units) && aud_wcs_to_mbs(utf8, path, sizeof utf8) <= kUtf8PathMax)
        r = readAndCheck(utf8, info);
    dfa_print("[dntchk] End checking dnt file [%s]. infoExist:%d\n", shown, info->info_exist);
    return r;
}
