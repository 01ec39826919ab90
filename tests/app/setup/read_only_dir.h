// Makes a folder refuse new files for as long as the object lives, also for
// root (which write permissions do not stop): the mode bits and, where the
// file system has it, the immutable flag.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace setup_test {

class ReadOnlyDir {
public:
    explicit ReadOnlyDir(std::string path)
        : m_path(std::move(path))
    {
        ::chmod(m_path.c_str(), 0555);
        if (::geteuid() == 0)
            m_immutable = setImmutable(true);
        m_effective = m_immutable || ::geteuid() != 0;
    }
    ~ReadOnlyDir()
    {
        if (m_immutable)
            setImmutable(false);
        ::chmod(m_path.c_str(), 0755);
    }
    ReadOnlyDir(const ReadOnlyDir&) = delete;
    ReadOnlyDir& operator=(const ReadOnlyDir&) = delete;

    // False when nothing could make the folder refuse writes here.
    bool effective() const { return m_effective; }

private:
    bool setImmutable(bool on) const
    {
        const int fd = ::open(m_path.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return ok;
    }

    std::string m_path;
    bool m_immutable = false;
    bool m_effective = false;
};

} // namespace setup_test
