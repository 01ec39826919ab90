// Serialised image of one function's memory: the 88-byte header, the
// definition block of "COL"/"PR" records, the data part, byte-order
// conversion, and the "MDF"/"MDR" multi-function image.
//
// Every reader takes the number of bytes really present and never looks past
// them; a malformed image is refused with MMS_E_ARG and the
// caller's buffer is left as it was.
#pragma once

#include "mms/mms_paramtype.h"
#include "pbd/jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>

namespace MMS {

class SharedMemWrapper;

constexpr uint32_t IMAGE_HEADER_SIZE = 88;
constexpr uint32_t COLLECTION_RECORD_SIZE = 48;
constexpr uint32_t PARAMETER_RECORD_SIZE = 32;
constexpr uint32_t MDF_HEADER_SIZE = 48;
constexpr uint32_t MDR_RECORD_SIZE = 32;
constexpr uint32_t IMAGE_NAME_SIZE = 24;
constexpr uint32_t IMAGE_ALIAS_SIZE = 12;
constexpr uint32_t IMAGE_DIGEST_SIZE = 36;

// Deepest nesting of collection records in a definition block: the function
// level plus five collection levels. Deeper blocks are refused.
constexpr uint32_t IMAGE_MAX_COLLECTION_DEPTH = 6;

// Byte-order codes of an image: 0 host, 1 little-endian ("LIT"), 2 big-endian ("BIG").
enum ImageByteOrder : int { IMAGE_ORDER_HOST = 0, IMAGE_ORDER_LITTLE = 1, IMAGE_ORDER_BIG = 2 };

// Field offsets of the records (all integers in the image's byte order).
namespace ImageLayout {
constexpr size_t HEADER_MARK = 4;
constexpr size_t HEADER_NAME = 8;
constexpr size_t HEADER_ALIAS = 32;
constexpr size_t HEADER_DIGEST = 44;
constexpr size_t HEADER_PART1_LENGTH = 80;
constexpr size_t HEADER_PART2_LENGTH = 84;

constexpr size_t COL_NAME = 4;
constexpr size_t COL_PARAMETER_BYTES = 28;
constexpr size_t COL_CHILD_BYTES = 32;
constexpr size_t COL_OFFSET = 36;
constexpr size_t COL_ELEMENT_SIZE = 40;
constexpr size_t COL_ARRAY_SIZE = 44;

constexpr size_t PR_SWAP_CLASS = 3;
constexpr size_t PR_WIDTH = 4;
constexpr size_t PR_ARRAY_SIZE = 6;
constexpr size_t PR_NAME = 8;

constexpr size_t MDF_MARK = 4;
constexpr size_t MDF_NAME = 8;
constexpr size_t MDF_ALIAS = 32;
constexpr size_t MDF_COUNT = 44;

constexpr size_t MDR_NAME = 4;
constexpr size_t MDR_IMAGE_LENGTH = 28;
} // namespace ImageLayout

// True when this host stores 32-bit words most significant byte first.
bool imageHostIsBigEndian();

// Swap classes of a parameter record: how its elements change byte order.
constexpr uint8_t IMAGE_SWAP_NONE = 0; // texts and other bytes: never swapped
constexpr uint8_t IMAGE_SWAP_SIGNED = 1;
constexpr uint8_t IMAGE_SWAP_UNSIGNED = 2; // with element width 0: packed bits
constexpr uint8_t IMAGE_SWAP_REAL = 3;

// Swap class of a parameter type code: 1 signed integers, 2 unsigned integers
// and "bit", 3 real, 0 everything else (never swapped). A "bit" parameter's
// record carries element width 0 with class 2; its bits are packed as the
// data tree lays them out.
uint8_t imageSwapClass(uint32_t typeCode);

// The function's name, alias, definition block and its digest.
class CollectionTagInfo {
public:
    CollectionTagInfo();
    // An owned block is freed through the wrapper it was allocated with.
    virtual ~CollectionTagInfo();
    CollectionTagInfo(const CollectionTagInfo&) = delete;
    CollectionTagInfo& operator=(const CollectionTagInfo&) = delete;

    void setName(const char* name);
    void setAlias(const char* alias);
    JResult getName(char* out24) const;
    JResult getAlias(char* out12) const;
    JResult getDigest(char* out36) const;

    JResult allocateDefinition(SharedMemWrapper* wrapper, uint32_t length);
    JResult copyDefinition(SharedMemWrapper* wrapper, const void* source, uint32_t length);
    JResult attachDefinition(void* source, uint32_t length);
    JResult releaseDefinition(SharedMemWrapper* wrapper);
    // As releaseDefinition, but an owned block without a wrapper gives 0.
    JResult releaseDefinitionQuiet(SharedMemWrapper* wrapper);
    void updateDigest();

    uint8_t* definition() const { return m_definition; }
    uint32_t definitionLength() const { return m_definitionLength; }
    bool ownsDefinition() const { return m_owned; }
    bool hostBigEndian() const { return m_hostBigEndian; }
    const char* name() const { return m_name; }
    const char* alias() const { return m_alias; }
    const char* digest() const { return m_digest; }
    bool hasDigest() const { return m_digest[0] != 0; }

