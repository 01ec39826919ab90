// Confined folder walk and file creation for the package extraction.
#include "fwupdate/mavik/mavik_confined.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The next segment of `path` from `from`; npos-safe.
std::string segmentAt(const std::string& path, size_t from, size_t* next)
{
    const size_t slash = path.find('/', from);
    *next = slash == std::string::npos ? path.size() : slash + 1;
    return path.substr(from, (slash == std::string::npos ? path.size() : slash) - from);
}

int openSubfolder(int parent, const std::string& name, bool create, TFTPFd* out)
{
    if (create && mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST)
        return errno;
    const int fd = openat(parent, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    out->reset(fd);
    return 0;
}

} // namespace

int mavik_openRoot(const std::string& root, bool create, TFTPFd* out)
{
    if (root.empty())
        return ENOENT;
    const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    int fd = open(root.c_str(), flags);
    if (fd < 0 && errno == ENOENT && create) {
        // Each parent in turn; the caller's own path may hold links.
        for (size_t at = root.find('/', 1); at != std::string::npos; at = root.find('/', at + 1)) {
            if (mkdir(root.substr(0, at).c_str(), 0777) != 0 && errno != EEXIST)
                return errno;
        }
        if (mkdir(root.c_str(), 0777) != 0 && errno != EEXIST)
            return errno;
        fd = open(root.c_str(), flags);
    }
    if (fd < 0)
        return errno;
    out->reset(fd);
    return 0;
}

int mavik_openFolder(int rootFd, const std::string& relative, bool create, TFTPFd* out)
{
    TFTPFd current(fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
    if (!current.valid())
        return errno;
    for (size_t from = 0; from < relative.size();) {
        size_t next = 0;
        const std::string segment = segmentAt(relative, from, &next);
        from = next;
        if (segment.empty() || segment == ".")
            continue;
        if (segment == "..")
            return EACCES;
        TFTPFd sub;
        const int error = openSubfolder(current.get(), segment, create, &sub);
        if (error != 0)
            return error;
        current = std::move(sub);
    }
    *out = std::move(current);
    return 0;
}

int mavik_createFile(int folderFd, const std::string& name, TFTPFd* out)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return EACCES;
    // Non-blocking, so that a fifo of that name cannot stall the open.
    const int fd
        = openat(folderFd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    TFTPFd file(fd);
    struct stat st { };
    if (fstat(fd, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EACCES;
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    *out = std::move(file);
    return 0;
}
