// The Dante firmware file (.dnt) check: reads a whole file, checks its
// header, descriptors and CRC or checksum, extracts the firmware's identity
// into a DntFileInfo, compares it with what a module reports and narrows it
// to the model descriptors of one module. Every offset and length read from
// the file is checked against the part it lies in and the file in 64-bit
// arithmetic, so a crafted file gives its DFA_ERR_DNT_* code and nothing is
// read outside its bytes. Re-entrant: each call has its own buffer.
#pragma once

#include "dante/dfa/dfa.h"

#include <cstddef>
#include <cstdint>

constexpr uint32_t DNT_SIZE_LIMIT = 0x1800000;
constexpr size_t DNT_PATH_CHARS = 160;
constexpr size_t DNT_MAX_DESCRIPTORS = 16;

// Device codes of the modules and their platform names.
constexpr uint32_t DNT_DEVICE_BKLYN2 = 9;
constexpr uint32_t DNT_DEVICE_BKLYN3 = 40;

// Part bits of the part ids (one table for both header versions).
constexpr uint32_t DNT_PART_BIT_6 = 0x01;
constexpr uint32_t DNT_PART_BIT_12 = 0x02;
constexpr uint32_t DNT_PART_BIT_1 = 0x04;
constexpr uint32_t DNT_PART_BIT_11 = 0x08;
constexpr uint32_t DNT_PART_BIT_CAPABILITY = 0x10;

// Device check flags.
constexpr uint16_t DNT_FLAG_NO_INFO = 0x01;
constexpr uint16_t DNT_FLAG_NEEDS_MODEL_ID = 0x02;
constexpr uint16_t DNT_FLAG_PLATFORM = 0x10;
constexpr uint16_t DNT_FLAG_MANUFACTURER = 0x20;
constexpr uint16_t DNT_FLAG_MODEL = 0x40;

struct DntModelDesc {
    uint8_t model_id[DFA_MODEL_ID_SIZE]; // all zero: WILDCARD
    uint32_t parts; // OR of the part bits of its parts
    DfaVersion part12;
    DfaVersion part1;
    DfaVersion fw;
    DfaVersion sw;
};

// File information, natural alignment.
struct DntFileInfo {
    char16_t path[DNT_PATH_CHARS];
    uint8_t info_exist; // 1 once the file passed every check
    uint32_t header_version;
    uint32_t word12; // version 3 only
    uint8_t major;
    uint8_t minor;
    uint16_t build;
    uint8_t platform[DFA_MODEL_ID_SIZE];
    uint8_t manf_id[DFA_MODEL_ID_SIZE];
    uint8_t md_count;
    DntModelDesc md[DNT_MAX_DESCRIPTORS];
};
static_assert(sizeof(DntModelDesc) == 44, "model descriptor of the file information");
static_assert(sizeof(DntFileInfo) == 1060, "file information record");

// CRC-32 (reflected 0xEDB88320, zlib's convention: pass 0 to start, the
// previous result to continue).
uint32_t dfa_crc32(uint32_t crc, const uint8_t* data, size_t size);

// Reads the file (UTF-16 path of fewer than 160 characters, at most 255
// bytes as UTF-8) and checks it. DFA_ERR_DNT_NOT_FOUND when its size cannot
// be read, DFA_ERR_DNT_SIZE above 24 MiB, DFA_ERR_DNT_ACCESS when it cannot
// be read whole, else the result of dfa_dntchk_check.
DfaResult dfa_dntchk_dntfile(const char16_t* path, DntFileInfo* info);

// Checks the bytes of a file and fills *info (all but the path, which is
// kept); sets info_exist on success.
DfaResult dfa_dntchk_check(const uint8_t* data, size_t size, DntFileInfo* info);

// Sets the device's check flags from the file information under the
// override record.
DfaResult dfa_dntchk_devinfo(const DfaOverride* override_record, const DntFileInfo* info, DfaDeviceInfo* device);

// Filter information of a file for the device list.
DfaResult dfa_dntchk_filter_info(const DfaOverride* override_record, const DntFileInfo* info, DfaFilterInfo* out);

// The file information narrowed to one merged model descriptor for model_id.
DfaResult dfa_dntchk_model_info(const uint8_t* model_id, const DntFileInfo* info, DntFileInfo* out);

// Helpers.
bool dfa_dntchk_id_equal(const uint8_t* a, const uint8_t* b);
bool dfa_dntchk_id_zero(const uint8_t* id);
// Counts WILDCARD and individual model descriptors (either may be null).
void dfa_dntchk_count_models(const DntFileInfo* info, int* wildcard, int* individual);
// Index of the first individual model descriptor exactly equal to model_id,
// -1 when none.
int dfa_dntchk_find_model(const DntFileInfo* info, const uint8_t* model_id);
// Sixteen upper-case hexadecimal digits and a terminator (17 bytes).
const char* dfa_dntchk_id_text(const uint8_t* id, char* text);
// Module types: 0 "Bklyn2", 1 "Bklyn3"; DFA_ERR_UNKNOWN for others.
DfaResult dfa_dntchk_model_id_of_type(uint32_t type, uint8_t* model_id);
DfaResult dfa_dntchk_type_of_model_id(const uint8_t* model_id, uint32_t* type);
