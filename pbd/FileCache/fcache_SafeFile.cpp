#include "pbd/FileCache/fcache_SafeFile.h"

#include "pbd/FileCache/fcache_MBDFAbstractBlock.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace FILECACHE {

namespace {

std::string temporaryName(const std::string& target)
{
    static std::atomic<unsigned> counter{0};
    return target + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
}

} // namespace

SafeFile::~SafeFile()
{
    discard();
}

JResult SafeFile::begin(const std::string& target)
{
    discard();
    struct stat old;
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && (S_ISDIR(old.st_mode) || ::access(target.c_str(), W_OK) != 0))
        return FCACHE_E_FILE;
    m_target = target;
    m_temporary = temporaryName(target);
    if (m_file.open(m_temporary.c_str(), FileAccessor::CreateTruncate) < 0) {
        m_temporary.clear();
        return FCACHE_E_FILE;
    }
    // The replacement keeps the permissions of the file it replaces.
    if (exists)
        ::chmod(m_temporary.c_str(), old.st_mode & 07777);
    return FCACHE_OK;
}

JResult SafeFile::commit()
{
    if (m_temporary.empty())
        return FCACHE_E_FILE;
    if (m_file.isOpen() && m_file.close() < 0)
        return FCACHE_E_FILE;
    if (std::rename(m_temporary.c_str(), m_target.c_str()) != 0)
        return FCACHE_E_FILE;
    m_temporary.clear();
    return FCACHE_OK;
}

void SafeFile::discard()
{
    if (m_file.isOpen())
        m_file.close();
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
    m_temporary.clear();
}

} // namespace FILECACHE
