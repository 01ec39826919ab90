// Parameter definitions: limits, admission of incoming values, element
// reads and writes and defaults. Imports are in mms_param_import.cpp.
#include "mms/mms_param.h"
#include "mms/mms_param_internal.h"

#include "mms/mms_dirty.h"
#include "mms/mms_image.h"
#include "mms/mms_tree.h"
#include "mms/mms_wrap.h"
#include "pbd/jlib/jvariant.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

using JLIB::JVariant;
using JLIB::JVariantArray;

namespace MMS {

using namespace paramimpl;

namespace {

enum class Family { Signed, Unsigned, Real, Text, Invalid };

Family familyOf(uint32_t type)
{
    if (paramTypeSigned(type))
        return Family::Signed;
    if (paramTypeUnsigned(type))
        return Family::Unsigned;
    if (type == PARAM_FLOAT)
        return Family::Real;
    if (type == PARAM_STRING)
        return Family::Text;
    return Family::Invalid;
}

int64_t typeMin(uint32_t type)
{
    switch (type) {
    case PARAM_INT8:
        return -128;
    case PARAM_INT16:
        return -32768;
    case PARAM_INT32:
        return INT32_MIN;
    default:
        return 0;
    }
}

int64_t typeMax(uint32_t type)
{
    switch (type) {
    case PARAM_INT8:
        return 127;
    case PARAM_INT16:
        return 32767;
    case PARAM_INT32:
        return INT32_MAX;
    case PARAM_UINT8:
        return 255;
    case PARAM_UINT16:
        return 65535;
    case PARAM_UINT32:
        return UINT32_MAX;
    case PARAM_BIT:
        return 1;
    default:
        return 0;
    }
}

int64_t wordToInt(uint32_t type, uint32_t word)
{
    return paramTypeSigned(type) ? static_cast<int64_t>(static_cast<int32_t>(word)) : static_cast<int64_t>(word);
}

uint32_t floatToWord(float f)
{
    uint32_t w;
    std::memcpy(&w, &f, sizeof w);
    return w;
}

// Integer value of a variant; floats and texts don't convert.
bool variantToInt(const JVariant& v, int64_t* out)
{
    if (v.type() == JLIB::JVARIANT_INT32) {
        *out = static_cast<int32_t>(v.toInteger());
        return true;
    }
    if (v.type() == JLIB::JVARIANT_UINT32) {
        *out = v.toInteger();
        return true;
    }
    return false;
}

bool variantToReal(const JVariant& v, double* out)
{
    int64_t i;
    if (variantToInt(v, &i)) {
        *out = static_cast<double>(i);
        return true;
    }
    if (v.type() != JLIB::JVARIANT_FLOAT)
        return false;
    *out = v.toFloat();
    return !std::isnan(*out);
}

void setIntVariant(JVariant* out, uint32_t type, int64_t value)
{
    if (paramTypeSigned(type))
        out->setInt32(static_cast<int32_t>(value));
    else
        out->setUInt32(static_cast<uint32_t>(value));
}

// The word as the getters give it.
void wordToVariant(JVariant* out, uint32_t type, uint32_t word)
{
    if (type == PARAM_FLOAT)
        *out = wordToFloat(word);
    else if (paramTypeSigned(type))
        out->setInt32(static_cast<int32_t>(word));
    else
        out->setUInt32(word);
}

// Grid point at or below value, kept within [lo, hi]: when the point below
// lies under the minimum the next one up is taken; without a grid point in
// the limits the value stays.
int64_t snapInt(int64_t value, int64_t base, int64_t step, int64_t lo, int64_t hi)
{
    int64_t r = (value - base) % step;
    if (r < 0)
        r += step;
    if (r == 0)
        return value;
    const int64_t down = value - r;
    if (down >= lo)
        return down;
    const int64_t up = down + step;
    return up <= hi ? up : value;
}

// As snapInt for reals. A value within rounding noise of a grid point is on
// the grid (0.3 with step 0.1 stays 0.3); values below the base go down too.
double snapReal(double value, double base, double step, double lo, double hi)
{
    const double q = (value - base) / step;
    const double nearest = std::nearbyint(q);
    if (std::fabs(q - nearest) <= 1e-5 * std::fmax(1.0, std::fabs(q)))
        return value;
    const double down = base + std::floor(q) * step;
    if (down >= lo)
        return down;
    const double up = down + step;
    return up <= hi ? up : value;
}

} // namespace

JResult ParameterNode::validate(const char* name, uint32_t arraySize, uint32_t type)
{
    if (!mms_nameValid(name) || arraySize == 0 || arraySize > 65535 || !paramTypeValid(type))
        return MMS_E_INNER;
    return 0;
}

JResult ParameterNode::construct(const char* name, uint32_t arraySize, uint32_t type, const JVariant* minimum,
    const JVariant* maximum, const JVariant* defaultValue, const JVariant* step, const JVariant* nominal,
    uint32_t unitOffset, uint32_t unitLength, uint32_t scaling, uint32_t kind)
{
    const JResult valid = validate(name, arraySize, type);
    if (valid < 0)
        return valid;
    *this = ParameterNode();
    mms_copyName(m_name, name);
    m_arraySize = arraySize;
    m_type = type;
    m_unitOffset = unitOffset;
    m_unitLength = unitLength;
    m_scaling = scaling == 0 ? 1 : scaling;
    m_kind = kind;
    // A refused value stays absent; the definition stands.
    setMinimum(minimum);
    setMaximum(maximum);
    setDefault(defaultValue);
    setStep(step);
    setNominal(nominal);
    return 0;
}

// The value as a word of this type when it lies in the type's range.
JResult ParameterNode::checkDefinitionValue(uint32_t /*word*/, const JVariant& value, uint32_t* outWord) const
{
    switch (familyOf(m_type)) {
    case Family::Signed:
    case Family::Unsigned: {
        int64_t v;
        if (!variantToInt(value, &v) || v < typeMin(m_type) || v > typeMax(m_type))
            return MMS_E_ARG;
        *outWord = static_cast<uint32_t>(v);
        return 0;
    }
    case Family::Real: {
        double v;
        if (!variantToReal(value, &v) || v < -FLT_MAX || v > FLT_MAX)
            return MMS_E_ARG;
        *outWord = floatToWord(static_cast<float>(v));
        return 0;
    }
    default:
        return MMS_E_ARG;
    }
}

namespace {
// -1, 0, 1 in the type's own ordering.
int compareWords(uint32_t type, uint32_t a, uint32_t b)
{
    if (type == PARAM_FLOAT) {
        const float fa = wordToFloat(a), fb = wordToFloat(b);
        return fa < fb ? -1 : (fa > fb ? 1 : 0);
    }
    const int64_t ia = wordToInt(type, a), ib = wordToInt(type, b);
    return ia < ib ? -1 : (ia > ib ? 1 : 0);
}

// A pool offset for a text value: an unsigned (or non-negative) integer.
bool offsetWord(const JVariant& value, uint32_t* out)
{
    int64_t v;
    if (!variantToInt(value, &v) || v < 0 || v > UINT32_MAX)
        return false;
    *out = static_cast<uint32_t>(v);
    return true;
}
} // namespace

JResult ParameterNode::setMinimum(const JVariant* value)
{
    if (!value || m_type == PARAM_STRING)
        return 0;
    uint32_t w;
    if (checkDefinitionValue(0, *value, &w) < 0)
        return MMS_E_ARG;
    if ((has(PRESENT_MAXIMUM) && compareWords(m_type, w, m_maximum) > 0)
        || (has(PRESENT_DEFAULT) && compareWords(m_type, w, m_default) > 0))
        return MMS_E_ARG;
    m_minimum = w;
    m_presence |= PRESENT_MINIMUM;
    return 0;
}

JResult ParameterNode::setMaximum(const JVariant* value)
{
    if (m_type == PARAM_STRING) {
        if (!value) {
            m_maximum = 0;
            return 0;
        }
        uint32_t w;
        // A string element's size must fit the image record's 16-bit width.
        if (!offsetWord(*value, &w) || w > 0xFFFF)
            return MMS_E_ARG;
        m_maximum = w;
        m_presence |= PRESENT_MAXIMUM;
        return 0;
    }
    if (!value)
        return 0;
    uint32_t w;
    if (checkDefinitionValue(0, *value, &w) < 0)
        return MMS_E_ARG;
    if ((has(PRESENT_MINIMUM) && compareWords(m_type, w, m_minimum) < 0)
        || (has(PRESENT_DEFAULT) && compareWords(m_type, w, m_default) < 0))
        return MMS_E_ARG;
    m_maximum = w;
    m_presence |= PRESENT_MAXIMUM;
    return 0;
}

JResult ParameterNode::setDefault(const JVariant* value)
{
    if (!value)
        return 0;
    uint32_t w;
    if (m_type == PARAM_STRING) {
        if (!offsetWord(*value, &w))
            return MMS_E_ARG;
    } else {
        if (checkDefinitionValue(0, *value, &w) < 0)
            return MMS_E_ARG;
        if ((has(PRESENT_MINIMUM) && compareWords(m_type, w, m_minimum) < 0)
            || (has(PRESENT_MAXIMUM) && compareWords(m_type, w, m_maximum) > 0))
            return MMS_E_ARG;
    }
    m_default = w;
    m_presence |= PRESENT_DEFAULT;
    return 0;
}

JResult ParameterNode::setStep(const JVariant* value)
{
    if (!value || m_type == PARAM_STRING)
        return 0;
    if (m_type == PARAM_BIT)
        return MMS_E_ARG;
    uint32_t w;
    if (checkDefinitionValue(0, *value, &w) < 0)
        return MMS_E_ARG;
    // A step of 0 (or below) has no grid.
    if (m_type == PARAM_FLOAT ? !(wordToFloat(w) > 0.0f) : wordToInt(m_type, w) <= 0)
        return MMS_E_ARG;
    m_step = w;
    m_presence |= PRESENT_STEP;
    return 0;
}

JResult ParameterNode::setNominal(const JVariant* value)
{
    if (!value)
        return 0;
    uint32_t w;
    if (m_type == PARAM_STRING ? !offsetWord(*value, &w) : checkDefinitionValue(0, *value, &w) < 0)
        return MMS_E_ARG;
    m_nominal = w;
    m_presence |= PRESENT_NOMINAL;
    return 0;
}

JResult ParameterNode::getMinimum(JVariant* out) const
{
    if (!out)
        return MMS_E_ARG;
    if (m_type == PARAM_STRING)
        return MMS_E_ARG;
    if (!has(PRESENT_MINIMUM))
        return MMS_E_UNDEFINED;
    wordToVariant(out, m_type, m_minimum);
    return 0;
}

JResult ParameterNode::getMaximum(JVariant* out) const
{
    if (!out)
        return MMS_E_ARG;
    if (!has(PRESENT_MAXIMUM))
        return MMS_E_UNDEFINED;
    if (m_type == PARAM_STRING)
        out->setUInt32(m_maximum);
    else
        wordToVariant(out, m_type, m_maximum);
    return 0;
}

JResult ParameterNode::getStep(JVariant* out) const
{
    if (!out)
        return MMS_E_ARG;
    if (m_type == PARAM_STRING)
        return MMS_E_ARG;
    if (!has(PRESENT_STEP))
        return MMS_E_UNDEFINED;
    wordToVariant(out, m_type, m_step);
    return 0;
}

namespace {
JResult poolText(JVariant* out, const StringMemoryFactory* pool, uint32_t offset, uint32_t maximum)
{
    if (maximum == 0)
        return MMS_E_UNDEFINED;
    if (!pool || !pool->base())
        return MMS_E_INNER;
    std::vector<char> text(static_cast<size_t>(maximum) + 1);
    const JResult r = pool->readText(offset, maximum, text.data());
    if (r < 0)
        return r;
    return out->setString(text.data(), maximum) < 0 ? MMS_E_MEMORY : 0;
}

// A value out of range moves onto the nearer limit, unless the flags refuse it.
template <typename T> JResult clampToRange(T* v, T lo, T hi, uint32_t flags)
{
    if (*v < lo) {
        if (flags & ADMIT_REFUSE_LOW)
            return MMS_E_REFUSED;
        *v = lo;
        return MMS_ADJUSTED;
    }
    if (*v > hi) {
        if (flags & ADMIT_REFUSE_HIGH)
            return MMS_E_REFUSED;
        *v = hi;
        return MMS_ADJUSTED;
    }
    return 0;
}

// A value off the step grid moves onto it, unless the flags refuse it.
template <typename T> JResult snapToStep(T* v, T snapped, uint32_t flags, JResult result)
{
    if (snapped == *v)
        return result;
    if (flags & ADMIT_REFUSE_STEP)
        return MMS_E_REFUSED;
    *v = snapped;
    return MMS_ADJUSTED;
}
} // namespace

JResult ParameterNode::getDefault(JVariant* out, const StringMemoryFactory* pool) const
{
    if (!out)
        return MMS_E_ARG;
    if (!has(PRESENT_DEFAULT))
        return MMS_E_UNDEFINED;
    if (m_type == PARAM_STRING)
        return poolText(out, pool, m_default, m_maximum);
    wordToVariant(out, m_type, m_default);
    return 0;
}

JResult ParameterNode::getNominal(JVariant* out, const StringMemoryFactory* pool) const
{
    if (!out)
        return MMS_E_ARG;
    if (!has(PRESENT_NOMINAL))
        return MMS_E_UNDEFINED;
    if (m_type == PARAM_STRING)
        return poolText(out, pool, m_nominal, m_maximum);
    wordToVariant(out, m_type, m_nominal);
    return 0;
}

JResult ParameterNode::getUnit(char* out, uint32_t size, const StringMemoryFactory* pool) const
{
    if (!out || size == 0)
        return MMS_E_ARG;
    if (m_type == PARAM_STRING)
        return MMS_E_ARG;
    out[0] = 0;
    if (m_unitLength == 0)
        return 0;
    if (!pool || !pool->base())
        return MMS_E_INNER;
    return pool->readText(m_unitOffset, std::min(m_unitLength, size - 1), out);
}

JResult ParameterNode::getUnitLength(uint32_t* out) const
{
    if (!out)
        return MMS_E_ARG;
    if (m_type == PARAM_STRING)
        return MMS_E_ARG;
    *out = m_unitLength;
    return 0;
}

uint32_t ParameterNode::elementWidth() const
{
    return m_type == PARAM_STRING ? m_maximum : paramTypeWidth(m_type);
}

JResult ParameterNode::admit(JVariant* target, const JVariant& value, uint32_t flags) const
{
    if (!target)
        return MMS_E_ARG;
    const Family family = familyOf(m_type);
    if (family == Family::Invalid)
        return MMS_E_ARG;
    if (family == Family::Text) {
        bool ok = false;
        const char* text = value.getString(&ok);
        if (!ok || std::strlen(text) > m_maximum)
            return MMS_E_ARG;
        *target = value;
        return 0;
    }
    if (family == Family::Real) {
        double v;
        if (!variantToReal(value, &v))
            return MMS_E_ARG;
        double lo = -FLT_MAX, hi = FLT_MAX;
        if (has(PRESENT_MINIMUM))
            lo = wordToFloat(m_minimum);
        if (has(PRESENT_MAXIMUM))
            hi = wordToFloat(m_maximum);
        JResult result = clampToRange(&v, lo, hi, flags);
        if (result < 0)
            return result;
        const bool atLimit = result != 0 || (has(PRESENT_MINIMUM) && v == lo) || (has(PRESENT_MAXIMUM) && v == hi);
        const bool hasBase = has(PRESENT_NOMINAL) || has(PRESENT_DEFAULT);
        if (!atLimit && hasBase && has(PRESENT_STEP)) {
            const double base = wordToFloat(has(PRESENT_NOMINAL) ? m_nominal : m_default);
            result = snapToStep(&v, snapReal(v, base, wordToFloat(m_step), lo, hi), flags, result);
            if (result < 0)
                return result;
        }
        *target = static_cast<float>(v);
        return result;
    }
    int64_t v;
    if (!variantToInt(value, &v))
        return MMS_E_ARG;
    const JResult result = admitInteger(&v, flags);
    if (result < 0)
        return result;
    setIntVariant(target, m_type, v);
    return result;
}

// Integer types and "bit": the type's own range bounds the limits, so a
// value the element can't hold is never stored cut.
JResult ParameterNode::admitInteger(int64_t* value, uint32_t flags) const
{
    int64_t v = *value;
    int64_t lo = typeMin(m_type), hi = typeMax(m_type);
    if (has(PRESENT_MINIMUM))
        lo = std::max(lo, wordToInt(m_type, m_minimum));
    if (has(PRESENT_MAXIMUM))
        hi = std::min(hi, wordToInt(m_type, m_maximum));
    JResult result = clampToRange(&v, lo, hi, flags);
    if (result < 0)
        return result;
    const bool atLimit = result != 0 || (has(PRESENT_MINIMUM) && v == wordToInt(m_type, m_minimum))
        || (has(PRESENT_MAXIMUM) && v == wordToInt(m_type, m_maximum));
    const bool hasBase = has(PRESENT_NOMINAL) || has(PRESENT_DEFAULT);
    if (!atLimit && m_type != PARAM_BIT && hasBase && has(PRESENT_STEP)) {
        const int64_t base = wordToInt(m_type, has(PRESENT_NOMINAL) ? m_nominal : m_default);
        result = snapToStep(&v, snapInt(v, base, wordToInt(m_type, m_step), lo, hi), flags, result);
        if (result < 0)
            return result;
    }
    *value = v;
    return result;
}

JResult ParameterNode::readRaw(JVariant* out, const uint8_t* data, uint32_t index) const
{
    switch (familyOf(m_type)) {
    case Family::Text:
        if (m_maximum == 0)
            return out->setString("", 0) < 0 ? MMS_E_MEMORY : 0;
        return out->setString(reinterpret_cast<const char*>(data + static_cast<size_t>(index) * m_maximum), m_maximum)
                < 0
            ? MMS_E_ARG
            : 0;
    case Family::Real:
        *out = wordToFloat(load(data + static_cast<size_t>(index) * 4, 4));
        return 0;
    case Family::Signed:
    case Family::Unsigned: {
        if (m_type == PARAM_BIT) {
            const uint32_t bit = bitOffset + index;
            out->setUInt32((data[bit / 8] >> (bit % 8)) & 1u);
            return 0;
        }
        const uint32_t width = paramTypeWidth(m_type);
        const uint32_t raw = load(data + static_cast<size_t>(index) * width, width);
        setIntVariant(out, m_type, paramTypeSigned(m_type) ? signExtend(raw, width) : raw);
        return 0;
    }
    default:
        return MMS_E_ARG;
    }
}

JResult ParameterNode::readElement(JVariant* out, const uint8_t* data, uint32_t index) const
{
    if (!out || !data || index >= m_arraySize)
        return MMS_E_ARG;
    const JResult r = readRaw(out, data, index);
    if (r < 0 || m_type == PARAM_STRING)
        return r;
    // A stored value outside the limits (memory adopted from elsewhere)
    // reads as the default, else the nominal, else clamped.
    JVariant probe;
    if (admit(&probe, *out, ADMIT_REFUSE_LOW | ADMIT_REFUSE_HIGH) == MMS_E_REFUSED) {
        if (has(PRESENT_DEFAULT))
            wordToVariant(out, m_type, m_default);
        else if (has(PRESENT_NOMINAL))
            wordToVariant(out, m_type, m_nominal);
        else
            admit(out, JVariant(*out), 0);
    } else if (m_type == PARAM_FLOAT && probe.type() != JLIB::JVARIANT_FLOAT) {
        // NaN in memory: nothing to compare; give the default or 0.
        if (has(PRESENT_DEFAULT))
            wordToVariant(out, m_type, m_default);
        else
            *out = 0.0f;
    }
    return 0;
}

JResult ParameterNode::writeElement(uint8_t* data, const JVariant& value, uint32_t index) const
{
    if (!data || index >= m_arraySize)
        return MMS_E_ARG;
    switch (familyOf(m_type)) {
    case Family::Text: {
        bool ok = false;
        const char* text = value.getString(&ok);
        if (!ok)
            return MMS_E_ARG;
        const size_t length = std::strlen(text);
        if (length > m_maximum)
            return MMS_E_ARG;
        uint8_t* element = data + static_cast<size_t>(index) * m_maximum;
        if (textLength(element, m_maximum) == length && std::memcmp(element, text, length) == 0)
            return 0;
        std::memset(element, 0, m_maximum);
        std::memcpy(element, text, length);
        return MMS_CHANGED;
    }
    case Family::Real: {
        double v;
        if (!variantToReal(value, &v))
            return MMS_E_ARG;
        const float f = static_cast<float>(v);
        uint8_t* element = data + static_cast<size_t>(index) * 4;
        if (std::memcmp(element, &f, 4) == 0)
            return 0;
        std::memcpy(element, &f, 4);
        return MMS_CHANGED;
    }
    case Family::Signed:
    case Family::Unsigned: {
        int64_t v;
        if (!variantToInt(value, &v) || v < typeMin(m_type) || v > typeMax(m_type))
            return MMS_E_ARG;
        return writeInteger(data, v, index);
    }
    default:
        return MMS_E_ARG;
    }
}

// v lies in the type's range; index below the array size.
JResult ParameterNode::writeInteger(uint8_t* data, int64_t v, uint32_t index) const
{
    if (m_type == PARAM_BIT) {
        const uint32_t bit = bitOffset + index;
        uint8_t& byte = data[bit / 8];
        const uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
        const bool now = (byte & mask) != 0;
        if (now == (v != 0))
            return 0;
        byte = static_cast<uint8_t>(v ? (byte | mask) : (byte & ~mask));
        return MMS_CHANGED;
    }
    const uint32_t width = paramTypeWidth(m_type);
    uint8_t* element = data + static_cast<size_t>(index) * width;
    // The element's own width, compared as one word rather than through memcmp.
    const uint32_t mask = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1u;
    const uint32_t word = static_cast<uint32_t>(v) & mask;
    if (load(element, width) == word)
        return 0;
    if (width == 1) {
        element[0] = static_cast<uint8_t>(word);
    } else if (width == 2) {
        const uint16_t h = static_cast<uint16_t>(word);
        std::memcpy(element, &h, 2);
    } else {
        std::memcpy(element, &word, 4);
    }
    return MMS_CHANGED;
}

JResult ParameterNode::afterWrite(const ElementPlace& place, uint32_t index, const WriteContext& context) const
{
    const uint32_t change = place.changeIndex + index;
    if (context.dirty)
        context.dirty->markChange(change);
    if (context.notify)
        context.notify->notify(place.elementNumber + index);
    if (context.sources)
        context.sources[change] = context.source;
    return 0;
}

JResult ParameterNode::setElement(const ElementPlace& place, const JVariant& value, uint32_t index,
    const WriteContext& context, JVariant* oldValue) const
{
    if (!place.data || index >= m_arraySize)
        return MMS_E_ARG;
    JVariant admitted;
    const JResult admission = admit(&admitted, value, context.flags);
    if (admission < 0)
        return admission;
    if (oldValue)
        readElement(oldValue, place.data, index);
    if (context.filter) {
        const uint8_t last = context.sources ? context.sources[place.changeIndex + index] : 0;
        if (context.filter->skipWrite(last, context.source))
            return admission;
    }
    const JResult written = writeElement(place.data, admitted, index);
    if (written < 0)
        return written;
    if (written & MMS_CHANGED)
        afterWrite(place, index, context);
    return admission | written;
}

JResult ParameterNode::setElements(const ElementPlace& place, const JVariantArray& values, uint32_t index,
    uint32_t count, bool repeat, const WriteContext& context) const
{
    if (!place.data || count == 0 || index >= m_arraySize || count > m_arraySize - index)
        return MMS_E_ARG;
    if (repeat ? values.count() < 1 : values.count() < count)
        return MMS_E_ARG;
    // Admit everything first: a refused value must not leave half a run written.
    std::vector<JVariant> admitted(count);
    JResult result = 0;
    for (uint32_t i = 0; i < count; ++i) {
        JVariant in;
        if (values.get(&in, repeat ? 0 : i) < 0)
            return MMS_E_ARG;
        result = mms_combine(result, admit(&admitted[i], in, context.flags));
        if (result < 0)
            return result;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t at = index + i;
        if (context.filter) {
            const uint8_t last = context.sources ? context.sources[place.changeIndex + at] : 0;
            if (context.filter->skipWrite(last, context.source))
                continue;
        }
        const JResult written = writeElement(place.data, admitted[i], at);
        result = mms_combine(result, written);
        if (written > 0 && (written & MMS_CHANGED))
            afterWrite(place, at, context);
    }
    return result;
}

JResult ParameterNode::readChangedElements(const ElementPlace& place, uint32_t index, uint32_t count,
    JVariantArray* out, uint32_t outFirst, uint8_t* sourcesOut, const uint8_t* sources, uint8_t* page, bool clear) const
{
    if (!place.data || !out || index >= m_arraySize || count > m_arraySize - index)
        return MMS_E_ARG;
    JResult result = 0;
    for (uint32_t i = 0; i < count; ++i) {
        JVariant v;
        const JResult r = readElement(&v, place.data, index + i);
        if (r < 0)
            return r;
        if (out->set(outFirst + i, v) < 0)
            return MMS_E_ARG;
        const uint32_t change = place.changeIndex + index + i;
        if (sourcesOut)
            sourcesOut[i] = sources ? sources[change] : 0;
        if (clear && page)
            result |= mms_clearBit(page, change);
    }
    return result;
}

bool ParameterNode::isChanged(const ElementPlace& place, uint32_t index, uint8_t* page, bool clear) const
{
    if (!page || index >= m_arraySize)
        return false;
    const uint32_t change = place.changeIndex + index;
    const bool set = mms_testBit(page, change);
    if (set && clear)
        mms_clearBit(page, change);
    return set;
}

JResult ParameterNode::firstChanged(
    const ElementPlace& place, uint32_t from, const uint8_t* page, uint32_t* outIndex) const
{
    if (!page || !outIndex)
        return MMS_E_ARG;
    for (uint32_t i = from; i < m_arraySize; ++i)
        if (mms_testBit(page, place.changeIndex + i)) {
            *outIndex = i;
            return MMS_FOUND;
        }
    return MMS_E_NO_MATCH;
}

JResult ParameterNode::writeDefaults(const ElementPlace& place, const WriteContext& context, bool track) const
{
    if (!place.data)
        return MMS_E_ARG;
    if (!has(PRESENT_DEFAULT))
        return 0;
    const auto eachElement = [&](auto write) -> JResult {
        JResult result = 0;
        for (uint32_t i = 0; i < m_arraySize; ++i) {
            const JResult written = write(i);
            if (written < 0)
                return MMS_E_UNDEFINED;
            if (written & MMS_CHANGED) {
                result |= MMS_CHANGED;
                if (track)
                    afterWrite(place, i, context);
            }
        }
        return result;
    };
    const Family family = familyOf(m_type);
    if (family == Family::Signed || family == Family::Unsigned) {
        // An integer default is converted and range-checked once, as
        // writeElement would for every element.
        const int64_t v = wordToInt(m_type, m_default);
        if (v < typeMin(m_type) || v > typeMax(m_type))
            return MMS_E_UNDEFINED;
        return eachElement([&](uint32_t i) { return writeInteger(place.data, v, i); });
    }
    JVariant value;
    if (getDefault(&value, context.pool) < 0)
        return MMS_E_UNDEFINED;
    return eachElement([&](uint32_t i) { return writeElement(place.data, value, i); });
}

} // namespace MMS
