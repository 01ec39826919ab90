#include "pbd/FileCache/fcache_BinaryAccessor.h"

#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace FILECACHE {

uint32_t getUInt(const void* source, int width, bool bigEndian)
{
    if (!source)
        return 0;
    const auto* b = static_cast<const uint8_t*>(source);
    if (width != 1 && width != 2 && width != 4) {
        JLIB_DEBUGBRK();
        return 0;
    }
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
        const int index = bigEndian ? i : width - 1 - i;
        value = (value << 8) | b[index];
    }
    return value;
}

JResult putUInt(void* destination, int width, uint32_t value, bool bigEndian)
{
    if (!destination)
        return FCACHE_E_FAIL;
    if (width != 1 && width != 2 && width != 4) {
        JLIB_DEBUGBRK();
        return FCACHE_E_FAIL;
    }
    auto* b = static_cast<uint8_t*>(destination);
    for (int i = 0; i < width; ++i) {
        const int index = bigEndian ? width - 1 - i : i;
        b[index] = static_cast<uint8_t>(value >> (8 * i));
    }
    return 0;
}

JResult fill(void* destination, size_t length, uint8_t byte)
{
    if (!destination || length == 0)
        return FCACHE_E_FAIL;
    std::memset(destination, byte, length);
    return 0;
}

JResult copyToCString(char* destination, size_t destinationSize, const void* source, size_t sourceLength)
{
    if (!destination || !source || destinationSize == 0 || sourceLength == 0)
        return FCACHE_E_FAIL;
    const size_t n = sourceLength < destinationSize - 1 ? sourceLength : destinationSize - 1;
    std::memcpy(destination, source, n);
    destination[n] = 0;
    return 0;
}

JResult putFixedBytes(void* field, size_t width, const void* source, size_t sourceLength)
{
    if (!field || !source || width == 0 || sourceLength == 0 || width < sourceLength)
        return FCACHE_E_FAIL;
    std::memcpy(field, source, sourceLength);
    std::memset(static_cast<uint8_t*>(field) + sourceLength, 0, width - sourceLength);
    return 0;
}

JResult putFixedText(void* field, size_t width, const char* text)
{
    if (!field || width == 0)
        return FCACHE_E_FAIL;
    auto* out = static_cast<char*>(field);
    size_t n = 0;
    if (text) {
        while (n < width && text[n] != 0) {
            out[n] = text[n];
            ++n;
        }
    }
    std::memset(out + n, 0, width - n);
    return 0;
}

JResult xorScramble(void* buffer, size_t length, uint8_t key)
{
    if (!buffer || length == 0)
        return FCACHE_E_FAIL;
    if (key == 0)
        return 0;
    auto* b = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < length; ++i)
        b[i] ^= key;
    return 0;
}

// ---------------------------------------------------------------------------

namespace {

constexpr uint32_t kModeBits[4] = {
    FSW_MODE_READ | FSW_MODE_WRITE | FSW_MODE_CREATE_TRUNCATE,
    FSW_MODE_READ | FSW_MODE_WRITE | FSW_MODE_OPEN_OR_CREATE,
    FSW_MODE_READ | FSW_MODE_WRITE | FSW_MODE_OPEN_EXISTING,
    FSW_MODE_READ | FSW_MODE_OPEN_EXISTING,
};

} // namespace

FileAccessor::~FileAccessor()
{
    if (m_file)
        fsw_closeFile(m_file);
}

JResult FileAccessor::open(const char* path, int mode)
{
    if (m_file)
        return FCACHE_E_STATE;
    if (!path || mode < 0 || mode > 3)
        return FCACHE_E_ARGUMENT;
    FswFile* file = nullptr;
    const JResult r = fsw_openFile(&file, path, kModeBits[mode]);
    if (r < 0)
        return r;
    m_file = file;
    return r;
}

JResult FileAccessor::close()
{
    if (!m_file)
        return FCACHE_E_STATE;
    const JResult r = fsw_closeFile(m_file);
    // The wrapper frees the record whatever the outcome, so it is never kept.
    m_file = nullptr;
    return r;
}

JResult FileAccessor::read(void* buffer, uint32_t n, uint32_t* count)
{
    if (!m_file)
        return FCACHE_E_STATE;
    return fsw_readFile(buffer, count, n, m_file);
}

JResult FileAccessor::write(const void* data, uint32_t n, uint32_t* count)
{
    if (!m_file)
        return FCACHE_E_STATE;
    return fsw_writeFile(data, count, n, m_file);
}

