// One block of an MBDF file: a 36-byte header (24-byte name area, two
// big-endian part lengths, a reserved word) followed by two parts, each
// padded with zeros to a multiple of 4 bytes.
#pragma once

#include "pbd/FileCache/fcache_BinaryAccessor.h"

#include <cstdint>
#include <memory>
#include <string>

namespace FILECACHE {

constexpr JResult FCACHE_OK = 0;
constexpr JResult FCACHE_E_ARG = static_cast<JResult>(0x80000001u);
constexpr JResult FCACHE_E_INVALID = static_cast<JResult>(0x80000002u);
constexpr JResult FCACHE_E_DATA = static_cast<JResult>(0x80000003u); // malformed, short, size limit
constexpr JResult FCACHE_E_FILE = static_cast<JResult>(0x80000004u);
constexpr JResult FCACHE_E_MEMORY = static_cast<JResult>(0x80000005u);
constexpr JResult FCACHE_E_NOT_LOADED = static_cast<JResult>(0x80000006u);
// Cancelled by the caller, old file intact: a read, write or extraction
// stopped through its abort flag. A write leaves the previous file as it
// was; an extraction leaves every file it had not finished as it was. A
// failure by sign, so an abort is never taken for a finished save, but a
// program treats it as a cancel it asked for (no error message).
constexpr JResult FCACHE_E_ABORTED = static_cast<JResult>(0x80000007u);

constexpr size_t MBDF_HEADER_SIZE = 36;
constexpr size_t MBDF_NAME_SIZE = 24;
// Largest part 1 + part 2 of one block (10 MiB). Reading refuses more, so
// writing and parsing refuse it too.
constexpr uint32_t MBDF_BLOCK_LIMIT = 0xA00000;

// Zero-filled part storage from heap 0.
struct MBDFPartDeleter {
    void operator()(uint8_t* data) const;
};
using MBDFPart = std::unique_ptr<uint8_t[], MBDFPartDeleter>;
// A buffer of roundUp4(length) zero bytes; null when length is 0, above the
// block limit or memory runs out.
MBDFPart mbdf_allocPart(uint64_t length);

class MBDFAbstractBlock {
public:
    MBDFAbstractBlock();
    virtual ~MBDFAbstractBlock();
    MBDFAbstractBlock(const MBDFAbstractBlock&) = delete;
    MBDFAbstractBlock& operator=(const MBDFAbstractBlock&) = delete;

    // Clears, then takes the header and both parts from source. Both lengths
    // are checked against the bytes present and the block limit.
    virtual JResult parseFromMemory(const void* source, size_t length, size_t* consumed);
    // deep: duplicates the parts; shallow: takes other's buffers, which
    // leaves other cleared.
    virtual JResult copyFrom(MBDFAbstractBlock& other, bool deep);
    virtual JResult setPart1(const void* data, uint32_t length);
    virtual JResult setPart2(const void* data, uint32_t length);
    virtual JResult clear();
    virtual bool isNull() const { return false; }
    virtual bool isValid() const;
    virtual uint32_t tagWidth() const { return 24; }
    virtual JResult releasePart2();
    virtual JResult readFromFile(FileAccessor& accessor, bool loadPart2);
    virtual JResult writeToFile(FileAccessor& accessor);

    std::string tag() const;
    std::string subName() const;
    JResult setTag(const char* text);
    JResult setSubName(const char* text);
    uint64_t part1Size(bool padded = false) const;
    uint64_t part2Size(bool padded = false) const;
    const uint8_t* part1Data() const { return m_part1.get(); }
    const uint8_t* part2Data() const { return m_part2.get(); }
    uint64_t totalSize() const { return MBDF_HEADER_SIZE + part1Size(true) + part2Size(true); }
    bool isComplete() const;
    // The 36 header bytes as stored.
    const uint8_t* header() const { return m_header; }

protected:
    void setPart1Length(uint32_t length);
    void setPart2Length(uint32_t length);
    // Replaces part 1 or 2 without the tag check of setPart1/setPart2.
    JResult storePart(int index, const void* data, uint32_t length);
    // Reads n bytes and their padding into a fresh buffer.
    JResult readPart(FileAccessor& accessor, uint32_t n, MBDFPart* out);
    JResult writeHeader(FileAccessor& accessor) const;
    MBDFPart& part1() { return m_part1; }
    MBDFPart& part2() { return m_part2; }

private:
    uint8_t m_header[MBDF_HEADER_SIZE];
    MBDFPart m_part1;
    MBDFPart m_part2;
};

// The shared empty block handed out where a position holds no block. Every
// operation returns 0 and changes nothing.
class MBDFNullBlock final : public MBDFAbstractBlock {
public:
    static MBDFNullBlock& instance();

    JResult parseFromMemory(const void*, size_t, size_t* consumed) override;
    JResult copyFrom(MBDFAbstractBlock&, bool) override { return FCACHE_OK; }
    JResult setPart1(const void*, uint32_t) override { return FCACHE_OK; }
    JResult setPart2(const void*, uint32_t) override { return FCACHE_OK; }
    JResult clear() override { return FCACHE_OK; }
    bool isNull() const override { return true; }
    bool isValid() const override { return false; }
    JResult releasePart2() override { return FCACHE_OK; }
    JResult readFromFile(FileAccessor&, bool) override { return FCACHE_OK; }
    JResult writeToFile(FileAccessor&) override { return FCACHE_OK; }

private:
    MBDFNullBlock() = default;
};

} // namespace FILECACHE
