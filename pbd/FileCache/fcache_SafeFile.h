// Saving over a file: the content goes to a temporary file beside the target,
// which replaces the target only after a complete write. Until then, and
// after a failure or abort, the old file stays exactly as it was.
#pragma once

#include "pbd/FileCache/fcache_BinaryAccessor.h"

#include <string>

namespace FILECACHE {

class SafeFile {
public:
    SafeFile() = default;
    ~SafeFile();
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Opens the temporary file. A target that is a folder or not writable is
    // refused (FCACHE_E_FILE), as writing over it in place would be.
    JResult begin(const std::string& target);
    FileAccessor& file() { return m_file; }
    // Closes the temporary file (flushed to the disk) and renames it over the
    // target; FCACHE_E_FILE when either fails.
    JResult commit();
    // Closes and removes the temporary file; the target is untouched.
    void discard();

private:
    FileAccessor m_file;
    std::string m_target;
    std::string m_temporary;
};

} // namespace FILECACHE
