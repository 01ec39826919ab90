// File-system wrapper: a thin procedural layer over the file and directory
// calls. Paths are UTF-8 (strictly validated); files and directory searches
// are opaque records; every procedure returns an FswResult and higher layers
// never see system handles or error numbers.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <cstdint>

using FswResult = JResult;

constexpr FswResult FSW_OK = 0;
constexpr FswResult FSW_END_OF_FILE = 1; // fsw_readFile read nothing
constexpr FswResult FSW_E_FAIL = static_cast<FswResult>(0x80000000u); // fsw_utcToLocalTime failed
constexpr FswResult FSW_E_NOT_FOUND = static_cast<FswResult>(0x80000001u); // file, path or entry not found
constexpr FswResult FSW_E_EXISTS = static_cast<FswResult>(0x80000002u);
constexpr FswResult FSW_E_HANDLE = static_cast<FswResult>(0x80000003u); // invalid file or search record
// Invalid UTF-8 in a path, a folder that can't be removed, or a failed
// fsw_makeDirs / recursive fsw_removeDir.
constexpr FswResult FSW_E_PATH = static_cast<FswResult>(0x80000004u);
constexpr FswResult FSW_E_ACCESS = static_cast<FswResult>(0x80000005u);
constexpr FswResult FSW_E_TOO_MANY_OPEN = static_cast<FswResult>(0x80000011u);
constexpr FswResult FSW_E_TOO_LARGE = static_cast<FswResult>(0x80000012u); // size or position of 4 GiB or more
constexpr FswResult FSW_E_NO_MEMORY = static_cast<FswResult>(0x80001000u);
constexpr FswResult FSW_E_PATH_MEMORY = static_cast<FswResult>(0x80001001u);
constexpr FswResult FSW_E_ARGUMENT = static_cast<FswResult>(0x8000F000u); // null pointer, mode 0, bad origin
constexpr FswResult FSW_E_OTHER = static_cast<FswResult>(0x8000FFFFu);

// Open modes: access bits, then the creation rule.
constexpr uint32_t FSW_MODE_READ = 0x01;
constexpr uint32_t FSW_MODE_WRITE = 0x02;
constexpr uint32_t FSW_MODE_OPEN_EXISTING = 0x10;
constexpr uint32_t FSW_MODE_OPEN_OR_CREATE = 0x20;
constexpr uint32_t FSW_MODE_CREATE_TRUNCATE = 0x40;

// Seek origins.
constexpr uint32_t FSW_SEEK_SET = 0;
constexpr uint32_t FSW_SEEK_CUR = 1;
constexpr uint32_t FSW_SEEK_END = 2;

// Attribute bits.
constexpr uint32_t FSW_ATTR_NORMAL = 0x01; // only when nothing else applies
constexpr uint32_t FSW_ATTR_READONLY = 0x02;
constexpr uint32_t FSW_ATTR_SYSTEM = 0x04;
constexpr uint32_t FSW_ATTR_HIDDEN = 0x08;
constexpr uint32_t FSW_ATTR_ARCHIVE = 0x10;
constexpr uint32_t FSW_ATTR_TEMPORARY = 0x20;
constexpr uint32_t FSW_ATTR_DIRECTORY = 0x80; // reported only; can't be set

// Longest path fsw_makeDirs accepts (bytes).
constexpr uint32_t FSW_MAX_MAKEDIRS_PATH = 260;

struct FswDate {
    uint16_t year;
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
};

struct FswFile;
struct FswSearch;

// Files. fsw_openFile allocates the record written to *file; fsw_closeFile
// flushes written data to the disk, closes and frees it (also on failure).
// Mode: access bits 1 read, 2 write. A mode without the write bit opens an
// existing file; otherwise 0x40 creates or truncates, else 0x20 opens or
// creates, else the file must exist. Directories are refused.
FswResult fsw_openFile(FswFile** file, const char* path, uint32_t mode);
FswResult fsw_closeFile(FswFile* file);
// Reads up to n bytes; FSW_END_OF_FILE when nothing was read.
FswResult fsw_readFile(void* buffer, uint32_t* readCount, uint32_t n, FswFile* file);
// Writes all n bytes; a write that would reach 4 GiB is refused.
FswResult fsw_writeFile(const void* data, uint32_t* writtenCount, uint32_t n, FswFile* file);
FswResult fsw_seekFile(int32_t distance, uint32_t origin, FswFile* file);
FswResult fsw_tellFile(uint32_t* position, FswFile* file);

// Size and times of a file, which is opened for reading to read them;
// a folder gives FSW_E_ACCESS.
FswResult fsw_getFileSize(uint32_t* size, const char* path);
// Any of the outputs may be null, but not all three. Times are UTC. Where the
// file system keeps no creation time, the last write time stands for it.
FswResult fsw_getFileTime(FswDate* creation, FswDate* lastAccess, FswDate* lastWrite, const char* path);
// Converts with the current time zone; on failure yields 2000-01-01 00:00:00
// and FSW_E_FAIL.
FswResult fsw_utcToLocalTime(FswDate* local, const FswDate* utc);

// Attributes: read-only means no write permission at all; hidden means a
// name starting with a dot; directory is reported only, and never for a link
// (a link to a folder is removed as the link, not as the folder). Setting read-only
// removes every write permission, clearing it gives the owner write
// permission back; the other bits have no counterpart here and are ignored.
FswResult fsw_getAttributes(uint32_t* attributes, const char* path);
FswResult fsw_setAttributes(uint32_t attributes, const char* path);

FswResult fsw_deleteFile(const char* path);
FswResult fsw_makeDir(const char* path);
// Creates every missing folder along the path; 0 when the whole path is (or
// already was) a folder, FSW_E_PATH otherwise (also when it is a file).
FswResult fsw_makeDirs(const char* path);
// Removes a folder; recursive removes its contents first. Links are removed
// as links, never followed.
FswResult fsw_removeDir(const char* path, bool recursive);

// Directory search. fsw_findFirst allocates the record and makes the first
// entry current ("." and ".." are listed too). fsw_findNext copies the
// current entry's name (cut to the buffer, always NUL-terminated) and
// advances; past the last entry the current name is empty. fsw_findClose
// ends the search and frees the record.
FswResult fsw_findFirst(FswSearch** search, const char* directory);
// Bytes of the current entry's name with its NUL; FSW_E_NOT_FOUND when there
// is no current entry.
FswResult fsw_getEntryNameSize(FswSearch* search, uint32_t* size);
FswResult fsw_findNext(FswSearch* search, char* name, uint32_t bufferSize);
FswResult fsw_findClose(FswSearch* search);
