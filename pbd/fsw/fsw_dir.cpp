// Deleting files, making folders and removing folder trees.
#include "pbd/fsw/fsw_internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

using namespace fsw_detail;

namespace {

// Deeper trees are refused rather than exhausting descriptors or stack.
constexpr int kMaxTreeDepth = 256;

FswResult makeOne(const char* path)
{
    return mkdir(path, 0777) == 0 ? FSW_OK : fromErrno(errno);
}

bool isDirectory(const char* path)
{
    struct stat st { };
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Removes the folder `name` below parentFd with everything in it. Entries are
// examined without following links: a link is unlinked, never entered.
bool removeTree(int parentFd, const char* name, int depth)
{
    if (depth > kMaxTreeDepth)
        return false;
    const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return false;
    }
    bool ok = true;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (!entry) {
            if (errno != 0) {
                jlib_diag("[E] fsw_removeDir - cannot read a directory entry!\n");
                ok = false;
            }
            break;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat st { };
        if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
            break;
        }
        const bool removed
            = S_ISDIR(st.st_mode) ? removeTree(fd, entry->d_name, depth + 1) : unlinkat(fd, entry->d_name, 0) == 0;
        if (!removed) {
            ok = false;
            break;
        }
    }
    closedir(dir);
    return ok && unlinkat(parentFd, name, AT_REMOVEDIR) == 0;
}

} // namespace

FswResult fsw_deleteFile(const char* path)
{
    if (FswResult r = checkPath(path); r < 0)
        return r;
    return unlink(path) == 0 ? FSW_OK : fromErrno(errno);
}

FswResult fsw_makeDir(const char* path)
{
    if (FswResult r = checkPath(path); r < 0)
        return r;
    return makeOne(path);
}

FswResult fsw_makeDirs(const char* path)
{
    if (FswResult r = checkPath(path); r < 0)
        return r == FSW_E_ARGUMENT ? r : FSW_E_PATH;
    const size_t length = std::strlen(path);
    if (length == 0 || length > FSW_MAX_MAKEDIRS_PATH)
        return FSW_E_PATH;
    // Only '/' separates: a backslash is an ordinary name character here.
    std::string prefix;
    prefix.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        if (path[i] == '/' && i > 0 && path[i - 1] != '/') {
            // The empty prefix of an absolute path and doubled slashes are skipped.
            const FswResult r = makeOne(prefix.c_str());
            if (r != FSW_OK && r != FSW_E_EXISTS && r != FSW_E_ACCESS)
                return FSW_E_PATH;
        }
        prefix.push_back(path[i]);
    }
    const FswResult r = makeOne(path);
    if (r == FSW_OK)
        return FSW_OK;
    // Existing is fine only when it is a folder, not a file of that name.
    return r == FSW_E_EXISTS && isDirectory(path) ? FSW_OK : FSW_E_PATH;
}

FswResult fsw_removeDir(const char* path, bool recursive)
{
    if (FswResult r = checkPath(path); r < 0)
        return r;
    if (!recursive) {
        if (rmdir(path) == 0)
            return FSW_OK;
        return errno == EINVAL ? FSW_E_PATH : fromErrno(errno);
    }
    // Trailing slashes would make the kernel follow a link named by the path.
    std::string top(path);
    while (top.size() > 1 && top.back() == '/')
        top.pop_back();
    struct stat st { };
    if (lstat(top.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return FSW_E_NOT_FOUND;
    return removeTree(AT_FDCWD, top.c_str(), 0) ? FSW_OK : FSW_E_PATH;
}
