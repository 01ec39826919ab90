// The "#FILE" block, which carries one file or directory (name, attributes,
// content optionally XOR-scrambled and deflated), and the file archive that
// lists and extracts such blocks.
#pragma once

#include "pbd/FileCache/fcache_MBDF.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace FILECACHE {

constexpr const char* MBDF_FILE_TAG = "#FILE";
constexpr const char* MBDF_ARCHIVE_KIND = "Archive";

// Flags of a "#FILE" block.
constexpr uint32_t MBDF_FILE_READONLY = 0x01;
constexpr uint32_t MBDF_FILE_HIDDEN = 0x02;
constexpr uint32_t MBDF_FILE_RESERVED = 0x04;
constexpr uint32_t MBDF_FILE_COMPRESSED = 0x08;
constexpr uint32_t MBDF_FILE_DIRECTORY = 0x80;

constexpr int MBDF_DEFAULT_LEVEL = 6;
constexpr int MBDF_MAX_LEVEL = 10;
// Largest content a file block packs or extracts (256 MiB). Extraction stops
// an inflate stream that would exceed it, so packing refuses larger files.
constexpr uint64_t MBDF_CONTENT_LIMIT = 0x10000000;

// Registers "#FILE" (and the base factories).
void mbdf_registerFileBlockFactory();
// An archive name with "\\" (as archives made on Windows separate folders)
// turned into "/".
std::string mbdf_entryPath(const std::string& name);
// Whether an archive name stays inside the folder it is extracted to, "/"
// and "\\" both separating folders: not empty, relative, no drive letter, no
// empty, "." or ".." segment.
bool mbdf_isSafeEntryName(const std::string& name);

class MBDFFileBlock : public MBDFAbstractBlock {
public:
    MBDFFileBlock();

    JResult parseFromMemory(const void* source, size_t length, size_t* consumed) override;
    JResult copyFrom(MBDFAbstractBlock& other, bool deep) override;
    // Refused: content enters only through packing.
    JResult setPart2(const void* data, uint32_t length) override;
    JResult clear() override;
    // Tag "#FILE" and a part 1 that holds the 8 fixed bytes and the whole name.
    bool isValid() const override;
    uint32_t tagWidth() const override { return 12; }
    // Content not in memory is streamed from the source file.
    JResult writeToFile(FileAccessor& accessor) override;
    virtual JResult setFromFile(const char* subName, bool expectDirectory, const char* directory, const char* name,
        bool loadContent, int level, uint8_t key);

    JResult packContent(const char* directory, const char* name, int level, uint8_t key);
    JResult extractTo(const char* destination);
    // accessor opened on the container at this block's header.
    JResult extractFromContainer(const char* destination, FileAccessor& accessor);

    std::string fileName() const;
    uint8_t key() const;
    uint32_t flags() const;
    bool isReadOnly() const { return (flags() & MBDF_FILE_READONLY) != 0; }
    bool isHidden() const { return (flags() & MBDF_FILE_HIDDEN) != 0; }
    bool reservedAttribute() const { return (flags() & MBDF_FILE_RESERVED) != 0; }
    bool isCompressed() const { return (flags() & MBDF_FILE_COMPRESSED) != 0; }
    bool isDirectory() const { return (flags() & MBDF_FILE_DIRECTORY) != 0; }

    const std::string& sourceDirectory() const { return m_sourceDirectory; }
    int level() const { return m_level; }
    void setSource(const std::string& directory, int level);

private:
    JResult streamContent(FileAccessor& container, uint32_t* written);
    JResult applyAttributes(const std::string& path) const;

    std::string m_sourceDirectory;
    int m_level = MBDF_DEFAULT_LEVEL;
};

class AbstractArchiveFile {
public:
    struct Entry {
        bool isDirectory;
        std::string name;
        uintptr_t handle;
    };

    class IBlockBridge {
    public:
        virtual std::unique_ptr<MBDFFileBlock> createBlock() = 0;
        virtual void destroyBlock(std::unique_ptr<MBDFFileBlock> block) = 0;
        // Appends a deep copy (header, parts, source directory, level).
        virtual JResult insertBlock(MBDF& container, const MBDFFileBlock& block) = 0;
        virtual MBDFFileBlock* fileBlockAt(MBDF& container, MBDF::Position position) = 0;
        virtual const MBDFFileBlock* fileBlockAt(const MBDF& container, MBDF::Position position) = 0;
        virtual uintptr_t entryHandle(const MBDFFileBlock& block) = 0;
        virtual JResult releaseHandle(uintptr_t handle) = 0;
        virtual ~IBlockBridge() = default;
    };

    AbstractArchiveFile(int kind, std::unique_ptr<IBlockBridge> bridge);
    virtual ~AbstractArchiveFile();
    AbstractArchiveFile(const AbstractArchiveFile&) = delete;
    AbstractArchiveFile& operator=(const AbstractArchiveFile&) = delete;

    JResult reset(const char* displayDirectory);
    JResult open(const char* directory, const char* fileName, const char* expectedName);
    std::string topName() const { return m_container.topName(); }
    const uint8_t* topField() const { return m_container.topField(); }
    const std::vector<Entry>& entries() const { return m_entries; }
    // An abort returns FCACHE_E_ABORTED (cancelled by the caller, files not
    // yet finished left as they were) after one "Aborted." report.
    JResult extractAll(const char* destination, const MBDFAbortFlag* abortFlag, IMBDFObserver* observer);

    MBDF& container() { return m_container; }
    IBlockBridge& bridge() { return *m_bridge; }

private:
    void releaseEntries();

    MBDF m_container;
    std::unique_ptr<IBlockBridge> m_bridge;
    std::vector<Entry> m_entries;
    std::string m_displayDirectory;
};

class ArchiveFile final : public AbstractArchiveFile {
public:
    class FileBlockBridge final : public IBlockBridge {
    public:
        std::unique_ptr<MBDFFileBlock> createBlock() override;
        void destroyBlock(std::unique_ptr<MBDFFileBlock>) override { }
        JResult insertBlock(MBDF& container, const MBDFFileBlock& block) override;
        MBDFFileBlock* fileBlockAt(MBDF& container, MBDF::Position position) override;
        const MBDFFileBlock* fileBlockAt(const MBDF& container, MBDF::Position position) override;
        uintptr_t entryHandle(const MBDFFileBlock&) override { return 0; }
        JResult releaseHandle(uintptr_t) override { return FCACHE_OK; }
    };

    explicit ArchiveFile(int kind = 16);
};

} // namespace FILECACHE
