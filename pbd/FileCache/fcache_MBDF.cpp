#include "pbd/FileCache/fcache_MBDF.h"

#include "pbd/FileCache/fcache_SafeFile.h"

#include "pbd/jlib/jlib_bytes.h"

#include <cstring>
#include <map>
#include <mutex>

namespace FILECACHE {

// ---------------------------------------------------------------------------
// Top blocks

BaseTopBlock::BaseTopBlock(uint32_t versionWidth, uint32_t part1Width)
    : m_versionWidth(versionWidth)
    , m_part1Width(part1Width)
{
}

bool BaseTopBlock::isValid() const
{
    if (tag() != MBDF_TOP_TAG)
        return false;
    const uint64_t l1 = part1Size();
    // A part 1 too short to hold the name and a version is no top block.
    if (l1 < MBDF_TOP_MIN_PART1 || !part1Data())
        return false;
    return l1 <= m_part1Width || (l1 == 48 && m_part1Width == 36);
}

JResult BaseTopBlock::widenPart1()
{
    const uint64_t l1 = part1Size();
    if (!part1Data() || roundUp4(l1) >= m_part1Width)
        return FCACHE_OK;
    MBDFPart wide = mbdf_allocPart(m_part1Width);
    if (!wide)
        return FCACHE_E_MEMORY;
    std::memcpy(wide.get(), part1Data(), l1);
    part1() = std::move(wide);
    return FCACHE_OK;
}

JResult BaseTopBlock::parseFromMemory(const void* source, size_t length, size_t* consumed)
{
    const JResult r = MBDFAbstractBlock::parseFromMemory(source, length, consumed);
    return r < 0 ? r : widenPart1();
}

JResult BaseTopBlock::copyFrom(MBDFAbstractBlock& other, bool deep)
{
    const JResult r = MBDFAbstractBlock::copyFrom(other, deep);
    return r < 0 ? r : widenPart1();
}

JResult BaseTopBlock::setPart1(const void* data, uint32_t length)
{
    const JResult r = MBDFAbstractBlock::setPart1(data, length);
    return r < 0 ? r : widenPart1();
}

JResult BaseTopBlock::readFromFile(FileAccessor& accessor, bool loadPart2)
{
    const JResult r = MBDFAbstractBlock::readFromFile(accessor, loadPart2);
    return r < 0 ? r : widenPart1();
}

JResult BaseTopBlock::storeFields(
    const char* kind, const char* name, const uint8_t* field2, bool field2Ok, const void* extra, uint32_t extraLength)
{
    clear();
    bool ok = setTag(MBDF_TOP_TAG) >= 0 && setSubName(kind) >= 0 && field2Ok;
    uint8_t fields[60] = {};
    ok = putFixedText(fields, MBDF_TOP_NAME_WIDTH, name) >= 0 && ok;
    if (field2)
        std::memcpy(fields + MBDF_TOP_NAME_WIDTH, field2, m_versionWidth);
    // Extra data is required and at most 16 bytes; the field stays zero
    // otherwise.
    ok = putFixedBytes(fields + MBDF_TOP_NAME_WIDTH + m_versionWidth, MBDF_TOP_EXTRA_WIDTH, extra, extraLength) >= 0
        && ok;
    if (storePart(1, fields, m_part1Width) < 0)
        ok = false;
    return ok ? FCACHE_OK : FCACHE_E_ARG;
}

JResult BaseTopBlock::setFields(
    const char* kind, const char* name, const char* version, const void* extra, uint32_t extraLength)
{
    // The version is taken as text bounded by the field width, so a caller's
    // shorter buffer is never read past its terminator.
    uint8_t field2[28] = {};
    if (version)
        putFixedText(field2, m_versionWidth, version);
    return storeFields(kind, name, field2, version != nullptr, extra, extraLength);
}

JResult BaseTopBlock::setFieldsNumeric(
    const char* kind, const char* name, uint32_t versionNumber, const void* extra, uint32_t extraLength)
{
    // A big-endian integer of the field's width: leading zero bytes, then the
    // 32-bit value.
    uint8_t field2[28] = {};
    jlib_store32be(field2 + m_versionWidth - 4, versionNumber);
    return storeFields(kind, name, field2, true, extra, extraLength);
}

std::string BaseTopBlock::name() const
{
    if (!isValid())
        return std::string();
    const uint8_t* f = part1Data();
    size_t n = 0;
    while (n < MBDF_TOP_NAME_WIDTH && f[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(f), n);
}

const uint8_t* BaseTopBlock::versionField() const
{
    return isValid() ? part1Data() + MBDF_TOP_NAME_WIDTH : nullptr;
}

const uint8_t* BaseTopBlock::extraField() const
{
    return isValid() ? part1Data() + MBDF_TOP_NAME_WIDTH + m_versionWidth : nullptr;
}

bool MBDFEndBlock::isValid() const
{
    return tag() == MBDF_END_TAG && part1Size() == 0 && part2Size() == 0;
}

// ---------------------------------------------------------------------------
// Factory registry

namespace {

struct Registry {
    std::mutex lock;
    std::map<std::string, IMBDFBlockFactory*> factories;
};

Registry& registry()
{
    static Registry r;
    return r;
}

std::unique_ptr<BaseTopBlock> makeTop(int kind)
{
    switch (kind) {
    case 4:
        return std::make_unique<QUILTopBlock>();
    case 28:
        return std::make_unique<QUILBN3TopBlock>();
    default:
        return std::make_unique<MBDFTopBlock>();
    }
}

bool aborted(const MBDFAbortFlag* flag)
{
    return flag && flag->load() != 0;
}

} // namespace

JResult mbdf_registerFactory(const char* tag, IMBDFBlockFactory* factory)
{
    if (!tag || !factory)
        return FCACHE_E_FAIL;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.factories.emplace(tag, factory);
    return FCACHE_OK;
}

IMBDFBlockFactory* mbdf_factoryFor(const std::string& tag)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.factories.find(tag);
    return it == r.factories.end() ? nullptr : it->second;
}

void mbdf_registerBaseFactories()
{
    static MBDFBlockFactory<MBDFEndBlock> endFactory;
    static MBDFBlockFactory<MBDFTopBlock> topFactory;
    static std::once_flag once;
    std::call_once(once, [] {
        mbdf_registerFactory(MBDF_END_TAG, &endFactory);
        mbdf_registerFactory(MBDF_TOP_TAG, &topFactory);
    });
}

DummyMBDFObserver& DummyMBDFObserver::instance()
{
    static DummyMBDFObserver observer;
    return observer;
}

// ---------------------------------------------------------------------------
// Container

MBDF::MBDF(int kind)
    : m_kind(kind == 4 || kind == 28 ? kind : 16)
    , m_top(makeTop(kind))
{
    mbdf_registerBaseFactories();
}

MBDF::~MBDF()
{
    clear();
}

JResult MBDF::clear()
{
    m_top->clear();
    m_end.clear();
    m_blocks.clear();
    return FCACHE_OK;
}

bool MBDF::isValid() const
{
    if (!m_top->isValid() || !m_end.isValid())
        return false;
    for (const auto& block : m_blocks)
        if (block && !block->isValid())
            return false;
    return true;
}

JResult MBDF::setTop(const char* kind, const char* name, const char* version, const void* extra, uint32_t extraLength)
{
    clear();
    const JResult r = m_top->setFields(kind, name, version, extra, extraLength);
    const JResult e = m_end.setEnd();
    return r < 0 || e < 0 ? FCACHE_E_FAIL : FCACHE_OK;
}

bool MBDF::isKind(const char* text) const
{
    return text && m_top->subName() == text;
}

std::string MBDF::topName() const
{
    return m_top->name();
}

const uint8_t* MBDF::topField() const
{
    return m_top->versionField();
}

MBDFAbstractBlock& MBDF::blockAt(Position position) const
{
    if (position >= m_blocks.size() || !m_blocks[position])
        return MBDFNullBlock::instance();
    return *m_blocks[position];
}

JResult MBDF::append(std::unique_ptr<MBDFAbstractBlock> block)
{
    m_blocks.push_back(std::move(block));
    return FCACHE_OK;
}

uint64_t MBDF::blockOffset(Position position) const
{
    uint64_t offset = m_top->totalSize();
    for (Position i = 0; i < position && i < m_blocks.size(); ++i)
        if (m_blocks[i])
            offset += m_blocks[i]->totalSize();
    return offset;
}

JResult MBDF::openBlockContent(FileAccessor* accessor, Position position) const
{
    if (!accessor)
        return FCACHE_E_ARG;
    if (m_path.empty())
        return FCACHE_E_FILE;
    if (blockAt(position).isNull())
        return FCACHE_E_DATA;
    if (accessor->isOpen())
        accessor->close();
    const uint64_t offset = blockOffset(position);
    if (accessor->open(m_path.c_str(), FileAccessor::ReadOnly) < 0)
        return FCACHE_E_FILE;
    if (offset > accessor->size() || accessor->seek(FSW_SEEK_SET, static_cast<int64_t>(offset)) < 0)
        return FCACHE_E_FILE;
    return FCACHE_OK;
}

JResult MBDF::reread()
{
    const std::string path = m_path;
    return read(path.c_str(), false, nullptr, nullptr);
}

JResult MBDF::read(const char* path, bool loadPart2, const MBDFAbortFlag* abortFlag, IMBDFObserver* observer)
{
    if (!path)
        return FCACHE_E_FAIL;
    m_path = path;
    IMBDFObserver& report = observer ? *observer : DummyMBDFObserver::instance();
    FileAccessor file;
    JResult r = FCACHE_E_FILE;
    if (file.open(path, FileAccessor::ReadOnly) >= 0) {
        clear();
        r = file.seek(FSW_SEEK_SET, 0) < 0 ? FCACHE_E_FILE : readBlocks(file, loadPart2, abortFlag, report);
    }
    if (r < 0 && r != FCACHE_E_ABORTED && observer)
        observer->error(MBDF_READING, path, r);
    return r;
}

JResult MBDF::readBlocks(FileAccessor& file, bool loadPart2, const MBDFAbortFlag* abortFlag, IMBDFObserver& observer)
{
    const char* path = m_path.c_str();
    const uint64_t size = file.size();
    auto abortHere = [&]() {
        observer.progress(MBDF_READING, file.tell(), size, path, "Aborted.", true);
        return FCACHE_E_ABORTED;
    };
    if (aborted(abortFlag))
        return abortHere();
    observer.progress(MBDF_READING, file.tell(), size, path, "Reading top block...", false);
    JResult r = m_top->readFromFile(file, true);
    if (r < 0)
        return r;
    if (!m_top->isValid())
        return FCACHE_E_DATA;
    // Every block takes at least its 36-byte header, so this loop ends.
    while (file.tell() < size) {
        if (aborted(abortFlag))
            return abortHere();
        const uint32_t start = file.tell();
        uint8_t header[MBDF_HEADER_SIZE];
        uint32_t count = 0;
        if (file.read(header, MBDF_HEADER_SIZE, &count) < 0)
            return FCACHE_E_FILE;
        if (count < MBDF_HEADER_SIZE || header[0] == 0)
            return FCACHE_E_DATA;
        if (file.seek(FSW_SEEK_SET, start) < 0)
            return FCACHE_E_FILE;
        size_t n = 0;
        while (n < MBDF_NAME_SIZE && header[n] != 0)
            ++n;
        const std::string name(reinterpret_cast<const char*>(header), n);
        if (name == MBDF_END_TAG)
            break;
        observer.progress(MBDF_READING, start, size, path, "Reading data blocks...", false);
        IMBDFBlockFactory* factory = mbdf_factoryFor(name);
        std::unique_ptr<MBDFAbstractBlock> block
            = factory ? factory->create() : std::unique_ptr<MBDFAbstractBlock>(new (std::nothrow) MBDFAbstractBlock());
        if (!block) {
            JLIB_DEBUGBRK();
            return FCACHE_E_MEMORY;
        }
        r = block->readFromFile(file, loadPart2);
        if (r < 0)
            return r;
        if (!block->isValid())
            return FCACHE_E_DATA;
        m_blocks.push_back(std::move(block));
    }
    if (aborted(abortFlag))
        return abortHere();
    observer.progress(MBDF_READING, file.tell(), size, path, "Reading end block...", false);
    r = m_end.readFromFile(file, true);
    if (r < 0)
        return r;
    if (!m_end.isValid())
        return FCACHE_E_DATA;
    observer.progress(MBDF_READING, size, size, path, "Finished.", true);
    return FCACHE_OK;
}

JResult MBDF::write(const char* path, const MBDFAbortFlag* abortFlag, IMBDFObserver* observer)
{
    if (!path || !isValid())
        return FCACHE_E_FAIL;
    m_path = path;
    IMBDFObserver& report = observer ? *observer : DummyMBDFObserver::instance();
    SafeFile target;
    JResult r = target.begin(path);
    if (r >= 0)
        r = writeBlocks(target.file(), abortFlag, report);
    if (r >= 0)
        r = target.commit();
    // An unfinished save leaves the previous file as it was.
    if (r < 0)
        target.discard();
    if (r < 0 && r != FCACHE_E_ABORTED && observer)
        observer->error(MBDF_WRITING, path, r);
    return r;
}

JResult MBDF::writeBlocks(FileAccessor& file, const MBDFAbortFlag* abortFlag, IMBDFObserver& observer)
{
    const char* path = m_path.c_str();
    const uint64_t total = m_blocks.size() + 2;
    uint64_t count = 0;
    auto abortHere = [&]() {
        observer.progress(MBDF_WRITING, count, total, path, "Aborted.", true);
        return FCACHE_E_ABORTED;
    };
    if (aborted(abortFlag))
        return abortHere();
    observer.progress(MBDF_WRITING, 0, total, path, "Writing top block...", false);
    JResult r = m_top->writeToFile(file);
    if (r < 0)
        return r;
    count = 1;
    for (const auto& block : m_blocks) {
        if (aborted(abortFlag))
            return abortHere();
        observer.progress(MBDF_WRITING, count, total, path, "Writing data blocks...", false);
        if (block) {
            r = block->writeToFile(file);
            if (r < 0)
                return r;
        }
        ++count;
    }
    if (aborted(abortFlag))
        return abortHere();
    observer.progress(MBDF_WRITING, count, total, path, "Writing end block...", false);
    r = m_end.writeToFile(file);
    if (r < 0)
        return r;
    ++count;
    observer.progress(MBDF_WRITING, count, total, path, "Finshed.", true);
    return FCACHE_OK;
}

} // namespace FILECACHE
