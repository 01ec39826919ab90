// Confined file access. Names are resolved below a descriptor of the root
// folder by the kernel (openat2 with RESOLVE_BENEATH), so no check can be
// raced by a link swapped in between; kernels without it get a walk that
// refuses every link.
#include "fwupdate/tftp/tftp_file.h"

#include "fwupdate/tftp/tftp.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_segmentWalk{false};
std::atomic<unsigned> g_temporaryCount{0};

uint8_t codeOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case ENAMETOOLONG:
        return TFTP_ERR_NOT_FOUND;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return TFTP_ERR_DISK_FULL;
    default:
        // EXDEV (left the root), ELOOP (a final link), EACCES, EPERM, ...
        return TFTP_ERR_ACCESS;
    }
}

// openat of one segment without following a link; a link found there is
// refused like one that leaves the root.
int openSegment(int dirfd, const char* segment, int flags)
{
    const int fd = openat(dirfd, segment, flags | O_NOFOLLOW);
    if (fd < 0) {
        const int error = errno;
        struct stat st { };
        const bool link = fstatat(dirfd, segment, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
        errno = link ? ELOOP : error;
    }
    return fd;
}

// Opens `path` below dirfd one segment at a time without following any link.
int walkBeneath(int dirfd, const char* path, int flags)
{
    TFTPFd current(fcntl(dirfd, F_DUPFD_CLOEXEC, 0));
    if (!current.valid())
        return -1;
    std::string rest(path);
    for (;;) {
        const size_t slash = rest.find('/');
        const std::string segment = rest.substr(0, slash);
        if (slash == std::string::npos)
            return openSegment(current.get(), segment.empty() ? "." : segment.c_str(), flags);
        rest.erase(0, slash + 1);
        if (segment.empty() || segment == ".")
            continue;
        const int next = openSegment(current.get(), segment.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (next < 0)
            return -1;
        current.reset(next);
    }
}

// openat below dirfd that never leaves it; the final segment is not followed
// when flags has O_NOFOLLOW.
int openBeneath(int dirfd, const char* path, int flags, mode_t mode = 0)
{
    if (!g_segmentWalk.load()) {
        open_how how{};
        how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
        how.mode = (flags & O_CREAT) ? mode : 0;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        const long fd = syscall(SYS_openat2, dirfd, path, &how, sizeof how);
        if (fd >= 0 || errno != ENOSYS)
            return static_cast<int>(fd);
    }
    return walkBeneath(dirfd, path, flags | O_CLOEXEC);
}

uint8_t openRoot(const std::string& root, TFTPFd* out)
{
    out->reset(open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return out->valid() ? TFTP_ERR_NONE : TFTP_ERR_NOT_FOUND;
}

} // namespace

TFTPFd& TFTPFd::operator=(TFTPFd&& other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

int TFTPFd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void TFTPFd::reset(int fd)
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = fd;
}

void tftp_forceSegmentWalk(bool on)
{
    g_segmentWalk.store(on);
}

uint8_t tftp_checkName(const char* name)
{
    if (!name || name[0] == '\0')
        return TFTP_ERR_NOT_FOUND;
    if (name[0] == '/' || strlen(name) > TFTP_PATH_NAME_MAX)
        return TFTP_ERR_ACCESS;
    for (const char* segment = name; segment;) {
        const char* slash = strchr(segment, '/');
        const size_t length = slash ? static_cast<size_t>(slash - segment) : strlen(segment);
        if (length == 2 && segment[0] == '.' && segment[1] == '.')
            return TFTP_ERR_ACCESS;
        segment = slash ? slash + 1 : nullptr;
    }
    return TFTP_ERR_NONE;
}

uint8_t tftp_openForRead(const std::string& root, const char* name, TFTPFd* file)
{
    uint8_t code = tftp_checkName(name);
    if (code != TFTP_ERR_NONE)
        return code;
    TFTPFd folder;
    if ((code = openRoot(root, &folder)) != TFTP_ERR_NONE)
        return code;
    // Non-blocking, so that a fifo placed in the folder cannot stall the task.
    TFTPFd fd(openBeneath(folder.get(), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid())
        return codeOf(errno);
    struct stat st { };
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return TFTP_ERR_NOT_FOUND;
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags >= 0)
        fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    *file = std::move(fd);
    return TFTP_ERR_NONE;
}

long tftp_readBlock(int fd, uint8_t* buffer, size_t n)
{
    size_t got = 0;
    while (got < n) {
        const ssize_t r = read(fd, buffer + got, n - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += static_cast<size_t>(r);
    }
    return static_cast<long>(got);
}

TFTPWriteFile::~TFTPWriteFile()
{
    m_file.reset();
    if (!m_committed && m_folder.valid() && !m_temporary.empty())
        unlinkat(m_folder.get(), m_temporary.c_str(), 0);
}

uint8_t TFTPWriteFile::open(const std::string& root, const char* name)
{
    uint8_t code = tftp_checkName(name);
    if (code != TFTP_ERR_NONE)
        return code;
    TFTPFd rootFd;
    if ((code = openRoot(root, &rootFd)) != TFTP_ERR_NONE)
        return code;
    const char* slash = strrchr(name, '/');
    const std::string folder = slash ? std::string(name, static_cast<size_t>(slash - name)) : std::string(".");
    m_target = slash ? slash + 1 : name;
    if (m_target.empty() || m_target == "." || m_target == "..")
        return TFTP_ERR_NOT_FOUND;
    m_folder.reset(openBeneath(rootFd.get(), folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY));
    if (!m_folder.valid())
        return codeOf(errno);
    // Only a regular file (or nothing) may be replaced: never a link, which
    // the rename would replace rather than follow, nor a folder.
    struct stat st { };
    if (fstatat(m_folder.get(), m_target.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode))
        return TFTP_ERR_ACCESS;
    m_temporary = ".tftp-" + std::to_string(getpid()) + "-" + std::to_string(g_temporaryCount.fetch_add(1)) + ".part";
    m_file.reset(
        openat(m_folder.get(), m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!m_file.valid()) {
        const int error = errno;
        m_temporary.clear();
        return codeOf(error);
    }
    return TFTP_ERR_NONE;
}

uint8_t TFTPWriteFile::append(const uint8_t* data, size_t n)
{
    if (!m_file.valid() || m_committed)
        return TFTP_ERR_STATE;
    if (m_size + n > TFTP_RECEIVE_LIMIT)
        return TFTP_ERR_DISK_FULL;
    size_t done = 0;
    while (done < n) {
        const ssize_t w = write(m_file.get(), data + done, n - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return w < 0 ? codeOf(errno) : TFTP_ERR_DISK_FULL;
        done += static_cast<size_t>(w);
    }
    m_size += n;
    return TFTP_ERR_NONE;
}

uint8_t TFTPWriteFile::commit()
{
    if (!m_file.valid() || m_committed)
        return TFTP_ERR_STATE;
    if (fsync(m_file.get()) != 0)
        return codeOf(errno);
    m_file.reset();
    if (renameat(m_folder.get(), m_temporary.c_str(), m_folder.get(), m_target.c_str()) != 0)
        return codeOf(errno);
    m_committed = true;
    return TFTP_ERR_NONE;
}
