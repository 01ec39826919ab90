// File size, times and attributes.
#include "pbd/fsw/fsw_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

using namespace fsw_detail;

namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// An existing file opened for reading, closed on scope exit.
class ReadHandle {
public:
    explicit ReadHandle(const char* path)
    {
        do {
            m_fd = open(path, O_RDONLY | O_CLOEXEC);
        } while (m_fd < 0 && errno == EINTR);
        m_error = m_fd < 0 ? errno : 0;
    }
    ~ReadHandle()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    ReadHandle(const ReadHandle&) = delete;
    ReadHandle& operator=(const ReadHandle&) = delete;

    int fd() const { return m_fd; }
    FswResult result() const { return fromErrno(m_error); }

private:
    int m_fd = -1;
    int m_error = 0;
};

FswDate toDate(const struct tm& t)
{
    FswDate date{};
    date.year = static_cast<uint16_t>(t.tm_year + 1900);
    date.month = static_cast<uint8_t>(t.tm_mon + 1);
    date.day = static_cast<uint8_t>(t.tm_mday);
    date.hour = static_cast<uint8_t>(t.tm_hour);
    date.minute = static_cast<uint8_t>(t.tm_min);
    date.second = static_cast<uint8_t>(t.tm_sec);
    return date;
}

bool utcDate(int64_t seconds, FswDate* date)
{
    const time_t value = static_cast<time_t>(seconds);
    struct tm t { };
    if (!gmtime_r(&value, &t) || t.tm_year + 1900 < 0 || t.tm_year + 1900 > 0xFFFF)
        return false;
    *date = toDate(t);
    return true;
}

bool isLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool isValidDate(const FswDate& d)
{
    static const uint8_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.month < 1 || d.month > 12 || d.day < 1)
        return false;
    const int limit = days[d.month - 1] + ((d.month == 2 && isLeap(d.year)) ? 1 : 0);
    return d.day <= limit && d.hour < 24 && d.minute < 60 && d.second < 60;
}

bool isHiddenName(const char* path)
{
    const char* base = std::strrchr(path, '/');
    base = base ? base + 1 : path;
    return base[0] == '.' && std::strcmp(base, ".") != 0 && std::strcmp(base, "..") != 0;
}

} // namespace

FswResult fsw_getFileSize(uint32_t* size, const char* path)
{
    if (!size)
        return FSW_E_ARGUMENT;
    *size = 0;
    if (FswResult r = checkPath(path); r < 0)
        return r;
    ReadHandle handle(path);
    if (handle.fd() < 0)
        return handle.result();
    struct stat st { };
    if (fstat(handle.fd(), &st) != 0)
        return fromErrno(errno);
    if (S_ISDIR(st.st_mode))
        return FSW_E_ACCESS;
    if (static_cast<uint64_t>(st.st_size) >= kLimit)
        return FSW_E_TOO_LARGE;
    *size = static_cast<uint32_t>(st.st_size);
    return FSW_OK;
}

FswResult fsw_getFileTime(FswDate* creation, FswDate* lastAccess, FswDate* lastWrite, const char* path)
{
    if (!creation && !lastAccess && !lastWrite)
        return FSW_E_ARGUMENT;
    if (FswResult r = checkPath(path); r < 0)
        return r;
    ReadHandle handle(path);
    if (handle.fd() < 0)
        return handle.result();
    struct statx st { };
    if (statx(handle.fd(), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
        return fromErrno(errno);
    if (S_ISDIR(st.stx_mode))
        return FSW_E_ACCESS; // as for the size: folders are not files
    // Not every file system keeps a creation time.
    const int64_t born = (st.stx_mask & STATX_BTIME) ? st.stx_btime.tv_sec : st.stx_mtime.tv_sec;
    FswDate c{}, a{}, w{};
    if (!utcDate(born, &c) || !utcDate(st.stx_atime.tv_sec, &a) || !utcDate(st.stx_mtime.tv_sec, &w))
        return FSW_E_OTHER;
    if (creation)
        *creation = c;
    if (lastAccess)
        *lastAccess = a;
    if (lastWrite)
        *lastWrite = w;
    return FSW_OK;
}

FswResult fsw_utcToLocalTime(FswDate* local, const FswDate* utc)
{
    if (!local)
        return FSW_E_ARGUMENT;
    const FswDate fallback{2000, 1, 1, 0, 0, 0};
    *local = fallback;
    if (!utc || !isValidDate(*utc))
        return FSW_E_FAIL;
    struct tm t { };
    t.tm_year = utc->year - 1900;
    t.tm_mon = utc->month - 1;
    t.tm_mday = utc->day;
    t.tm_hour = utc->hour;
    t.tm_min = utc->minute;
    t.tm_sec = utc->second;
    const time_t seconds = timegm(&t);
    struct tm converted { };
    if (!localtime_r(&seconds, &converted) || converted.tm_year + 1900 < 0 || converted.tm_year + 1900 > 0xFFFF)
        return FSW_E_FAIL;
    *local = toDate(converted);
    return FSW_OK;
}

FswResult fsw_getAttributes(uint32_t* attributes, const char* path)
{
    if (!attributes)
        return FSW_E_ARGUMENT;
    *attributes = 0;
    if (FswResult r = checkPath(path); r < 0)
        return r;
    // A link is never reported as a folder, so callers remove the link and
    // not what it points to; its other attributes are those of the target.
    struct stat own { };
    if (lstat(path, &own) != 0)
        return fromErrno(errno);
    struct stat target = own;
    if (S_ISLNK(own.st_mode) && stat(path, &target) != 0)
        target = own;
    uint32_t bits = 0;
    if (S_ISDIR(own.st_mode))
        bits |= FSW_ATTR_DIRECTORY;
    if (!S_ISLNK(target.st_mode) && (target.st_mode & kWriteBits) == 0)
        bits |= FSW_ATTR_READONLY;
    if (isHiddenName(path))
        bits |= FSW_ATTR_HIDDEN;
    *attributes = bits ? bits : FSW_ATTR_NORMAL;
    return FSW_OK;
}

FswResult fsw_setAttributes(uint32_t attributes, const char* path)
{
    if (FswResult r = checkPath(path); r < 0)
        return r;
    struct stat st { };
    if (stat(path, &st) != 0)
        return fromErrno(errno);
    mode_t mode = st.st_mode & 07777;
    if (attributes & FSW_ATTR_READONLY)
        mode &= ~kWriteBits;
    else if ((mode & kWriteBits) == 0)
        mode |= S_IWUSR;
    if (mode != (st.st_mode & 07777) && chmod(path, mode) != 0)
        return fromErrno(errno);
    return FSW_OK;
}
