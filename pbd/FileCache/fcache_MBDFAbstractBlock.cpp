#include "pbd/FileCache/fcache_MBDFAbstractBlock.h"

#include "pbd/jlib/jlib_bytes.h"
#include "pbd/jlib/jlib_heap.h"

#include <cstring>

namespace FILECACHE {

namespace {

constexpr size_t kLength1Offset = 24;
constexpr size_t kLength2Offset = 28;

std::string fieldText(const uint8_t* field, size_t width)
{
    size_t n = 0;
    while (n < width && field[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(field), n);
}

} // namespace

void MBDFPartDeleter::operator()(uint8_t* data) const
{
    jlib_heapFree(data);
}

MBDFPart mbdf_allocPart(uint64_t length)
{
    if (length == 0 || length > MBDF_BLOCK_LIMIT)
        return MBDFPart();
    return MBDFPart(static_cast<uint8_t*>(jlib_heapAlloc(0, "MBDF part", roundUp4(length))));
}

MBDFAbstractBlock::MBDFAbstractBlock()
{
    std::memset(m_header, 0, sizeof m_header);
}

MBDFAbstractBlock::~MBDFAbstractBlock() = default;

JResult MBDFAbstractBlock::clear()
{
    std::memset(m_header, 0, sizeof m_header);
    m_part1.reset();
    m_part2.reset();
    return FCACHE_OK;
}

bool MBDFAbstractBlock::isValid() const
{
    return m_header[0] != 0;
}

std::string MBDFAbstractBlock::tag() const
{
    return fieldText(m_header, tagWidth());
}

std::string MBDFAbstractBlock::subName() const
{
    const uint32_t width = tagWidth();
    return fieldText(m_header + width, MBDF_NAME_SIZE - width);
}

JResult MBDFAbstractBlock::setTag(const char* text)
{
    if (isNull())
        return FCACHE_OK;
    return putFixedText(m_header, tagWidth(), text) < 0 ? FCACHE_E_ARG : FCACHE_OK;
}

JResult MBDFAbstractBlock::setSubName(const char* text)
{
    if (isNull())
        return FCACHE_OK;
    const uint32_t width = tagWidth();
    if (width >= MBDF_NAME_SIZE)
        return text && *text ? FCACHE_E_ARG : FCACHE_OK;
    return putFixedText(m_header + width, MBDF_NAME_SIZE - width, text) < 0 ? FCACHE_E_ARG : FCACHE_OK;
}

uint64_t MBDFAbstractBlock::part1Size(bool padded) const
{
    const uint32_t n = jlib_load32be(m_header + kLength1Offset);
    return padded ? roundUp4(n) : n;
}

uint64_t MBDFAbstractBlock::part2Size(bool padded) const
{
    const uint32_t n = jlib_load32be(m_header + kLength2Offset);
    return padded ? roundUp4(n) : n;
}

bool MBDFAbstractBlock::isComplete() const
{
    return isValid() && (part2Size() == 0 || m_part2);
}

void MBDFAbstractBlock::setPart1Length(uint32_t length)
{
    jlib_store32be(m_header + kLength1Offset, length);
}

void MBDFAbstractBlock::setPart2Length(uint32_t length)
{
    jlib_store32be(m_header + kLength2Offset, length);
}

JResult MBDFAbstractBlock::storePart(int index, const void* data, uint32_t length)
{
    MBDFPart& part = index == 1 ? m_part1 : m_part2;
    part.reset();
    if (index == 1)
        setPart1Length(0);
    else
        setPart2Length(0);
    if (!data || length == 0)
        return FCACHE_OK;
    // Whatever could not be read back is refused here already.
    if (length > MBDF_BLOCK_LIMIT)
        return FCACHE_E_DATA;
    MBDFPart copy = mbdf_allocPart(length);
    if (!copy)
        return FCACHE_E_MEMORY;
    std::memcpy(copy.get(), data, length);
    part = std::move(copy);
    if (index == 1)
        setPart1Length(length);
    else
        setPart2Length(length);
    return FCACHE_OK;
}

JResult MBDFAbstractBlock::setPart1(const void* data, uint32_t length)
{
    if (m_header[0] == 0) {
        JLIB_DEBUGBRK();
        return FCACHE_E_INVALID;
    }
    return storePart(1, data, length);
}

JResult MBDFAbstractBlock::setPart2(const void* data, uint32_t length)
{
    if (m_header[0] == 0) {
        JLIB_DEBUGBRK();
        return FCACHE_E_INVALID;
    }
    return storePart(2, data, length);
}

JResult MBDFAbstractBlock::releasePart2()
{
    m_part2.reset();
    return FCACHE_OK;
}

JResult MBDFAbstractBlock::copyFrom(MBDFAbstractBlock& other, bool deep)
{
    clear();
    if (&other == this || other.isNull())
        return FCACHE_OK;
    if (!deep) {
        std::memcpy(m_header, other.m_header, sizeof m_header);
        m_part1 = std::move(other.m_part1);
        m_part2 = std::move(other.m_part2);
        other.clear();
        return FCACHE_OK;
    }
    MBDFPart copies[2];
    const MBDFPart* sources[2] = {&other.m_part1, &other.m_part2};
    const uint64_t lengths[2] = {other.part1Size(), other.part2Size()};
    for (int i = 0; i < 2; ++i) {
        if (!*sources[i] || lengths[i] == 0)
            continue;
        copies[i] = mbdf_allocPart(lengths[i]);
        if (!copies[i])
            return FCACHE_E_MEMORY;
        std::memcpy(copies[i].get(), sources[i]->get(), roundUp4(lengths[i]));
    }
    std::memcpy(m_header, other.m_header, sizeof m_header);
    m_part1 = std::move(copies[0]);
    m_part2 = std::move(copies[1]);
    return FCACHE_OK;
}

JResult MBDFAbstractBlock::parseFromMemory(const void* source, size_t length, size_t* consumed)
{
    clear();
    if (consumed)
        *consumed = 0;
    if (!source || length == 0)
        return FCACHE_E_ARG;
    if (length < MBDF_HEADER_SIZE)
        return FCACHE_E_DATA;
    const auto* bytes = static_cast<const uint8_t*>(source);
    std::memcpy(m_header, bytes, MBDF_HEADER_SIZE);
    const uint64_t l1 = part1Size();
    const uint64_t l2 = part2Size();
    // 64-bit sums: neither the padding nor L1 + L2 can wrap.
    const uint64_t left = length - MBDF_HEADER_SIZE;
    if (l1 + l2 > MBDF_BLOCK_LIMIT || roundUp4(l1) + roundUp4(l2) > left) {
        clear();
        return FCACHE_E_DATA;
    }
    size_t used = MBDF_HEADER_SIZE;
    MBDFPart* parts[2] = {&m_part1, &m_part2};
    const uint64_t lengths[2] = {l1, l2};
    for (int i = 0; i < 2; ++i) {
        if (lengths[i] == 0)
            continue;
        *parts[i] = mbdf_allocPart(lengths[i]);
        if (!*parts[i]) {
            clear();
            return FCACHE_E_MEMORY;
        }
        std::memcpy(parts[i]->get(), bytes + used, lengths[i]);
        used += roundUp4(lengths[i]);
    }
    if (consumed)
        *consumed = used;
    return FCACHE_OK;
}

JResult MBDFAbstractBlock::readPart(FileAccessor& accessor, uint32_t n, MBDFPart* out)
{
    MBDFPart buffer = mbdf_allocPart(n);
    if (!buffer)
        return FCACHE_E_MEMORY;
    uint32_t count = 0;
    const JResult r = accessor.read(buffer.get(), n, &count);
    if (r < 0)
        return FCACHE_E_FILE;
    if (count < n)
        return FCACHE_E_DATA;
    // The padding in the file is skipped, not checked; in memory it is zero.
    if (padding4(n) != 0 && accessor.seek(FSW_SEEK_CUR, padding4(n)) < 0)
        return FCACHE_E_FILE;
    *out = std::move(buffer);
    return FCACHE_OK;
}

JResult MBDFAbstractBlock::readFromFile(FileAccessor& accessor, bool loadPart2)
{
    if (!accessor.isOpen())
        return FCACHE_E_FILE;
    clear();
    const uint64_t start = accessor.tell();
    const uint64_t size = accessor.size();
    uint32_t count = 0;
    const JResult r = accessor.read(m_header, MBDF_HEADER_SIZE, &count);
    if (r < 0)
        return FCACHE_E_FILE;
    if (count < MBDF_HEADER_SIZE) {
        clear();
        return FCACHE_E_DATA;
    }
    const uint64_t l1 = part1Size();
    const uint64_t l2 = part2Size();
    if (l1 > MBDF_BLOCK_LIMIT || (loadPart2 && l1 + l2 > MBDF_BLOCK_LIMIT)) {
        JLIB_DEBUGBRK();
        return FCACHE_E_DATA;
    }
    // Both padded parts must lie inside the file, or a skip would run past
    // its end (or, as a signed 32-bit distance, backwards).
    const uint64_t left = size > start + MBDF_HEADER_SIZE ? size - start - MBDF_HEADER_SIZE : 0;
    if (roundUp4(l1) + roundUp4(l2) > left)
        return FCACHE_E_DATA;
    if (l1 > 0) {
        const JResult p = readPart(accessor, static_cast<uint32_t>(l1), &m_part1);
        if (p < 0)
            return p;
    }
    if (l2 > 0) {
        if (loadPart2) {
            const JResult p = readPart(accessor, static_cast<uint32_t>(l2), &m_part2);
            if (p < 0)
                return p;
        } else if (accessor.seek(FSW_SEEK_CUR, static_cast<int64_t>(roundUp4(l2))) < 0) {
            return FCACHE_E_FILE;
        }
    }
    return isValid() ? FCACHE_OK : FCACHE_E_DATA;
}

JResult MBDFAbstractBlock::writeHeader(FileAccessor& accessor) const
{
    uint32_t count = 0;
    if (accessor.write(m_header, MBDF_HEADER_SIZE, &count) < 0 || count != MBDF_HEADER_SIZE)
        return FCACHE_E_FILE;
    return FCACHE_OK;
}

JResult MBDFAbstractBlock::writeToFile(FileAccessor& accessor)
{
    if (!isValid()) {
        JLIB_DEBUGBRK();
        return FCACHE_E_INVALID;
    }
    if (!accessor.isOpen())
        return FCACHE_E_FILE;
    const uint64_t l1 = part1Size();
    const uint64_t l2 = part2Size();
    // A block the reader would refuse is not written at all.
    if (l1 + l2 > MBDF_BLOCK_LIMIT)
        return FCACHE_E_DATA;
    if ((l1 > 0 && !m_part1) || (l2 > 0 && !m_part2))
        return FCACHE_E_FILE;
    JResult r = writeHeader(accessor);
    if (r < 0)
        return r;
    const MBDFPart* parts[2] = {&m_part1, &m_part2};
    const uint64_t lengths[2] = {l1, l2};
    for (int i = 0; i < 2; ++i) {
        if (lengths[i] == 0)
            continue;
        const auto padded = static_cast<uint32_t>(roundUp4(lengths[i]));
        uint32_t count = 0;
        if (accessor.write(parts[i]->get(), padded, &count) < 0 || count != padded)
            return FCACHE_E_FILE;
    }
    return FCACHE_OK;
}

// ---------------------------------------------------------------------------

MBDFNullBlock& MBDFNullBlock::instance()
{
    static MBDFNullBlock block;
    return block;
}

JResult MBDFNullBlock::parseFromMemory(const void*, size_t, size_t* consumed)
{
    if (consumed)
        *consumed = 0;
    return FCACHE_OK;
}

} // namespace FILECACHE