JResult FileAccessor::seek(int origin, int64_t distance)
{
    if (!m_file)
        return FCACHE_E_STATE;
    if (origin < 0 || origin > 2)
        return FCACHE_E_ARGUMENT;
    constexpr int64_t step = std::numeric_limits<int32_t>::max();
    uint32_t from = static_cast<uint32_t>(origin);
    do {
        int64_t d = distance;
        if (d > step)
            d = step;
        else if (d < -step)
            d = -step;
        const JResult r = fsw_seekFile(static_cast<int32_t>(d), from, m_file);
        if (r < 0)
            return r;
        distance -= d;
        from = FSW_SEEK_CUR;
    } while (distance != 0);
    return 0;
}

uint32_t FileAccessor::tell() const
{
    uint32_t position = 0;
    if (!m_file || fsw_tellFile(&position, m_file) < 0)
        return 0;
    return position;
}

uint32_t FileAccessor::size() const
{
    if (!m_file)
        return 0;
    uint32_t position = 0;
    uint32_t end = 0;
    if (fsw_tellFile(&position, m_file) < 0)
        return 0;
    if (fsw_seekFile(0, FSW_SEEK_END, m_file) < 0 || fsw_tellFile(&end, m_file) < 0)
        end = 0;
    // Back to where we were, in steps the wrapper accepts.
    fsw_seekFile(0, FSW_SEEK_SET, m_file);
    uint32_t left = position;
    while (left > 0) {
        const uint32_t d = left > 0x7FFFFFFFu ? 0x7FFFFFFFu : left;
        if (fsw_seekFile(static_cast<int32_t>(d), FSW_SEEK_CUR, m_file) < 0)
            break;
        left -= d;
    }
    return end;
}

void FileDateTime::assign(const FswDate& date)
{
    year = (date.year < 2000 || date.year > 3000) ? 2000 : date.year;
    month = (date.month == 0 || date.month > 12) ? 1 : date.month;
    day = (date.day == 0 || date.day > 31) ? 1 : date.day;
    hour = date.hour > 23 ? 0 : date.hour;
    minute = date.minute > 59 ? 0 : date.minute;
    second = date.second > 61 ? 0 : date.second;
}

JResult getAttributes(const char* path, bool* readOnly, bool* hidden, bool* reserved, bool* isDirectory)
{
    bool* flags[4] = {readOnly, hidden, reserved, isDirectory};
    for (bool* f : flags)
        if (f)
            *f = false;
    if (!path)
        return FCACHE_E_ARGUMENT;
    uint32_t attributes = 0;
    const JResult r = fsw_getAttributes(&attributes, path);
    if (r < 0)
        return r;
    const uint32_t bits[4] = {FSW_ATTR_READONLY, FSW_ATTR_HIDDEN, 0x40, FSW_ATTR_DIRECTORY};
    for (int i = 0; i < 4; ++i)
        if (flags[i])
            *flags[i] = (attributes & bits[i]) != 0;
    return r;
}

JResult setAttributes(const char* path, bool readOnly, bool hidden, bool reserved)
{
    if (!path)
        return FCACHE_E_ARGUMENT;
    uint32_t attributes = 0;
    if (readOnly)
        attributes |= FSW_ATTR_READONLY;
    if (hidden)
        attributes |= FSW_ATTR_HIDDEN;
    if (reserved)
        attributes |= 0x40;
    return fsw_setAttributes(attributes, path);
}

JResult makeDirectory(const char* path)
{
    if (!path)
        return FCACHE_E_ARGUMENT;
    return fsw_makeDirs(path);
}

int64_t fileSize(const char* path)
{
    if (!path)
        return FCACHE_E_ARGUMENT;
    uint32_t size = 0;
    if (fsw_getFileSize(&size, path) < 0)
        return 0;
    return size;
}

std::string joinPath(const char* directory, const char* name)
{
    if (!name)
        return std::string();
    if (!directory || !*directory)
        return std::string(name);
    std::string path(directory);
    path += '/';
    path += name;
    return path;
}

} // namespace FILECACHE

JResult fcache_removePath(const char* path)
{
    if (!path)
        return FILECACHE::FCACHE_E_ARGUMENT;
    // The path itself may be a link to a folder elsewhere: remove the link,
    // never what it points to.
    struct stat st;
    if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode))
        return fsw_deleteFile(path);
    bool isDirectory = false;
    const JResult r = FILECACHE::getAttributes(path, nullptr, nullptr, nullptr, &isDirectory);
    if (r >= 0 && isDirectory)
        return fsw_removeDir(path, true);
    return fsw_deleteFile(path);
}
