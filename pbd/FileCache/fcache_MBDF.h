// The MBDF container file: a top block "#VALDOR MBDF", data blocks made by
// factories registered by tag, and an end block "#END", read and written with
// progress reports to an observer.
#pragma once

#include "pbd/FileCache/fcache_MBDFAbstractBlock.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace FILECACHE {

constexpr const char* MBDF_TOP_TAG = "#VALDOR MBDF";
constexpr const char* MBDF_END_TAG = "#END";
constexpr uint32_t MBDF_TOP_NAME_WIDTH = 16;
constexpr uint32_t MBDF_TOP_EXTRA_WIDTH = 16;
// The shortest part 1 a top block may have: the name and a 4-byte version.
// Older writers stored such short blocks; the fields past their end read as
// zeros (part 1 is widened to the layout on reading).
constexpr uint32_t MBDF_TOP_MIN_PART1 = 20;

// Top block: the container's kind text as sub-name, three fixed-width fields
// (name, version, extra) in part 1. The variant's kind number is the width of
// the version field.
class BaseTopBlock : public MBDFAbstractBlock {
public:
    BaseTopBlock(uint32_t versionWidth, uint32_t part1Width);

    JResult parseFromMemory(const void* source, size_t length, size_t* consumed) override;
    JResult copyFrom(MBDFAbstractBlock& other, bool deep) override;
    JResult setPart1(const void* data, uint32_t length) override;
    bool isValid() const override;
    uint32_t tagWidth() const override { return 12; }
    JResult readFromFile(FileAccessor& accessor, bool loadPart2) override;
    // version is text of at most the field's width (unterminated when full).
    virtual JResult setFields(
        const char* kind, const char* name, const char* version, const void* extra, uint32_t extraLength);
    // version written as a big-endian integer of the field's width.
    virtual JResult setFieldsNumeric(
        const char* kind, const char* name, uint32_t versionNumber, const void* extra, uint32_t extraLength);

    uint32_t versionWidth() const { return m_versionWidth; }
    uint32_t fieldsSize() const { return m_part1Width; }
    // Field 1 as text; empty when the block is invalid.
    std::string name() const;
    // Field 2 (versionWidth bytes) and field 3 (16 bytes); null when invalid.
    const uint8_t* versionField() const;
    const uint8_t* extraField() const;

private:
    JResult storeFields(const char* kind, const char* name, const uint8_t* field2, bool field2Ok, const void* extra,
        uint32_t extraLength);
    // A part 1 shorter than the variant's layout reads as zero-filled.
    JResult widenPart1();

    uint32_t m_versionWidth;
    uint32_t m_part1Width;
};

class QUILTopBlock final : public BaseTopBlock {
public:
    QUILTopBlock()
        : BaseTopBlock(4, 36)
    {
    }
};
class MBDFTopBlock final : public BaseTopBlock {
public:
    MBDFTopBlock()
        : BaseTopBlock(16, 48)
    {
    }
};
class QUILBN3TopBlock final : public BaseTopBlock {
public:
    QUILBN3TopBlock()
        : BaseTopBlock(28, 60)
    {
    }
};

// "#END": an all-zero name area but the tag, both lengths 0.
class MBDFEndBlock final : public MBDFAbstractBlock {
public:
    bool isValid() const override;
    JResult setEnd() { return setTag(MBDF_END_TAG); }
};

class IMBDFBlockFactory {
public:
    virtual ~IMBDFBlockFactory() = default;
    // A new block of the factory's class; null when memory runs out.
    virtual std::unique_ptr<MBDFAbstractBlock> create() = 0;
};

template <class Block> class MBDFBlockFactory final : public IMBDFBlockFactory {
public:
    std::unique_ptr<MBDFAbstractBlock> create() override
    {
        return std::unique_ptr<MBDFAbstractBlock>(new (std::nothrow) Block());
    }
};

// The process-wide registry from tag to factory. An already registered tag
// keeps its first factory. FCACHE_E_FAIL for a null tag or factory.
JResult mbdf_registerFactory(const char* tag, IMBDFBlockFactory* factory);
IMBDFBlockFactory* mbdf_factoryFor(const std::string& tag);
// "#END" and "#VALDOR MBDF". A data block tagged "#VALDOR MBDF" is always made
// as an MBDFTopBlock, whatever kinds of containers were built first, so the
// result of a read never depends on construction order.
void mbdf_registerBaseFactories();

enum MBDFDirection { MBDF_READING = 0, MBDF_WRITING = 1 };

class IMBDFObserver {
public:
    virtual ~IMBDFObserver() = default;
    virtual JResult progress(
        int direction, uint64_t current, uint64_t total, const char* path, const char* text, bool finished)
        = 0;
    virtual JResult error(int direction, const char* path, JResult code) = 0;
};

class DummyMBDFObserver final : public IMBDFObserver {
public:
    static DummyMBDFObserver& instance();
    JResult progress(int, uint64_t, uint64_t, const char*, const char*, bool) override { return 0; }
    JResult error(int, const char*, JResult) override { return 0; }
};

// Set by another thread to stop a read, write or extraction before its next
// block.
using MBDFAbortFlag = std::atomic<char>;

class MBDF {
public:
    using Position = size_t;

    // kind 4, 16 or 28 selects the top-block variant; others act as 16.
    explicit MBDF(int kind = 16);
    virtual ~MBDF();
    MBDF(const MBDF&) = delete;
    MBDF& operator=(const MBDF&) = delete;

    virtual bool isValid() const;
    virtual JResult reread();
    // An abort returns FCACHE_E_ABORTED (cancelled by the caller) after one
    // "Aborted." report.
    virtual JResult read(const char* path, bool loadPart2, const MBDFAbortFlag* abortFlag, IMBDFObserver* observer);
    // Writes a temporary file beside path and renames it over path only after
    // the whole container was written; on failure or abort the old file stays
    // as it was (an abort gives FCACHE_E_ABORTED: cancelled by the caller).
    virtual JResult write(const char* path, const MBDFAbortFlag* abortFlag, IMBDFObserver* observer);

    JResult clear();
    JResult setTop(const char* kind, const char* name, const char* version, const void* extra, uint32_t extraLength);
    bool isKind(const char* text) const;
    std::string topName() const;
    const uint8_t* topField() const;
    const BaseTopBlock& topBlock() const { return *m_top; }
    int kind() const { return m_kind; }
    const std::string& path() const { return m_path; }

    Position begin() const { return 0; }
    Position end() const { return m_blocks.size(); }
    Position next(Position position) const { return position + 1; }
    // The null block for the end position or an empty entry.
    MBDFAbstractBlock& blockAt(Position position) const;
    size_t blockCount() const { return m_blocks.size(); }
    // Takes ownership; an empty pointer makes an empty entry.
    JResult append(std::unique_ptr<MBDFAbstractBlock> block);
    uint64_t blockOffset(Position position) const;
    JResult openBlockContent(FileAccessor* accessor, Position position) const;

private:
    JResult readBlocks(FileAccessor& file, bool loadPart2, const MBDFAbortFlag* abortFlag, IMBDFObserver& observer);
    JResult writeBlocks(FileAccessor& file, const MBDFAbortFlag* abortFlag, IMBDFObserver& observer);

    int m_kind;
    std::unique_ptr<BaseTopBlock> m_top;
    std::vector<std::unique_ptr<MBDFAbstractBlock>> m_blocks;
    MBDFEndBlock m_end;
    std::string m_path;
};

} // namespace FILECACHE
