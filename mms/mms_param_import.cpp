// ParameterNode: a parameter's stored elements from an image into memory,
// one helper per stored kind.
#include "mms/mms_param.h"
#include "mms/mms_param_internal.h"

#include "mms/mms_image.h"
#include "mms/mms_tree.h"
#include "pbd/jlib/jvariant.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace MMS {

using JLIB::JVariant;
using namespace paramimpl;

JResult ParameterNode::importElements(const ElementPlace& place, const uint8_t* record32, const uint8_t* stored,
    uint32_t storedBitOffset, uint64_t storedAvailable, const uint8_t* protect, const WriteContext& context) const
{
    if (!place.data || !record32 || (!stored && storedAvailable))
        return MMS_E_ARG;
    StoredElements s;
    s.data = stored;
    s.bitOffset = storedBitOffset;
    s.protect = protect;
    s.swapClass = record32[ImageLayout::PR_SWAP_CLASS];
    s.width = imageLoad16(record32 + ImageLayout::PR_WIDTH);
    s.count = std::min<uint32_t>(imageLoad16(record32 + ImageLayout::PR_ARRAY_SIZE), m_arraySize);
    s.bits = s.swapClass == IMAGE_SWAP_UNSIGNED && s.width == 0;
    s.text = s.swapClass == IMAGE_SWAP_NONE;
    if (!s.text && !s.bits && !(s.width == 1 || s.width == 2 || s.width == 4))
        return MMS_E_ARG;
    if (s.swapClass == IMAGE_SWAP_REAL && s.width != 4)
        return MMS_E_ARG;
    // What the stored data must cover.
    const uint64_t needed = s.bits ? (static_cast<uint64_t>(storedBitOffset) + s.count + 7) / 8
                                   : static_cast<uint64_t>(s.width) * s.count;
    if (needed > storedAvailable)
        return MMS_E_ARG;
    // A text and a number can't be converted into each other.
    if (s.text != (m_type == PARAM_STRING))
        return s.count ? MMS_ADJUSTED : 0;
    if (s.text)
        return importTexts(place, s, context);
    if (s.swapClass != IMAGE_SWAP_REAL && m_type != PARAM_FLOAT)
        return importIntegers(place, s, context);
    return importConverted(place, s, context);
}

bool ParameterNode::elementProtected(const uint8_t* protect, uint32_t index) const
{
    if (!protect)
        return false;
    if (m_type == PARAM_BIT) {
        const uint32_t bit = bitOffset + index;
        return (protect[bit / 8] >> (bit % 8)) & 1u;
    }
    const uint32_t ownWidth = elementWidth();
    for (uint32_t b = 0; b < ownWidth; ++b) {
        if (protect[static_cast<size_t>(index) * ownWidth + b] != 0)
            return true;
    }
    return false;
}

// Stored integers and bits into an integer or "bit" parameter go through the
// same admission and write as a variant would, without one.
JResult ParameterNode::importIntegers(
    const ElementPlace& place, const StoredElements& s, const WriteContext& context) const
{
    // Same width, read with this parameter's signedness, and no limit or
    // step: every stored value is admitted as it is, so a run whose bytes
    // already stand in memory changes nothing and needs no element work.
    const bool admittedAsStored = !s.bits && m_type != PARAM_BIT && s.width == elementWidth() && !has(PRESENT_MINIMUM)
        && !has(PRESENT_MAXIMUM) && !has(PRESENT_STEP);
    if (admittedAsStored && !s.protect && std::memcmp(place.data, s.data, static_cast<size_t>(s.width) * s.count) == 0)
        return 0;
    const bool asSigned = paramTypeSigned(m_type);
    JResult result = 0;
    for (uint32_t i = 0; i < s.count; ++i) {
        if (elementProtected(s.protect, i))
            continue;
        int64_t v;
        if (s.bits) {
            const uint32_t bit = s.bitOffset + i;
            v = (s.data[bit / 8] >> (bit % 8)) & 1u;
        } else {
            const uint32_t raw = load(s.data + static_cast<size_t>(i) * s.width, s.width);
            v = asSigned ? static_cast<int32_t>(signExtend(raw, s.width)) : static_cast<int64_t>(raw);
        }
        const JResult admission = admitInteger(&v, 0);
        if (admission < 0) {
            result |= MMS_ADJUSTED;
            continue;
        }
        result |= admission & MMS_ADJUSTED;
        if (writeInteger(place.data, v, i) & MMS_CHANGED) {
            result |= MMS_CHANGED;
            afterWrite(place, i, context);
        }
    }
    return result;
}

