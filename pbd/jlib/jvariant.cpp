#include "pbd/jlib/jvariant.h"

#include "pbd/jlib/jlib_bytes.h"
#include "pbd/jlib/jlib_heap.h"
#include "pbd/jlib/jlib_text.h"

#include <cstring>
#include <utility>

namespace JLIB {

namespace {

constexpr const char* kStringTag = "JVariant::m_Value.m_pString";
constexpr const char* kBinaryTag = "JVariant::m_Value.m_pBinary";
constexpr const char* kArrayTag = "JVariantArray::m_pMemory";

} // namespace

// ---------------------------------------------------------------------------
// JVariant

JVariant::JVariant(int32_t value)
{
    setInt32(value);
}
JVariant::JVariant(uint32_t value)
{
    setUInt32(value);
}
JVariant::JVariant(const char* text, uint32_t maxLength)
{
    setString(text, maxLength);
}

JVariant::JVariant(const JVariant& other)
{
    switch (other.m_type) {
    case JVARIANT_STRING:
        setString(other.m_value.text, JVARIANT_MAX_STRING);
        break;
    case JVARIANT_BINARY:
        setBinary(other.getBinary(), other.getBinarySize());
        break;
    default:
        m_value = other.m_value;
        m_type = other.m_type;
        break;
    }
}

JVariant::~JVariant()
{
    release();
}

void JVariant::release()
{
    if (m_type == JVARIANT_STRING)
        jlib_heapFree(m_value.text);
    else if (m_type == JVARIANT_BINARY)
        jlib_heapFree(m_value.binary);
    m_value = Value{};
    m_type = JVARIANT_EMPTY;
}

void JVariant::swapWith(JVariant& other)
{
    std::swap(m_value, other.m_value);
    std::swap(m_type, other.m_type);
}

JResult JVariant::setInt32(int32_t value)
{
    release();
    m_value.i = value;
    m_type = JVARIANT_INT32;
    return JLIB_VAR_OK;
}

JResult JVariant::setUInt32(uint32_t value)
{
    release();
    m_value.u = value;
    m_type = JVARIANT_UINT32;
    return JLIB_VAR_OK;
}

JResult JVariant::setString(const char* text, uint32_t maxLength)
{
    size_t length = 0;
    if (text)
        jlib_strLengthBounded(text, maxLength, &length);
    if (length + 1 > JVARIANT_MAX_STRING) {
        // Refused outright: a stand-in text would pass for a real value.
        release();
        return JLIB_VAR_E_ARG;
    }
    // The new block is filled before the old one goes, so text may point
    // into this variant's own value.
    auto* block = static_cast<char*>(jlib_heapAlloc(0, kStringTag, length + 1));
    if (block && length)
        std::memcpy(block, text, length);
    release();
    if (!block)
        return JLIB_VAR_E_MEMORY;
    m_value.text = block;
    m_type = JVARIANT_STRING;
    return JLIB_VAR_OK;
}

JResult JVariant::setBinary(const void* data, uint32_t length)
{
    if (!data || length == 0 || length > JVARIANT_MAX_BINARY) {
        release();
        return JLIB_VAR_E_ARG;
    }
    auto* block = static_cast<uint8_t*>(jlib_heapAlloc(0, kBinaryTag, size_t{4} + length));
    if (block) {
        jlib_store32be(block, length);
        std::memcpy(block + 4, data, length);
    }
    release();
    if (!block)
        return JLIB_VAR_E_MEMORY;
    m_value.binary = block;
    m_type = JVARIANT_BINARY;
    return JLIB_VAR_OK;
}

JResult JVariant::clear()
{
    release();
    return 0;
}

JVariant& JVariant::operator=(float value)
{
    release();
    m_value.f = value;
    m_type = JVARIANT_FLOAT;
    return *this;
}

JVariant& JVariant::operator=(uint8_t value)
{
    setUInt32(value);
    return *this;
}

JVariant& JVariant::operator=(uint16_t value)
{
    setUInt32(value);
    return *this;
}

JVariant& JVariant::operator=(unsigned int value)
{
    setUInt32(value);
    return *this;
}

JVariant& JVariant::operator=(unsigned long value)
{
    if (value > 0xFFFFFFFFul)
        release();
    else
        setUInt32(static_cast<uint32_t>(value));
    return *this;
}

JVariant& JVariant::operator=(int8_t value)
{
    setInt32(value);
    return *this;
}

JVariant& JVariant::operator=(int16_t value)
{
    setInt32(value);
    return *this;
}

JVariant& JVariant::operator=(int value)
{
    setInt32(value);
    return *this;
}

JVariant& JVariant::operator=(long value)
{
    if (value < INT32_MIN || value > INT32_MAX)
        release();
    else
        setInt32(static_cast<int32_t>(value));
    return *this;
}

JVariant& JVariant::operator=(const JVariant& other)
{
    if (this == &other)
        return *this;
    JVariant copy;
    JResult result = JLIB_VAR_OK;
    switch (other.m_type) {
    case JVARIANT_STRING:
        result = copy.setString(other.m_value.text, other.getStringSize());
        break;
    case JVARIANT_BINARY:
        result = copy.setBinary(other.getBinary(), other.getBinarySize());
        break;
    default:
        copy.m_value = other.m_value;
        copy.m_type = other.m_type;
        break;
    }
    if (result >= 0)
        swapWith(copy);
    return *this;
}

bool JVariant::operator==(const JVariant& other) const
{
    switch (m_type) {
    case JVARIANT_INT32:
    case JVARIANT_UINT32:
        return (other.m_type == JVARIANT_INT32 || other.m_type == JVARIANT_UINT32) && m_value.u == other.m_value.u;
    case JVARIANT_FLOAT: {
        bool ok = false;
        const float b = other.toFloat(&ok);
        return ok && m_value.f == b;
    }
    case JVARIANT_STRING: {
        const uint32_t n = getStringSize();
        return other.m_type == JVARIANT_STRING && other.getStringSize() == n
            && std::memcmp(m_value.text, other.m_value.text, n) == 0;
    }
    case JVARIANT_BINARY: {
        const uint32_t n = getBinarySize();
        return other.m_type == JVARIANT_BINARY && other.getBinarySize() == n
            && std::memcmp(getBinary(), other.getBinary(), n) == 0;
    }
    default:
        return false;
    }
}

bool JVariant::operator!=(const JVariant& other) const
{
    return !(*this == other);
}

uint32_t JVariant::toInteger(bool* ok) const
{
    const bool fits = m_type == JVARIANT_INT32 || m_type == JVARIANT_UINT32;
    if (ok)
        *ok = fits;
    return fits ? m_value.u : 0;
}

float JVariant::toFloat(bool* ok) const
{
    if (ok)
        *ok = true;
    switch (m_type) {
    case JVARIANT_INT32:
        return static_cast<float>(m_value.i);
    case JVARIANT_UINT32:
        return static_cast<float>(m_value.u);
    case JVARIANT_FLOAT:
        return m_value.f;
    default:
        if (ok)
            *ok = false;
        return 0.0f;
    }
}

const char* JVariant::getString(bool* ok) const
{
    const bool fits = m_type == JVARIANT_STRING;
    if (ok)
        *ok = fits;
    return fits ? m_value.text : nullptr;
}

uint32_t JVariant::getStringSize(bool* ok) const
{
    const bool fits = m_type == JVARIANT_STRING;
    if (ok)
        *ok = fits;
    return fits ? size() : 0;
}

const uint8_t* JVariant::getBinary(bool* ok) const
{
    const bool fits = m_type == JVARIANT_BINARY;
    if (ok)
        *ok = fits;
    return fits ? m_value.binary + 4 : nullptr;
}

uint32_t JVariant::getBinarySize(bool* ok) const
{
    const bool fits = m_type == JVARIANT_BINARY;
    if (ok)
        *ok = fits;
    return fits ? size() : 0;
}

uint32_t JVariant::size() const
{
    switch (m_type) {
    case JVARIANT_INT32:
    case JVARIANT_UINT32:
    case JVARIANT_FLOAT:
        return 4;
    case JVARIANT_STRING: {
        size_t length = 0;
        jlib_strLengthBounded(m_value.text, JVARIANT_MAX_STRING, &length);
        return static_cast<uint32_t>(length + 1);
    }
    case JVARIANT_BINARY: {
        const uint32_t length = jlib_load32be(m_value.binary);
        return length >= 0xFFFFFFFCu ? 0 : length;
    }
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------
// JVariantArray

namespace {

bool elementSizeSuits(JVariantType type, uint32_t size)
{
    switch (type) {
    case JVARIANT_INT32:
    case JVARIANT_UINT32:
        return size == 1 || size == 2 || size == 4;
    case JVARIANT_STRING:
        return size >= 1 && size <= JVARIANT_MAX_STRING;
    case JVARIANT_FLOAT:
        return size == 4;
    case JVARIANT_BINARY:
        return size >= 1 && size <= JVARIANT_MAX_BINARY;
    default:
        return false;
    }
}

// Element bytes in native order, cut to the element width.
void storeInteger(uint8_t* element, uint32_t width, uint32_t word)
{
    if (width == 1) {
        const auto v = static_cast<uint8_t>(word);
        std::memcpy(element, &v, 1);
    } else if (width == 2) {
        const auto v = static_cast<uint16_t>(word);
        std::memcpy(element, &v, 2);
    } else {
        std::memcpy(element, &word, 4);
    }
}

} // namespace

JVariantArray::JVariantArray(JVariantType type, uint32_t elementSize, uint32_t count)
{
    if (!elementSizeSuits(type, elementSize) || count < 1 || count > 1024)
        return;
    // 64-bit product: binary elements may be up to 4 GiB each.
    const uint64_t bytes = static_cast<uint64_t>(elementSize) * count;
    if (bytes > JLIB_HEAP_MAX_BLOCK)
        return;
    m_memory = static_cast<uint8_t*>(jlib_heapAlloc(0, kArrayTag, static_cast<size_t>(bytes)));
    if (!m_memory)
        return;
    m_owned = true;
    m_type = type;
    m_elementSize = elementSize;
    m_count = count;
}

JVariantArray::~JVariantArray()
{
    if (m_owned)
        jlib_heapFree(m_memory);
}

JResult JVariantArray::get(JVariant* variant, uint32_t index) const
{
    if (!variant || index >= m_count)
        return JLIB_VAR_E_ARG;
    const uint8_t* p = element(index);
    switch (m_type) {
    case JVARIANT_INT32:
    case JVARIANT_UINT32: {
        const bool isSigned = m_type == JVARIANT_INT32;
        if (m_elementSize == 1) {
            uint8_t v;
            std::memcpy(&v, p, 1);
            if (isSigned)
                *variant = static_cast<int8_t>(v);
            else
                *variant = v;
        } else if (m_elementSize == 2) {
            uint16_t v;
            std::memcpy(&v, p, 2);
            if (isSigned)
                *variant = static_cast<int16_t>(v);
            else
                *variant = v;
        } else {
            uint32_t v;
            std::memcpy(&v, p, 4);
            if (isSigned)
                variant->setInt32(static_cast<int32_t>(v));
            else
                variant->setUInt32(v);
        }
        return JLIB_VAR_OK;
    }
    case JVARIANT_FLOAT: {
        float v;
        std::memcpy(&v, p, 4);
        *variant = v;
        return JLIB_VAR_OK;
    }
    case JVARIANT_STRING:
        return variant->setString(reinterpret_cast<const char*>(p), m_elementSize);
    case JVARIANT_BINARY:
        return variant->setBinary(p, m_elementSize);
    default:
        return JLIB_VAR_E_ARG;
    }
}

JResult JVariantArray::set(uint32_t index, const JVariant& variant)
{
    if (index >= m_count)
        return JLIB_VAR_E_ARG;
    uint8_t* p = element(index);
    switch (m_type) {
    case JVARIANT_INT32:
    case JVARIANT_UINT32: {
        const bool accepted
            = variant.type() == JVARIANT_UINT32 || (m_type == JVARIANT_INT32 && variant.type() == JVARIANT_INT32);
        if (accepted)
            storeInteger(p, m_elementSize, variant.toInteger());
        return JLIB_VAR_OK;
    }
    case JVARIANT_FLOAT:
        if (variant.type() == JVARIANT_FLOAT) {
            const float v = variant.toFloat();
            std::memcpy(p, &v, 4);
        }
        return JLIB_VAR_OK;
    case JVARIANT_STRING: {
        bool ok = false;
        const char* text = variant.getString(&ok);
        if (!ok)
            return JLIB_VAR_E_ARG;
        const uint32_t size = variant.getStringSize();
        if (size < m_elementSize) {
            std::memcpy(p, text, size);
            std::memset(p + size, 0, m_elementSize - size);
        } else {
            std::memcpy(p, text, m_elementSize);
        }
        return JLIB_VAR_OK;
    }
    case JVARIANT_BINARY: {
        bool ok = false;
        const uint8_t* data = variant.getBinary(&ok);
        if (!ok)
            return JLIB_VAR_E_ARG;
        const uint32_t length = variant.getBinarySize();
        std::memset(p, 0, m_elementSize);
        std::memcpy(p, data, length < m_elementSize ? length : m_elementSize);
        return JLIB_VAR_OK;
    }
    default:
        return JLIB_VAR_E_ARG;
    }
}

} // namespace JLIB