    // Writes the 88-byte header at destination; part 1 (part1Length bytes)
    // must already stand at destination + 88, converted by convertForExport:
    // the digest covers part 1 as it lies in the image. order: 0 host,
    // 1 "LIT", 2 "BIG".
    JResult writeImageHeader(uint8_t* destination, uint32_t part1Length, uint32_t part2Length, int order) const;

private:
    bool m_owned = false;
    char m_name[IMAGE_NAME_SIZE] = {};
    char m_alias[IMAGE_ALIAS_SIZE] = {};
    char m_digest[IMAGE_DIGEST_SIZE] = {};
    uint8_t* m_definition = nullptr;
    uint32_t m_definitionLength = 0;
    bool m_hostBigEndian = false;
    SharedMemWrapper* m_allocWrapper = nullptr;
};

// MD5 of the bytes as 32 lowercase hexadecimal characters, then 4 zero bytes.
void imageDigest(char* out36, const uint8_t* data, size_t length);

// Records.
JResult buildCollectionRecord(uint8_t* record, const char* name, uint32_t parameterBytes, uint32_t childBytes,
    uint32_t offset, uint32_t elementSize, uint32_t arraySize);
JResult buildParameterRecord(uint8_t* record, const char* name, uint16_t width, uint16_t arraySize, uint32_t typeCode);
JResult readCollectionHeader(uint8_t* out48, const uint8_t* source, size_t length, bool swap);
JResult readParameterRecord(uint8_t* out32, const uint8_t* source, size_t length, bool swap);
// The record at offset within a block of length bytes when its magic matches
// and the whole record header lies inside the block; else null.
const uint8_t* collectionAt(const uint8_t* definition, size_t length, size_t offset);
const uint8_t* parameterAt(const uint8_t* definition, size_t length, size_t offset);
// offset + 48 + the two byte counts of the (host-order) header there, in 64 bits.
uint64_t collectionEnd(const uint8_t* definition, size_t length, size_t offset);
// Copies the collection record at offset (header with offset field 0 and,
// when arraySize is not 0, the array size replaced; then its records).
// destinationSize bounds the copy; bytes written go to *written when given.
JResult copyCollectionRecord(uint8_t* destination, size_t destinationSize, const uint8_t* definition, size_t length,
    size_t offset, uint32_t arraySize, size_t* written = nullptr);
bool sameParameterRecords(
    const uint8_t* definition, size_t length, size_t offset, const uint8_t* records, size_t recordsLength);
bool sameCollectionBody(
    const uint8_t* definition, size_t length, size_t offset, const uint8_t* record, size_t recordLength);
bool classMatches(const uint8_t* parameterRecord, uint32_t typeCode);

void swapCollectionHeader(uint8_t* header48);
void swapParameterRecord(uint8_t* record32);
void swapImageHeader(uint8_t* header88);

// Image header. swapMode: 0 the image is in host order; 1 "LIT" on a
// big-endian host; 2 "BIG" on a little-endian host.
JResult readImageHeader(uint8_t* out88, int* swapMode, const uint8_t* image, size_t length);

// The converted header of an image and the extents of its two parts.
struct ImageParts {
    uint8_t header[IMAGE_HEADER_SIZE] = {}; // host order
    uint32_t part1Length = 0;
    uint32_t part2Length = 0;
    int swapMode = 0;
};

// How far checkImage looks: only the header and that both parts lie inside
// the bytes, or also the definition block and the data extents it describes.
enum class ImageCheck { Extents, Whole };

// The one check of an image held in length bytes: a readable header whose
// parts lie inside the bytes and, for ImageCheck::Whole, definition records
// that describe data within part 2. Nothing is changed; parts (may be null)
// receives the header and lengths. 0, or MMS_E_ARG.
JResult checkImage(const uint8_t* image, size_t length, ImageCheck depth, ImageParts* parts = nullptr);

// First step of an import: checks the header and that the parts lie inside
// the buffer. The buffer is not changed; the parts stay in the image's order
// until convertForImport succeeds.
JResult splitImage(const CollectionTagInfo* tagInfo, bool* digestMatches, uint8_t** part1, uint32_t* part1Length,
    uint8_t** part2, uint32_t* part2Length, int* swapMode, uint8_t* image, size_t length);

// Checks an image that must match the function's definition; gives its data part.
JResult checkCompanionImage(
    const CollectionTagInfo* tagInfo, const uint8_t** data, uint32_t* length, const uint8_t* image, size_t imageLength);

// Checks the whole definition block and the data extents it describes
// (bounded record counts, depth and sizes). recordsSwapped: the records are
// in the other byte order.
JResult validateImageParts(const uint8_t* part1, uint32_t part1Length, uint32_t part2Length, bool recordsSwapped);

// Byte-order conversion of records and data, all or nothing: the parts are
// checked first and left untouched when malformed.
JResult convertForImport(uint8_t* part1, uint32_t part1Length, uint8_t* part2, uint32_t part2Length, int swapMode);
JResult convertForExport(uint8_t* part1, uint32_t part1Length, uint8_t* part2, uint32_t part2Length, int order);

// Multi-function image.
JResult buildMdfHeader(uint8_t* out48);
JResult buildMdrRecord(uint8_t* out32);
void setMdfNames(uint8_t* header48, const char* name, const char* alias);
JResult setMdfByteOrder(uint8_t* header48, int order);
JResult swapMdrRecord(uint8_t* record32, int order);
JResult readMdfHeader(uint8_t* out48, int* swapMode, const uint8_t* data, size_t length);
JResult readMdrRecord(uint8_t* out32, const uint8_t* data, size_t length, int swapMode);
// Walks the "MDR" records for functionName (24 bytes compared). Records whose
// length byte is below 32, and images that pass the buffer's end, end the
// walk with MMS_E_NO_MATCH, so every step advances.
JResult findFunctionRecord(size_t* recordPosition, uint8_t* out32, const uint8_t* buffer, size_t length,
    uint32_t maxRecords, const char* functionName, int swapMode);

// Integer helpers for callers that read records: native-order loads and stores.
uint32_t imageLoad32(const uint8_t* p);
uint16_t imageLoad16(const uint8_t* p);
void imageStore32(uint8_t* p, uint32_t value);
void imageStore16(uint8_t* p, uint16_t value);

} // namespace MMS