// Texts are copied as bytes, as a text write would store them: an element
// may hold more than a variant's text can carry.
JResult ParameterNode::importTexts(
    const ElementPlace& place, const StoredElements& s, const WriteContext& context) const
{
    JResult result = 0;
    for (uint32_t i = 0; i < s.count; ++i) {
        if (elementProtected(s.protect, i))
            continue;
        const uint8_t* text = s.data + static_cast<size_t>(i) * s.width;
        const size_t length = textLength(text, s.width);
        // A text longer than this element is cut, and reported.
        const size_t kept = std::min<size_t>(length, m_maximum);
        if (kept < length)
            result |= MMS_ADJUSTED;
        uint8_t* element = place.data + static_cast<size_t>(i) * m_maximum;
        if (textLength(element, m_maximum) == kept && std::memcmp(element, text, kept) == 0)
            continue;
        std::memset(element, 0, m_maximum);
        std::memcpy(element, text, kept);
        result |= MMS_CHANGED;
        afterWrite(place, i, context);
    }
    return result;
}

// A stored element as the variant a write would take; false for a real that
// names no number. *adjusted tells that a real lost its fraction or range.
bool ParameterNode::storedToVariant(JVariant* out, const StoredElements& s, uint32_t index, bool* adjusted) const
{
    *adjusted = false;
    if (s.bits) {
        const uint32_t bit = s.bitOffset + index;
        out->setUInt32((s.data[bit / 8] >> (bit % 8)) & 1u);
        return true;
    }
    const uint32_t raw = load(s.data + static_cast<size_t>(index) * s.width, s.width);
    if (s.swapClass != IMAGE_SWAP_REAL) {
        // Stored integers are read with this parameter's signedness.
        const bool asSigned = m_type == PARAM_FLOAT ? s.swapClass == IMAGE_SWAP_SIGNED : paramTypeSigned(m_type);
        if (asSigned)
            out->setInt32(static_cast<int32_t>(signExtend(raw, s.width)));
        else
            out->setUInt32(raw);
        return true;
    }
    const float f = wordToFloat(raw);
    if (m_type == PARAM_FLOAT) {
        *out = f;
        return true;
    }
    if (std::isnan(f))
        return false;
    // A real into an integer: rounded, bounded to 32 bits, then admitted
    // like any value.
    double r = std::nearbyint(static_cast<double>(f));
    r = std::fmin(std::fmax(r, static_cast<double>(INT32_MIN)), static_cast<double>(UINT32_MAX));
    if (r < 0)
        out->setInt32(static_cast<int32_t>(r));
    else
        out->setUInt32(static_cast<uint32_t>(r));
    *adjusted = r != static_cast<double>(f);
    return true;
}

JResult ParameterNode::importConverted(
    const ElementPlace& place, const StoredElements& s, const WriteContext& context) const
{
    JResult result = 0;
    for (uint32_t i = 0; i < s.count; ++i) {
        if (elementProtected(s.protect, i))
            continue;
        JVariant in;
        bool adjusted = false;
        const bool hasValue = storedToVariant(&in, s, i, &adjusted);
        if (adjusted || !hasValue)
            result |= MMS_ADJUSTED;
        if (!hasValue)
            continue;
        JVariant admitted;
        const JResult admission = admit(&admitted, in, 0);
        if (admission < 0) {
            result |= MMS_ADJUSTED;
            continue;
        }
        result |= admission & MMS_ADJUSTED;
        const JResult written = writeElement(place.data, admitted, i);
        if (written < 0) {
            result |= MMS_ADJUSTED;
            continue;
        }
        if (written & MMS_CHANGED) {
            result |= MMS_CHANGED;
            afterWrite(place, i, context);
        }
    }
    return result;
}

} // namespace MMS
