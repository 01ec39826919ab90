// Byte-level accessors (integers of 1, 2 or 4 bytes, fixed-width fields,
// 4-byte rounding, the one-byte XOR scrambler) and FileAccessor, one open file
// over the file-system wrapper, with a few path helpers beside it.
#pragma once

#include "pbd/fsw/fsw.h"
#include "pbd/jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace FILECACHE {

// Failure code of the byte-level accessor functions.
constexpr JResult FCACHE_E_FAIL = static_cast<JResult>(0x80000000u);
// FileAccessor: a file already open, or none open.
constexpr JResult FCACHE_E_STATE = static_cast<JResult>(0x80000003u);
// FileAccessor and path helpers: null path, bad mode or origin.
constexpr JResult FCACHE_E_ARGUMENT = static_cast<JResult>(0x8000F000u);

// Widths 1, 2, 4. A null pointer yields 0; another width is logged and yields 0.
uint32_t getUInt(const void* source, int width, bool bigEndian);
// 0; FCACHE_E_FAIL for a null pointer or a width other than 1, 2, 4 (nothing
// is written then).
JResult putUInt(void* destination, int width, uint32_t value, bool bigEndian);

// Next multiple of 4 (0 for 0). Computed in 64 bits so that a 32-bit length
// near 2^32 never wraps to a tiny size; callers compare the result with the
// bytes they really have.
inline constexpr uint64_t roundUp4(uint64_t length)
{
    return (length + 3) & ~uint64_t(3);
}
// Zero bytes that follow length bytes in a 4-byte unit (0..3).
inline constexpr uint32_t padding4(uint64_t length)
{
    return static_cast<uint32_t>((4 - (length & 3)) & 3);
}

JResult fill(void* destination, size_t length, uint8_t byte);
// Copies min(sourceLength, destinationSize - 1) bytes and a terminating 0.
JResult copyToCString(char* destination, size_t destinationSize, const void* source, size_t sourceLength);
// Copies sourceLength bytes and zero-fills the rest of the width.
JResult putFixedBytes(void* field, size_t width, const void* source, size_t sourceLength);
// Copies the text up to its NUL or width characters (then unterminated) and
// zero-fills the rest; a null text zero-fills the whole field.
JResult putFixedText(void* field, size_t width, const char* text);
// XORs every byte with key; key 0 changes nothing.
JResult xorScramble(void* buffer, size_t length, uint8_t key);

// One open file of the file-system wrapper, or none.
class FileAccessor {
public:
    enum Mode {
        CreateTruncate = 0, // read and write, create or truncate
        OpenOrCreate = 1, // read and write, open or create
        OpenExisting = 2, // read and write an existing file
        ReadOnly = 3, // read an existing file
    };

    FileAccessor() = default;
    ~FileAccessor();
    FileAccessor(const FileAccessor&) = delete;
    FileAccessor& operator=(const FileAccessor&) = delete;

    JResult open(const char* path, int mode);
    JResult close();
    JResult read(void* buffer, uint32_t n, uint32_t* count);
    JResult write(const void* data, uint32_t n, uint32_t* count);
    // Origin 0 start, 1 current position, 2 end. Distances beyond the
    // wrapper's signed 32-bit step are taken in several steps.
    JResult seek(int origin, int64_t distance);
    // Current position; 0 when no file is open.
    uint32_t tell() const;
    // Size of the open file; 0 when none is open or it can't be read. The
    // position is kept.
    uint32_t size() const;
    bool isOpen() const { return m_file != nullptr; }

private:
    FswFile* m_file = nullptr;
};

// Year, month, day, hour, minute, second, with repair of impossible values.
struct FileDateTime {
    uint16_t year = 2000;
    uint8_t month = 1;
    uint8_t day = 1;
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;

    void assign(const FswDate& date);
};

JResult getAttributes(const char* path, bool* readOnly, bool* hidden, bool* reserved, bool* isDirectory);
JResult setAttributes(const char* path, bool readOnly, bool hidden, bool reserved);
// Creates the folder and every missing folder above it.
JResult makeDirectory(const char* path);
// Size in bytes (0 when it can't be read); FCACHE_E_ARGUMENT for a null path.
int64_t fileSize(const char* path);
// directory + "/" + name; the name alone for a null or empty directory; empty
// for a null name.
std::string joinPath(const char* directory, const char* name);

} // namespace FILECACHE

// Removes a folder with its contents, or deletes anything else as a file.
// Links are removed as links, never followed.
JResult fcache_removePath(const char* path);
