// Open files with their own 64-bit position; reads and writes go through
// pread/pwrite at that position.
#include "pbd/fsw/fsw_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>

using namespace fsw_detail;

namespace {

constexpr uint32_t kFileMarker = 0x46535746; // "FSWF"

} // namespace

struct FswFile {
    uint32_t marker = kFileMarker;
    int fd = -1;
    bool writable = false;
    uint64_t position = 0;
};

namespace {

FswResult checkFile(const FswFile* file)
{
    if (!file)
        return FSW_E_ARGUMENT;
    if (file->marker != kFileMarker || file->fd < 0)
        return FSW_E_HANDLE;
    return FSW_OK;
}

int openFlags(uint32_t mode)
{
    const bool write = (mode & FSW_MODE_WRITE) != 0;
    int flags = O_CLOEXEC | (write ? ((mode & FSW_MODE_READ) ? O_RDWR : O_WRONLY) : O_RDONLY);
    // A mode without the write bit only ever opens an existing file.
    if (write) {
        if (mode & FSW_MODE_CREATE_TRUNCATE)
            flags |= O_CREAT | O_TRUNC;
        else if (mode & FSW_MODE_OPEN_OR_CREATE)
            flags |= O_CREAT;
    }
    return flags;
}

} // namespace

FswResult fsw_openFile(FswFile** file, const char* path, uint32_t mode)
{
    if (!file)
        return FSW_E_ARGUMENT;
    *file = nullptr;
    if (FswResult r = checkPath(path); r < 0)
        return r;
    if ((mode & (FSW_MODE_READ | FSW_MODE_WRITE)) == 0)
        return FSW_E_ARGUMENT;
    auto record = std::unique_ptr<FswFile>(new (std::nothrow) FswFile);
    if (!record)
        return FSW_E_NO_MEMORY;

    int fd;
    do {
        fd = open(path, openFlags(mode), 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fromErrno(errno);
    struct stat st { };
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        // Folders are not files: refused as the access they would be.
        close(fd);
        return FSW_E_ACCESS;
    }
    record->fd = fd;
    record->writable = (mode & FSW_MODE_WRITE) != 0;
    *file = record.release();
    return FSW_OK;
}

FswResult fsw_closeFile(FswFile* file)
{
    if (FswResult r = checkFile(file); r < 0)
        return r;
    FswResult result = FSW_OK;
    // Writes go through to the disk: a failed flush is a failed close.
    if (file->writable && fsync(file->fd) != 0 && errno != EINVAL && errno != EROFS)
        result = fromErrno(errno);
    if (close(file->fd) != 0 && errno != EINTR && result >= 0)
        result = fromErrno(errno);
    file->marker = 0;
    file->fd = -1;
    delete file;
    return result;
}

FswResult fsw_readFile(void* buffer, uint32_t* readCount, uint32_t n, FswFile* file)
{
    if (readCount)
        *readCount = 0;
    if (!readCount || (!buffer && n > 0))
        return FSW_E_ARGUMENT;
    if (FswResult r = checkFile(file); r < 0)
        return r;
    auto* out = static_cast<char*>(buffer);
    uint32_t done = 0;
    while (done < n) {
        const ssize_t got = pread(file->fd, out + done, n - done, static_cast<off_t>(file->position));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            *readCount = done;
            return fromErrno(errno);
        }
        if (got == 0)
            break;
        done += static_cast<uint32_t>(got);
        file->position += static_cast<uint64_t>(got);
    }
    *readCount = done;
    return done == 0 ? FSW_END_OF_FILE : FSW_OK;
}

FswResult fsw_writeFile(const void* data, uint32_t* writtenCount, uint32_t n, FswFile* file)
{
    if (writtenCount)
        *writtenCount = 0;
    if (!writtenCount || (!data && n > 0))
        return FSW_E_ARGUMENT;
    if (FswResult r = checkFile(file); r < 0)
        return r;
    if (file->position + n >= kLimit)
        return FSW_E_TOO_LARGE;
    const auto* in = static_cast<const char*>(data);
    uint32_t done = 0;
    while (done < n) {
        const ssize_t put = pwrite(file->fd, in + done, n - done, static_cast<off_t>(file->position));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            *writtenCount = done;
            return fromErrno(errno);
        }
        if (put == 0) {
            *writtenCount = done;
            return FSW_E_OTHER;
        }
        done += static_cast<uint32_t>(put);
        file->position += static_cast<uint64_t>(put);
    }
    *writtenCount = done;
    return FSW_OK;
}

FswResult fsw_seekFile(int32_t distance, uint32_t origin, FswFile* file)
{
    if (FswResult r = checkFile(file); r < 0)
        return r;
    int64_t base = 0;
    switch (origin) {
    case FSW_SEEK_SET:
        break;
    case FSW_SEEK_CUR:
        base = static_cast<int64_t>(file->position);
        break;
    case FSW_SEEK_END: {
        struct stat st { };
        if (fstat(file->fd, &st) != 0)
            return fromErrno(errno);
        base = st.st_size;
        break;
    }
    default:
        return FSW_E_ARGUMENT;
    }
    const int64_t target = base + distance;
    if (target < 0)
        return FSW_E_OTHER; // a seek before the start leaves the position as it was
    if (static_cast<uint64_t>(target) >= kLimit)
        return FSW_E_TOO_LARGE;
    file->position = static_cast<uint64_t>(target);
    return FSW_OK;
}

FswResult fsw_tellFile(uint32_t* position, FswFile* file)
{
    if (!position)
        return FSW_E_ARGUMENT;
    *position = 0;
    if (FswResult r = checkFile(file); r < 0)
        return r;
    if (file->position >= kLimit)
        return FSW_E_TOO_LARGE;
    *position = static_cast<uint32_t>(file->position);
    return FSW_OK;
}
