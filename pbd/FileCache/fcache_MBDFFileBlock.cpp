#include "pbd/FileCache/fcache_MBDFFileBlock.h"

#include "pbd/FileCache/fcache_SafeFile.h"

#include "pbd/jlib/jlib_bytes.h"

#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <zlib.h>

namespace FILECACHE {

namespace {

constexpr uint32_t kPiece = 1024;
constexpr uint32_t kFixedPart1 = 8;

// zlib knows levels up to 9; the top level of this format maps onto it.
int zlibLevel(int level)
{
    return level > 9 ? 9 : level;
}

// Deflates size bytes of the file in 1024-byte pieces, each scrambled with
// key before compression, and hands every produced piece to sink. A file
// that ends early (it shrank meanwhile) fails instead of waiting for bytes
// that never come.
template <class Sink> JResult deflateFile(FileAccessor& in, uint32_t size, int level, uint8_t key, Sink&& sink)
{
    z_stream zs{};
    if (deflateInit2(&zs, zlibLevel(level), Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return FCACHE_E_DATA;
    uint8_t input[kPiece];
    uint8_t output[kPiece];
    uint32_t remaining = size;
    zs.next_out = output;
    zs.avail_out = kPiece;
    JResult result = FCACHE_OK;
    for (;;) {
        if (zs.avail_in == 0 && remaining > 0) {
            const uint32_t want = remaining < kPiece ? remaining : kPiece;
            uint32_t count = 0;
            if (in.read(input, want, &count) < 0 || count == 0 || count > want) {
                result = FCACHE_E_FILE;
                break;
            }
            remaining -= count;
            xorScramble(input, count, key);
            zs.next_in = input;
            zs.avail_in = count;
        }
        const int z = deflate(&zs, remaining == 0 ? Z_FINISH : Z_NO_FLUSH);
        if (z != Z_OK && z != Z_STREAM_END) {
            result = FCACHE_E_DATA;
            break;
        }
        if (z == Z_STREAM_END || zs.avail_out == 0) {
            result = sink(output, kPiece - zs.avail_out);
            if (result < 0)
                break;
            zs.next_out = output;
            zs.avail_out = kPiece;
        }
        if (z == Z_STREAM_END)
            break;
    }
    deflateEnd(&zs);
    return result;
}

// Inflates what source hands out (source(&data, &n); n == 0 when nothing is
// left), unscrambles it and writes it to out. The output is capped, so a
// small stream can't fill the disk.
template <class Source> JResult inflateTo(FileAccessor& out, uint8_t key, Source&& source)
{
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return FCACHE_E_MEMORY;
    uint8_t output[kPiece];
    uint64_t total = 0;
    bool inputDone = false;
    zs.next_out = output;
    zs.avail_out = kPiece;
    JResult result = FCACHE_OK;
    for (;;) {
        if (zs.avail_in == 0 && !inputDone) {
            const uint8_t* data = nullptr;
            uint32_t n = 0;
            result = source(&data, &n);
            if (result < 0)
                break;
            if (n == 0) {
                inputDone = true;
            } else {
                zs.next_in = const_cast<Bytef*>(data);
                zs.avail_in = n;
            }
        }
        const int z = inflate(&zs, Z_SYNC_FLUSH);
        const bool stalled = z == Z_BUF_ERROR && zs.avail_in == 0 && !inputDone;
        if (z != Z_OK && z != Z_STREAM_END && !stalled) {
            // Includes a stream that ends before its end marker.
            result = FCACHE_E_DATA;
            break;
        }
        if (z == Z_STREAM_END || zs.avail_out == 0) {
            const uint32_t produced = kPiece - zs.avail_out;
            total += produced;
            if (total > MBDF_CONTENT_LIMIT) {
                result = FCACHE_E_DATA;
                break;
            }
            xorScramble(output, produced, key);
            uint32_t written = 0;
            if (produced > 0 && (out.write(output, produced, &written) < 0 || written != produced)) {
                result = FCACHE_E_FILE;
                break;
            }
            zs.next_out = output;
            zs.avail_out = kPiece;
        }
        // With nothing left to feed, zlib reports Z_BUF_ERROR once no
        // progress is possible, which ends the loop above.
        if (z == Z_STREAM_END)
            break;
    }
    if (inflateEnd(&zs) != Z_OK && result >= 0)
        result = FCACHE_E_DATA;
    return result;
}

JResult writeScrambled(FileAccessor& out, const uint8_t* data, uint32_t n, uint8_t key)
{
    uint8_t piece[kPiece];
    while (n > 0) {
        const uint32_t chunk = n < kPiece ? n : kPiece;
        std::memcpy(piece, data, chunk);
        xorScramble(piece, chunk, key);
        uint32_t written = 0;
        if (out.write(piece, chunk, &written) < 0 || written != chunk)
            return FCACHE_E_FILE;
        data += chunk;
        n -= chunk;
    }
    return FCACHE_OK;
}

// No folder along destination/name (below destination) may be a link: it
// could lead the extraction out of the destination.
bool staysInside(const std::string& destination, const std::string& name)
{
    std::string path = destination.empty() ? std::string() : destination + "/";
    size_t from = 0;
    for (;;) {
        const size_t slash = name.find('/', from);
        path += name.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0)
            return true; // nothing below a missing folder can be a link
        if (S_ISLNK(st.st_mode))
            return false;
        if (slash == std::string::npos)
            return true;
        path += '/';
        from = slash + 1;
    }
}

// Where an entry extracts to below destination, which is made when missing.
// A name that is no plain relative path is bad data; one that leads out
// through a link fails as a file would.
JResult extractionPath(const char* destination, const std::string& name, std::string* path)
{
    const std::string dest = destination ? destination : "";
    const std::string entry = mbdf_entryPath(name);
    if (!mbdf_isSafeEntryName(entry))
        return FCACHE_E_DATA;
    if (!staysInside(dest, entry))
        return FCACHE_E_FILE;
    if (!dest.empty() && makeDirectory(dest.c_str()) < 0)
        return FCACHE_E_FILE;
    *path = joinPath(dest.c_str(), entry.c_str());
    return FCACHE_OK;
}

} // namespace

void mbdf_registerFileBlockFactory()
{
    mbdf_registerBaseFactories();
    static MBDFBlockFactory<MBDFFileBlock> factory;
    static std::once_flag once;
    std::call_once(once, [] { mbdf_registerFactory(MBDF_FILE_TAG, &factory); });
}

std::string mbdf_entryPath(const std::string& name)
{
    std::string path = name;
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

bool mbdf_isSafeEntryName(const std::string& text)
{
    // Every rule below then holds for either separator.
    const std::string name = mbdf_entryPath(text);
    if (name.empty() || name[0] == '/')
        return false;
    const char c = name[0];
    if (name.size() >= 2 && name[1] == ':' && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
        return false;
    size_t from = 0;
    for (;;) {
        const size_t slash = name.find('/', from);
        const std::string segment = name.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
        if (segment.empty() || segment == "." || segment == "..")
            return false;
        if (slash == std::string::npos)
            return true;
        from = slash + 1;
    }
}

// ---------------------------------------------------------------------------

MBDFFileBlock::MBDFFileBlock() = default;

JResult MBDFFileBlock::clear()
{
    m_sourceDirectory.clear();
    m_level = MBDF_DEFAULT_LEVEL;
    return MBDFAbstractBlock::clear();
}

JResult MBDFFileBlock::parseFromMemory(const void* source, size_t length, size_t* consumed)
{
    // The base parse clears through the virtual clear, which resets the
    // source directory and level.
    return MBDFAbstractBlock::parseFromMemory(source, length, consumed);
}

JResult MBDFFileBlock::copyFrom(MBDFAbstractBlock& other, bool deep)
{
    return MBDFAbstractBlock::copyFrom(other, deep);
}

JResult MBDFFileBlock::setPart2(const void*, uint32_t)
{
    JLIB_DEBUGBRK();
    return FCACHE_E_FAIL;
}

void MBDFFileBlock::setSource(const std::string& directory, int level)
{
    m_sourceDirectory = directory;
    m_level = level;
}

bool MBDFFileBlock::isValid() const
{
    if (tag() != MBDF_FILE_TAG)
        return false;
    const uint64_t l1 = part1Size();
    const uint8_t* p = part1Data();
    // The name must lie inside part 1.
    return l1 >= kFixedPart1 && p && kFixedPart1 + jlib_load16be(p) <= l1;
}

uint8_t MBDFFileBlock::key() const
{
    return isValid() ? part1Data()[3] : 0;
}

uint32_t MBDFFileBlock::flags() const
{
    return isValid() ? jlib_load32be(part1Data() + 4) : 0;
}

std::string MBDFFileBlock::fileName() const
{
    if (!isValid())
        return std::string();
    const uint8_t* p = part1Data();
    const uint32_t n = jlib_load16be(p);
    std::string name(reinterpret_cast<const char*>(p + kFixedPart1), n);
    xorScramble(name.data(), name.size(), p[3]);
    const size_t nul = name.find('\0');
    if (nul != std::string::npos)
        name.resize(nul);
    return name;
}

JResult MBDFFileBlock::setFromFile(const char* subName, bool expectDirectory, const char* directory, const char* name,
    bool loadContent, int level, uint8_t key)
{
    clear();
    if (!name || level < 0 || level > MBDF_MAX_LEVEL)
        return FCACHE_E_ARG;
    const std::string path = joinPath(directory, name);
    bool readOnly = false, hidden = false, reserved = false, isDir = false;
    if (getAttributes(path.c_str(), &readOnly, &hidden, &reserved, &isDir) < 0 || isDir != expectDirectory)
        return FCACHE_E_FILE;
    const size_t n = std::strlen(name);
    if (n > 0xFFFF || setTag(MBDF_FILE_TAG) < 0 || setSubName(subName) < 0) {
        clear();
        return FCACHE_E_ARG;
    }
    uint32_t flags = (readOnly ? MBDF_FILE_READONLY : 0) | (hidden ? MBDF_FILE_HIDDEN : 0);
    if (isDir)
        flags |= MBDF_FILE_DIRECTORY | MBDF_FILE_RESERVED;
    else
        flags |= (reserved ? MBDF_FILE_RESERVED : 0) | (level > 0 ? MBDF_FILE_COMPRESSED : 0);
    MBDFPart fixed = mbdf_allocPart(n + kFixedPart1);
    if (!fixed) {
        JLIB_DEBUGBRK();
        clear();
        return FCACHE_E_MEMORY;
    }
    uint8_t* p = fixed.get();
    jlib_store16be(p, static_cast<uint16_t>(n));
    p[3] = key;
    jlib_store32be(p + 4, flags);
    std::memcpy(p + kFixedPart1, name, n);
    xorScramble(p + kFixedPart1, n, key);
    if (storePart(1, p, static_cast<uint32_t>(n + kFixedPart1)) < 0) {
        clear();
        return FCACHE_E_ARG;
    }
    if (!isDir) {
        JResult r = FCACHE_OK;
        if (loadContent) {
            r = packContent(directory, name, level, key);
        } else {
            const int64_t size = fileSize(path.c_str());
            setPart2Length(size > 0 ? static_cast<uint32_t>(size) : 0);
        }
        if (r < 0) {
            clear();
            return r;
        }
    }
    m_sourceDirectory = directory ? directory : "";
    m_level = level;
    return FCACHE_OK;
}

JResult MBDFFileBlock::packContent(const char* directory, const char* name, int level, uint8_t key)
{
    if (!isValid()) {
        JLIB_DEBUGBRK();
        return FCACHE_E_INVALID;
    }
    if (!name || level < 0 || level > MBDF_MAX_LEVEL)
        return FCACHE_E_ARG;
    if (isDirectory())
        return FCACHE_OK;
    const std::string path = joinPath(directory, name);
    FileAccessor in;
    if (in.open(path.c_str(), FileAccessor::ReadOnly) < 0)
        return FCACHE_E_FILE;
    const uint32_t size = in.size();
    storePart(2, nullptr, 0);
    if (size == 0)
        return FCACHE_OK;
    // Room left in this block for what the reader still accepts.
    const uint64_t room = MBDF_BLOCK_LIMIT - part1Size();
    if (level == 0) {
        if (size > room)
            return FCACHE_E_DATA;
        MBDFPart content = mbdf_allocPart(size);
        if (!content)
            return FCACHE_E_MEMORY;
        uint32_t got = 0;
        while (got < size) {
            uint32_t count = 0;
            if (in.read(content.get() + got, size - got, &count) < 0 || count == 0)
                return FCACHE_E_FILE;
            got += count;
        }
        xorScramble(content.get(), size, key);
        part2() = std::move(content);
        setPart2Length(size);
        return FCACHE_OK;
    }
    if (size > MBDF_CONTENT_LIMIT)
        return FCACHE_E_DATA;
    const uint64_t bound = deflateBound(nullptr, size);
    const uint64_t capacity = bound < room ? bound : room;
    MBDFPart stream = mbdf_allocPart(capacity);
    if (!stream)
        return FCACHE_E_MEMORY;
    uint64_t used = 0;
    const JResult r = deflateFile(in, size, level, key, [&](const uint8_t* data, uint32_t n) {
        if (used + n > capacity)
            return FCACHE_E_DATA;
        std::memcpy(stream.get() + used, data, n);
        used += n;
        return FCACHE_OK;
    });
    if (r < 0)
        return r;
    part2() = std::move(stream);
    setPart2Length(static_cast<uint32_t>(used));
    return FCACHE_OK;
}

JResult MBDFFileBlock::streamContent(FileAccessor& container, uint32_t* written)
{
    const std::string path = joinPath(m_sourceDirectory.c_str(), fileName().c_str());
    FileAccessor in;
    if (in.open(path.c_str(), FileAccessor::ReadOnly) < 0)
        return FCACHE_E_FILE;
    const uint32_t size = in.size();
    const uint64_t room = MBDF_BLOCK_LIMIT - part1Size();
    uint64_t count = 0;
    auto sink = [&](const uint8_t* data, uint32_t n) {
        // A block the reader would refuse is not written.
        if (count + n > room)
            return FCACHE_E_DATA;
        uint32_t moved = 0;
        if (container.write(data, n, &moved) < 0 || moved != n)
            return FCACHE_E_FILE;
        count += n;
        return FCACHE_OK;
    };
    JResult r = FCACHE_OK;
    if (size == 0) {
        r = FCACHE_OK;
    } else if (m_level == 0) {
        uint8_t piece[kPiece];
        uint32_t remaining = size;
        while (remaining > 0 && r >= 0) {
            const uint32_t want = remaining < kPiece ? remaining : kPiece;
            uint32_t got = 0;
            // A file that shrank since its size was taken ends here.
            if (in.read(piece, want, &got) < 0 || got == 0 || got > want)
                return FCACHE_E_FILE;
            remaining -= got;
            xorScramble(piece, got, key());
            r = sink(piece, got);
        }
    } else {
        r = size > MBDF_CONTENT_LIMIT ? FCACHE_E_DATA : deflateFile(in, size, m_level, key(), sink);
    }
    *written = static_cast<uint32_t>(count);
    return r;
}

JResult MBDFFileBlock::writeToFile(FileAccessor& accessor)
{
    if (!isValid()) {
        JLIB_DEBUGBRK();
        return FCACHE_E_INVALID;
    }
    if (isDirectory() || part2Size() == 0 || part2Data())
        return MBDFAbstractBlock::writeToFile(accessor);
    if (m_level < 0 || m_level > MBDF_MAX_LEVEL)
        return FCACHE_E_ARG;
    if (!accessor.isOpen())
        return FCACHE_E_FILE;
    const uint32_t start = accessor.tell();
    JResult r = writeHeader(accessor);
    if (r < 0)
        return r;
    const auto padded1 = static_cast<uint32_t>(part1Size(true));
    uint32_t moved = 0;
    if (accessor.write(part1Data(), padded1, &moved) < 0 || moved != padded1)
        return FCACHE_E_FILE;
    uint32_t count = 0;
    r = streamContent(accessor, &count);
    if (r < 0)
        return r;
    const uint8_t zeros[4] = {};
    const uint32_t pad = padding4(count);
    if (pad > 0 && (accessor.write(zeros, pad, &moved) < 0 || moved != pad))
        return FCACHE_E_FILE;
    setPart2Length(count);
    if (accessor.seek(FSW_SEEK_SET, start) < 0 || writeHeader(accessor) < 0 || accessor.seek(FSW_SEEK_END, 0) < 0)
        return FCACHE_E_FILE;
    return FCACHE_OK;
}

JResult MBDFFileBlock::applyAttributes(const std::string& path) const
{
    // A read-only folder would stop the extraction of its own files; on the
    // platform this format comes from the bit never did.
    const bool readOnly = isReadOnly() && !isDirectory();
    return setAttributes(path.c_str(), readOnly, isHidden(), reservedAttribute()) < 0 ? FCACHE_E_FILE : FCACHE_OK;
}

JResult MBDFFileBlock::extractTo(const char* destination)
{
    if (!isValid()) {
        JLIB_DEBUGBRK();
        return FCACHE_E_INVALID;
    }
    if (!isDirectory() && part2Size() > 0 && !part2Data()) {
        JLIB_DEBUGBRK();
        return FCACHE_E_NOT_LOADED;
    }
    std::string path;
    JResult r = extractionPath(destination, fileName(), &path);
    if (r < 0)
        return r;
    if (isDirectory()) {
        if (makeDirectory(path.c_str()) < 0)
            return FCACHE_E_FILE;
        return applyAttributes(path);
    }
    SafeFile out;
    if (out.begin(path) < 0)
        return FCACHE_E_FILE;
    const auto length = static_cast<uint32_t>(part2Size());
    if (length == 0)
        return out.commit();
    if (isCompressed()) {
        bool given = false;
        r = inflateTo(out.file(), key(), [&](const uint8_t** data, uint32_t* n) {
            *data = part2Data();
            *n = given ? 0 : length;
            given = true;
            return FCACHE_OK;
        });
    } else {
        r = writeScrambled(out.file(), part2Data(), length, key());
    }
    if (r < 0)
        return r;
    r = out.commit();
    return r < 0 ? r : applyAttributes(path);
}

JResult MBDFFileBlock::extractFromContainer(const char* destination, FileAccessor& accessor)
{
    JResult r = readFromFile(accessor, isComplete());
    if (r < 0)
        return r;
    if (part2Data() || isDirectory() || part2Size() == 0)
        return extractTo(destination);
    const auto length = static_cast<uint32_t>(part2Size());
    if (accessor.seek(FSW_SEEK_CUR, -static_cast<int64_t>(roundUp4(length))) < 0)
        return FCACHE_E_FILE;
    std::string path;
    r = extractionPath(destination, fileName(), &path);
    if (r < 0)
        return r;
    SafeFile out;
    if (out.begin(path) < 0)
        return FCACHE_E_FILE;
    uint8_t input[kPiece];
    uint32_t remaining = length;
    // The container ending before the content does is a read failure.
    auto next = [&](const uint8_t** data, uint32_t* n) {
        *data = input;
        *n = 0;
        if (remaining == 0)
            return FCACHE_OK;
        const uint32_t want = remaining < kPiece ? remaining : kPiece;
        uint32_t got = 0;
        if (accessor.read(input, want, &got) < 0 || got == 0 || got > want)
            return FCACHE_E_FILE;
        remaining -= got;
        *n = got;
        return FCACHE_OK;
    };
    if (isCompressed()) {
        r = inflateTo(out.file(), key(), next);
        if (r >= 0 && accessor.seek(FSW_SEEK_CUR, static_cast<int64_t>(remaining) + padding4(length)) < 0)
            r = FCACHE_E_FILE;
    } else {
        r = FCACHE_OK;
        while (r >= 0 && remaining > 0) {
            const uint8_t* data = nullptr;
            uint32_t n = 0;
            r = next(&data, &n);
            if (r >= 0)
                r = writeScrambled(out.file(), data, n, key());
        }
    }
    if (r < 0)
        return r;
    r = out.commit();
    return r < 0 ? r : applyAttributes(path);
}

// ---------------------------------------------------------------------------

std::unique_ptr<MBDFFileBlock> ArchiveFile::FileBlockBridge::createBlock()
{
    return std::unique_ptr<MBDFFileBlock>(new (std::nothrow) MBDFFileBlock());
}

JResult ArchiveFile::FileBlockBridge::insertBlock(MBDF& container, const MBDFFileBlock& block)
{
    std::unique_ptr<MBDFFileBlock> copy = createBlock();
    // A deep copy leaves its source as it was.
    if (!copy || copy->copyFrom(const_cast<MBDFFileBlock&>(block), true) < 0) {
        JLIB_DEBUGBRK();
        return FCACHE_E_FAIL;
    }
    copy->setSource(block.sourceDirectory(), block.level());
    return container.append(std::move(copy));
}

MBDFFileBlock* ArchiveFile::FileBlockBridge::fileBlockAt(MBDF& container, MBDF::Position position)
{
    MBDFAbstractBlock& block = container.blockAt(position);
    if (block.isNull() || block.tag() != MBDF_FILE_TAG)
        return nullptr;
    return dynamic_cast<MBDFFileBlock*>(&block);
}

const MBDFFileBlock* ArchiveFile::FileBlockBridge::fileBlockAt(const MBDF& container, MBDF::Position position)
{
    return fileBlockAt(const_cast<MBDF&>(container), position);
}

ArchiveFile::ArchiveFile(int kind)
    : AbstractArchiveFile(kind, std::make_unique<FileBlockBridge>())
{
}

AbstractArchiveFile::AbstractArchiveFile(int kind, std::unique_ptr<IBlockBridge> bridge)
    : m_container(kind)
    , m_bridge(std::move(bridge))
{
    mbdf_registerFileBlockFactory();
}

AbstractArchiveFile::~AbstractArchiveFile()
{
    releaseEntries();
}

void AbstractArchiveFile::releaseEntries()
{
    for (const Entry& entry : m_entries)
        if (entry.handle != 0)
            m_bridge->releaseHandle(entry.handle);
    m_entries.clear();
}

JResult AbstractArchiveFile::reset(const char* displayDirectory)
{
    m_displayDirectory = displayDirectory ? displayDirectory : "";
    releaseEntries();
    m_container.clear();
    return FCACHE_OK;
}

JResult AbstractArchiveFile::open(const char* directory, const char* fileName, const char* expectedName)
{
    if (!fileName)
        return FCACHE_E_FAIL;
    releaseEntries();
    const std::string path = joinPath(directory, fileName);
    const JResult r = m_container.read(path.c_str(), false, nullptr, nullptr);
    if (r < 0)
        return r;
    if (!m_container.isKind(MBDF_ARCHIVE_KIND) || (expectedName && m_container.topName() != expectedName)
        || !m_container.isValid()) {
        m_container.clear();
        return FCACHE_E_FAIL;
    }
    for (MBDF::Position p = m_container.begin(); p != m_container.end(); p = m_container.next(p)) {
        const MBDFFileBlock* block = m_bridge->fileBlockAt(m_container, p);
        if (block)
            m_entries.push_back({block->isDirectory(), block->fileName(), m_bridge->entryHandle(*block)});
    }
    return FCACHE_OK;
}

JResult AbstractArchiveFile::extractAll(
    const char* destination, const MBDFAbortFlag* abortFlag, IMBDFObserver* observer)
{
    if (!m_container.isValid())
        return FCACHE_E_FAIL;
    IMBDFObserver& report = observer ? *observer : DummyMBDFObserver::instance();
    const uint64_t total = m_container.blockCount();
    uint64_t i = 0;
    for (MBDF::Position p = m_container.begin(); p != m_container.end(); p = m_container.next(p), ++i) {
        MBDFFileBlock* block = m_bridge->fileBlockAt(m_container, p);
        if (!block)
            continue;
        const std::string shown = joinPath(m_displayDirectory.c_str(), block->fileName().c_str());
        if (abortFlag && abortFlag->load() != 0) {
            report.progress(MBDF_WRITING, i, total, shown.c_str(), "Aborted.", true);
            return FCACHE_E_ABORTED;
        }
        report.progress(MBDF_WRITING, i, total, shown.c_str(), "Extracting files...", false);
        FileAccessor accessor;
        JResult r = m_container.openBlockContent(&accessor, p);
        if (r >= 0)
            r = block->extractFromContainer(destination, accessor);
        if (r < 0) {
            report.error(MBDF_WRITING, shown.c_str(), FCACHE_E_FAIL);
            return FCACHE_E_FAIL;
        }
    }
    report.progress(MBDF_WRITING, total, total, nullptr, "Finshed.", true);
    return FCACHE_OK;
}

} // namespace FILECACHE
