// Files named by requests, confined to the root folder. Results are internal
// error codes: TFTP_ERR_NONE, TFTP_ERR_NOT_FOUND (the file cannot be opened),
// TFTP_ERR_ACCESS (the name is refused or the file cannot be read or
// replaced), TFTP_ERR_DISK_FULL.
#pragma once

#include <cstdint>
#include <string>

// A file descriptor owned by one object.
class TFTPFd {
public:
    TFTPFd() = default;
    explicit TFTPFd(int fd)
        : m_fd(fd)
    {
    }
    ~TFTPFd() { reset(); }
    TFTPFd(TFTPFd&& other) noexcept
        : m_fd(other.release())
    {
    }
    TFTPFd& operator=(TFTPFd&& other) noexcept;
    TFTPFd(const TFTPFd&) = delete;
    TFTPFd& operator=(const TFTPFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// TFTP_ERR_ACCESS for an absolute name, a ".." segment or a name longer than
// 255 bytes (cutting it would name another file); TFTP_ERR_NOT_FOUND for an
// empty name.
uint8_t tftp_checkName(const char* name);

// Opens an existing regular file below root for reading. Links on the way
// are followed only while they stay below the root; a final link is never
// followed.
uint8_t tftp_openForRead(const std::string& root, const char* name, TFTPFd* file);

// Reads up to n bytes (fewer only at the end of the file); the count, or -1.
long tftp_readBlock(int fd, uint8_t* buffer, size_t n);

// A write in progress: a temporary file beside the target. Removed unless
// committed, so a failed or abandoned write leaves the old file as it was.
class TFTPWriteFile {
public:
    TFTPWriteFile() = default;
    ~TFTPWriteFile();
    TFTPWriteFile(const TFTPWriteFile&) = delete;
    TFTPWriteFile& operator=(const TFTPWriteFile&) = delete;

    uint8_t open(const std::string& root, const char* name);
    // Appends; TFTP_ERR_DISK_FULL past TFTP_RECEIVE_LIMIT or on a full disk.
    uint8_t append(const uint8_t* data, size_t n);
    // Flushes and renames the temporary file over the target.
    uint8_t commit();
    uint64_t size() const { return m_size; }

private:
    TFTPFd m_folder;
    TFTPFd m_file;
    std::string m_target;
    std::string m_temporary;
    uint64_t m_size = 0;
    bool m_committed = false;
};

// Test seam: resolve names by walking them one segment at a time, refusing
// every link, as on kernels without openat2.
void tftp_forceSegmentWalk(bool on);
