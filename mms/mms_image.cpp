// Images: records, headers, the definition-block walker, byte-order
// conversion and the multi-function bundle. Kept in one file on purpose: all
// of them share the private byte-order marks and swap helpers, and the walker
// is the one check every import and every block reader relies on.
#include "mms/mms_image.h"

#include "mms/mms_wrap.h"
#include "pbd/jlib/jlib_md5.h"

#include <cstring>
#include <utility>
#include <vector>

namespace MMS {

namespace L = ImageLayout;

namespace {

constexpr char kMarkBig[4] = {'B', 'I', 'G', 0};
constexpr char kMarkLittle[4] = {'L', 'I', 'T', 0};

uint16_t swap16(uint16_t v)
{
    return static_cast<uint16_t>((v >> 8) | (v << 8));
}

uint32_t swap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

void swapBytes(uint8_t* p, size_t width)
{
    for (size_t i = 0, j = width - 1; i < j; ++i, --j) {
        const uint8_t t = p[i];
        p[i] = p[j];
        p[j] = t;
    }
}

void swapField32(uint8_t* p)
{
    imageStore32(p, swap32(imageLoad32(p)));
}

void swapField16(uint8_t* p)
{
    imageStore16(p, swap16(imageLoad16(p)));
}

uint32_t loadOrdered32(const uint8_t* p, bool swapped)
{
    const uint32_t v = imageLoad32(p);
    return swapped ? swap32(v) : v;
}

uint16_t loadOrdered16(const uint8_t* p, bool swapped)
{
    const uint16_t v = imageLoad16(p);
    return swapped ? swap16(v) : v;
}

// Length of a text within max bytes.
size_t boundedLength(const char* text, size_t max)
{
    size_t n = 0;
    while (n < max && text[n] != 0)
        ++n;
    return n;
}

void copyText(char* field, size_t fieldSize, const char* text)
{
    std::memset(field, 0, fieldSize);
    if (text != nullptr)
        std::memcpy(field, text, boundedLength(text, fieldSize - 1));
}

// Does the order code ask for the byte order this host does not have?
bool orderNeedsSwap(int order)
{
    const bool big = imageHostIsBigEndian();
    return (order == IMAGE_ORDER_LITTLE && big) || (order == IMAGE_ORDER_BIG && !big);
}

const char* hostMark()
{
    return imageHostIsBigEndian() ? kMarkBig : kMarkLittle;
}

bool validRecordName(const char* name)
{
    if (name == nullptr)
        return false;
    const size_t n = boundedLength(name, IMAGE_NAME_SIZE);
    return n >= 1 && n < IMAGE_NAME_SIZE;
}

// --- Walking a definition block -------------------------------------------
//
// The records may be in the other byte order (recordsSwapped).

struct Walk {
    const uint8_t* part1;
    uint64_t part1Length;
    bool recordsSwapped;
};

struct CollectionView {
    uint64_t parameterBytes;
    uint64_t childBytes;
    uint64_t offset;
    uint64_t elementSize;
    uint64_t arraySize;
};

bool readCollectionView(const Walk& w, uint64_t at, CollectionView* view)
{
    if (at + COLLECTION_RECORD_SIZE > w.part1Length)
        return false;
    const uint8_t* p = w.part1 + at;
    if (std::memcmp(p, "COL", 3) != 0 || p[3] != COLLECTION_RECORD_SIZE)
        return false;
    view->parameterBytes = loadOrdered32(p + L::COL_PARAMETER_BYTES, w.recordsSwapped);
    view->childBytes = loadOrdered32(p + L::COL_CHILD_BYTES, w.recordsSwapped);
    view->offset = loadOrdered32(p + L::COL_OFFSET, w.recordsSwapped);
    view->elementSize = loadOrdered32(p + L::COL_ELEMENT_SIZE, w.recordsSwapped);
    view->arraySize = loadOrdered32(p + L::COL_ARRAY_SIZE, w.recordsSwapped);
    if (view->parameterBytes % PARAMETER_RECORD_SIZE != 0)
        return false;
    return at + COLLECTION_RECORD_SIZE + view->parameterBytes + view->childBytes <= w.part1Length;
}

struct ParameterView {
    uint8_t swapClass;
    uint64_t width;
    uint64_t arraySize;
};

bool readParameterView(const Walk& w, uint64_t at, ParameterView* view)
{
    const uint8_t* p = w.part1 + at;
    if (std::memcmp(p, "PR", 2) != 0 || p[2] != PARAMETER_RECORD_SIZE)
        return false;
    view->swapClass = p[L::PR_SWAP_CLASS];
    view->width = loadOrdered16(p + L::PR_WIDTH, w.recordsSwapped);
    view->arraySize = loadOrdered16(p + L::PR_ARRAY_SIZE, w.recordsSwapped);
    if (view->swapClass > IMAGE_SWAP_REAL)
        return false;
    if (view->swapClass == IMAGE_SWAP_NONE)
        return true;
    if (view->width == 0)
        return view->swapClass == IMAGE_SWAP_UNSIGNED; // "bit"
    return view->width == 1 || view->width == 2 || view->width == 4 || view->width == 8;
}

// What the data conversion does for one collection: the swapped element
// runs of one of its elements, and the children that hold any. Built once
// from the records, so the work of a conversion is bounded by the data bytes
// however many records or elements the block declares.
struct Span {
    uint64_t offset;
    uint64_t width;
    uint64_t count;
};

struct PlanNode {
    uint64_t offset = 0;
    uint64_t elementSize = 0;
    uint64_t arraySize = 0;
    std::vector<Span> spans;
    std::vector<PlanNode> children;
    bool empty() const { return spans.empty() && children.empty(); }
};

// Places the parameters of one element as the layout does (bit parameters
// packed, a partly used byte completed before a wider parameter and at the
// end). Returns false on a malformed record; *extent is the bytes used.
bool planParameters(const Walk& w, uint64_t first, uint64_t bytes, PlanNode* node, uint64_t* extent)
{
    uint64_t m = 0;
    uint64_t bit = 0;
    for (uint64_t at = first; at < first + bytes; at += PARAMETER_RECORD_SIZE) {
        ParameterView pv{};
        if (!readParameterView(w, at, &pv))
            return false;
        if (pv.swapClass == IMAGE_SWAP_UNSIGNED && pv.width == 0) {
            m += (bit + pv.arraySize) / 8;
            bit = (bit + pv.arraySize) % 8;
            continue;
        }
        if (bit != 0) {
            ++m;
            bit = 0;
        }
        if (pv.swapClass != IMAGE_SWAP_NONE && pv.width > 1 && pv.arraySize != 0)
            node->spans.push_back(Span{m, pv.width, pv.arraySize});
        m += pv.width * pv.arraySize;
    }
    if (bit != 0)
        ++m;
    *extent = m;
    return true;
}

// Checks the collection record at `at`, whose elements must lie inside an
// enclosing area of `room` bytes, and builds its plan. Returns the end of
// the record in part 1, or 0 when anything is malformed.
uint64_t planCollection(const Walk& w, uint64_t at, uint64_t room, uint32_t depth, PlanNode* node)
{
    if (depth >= IMAGE_MAX_COLLECTION_DEPTH)
        return 0;
    CollectionView cv{};
    if (!readCollectionView(w, at, &cv))
        return 0;
    // Both factors are 32-bit values: the product cannot wrap in 64 bits.
    if (cv.offset + cv.elementSize * cv.arraySize > room)
        return 0;
    node->offset = cv.offset;
    node->elementSize = cv.elementSize;
    node->arraySize = cv.arraySize;

    const uint64_t firstParameter = at + COLLECTION_RECORD_SIZE;
    const uint64_t firstChild = firstParameter + cv.parameterBytes;
    const uint64_t end = firstChild + cv.childBytes;
    uint64_t used = 0;
    if (!planParameters(w, firstParameter, cv.parameterBytes, node, &used) || used > cv.elementSize)
        return 0;

    // Children follow the parameters' data in ascending, disjoint places.
    uint64_t child = firstChild;
    while (child < end) {
        PlanNode childNode;
        const uint64_t childEnd = planCollection(w, child, cv.elementSize, depth + 1, &childNode);
        if (childEnd == 0 || childEnd > end || childNode.offset < used)
            return 0;
        used = childNode.offset + childNode.elementSize * childNode.arraySize;
        if (!childNode.empty())
            node->children.push_back(std::move(childNode));
        child = childEnd;
    }
    if (cv.arraySize == 0 || cv.elementSize == 0) {
        node->spans.clear();
        node->children.clear();
    }
    return end;
}

void runPlan(const PlanNode& node, uint8_t* part2, uint64_t base)
{
    // Nothing to swap: skip the elements however many are declared. A node
    // with something to swap has elements of 2 bytes or more inside the data,
    // so their count is bounded by the data's size.
    if (node.empty())
        return;
    for (uint64_t d = 0; d < node.arraySize; ++d) {
        const uint64_t g = base + node.offset + node.elementSize * d;
        for (const Span& s : node.spans) {
            for (uint64_t e = 0; e < s.count; ++e)
                swapBytes(part2 + g + s.offset + e * s.width, s.width);
        }
        for (const PlanNode& child : node.children)
            runPlan(child, part2, g);
    }
}

bool planBlock(const uint8_t* part1, uint32_t part1Length, uint32_t part2Length, bool recordsSwapped, PlanNode* root)
{
    const Walk w{part1, part1Length, recordsSwapped};
    // The block is exactly one collection record (0 is the walk's failure).
    const uint64_t end = planCollection(w, 0, part2Length, 0, root);
    return end != 0 && end == part1Length;
}

// Swaps every record of a checked block in place.
void swapRecords(uint8_t* part1, uint64_t at, bool recordsSwapped)
{
    const Walk w{part1, ~0ull, recordsSwapped};
    CollectionView cv{};
    readCollectionView(w, at, &cv);
    const uint64_t firstParameter = at + COLLECTION_RECORD_SIZE;
    const uint64_t firstChild = firstParameter + cv.parameterBytes;
    const uint64_t end = firstChild + cv.childBytes;
    for (uint64_t p = firstParameter; p < firstChild; p += PARAMETER_RECORD_SIZE)
        swapParameterRecord(part1 + p);
    for (uint64_t child = firstChild; child < end;) {
        CollectionView ch{};
        readCollectionView(w, child, &ch);
        swapRecords(part1, child, recordsSwapped);
        child += COLLECTION_RECORD_SIZE + ch.parameterBytes + ch.childBytes;
    }
    swapCollectionHeader(part1 + at);
}

JResult convertParts(uint8_t* part1, uint32_t part1Length, uint8_t* part2, uint32_t part2Length, bool recordsSwapped)
{
    PlanNode root;
    if (!planBlock(part1, part1Length, part2Length, recordsSwapped, &root))
        return MMS_E_ARG;
    runPlan(root, part2, 0);
    swapRecords(part1, 0, recordsSwapped);
    return JLIB_OK;
}

// A record states its own size in the byte after its magic. Only what the
// record states and the buffer holds is copied; the rest of out stays zero.
JResult readSizedRecord(uint8_t* out, size_t size, const char* magic, size_t magicLength, const uint8_t* source,
    size_t length, bool swap, void (*swapRecord)(uint8_t*))
{
    if (out == nullptr || source == nullptr || length < magicLength + 1 || std::memcmp(source, magic, magicLength) != 0)
        return MMS_E_ARG;
    const size_t stated = source[magicLength] < size ? source[magicLength] : size;
    const size_t n = stated < length ? stated : length;
    std::memset(out, 0, size);
    std::memcpy(out, source, n);
    if (swap)
        swapRecord(out);
    return JLIB_OK;
}

} // namespace

// --- Helpers ----------------------------------------------------------------

bool imageHostIsBigEndian()
{
    const uint8_t bytes[4] = {1, 2, 3, 4};
    return imageLoad32(bytes) == 0x01020304u;
}

uint32_t imageLoad32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint16_t imageLoad16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

void imageStore32(uint8_t* p, uint32_t value)
{
    std::memcpy(p, &value, 4);
}

void imageStore16(uint8_t* p, uint16_t value)
{
    std::memcpy(p, &value, 2);
}

uint8_t imageSwapClass(uint32_t typeCode)
{
    switch (typeCode) {
    case 0x001:
    case 0x002:
    case 0x004:
        return IMAGE_SWAP_SIGNED;
    case 0x100:
    case 0x101:
    case 0x102:
    case 0x104:
        return IMAGE_SWAP_UNSIGNED;
    case 0x304:
        return IMAGE_SWAP_REAL;
    default:
        return IMAGE_SWAP_NONE;
    }
}

void imageDigest(char* out36, const uint8_t* data, size_t length)
{
    static const char kHex[] = "0123456789abcdef";
    jlib_md5_ctx context;
    jlib_md5Init(&context);
    jlib_md5Update(&context, data, length);
    uint8_t digest[16];
    jlib_md5Final(digest, &context);
    std::memset(out36, 0, IMAGE_DIGEST_SIZE);
    for (int i = 0; i < 16; ++i) {
        out36[2 * i] = kHex[digest[i] >> 4];
        out36[2 * i + 1] = kHex[digest[i] & 0x0F];
    }
}

// --- CollectionTagInfo ------------------------------------------------------

CollectionTagInfo::CollectionTagInfo()
    : m_hostBigEndian(imageHostIsBigEndian())
{
}

CollectionTagInfo::~CollectionTagInfo()
{
    releaseDefinitionQuiet(m_allocWrapper);
}

void CollectionTagInfo::setName(const char* name)
{
    copyText(m_name, sizeof m_name, name);
}

void CollectionTagInfo::setAlias(const char* alias)
{
    copyText(m_alias, sizeof m_alias, alias);
}

JResult CollectionTagInfo::getName(char* out24) const
{
    if (out24 == nullptr)
        return MMS_E_ARG;
    std::memcpy(out24, m_name, sizeof m_name);
    return JLIB_OK;
}

JResult CollectionTagInfo::getAlias(char* out12) const
{
    if (out12 == nullptr)
        return MMS_E_ARG;
    std::memcpy(out12, m_alias, sizeof m_alias);
    return JLIB_OK;
}

JResult CollectionTagInfo::getDigest(char* out36) const
{
    if (out36 == nullptr)
        return MMS_E_ARG;
    std::memcpy(out36, m_digest, sizeof m_digest);
    return JLIB_OK;
}

JResult CollectionTagInfo::allocateDefinition(SharedMemWrapper* wrapper, uint32_t length)
{
    if (wrapper == nullptr || length == 0)
        return MMS_E_INNER;
    releaseDefinitionQuiet(m_allocWrapper);
    auto* block = static_cast<uint8_t*>(wrapper->allocate(length));
    if (block == nullptr)
        return MMS_E_MEMORY;
    std::memset(block, 0, length);
    m_definition = block;
    m_definitionLength = length;
    m_owned = true;
    m_allocWrapper = wrapper;
    return JLIB_OK;
}

JResult CollectionTagInfo::copyDefinition(SharedMemWrapper* wrapper, const void* source, uint32_t length)
{
    if (source == nullptr || length == 0)
        return MMS_E_ARG;
    const JResult r = allocateDefinition(wrapper, length);
    if (r < 0)
        return r;
    std::memcpy(m_definition, source, length);
    updateDigest();
    return JLIB_OK;
}

JResult CollectionTagInfo::attachDefinition(void* source, uint32_t length)
{
    if (source == nullptr || length == 0)
        return MMS_E_ARG;
    if (m_owned && m_definition != nullptr)
        return MMS_E_INNER;
    m_definition = static_cast<uint8_t*>(source);
    m_definitionLength = length;
    m_owned = false;
    m_allocWrapper = nullptr;
    updateDigest();
    return JLIB_OK;
}

JResult CollectionTagInfo::releaseDefinition(SharedMemWrapper* wrapper)
{
    if (m_owned && m_definition != nullptr && wrapper == nullptr)
        return MMS_E_INNER;
    return releaseDefinitionQuiet(wrapper);
}

JResult CollectionTagInfo::releaseDefinitionQuiet(SharedMemWrapper* wrapper)
{
    if (m_owned && m_definition != nullptr) {
        if (wrapper == nullptr)
            return JLIB_OK;
        wrapper->free(m_definition);
    }
    m_definition = nullptr;
    m_definitionLength = 0;
    m_owned = false;
    m_allocWrapper = nullptr;
    return JLIB_OK;
}

void CollectionTagInfo::updateDigest()
{
    std::memset(m_digest, 0, sizeof m_digest);
    if (m_definition != nullptr)
        imageDigest(m_digest, m_definition, m_definitionLength);
}

JResult CollectionTagInfo::writeImageHeader(
    uint8_t* destination, uint32_t part1Length, uint32_t part2Length, int order) const
{
    if (destination == nullptr)
        return MMS_E_ARG;
    uint8_t header[IMAGE_HEADER_SIZE] = {};
    std::memcpy(header, "MMS", 3);
    header[3] = IMAGE_HEADER_SIZE;
    std::memcpy(header + L::HEADER_MARK, m_hostBigEndian ? kMarkBig : kMarkLittle, 4);
    std::memcpy(header + L::HEADER_NAME, m_name, IMAGE_NAME_SIZE);
    std::memcpy(header + L::HEADER_ALIAS, m_alias, IMAGE_ALIAS_SIZE);
    imageDigest(reinterpret_cast<char*>(header + L::HEADER_DIGEST), destination + IMAGE_HEADER_SIZE, part1Length);
    imageStore32(header + L::HEADER_PART1_LENGTH, part1Length);
    imageStore32(header + L::HEADER_PART2_LENGTH, part2Length);
    if (orderNeedsSwap(order))
        swapImageHeader(header);
    std::memcpy(destination, header, IMAGE_HEADER_SIZE);
    return JLIB_OK;
}

// --- Records ----------------------------------------------------------------

JResult buildCollectionRecord(uint8_t* record, const char* name, uint32_t parameterBytes, uint32_t childBytes,
    uint32_t offset, uint32_t elementSize, uint32_t arraySize)
{
    if (record == nullptr)
        return MMS_E_INNER;
    if (!validRecordName(name))
        return MMS_E_ARG;
    std::memset(record, 0, COLLECTION_RECORD_SIZE);
    std::memcpy(record, "COL", 3);
    record[3] = COLLECTION_RECORD_SIZE;
    std::memcpy(record + L::COL_NAME, name, boundedLength(name, IMAGE_NAME_SIZE));
    imageStore32(record + L::COL_PARAMETER_BYTES, parameterBytes);
    imageStore32(record + L::COL_CHILD_BYTES, childBytes);
    imageStore32(record + L::COL_OFFSET, offset);
    imageStore32(record + L::COL_ELEMENT_SIZE, elementSize);
    imageStore32(record + L::COL_ARRAY_SIZE, arraySize);
    return JLIB_OK;
}

JResult buildParameterRecord(uint8_t* record, const char* name, uint16_t width, uint16_t arraySize, uint32_t typeCode)
{
    if (record == nullptr)
        return MMS_E_INNER;
    if (!validRecordName(name))
        return MMS_E_ARG;
    std::memset(record, 0, PARAMETER_RECORD_SIZE);
    std::memcpy(record, "PR", 2);
    record[2] = PARAMETER_RECORD_SIZE;
    record[L::PR_SWAP_CLASS] = imageSwapClass(typeCode);
    // Bits are packed, not stored as elements: width 0 tells the converters so.
    imageStore16(record + L::PR_WIDTH, typeCode == 0x100 ? 0 : width);
    imageStore16(record + L::PR_ARRAY_SIZE, arraySize);
    std::memcpy(record + L::PR_NAME, name, boundedLength(name, IMAGE_NAME_SIZE));
    return JLIB_OK;
}

JResult readCollectionHeader(uint8_t* out48, const uint8_t* source, size_t length, bool swap)
{
    return readSizedRecord(out48, COLLECTION_RECORD_SIZE, "COL", 3, source, length, swap, swapCollectionHeader);
}

JResult readParameterRecord(uint8_t* out32, const uint8_t* source, size_t length, bool swap)
{
    return readSizedRecord(out32, PARAMETER_RECORD_SIZE, "PR", 2, source, length, swap, swapParameterRecord);
}

const uint8_t* collectionAt(const uint8_t* definition, size_t length, size_t offset)
{
    if (definition == nullptr || static_cast<uint64_t>(offset) + COLLECTION_RECORD_SIZE > length)
        return nullptr;
    return std::memcmp(definition + offset, "COL", 3) == 0 ? definition + offset : nullptr;
}

const uint8_t* parameterAt(const uint8_t* definition, size_t length, size_t offset)
{
    if (definition == nullptr || static_cast<uint64_t>(offset) + PARAMETER_RECORD_SIZE > length)
        return nullptr;
    return std::memcmp(definition + offset, "PR", 2) == 0 ? definition + offset : nullptr;
}

uint64_t collectionEnd(const uint8_t* definition, size_t length, size_t offset)
{
    const uint8_t* c = collectionAt(definition, length, offset);
    if (c == nullptr)
        return offset;
    return static_cast<uint64_t>(offset) + COLLECTION_RECORD_SIZE + imageLoad32(c + L::COL_PARAMETER_BYTES)
        + imageLoad32(c + L::COL_CHILD_BYTES);
}

JResult copyCollectionRecord(uint8_t* destination, size_t destinationSize, const uint8_t* definition, size_t length,
    size_t offset, uint32_t arraySize, size_t* written)
{
    if (destination == nullptr || definition == nullptr)
        return MMS_E_ARG;
    const uint8_t* c = collectionAt(definition, length, offset);
    if (c == nullptr)
        return MMS_E_ARG;
    const uint64_t end = collectionEnd(definition, length, offset);
    const uint64_t size = end - offset;
    if (end > length || size > destinationSize)
        return MMS_E_ARG;
    std::memcpy(destination, c, size);
    imageStore32(destination + L::COL_OFFSET, 0);
    if (arraySize != 0)
        imageStore32(destination + L::COL_ARRAY_SIZE, arraySize);
    if (written != nullptr)
        *written = size;
    return JLIB_OK;
}

bool sameParameterRecords(
    const uint8_t* definition, size_t length, size_t offset, const uint8_t* records, size_t recordsLength)
{
    if (collectionAt(definition, length, offset) == nullptr || records == nullptr)
        return false;
    const uint64_t start = static_cast<uint64_t>(offset) + COLLECTION_RECORD_SIZE;
    if (start + recordsLength > length)
        return false;
    return std::memcmp(definition + start, records, recordsLength) == 0;
}

bool sameCollectionBody(
    const uint8_t* definition, size_t length, size_t offset, const uint8_t* record, size_t recordLength)
{
    if (collectionAt(definition, length, offset) == nullptr || record == nullptr
        || recordLength < COLLECTION_RECORD_SIZE)
        return false;
    const uint64_t body = recordLength - COLLECTION_RECORD_SIZE;
    const uint64_t start = static_cast<uint64_t>(offset) + COLLECTION_RECORD_SIZE;
    if (start + body > length)
        return false;
    return std::memcmp(definition + start, record + COLLECTION_RECORD_SIZE, body) == 0;
}

bool classMatches(const uint8_t* parameterRecord, uint32_t typeCode)
{
    return parameterRecord != nullptr && parameterRecord[L::PR_SWAP_CLASS] == imageSwapClass(typeCode);
}

void swapCollectionHeader(uint8_t* header48)
{
    for (size_t at = L::COL_PARAMETER_BYTES; at <= L::COL_ARRAY_SIZE; at += 4)
        swapField32(header48 + at);
}

void swapParameterRecord(uint8_t* record32)
{
    swapField16(record32 + L::PR_WIDTH);
    swapField16(record32 + L::PR_ARRAY_SIZE);
}

void swapImageHeader(uint8_t* header88)
{
    swapField32(header88 + L::HEADER_PART1_LENGTH);
    swapField32(header88 + L::HEADER_PART2_LENGTH);
    uint8_t* mark = header88 + L::HEADER_MARK;
    if (std::memcmp(mark, kMarkBig, 4) == 0)
        std::memcpy(mark, kMarkLittle, 4);
    else if (std::memcmp(mark, kMarkLittle, 4) == 0)
        std::memcpy(mark, kMarkBig, 4);
}

// --- Image header and parts ---------------------------------------------------

JResult readImageHeader(uint8_t* out88, int* swapMode, const uint8_t* image, size_t length)
{
    if (out88 == nullptr || swapMode == nullptr || image == nullptr || length < 4 || std::memcmp(image, "MMS", 3) != 0)
        return MMS_E_ARG;
    // The header must be complete: its lengths decide everything that follows.
    if (image[3] != IMAGE_HEADER_SIZE || length < IMAGE_HEADER_SIZE)
        return MMS_E_ARG;
    std::memset(out88, 0, IMAGE_HEADER_SIZE);
    std::memcpy(out88, image, IMAGE_HEADER_SIZE);
    const bool big = imageHostIsBigEndian();
    const uint8_t* mark = out88 + L::HEADER_MARK;
    int mode;
    if (std::memcmp(mark, kMarkBig, 4) == 0)
        mode = big ? 0 : 2;
    else if (std::memcmp(mark, kMarkLittle, 4) == 0)
        mode = big ? 1 : 0;
    else
        return MMS_E_ARG;
    if (mode != 0)
        swapImageHeader(out88);
    *swapMode = mode;
    return JLIB_OK;
}

JResult checkImage(const uint8_t* image, size_t length, ImageCheck depth, ImageParts* parts)
{
    ImageParts own;
    ImageParts& p = parts ? *parts : own;
    const JResult r = readImageHeader(p.header, &p.swapMode, image, length);
    if (r < 0)
        return r;
    p.part1Length = imageLoad32(p.header + L::HEADER_PART1_LENGTH);
    p.part2Length = imageLoad32(p.header + L::HEADER_PART2_LENGTH);
    // Summed in 64 bits: three 32-bit values cannot wrap there.
    if (static_cast<uint64_t>(IMAGE_HEADER_SIZE) + p.part1Length + p.part2Length > length)
        return MMS_E_ARG;
    if (depth == ImageCheck::Extents)
        return JLIB_OK;
    return validateImageParts(image + IMAGE_HEADER_SIZE, p.part1Length, p.part2Length, p.swapMode != 0);
}

JResult splitImage(const CollectionTagInfo* tagInfo, bool* digestMatches, uint8_t** part1, uint32_t* part1Length,
    uint8_t** part2, uint32_t* part2Length, int* swapMode, uint8_t* image, size_t length)
{
    if (tagInfo == nullptr || digestMatches == nullptr || part1 == nullptr || part1Length == nullptr || part2 == nullptr
        || part2Length == nullptr || swapMode == nullptr)
        return MMS_E_ARG;
    ImageParts parts;
    const JResult r = checkImage(image, length, ImageCheck::Extents, &parts);
    if (r < 0)
        return r;
    const uint32_t length1 = parts.part1Length;
    const char* digest = reinterpret_cast<const char*>(parts.header + L::HEADER_DIGEST);
    *digestMatches
        = tagInfo->hasDigest() && digest[0] != 0 && std::memcmp(tagInfo->digest(), digest, IMAGE_DIGEST_SIZE) == 0;
    *part1 = image + IMAGE_HEADER_SIZE;
    *part1Length = length1;
    *part2 = *part1 + length1;
    *part2Length = parts.part2Length;
    *swapMode = parts.swapMode;
    return JLIB_OK;
}

JResult checkCompanionImage(
    const CollectionTagInfo* tagInfo, const uint8_t** data, uint32_t* length, const uint8_t* image, size_t imageLength)
{
    if (data == nullptr || length == nullptr)
        return MMS_E_ARG;
    *data = nullptr;
    *length = 0;
    if (image == nullptr)
        return JLIB_OK;
    if (tagInfo == nullptr)
        return MMS_E_ARG;
    ImageParts parts;
    const JResult r = checkImage(image, imageLength, ImageCheck::Extents, &parts);
    if (r < 0)
        return r;
    const uint32_t length1 = parts.part1Length;
    const char* digest = reinterpret_cast<const char*>(parts.header + L::HEADER_DIGEST);
    if (digest[0] == 0)
        return MMS_E_ARG;
    if (tagInfo->hasDigest()) {
        if (std::memcmp(tagInfo->digest(), digest, IMAGE_DIGEST_SIZE) != 0)
            return MMS_E_ARG;
    } else if (length1 != tagInfo->definitionLength()) {
        return MMS_E_ARG;
    }
    *data = image + IMAGE_HEADER_SIZE + length1;
    *length = parts.part2Length;
    return JLIB_OK;
}

JResult validateImageParts(const uint8_t* part1, uint32_t part1Length, uint32_t part2Length, bool recordsSwapped)
{
    if (part1 == nullptr)
        return MMS_E_ARG;
    PlanNode root;
    return planBlock(part1, part1Length, part2Length, recordsSwapped, &root) ? JLIB_OK : MMS_E_ARG;
}

JResult convertForImport(uint8_t* part1, uint32_t part1Length, uint8_t* part2, uint32_t part2Length, int swapMode)
{
    if (part1 == nullptr || (part2 == nullptr && part2Length != 0))
        return MMS_E_ARG;
    if (!orderNeedsSwap(swapMode))
        return validateImageParts(part1, part1Length, part2Length, false);
    return convertParts(part1, part1Length, part2, part2Length, true);
}

JResult convertForExport(uint8_t* part1, uint32_t part1Length, uint8_t* part2, uint32_t part2Length, int order)
{
    if (part1 == nullptr || (part2 == nullptr && part2Length != 0))
        return MMS_E_ARG;
    if (!orderNeedsSwap(order))
        return JLIB_OK;
    return convertParts(part1, part1Length, part2, part2Length, false);
}

// --- Multi-function image -----------------------------------------------------

JResult buildMdfHeader(uint8_t* out48)
{
    if (out48 == nullptr)
        return MMS_E_ARG;
    std::memset(out48, 0, MDF_HEADER_SIZE);
    std::memcpy(out48, "MDF", 3);
    out48[3] = MDF_HEADER_SIZE;
    return JLIB_OK;
}

JResult buildMdrRecord(uint8_t* out32)
{
    if (out32 == nullptr)
        return MMS_E_ARG;
    std::memset(out32, 0, MDR_RECORD_SIZE);
    std::memcpy(out32, "MDR", 3);
    out32[3] = MDR_RECORD_SIZE;
    return JLIB_OK;
}

void setMdfNames(uint8_t* header48, const char* name, const char* alias)
{
    if (header48 == nullptr)
        return;
    copyText(reinterpret_cast<char*>(header48 + L::MDF_NAME), IMAGE_NAME_SIZE, name);
    copyText(reinterpret_cast<char*>(header48 + L::MDF_ALIAS), IMAGE_ALIAS_SIZE, alias);
}

JResult setMdfByteOrder(uint8_t* header48, int order)
{
    if (header48 == nullptr || order < IMAGE_ORDER_HOST || order > IMAGE_ORDER_BIG)
        return MMS_E_ARG;
    const char* mark = hostMark();
    if (order != IMAGE_ORDER_HOST) {
        mark = order == IMAGE_ORDER_LITTLE ? kMarkLittle : kMarkBig;
        if (orderNeedsSwap(order))
            swapField32(header48 + L::MDF_COUNT);
    }
    std::memcpy(header48 + L::MDF_MARK, mark, 4);
    return JLIB_OK;
}

JResult swapMdrRecord(uint8_t* record32, int order)
{
    if (record32 == nullptr || order < IMAGE_ORDER_HOST || order > IMAGE_ORDER_BIG)
        return MMS_E_ARG;
    if (orderNeedsSwap(order))
        swapField32(record32 + L::MDR_IMAGE_LENGTH);
    return JLIB_OK;
}

JResult readMdfHeader(uint8_t* out48, int* swapMode, const uint8_t* data, size_t length)
{
    if (out48 == nullptr || swapMode == nullptr || data == nullptr || length <= 7 || std::memcmp(data, "MDF", 3) != 0)
        return MMS_E_ARG;
    const uint8_t* mark = data + L::MDF_MARK;
    const bool big = imageHostIsBigEndian();
    int mode;
    if (std::memcmp(mark, kMarkBig, 4) == 0)
        mode = big ? 0 : 2;
    else if (std::memcmp(mark, kMarkLittle, 4) == 0)
        mode = big ? 1 : 0;
    else
        return MMS_E_ARG;
    size_t n = length < data[3] ? length : data[3];
    if (n > MDF_HEADER_SIZE)
        n = MDF_HEADER_SIZE;
    std::memset(out48, 0, MDF_HEADER_SIZE);
    std::memcpy(out48, data, n);
    if (mode != 0) {
        swapField32(out48 + L::MDF_COUNT);
        std::memcpy(out48 + L::MDF_MARK, hostMark(), 4);
    }
    *swapMode = mode;
    return JLIB_OK;
}

JResult readMdrRecord(uint8_t* out32, const uint8_t* data, size_t length, int swapMode)
{
    if (out32 == nullptr || data == nullptr || length <= 3)
        return MMS_E_ARG;
    size_t n = length < data[3] ? length : data[3];
    if (n > MDR_RECORD_SIZE)
        n = MDR_RECORD_SIZE;
    std::memset(out32, 0, MDR_RECORD_SIZE);
    std::memcpy(out32, data, n);
    const bool big = imageHostIsBigEndian();
    if ((swapMode == 1 && big) || (swapMode == 2 && !big))
        swapField32(out32 + L::MDR_IMAGE_LENGTH);
    return JLIB_OK;
}

JResult findFunctionRecord(size_t* recordPosition, uint8_t* out32, const uint8_t* buffer, size_t length,
    uint32_t maxRecords, const char* functionName, int swapMode)
{
    if (recordPosition == nullptr || out32 == nullptr || buffer == nullptr || functionName == nullptr)
        return MMS_E_ARG;
    uint64_t position = 0;
    uint8_t header[MDF_HEADER_SIZE];
    int headerMode = 0;
    if (readMdfHeader(header, &headerMode, buffer, length) >= 0) {
        position = buffer[3];
        if (swapMode == 255)
            swapMode = headerMode;
    }
    if (swapMode == 255)
        swapMode = 0;
    char wanted[IMAGE_NAME_SIZE] = {};
    std::memcpy(wanted, functionName, boundedLength(functionName, IMAGE_NAME_SIZE));

    for (uint32_t n = 0; maxRecords == 0 || n < maxRecords; ++n) {
        if (position >= length)
            return MMS_E_NO_MATCH;
        uint8_t record[MDR_RECORD_SIZE];
        if (readMdrRecord(record, buffer + position, length - position, swapMode) < 0)
            return MMS_E_NO_MATCH;
        // A record must hold its own fields, so every step moves forward.
        if (std::memcmp(record, "MDR", 3) != 0 || record[3] < MDR_RECORD_SIZE || position + MDR_RECORD_SIZE > length)
            return MMS_E_NO_MATCH;
        const uint64_t next = position + record[3] + imageLoad32(record + L::MDR_IMAGE_LENGTH);
        if (std::memcmp(record + L::MDR_NAME, wanted, IMAGE_NAME_SIZE) == 0) {
            if (next > length)
                return MMS_E_NO_MATCH;
            *recordPosition = static_cast<size_t>(position);
            std::memcpy(out32, record, MDR_RECORD_SIZE);
            return JLIB_OK;
        }
        if (next >= length)
            return MMS_E_NO_MATCH;
        position = next;
    }
    return MMS_E_NO_MATCH;
}

} // namespace MMS
