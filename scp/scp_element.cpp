#include "scp/scp_element.h"

#include "scp/scp_chars.h"
#include "scp/scp_strtable.h"

#include <cstring>

namespace SCP {

namespace {

uint32_t lowerCodePoint(uint32_t c)
{
    return (c >= 'A' && c <= 'Z') ? c + 0x20 : c;
}

// One character of a text kind: UTF-8 with the utf8 flag, else one byte with
// a question mark for anything outside 7-bit.
JResult putChar(ScpRing& ring, uint32_t code, bool utf8)
{
    if (code < 0x80 || !utf8)
        return scp_ringPut(ring, code < 0x80 ? static_cast<uint8_t>(code) : '?');
    uint8_t bytes[SCP_UTF8_MAX];
    size_t written = 0;
    if (JLIB::JUnicode(code).toUtf8(bytes, sizeof bytes, &written) < 0)
        return SCP_E_CONVERT;
    return scp_ringWrite(ring, reinterpret_cast<const char*>(bytes), written);
}

// The escape that carries a character inside double quotes; 0 when the
// character stands for itself.
char escapeFor(uint32_t code)
{
    switch (code) {
    case kQuote:
        return '"';
    case kBackslash:
        return '\\';
    case '\n':
        return 'n';
    case '\r':
        return 'r';
    default:
        return 0;
    }
}

JResult putQuotedChar(ScpRing& ring, uint32_t code, bool utf8)
{
    if (code == 0)
        return SCP_E_CONVERT; // no escape exists for NUL and it would end the line
    const char escape = escapeFor(code);
    if (escape) {
        if (scp_ringPut(ring, '\\') < 0)
            return SCP_E_CONVERT;
        return scp_ringPut(ring, static_cast<uint8_t>(escape));
    }
    return putChar(ring, code, utf8);
}

// Decimal text of a signed 32-bit value into the ring.
JResult putInteger(ScpRing& ring, int32_t value)
{
    char digits[12];
    size_t n = 0;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0)
        digits[n++] = '-';
    while (n > 0) {
        if (scp_ringPut(ring, static_cast<uint8_t>(digits[--n])) < 0)
            return SCP_E_CONVERT;
    }
    return SCP_OK;
}

// Leading blanks, a sign, decimal digits, trailing white space; anything else,
// no digit at all, or a value outside 32 bits is refused.
JResult parseInteger(const ScpText& token, int32_t* value)
{
    const size_t n = token.length();
    size_t i = 0;
    while (i < n && (token[i].code() == ' ' || token[i].code() == '\t'))
        ++i;
    bool negative = false;
    if (i < n && (token[i].code() == '-' || token[i].code() == '+')) {
        negative = token[i].code() == '-';
        ++i;
    }
    const size_t firstDigit = i;
    int64_t magnitude = 0;
    for (; i < n; ++i) {
        const uint32_t c = token[i].code();
        if (c < '0' || c > '9')
            break;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > 0x80000000LL)
            return SCP_E_SYNTAX;
    }
    if (i == firstDigit)
        return SCP_E_SYNTAX;
    for (; i < n; ++i) {
        if (!isWhite(token[i].code()))
            return SCP_E_SYNTAX;
    }
    if (!negative && magnitude > 0x7FFFFFFFLL)
        return SCP_E_SYNTAX;
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return SCP_OK;
}

// Position of the closing quote of a token that opens with one: the last
// double quote after the first character (quotes in between came from
// escapes); 0 when there is none.
size_t closingQuote(const ScpText& token)
{
    for (size_t i = token.length(); i > 1; --i) {
        if (token[i - 1].code() == kQuote)
            return i - 1;
    }
    return 0;
}

} // namespace

// ---- output ring ----

void scp_ringReset(ScpRing& ring)
{
    ring.clear();
}

JResult scp_ringPut(ScpRing& ring, uint8_t byte)
{
    return ring.putByte(byte) < 0 ? SCP_E_FULL : SCP_OK;
}

JResult scp_ringWrite(ScpRing& ring, const char* bytes, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (ring.putByte(static_cast<uint8_t>(bytes[i])) < 0)
            return SCP_E_FULL;
    }
    return SCP_OK;
}

JResult scp_ringWriteText(ScpRing& ring, const char* text)
{
    return text ? scp_ringWrite(ring, text, std::strlen(text)) : SCP_OK;
}

// ---- text helpers ----

bool scp_textEquals(const ScpText& text, const char* word, bool ignoreCase)
{
    if (!word)
        return false;
    const size_t n = text.length();
    size_t i = 0;
    for (; i < n; ++i) {
        const uint8_t b = static_cast<uint8_t>(word[i]);
        if (b == 0)
            return false;
        const uint32_t w = b < 0x80 ? b : JLIB::JUnicode::kReplacement;
        const uint32_t c = text[i].code();
        if (ignoreCase ? lowerCodePoint(c) != lowerCodePoint(w) : c != w)
            return false;
    }
    return word[i] == 0;
}

bool scp_wordEquals(const ScpText& text, const char* word, bool ignoreCase)
{
    const size_t n = text.length();
    if (n >= 2 && text[0].code() == kQuote && text[n - 1].code() == kQuote) {
        if (!word)
            return false;
        const size_t inner = n - 2;
        if (std::strlen(word) != inner)
            return false;
        for (size_t i = 0; i < inner; ++i) {
            const uint8_t b = static_cast<uint8_t>(word[i]);
            const uint32_t w = b < 0x80 ? b : JLIB::JUnicode::kReplacement;
            const uint32_t c = text[i + 1].code();
            if (ignoreCase ? lowerCodePoint(c) != lowerCodePoint(w) : c != w)
                return false;
        }
        return true;
    }
    return scp_textEquals(text, word, ignoreCase);
}

size_t scp_textToAscii7(const ScpText& text, char* out, size_t size)
{
    if (!out || size == 0)
        return 0;
    size_t n = 0;
    for (size_t i = 0; i < text.length() && n + 1 < size; ++i) {
        const uint32_t c = text[i].code();
        out[n++] = c < 0x80 ? static_cast<char>(c) : ' ';
    }
    out[n] = 0;
    return n;
}

size_t scp_textToUtf16(const ScpText& text, char16_t* out, size_t units)
{
    if (!out || units == 0)
        return 0;
    size_t n = 0;
    for (size_t i = 0; i < text.length(); ++i) {
        uint16_t high = 0, low = 0;
        size_t count = 0;
        text[i].toUtf16(&high, &low, &count);
        if (n + count + 1 > units)
            break;
        out[n++] = high;
        if (count == 2)
            out[n++] = low;
    }
    out[n] = 0;
    return n;
}

size_t scp_textToUtf8(const ScpText& text, char* out, size_t size)
{
    if (!out || size == 0)
        return 0;
    size_t n = 0;
    for (size_t i = 0; i < text.length(); ++i) {
        uint8_t bytes[SCP_UTF8_MAX];
        size_t written = 0;
        if (text[i].toUtf8(bytes, sizeof bytes, &written) < 0 || n + written + 1 > size)
            break;
        std::memcpy(out + n, bytes, written);
        n += written;
    }
    out[n] = 0;
    return n;
}

// ---- ScpElement ----

JResult ScpElement::reset()
{
    m_present = 0;
    return SCP_OK;
}

JResult ScpElement::setName(const char* name)
{
    m_name = name;
    return reset();
}

// ---- text kinds ----

JResult ScpElementText::reset()
{
    m_text.clear();
    return ScpElement::reset();
}

JResult ScpElementText::decode(const ScpText& token)
{
    m_text.clear();
    const size_t n = token.length();
    size_t from = 0;
    size_t close = n; // the closing quote, not stored
    for (size_t i = 0; i < n; ++i) {
        if (token[i].code() != kQuote)
            continue;
        // What stood before the opening quote is not part of the text.
        from = i + 1;
        for (size_t k = n; k > from; --k) {
            if (token[k - 1].code() == kQuote) {
                close = k - 1;
                break;
            }
        }
        break;
    }
    for (size_t i = from; i < n && m_text.length() < m_text.maxLength(); ++i) {
        if (i != close)
            m_text.pushBack(token[i]);
    }
    setPresent(true);
    return SCP_OK;
}

JResult ScpElementText::set(const ScpText& text)
{
    m_text.clear();
    for (size_t i = 0; i < text.length() && m_text.length() < m_text.maxLength(); ++i)
        m_text.pushBack(text[i]);
    setPresent(true);
    return SCP_OK;
}

JResult ScpElementText::encodeQuoted(bool utf8, ScpRing& ring) const
{
    if (scp_ringPut(ring, '"') < 0)
        return SCP_E_CONVERT;
    for (size_t i = 0; i < m_text.length(); ++i) {
        if (putQuotedChar(ring, m_text[i].code(), utf8) < 0)
            return SCP_E_CONVERT;
    }
    return scp_ringPut(ring, '"') < 0 ? SCP_E_CONVERT : SCP_OK;
}

JResult ScpElementText::encodeBare(bool utf8, ScpRing& ring) const
{
    for (size_t i = 0; i < m_text.length(); ++i) {
        if (putChar(ring, m_text[i].code(), utf8) < 0)
            return SCP_E_CONVERT;
    }
    return SCP_OK;
}

ScpElementAlNum::ScpElementAlNum(const char* name, const char* value)
    : ScpElementAlNum(name)
{
    set(value);
}

JResult ScpElementAlNum::encode(bool json, bool utf8, ScpRing& ring) const
{
    if (json)
        return encodeQuoted(utf8, ring);
    // A bare word must come back as exactly one token.
    bool bare = m_text.length() > 0;
    for (size_t i = 0; bare && i < m_text.length(); ++i) {
        const uint32_t c = m_text[i].code();
        bare = !(c == 0 || c == kQuote || isWhite(c));
    }
    return bare ? encodeBare(utf8, ring) : encodeQuoted(utf8, ring);
}

JResult ScpElementAlNum::set(const char* text)
{
    m_text.clear();
    setPresent(false);
    if (!text)
        return SCP_E_ARG;
    const size_t n = std::strlen(text);
    if (n > SCP_ALNUM_MAX || n > m_text.maxLength())
        return SCP_E_ARG;
    for (size_t i = 0; i < n; ++i) {
        JLIB::JUnicode ch;
        ch.setAscii(static_cast<uint8_t>(text[i]));
        m_text.pushBack(ch);
    }
    setPresent(true);
    return SCP_OK;
}

void ScpElementAlNum::makeLower()
{
    for (auto& ch : m_text)
        ch.makeLower();
}

JResult ScpElementString::encode(bool /*json*/, bool utf8, ScpRing& ring) const
{
    return encodeQuoted(utf8, ring);
}

JResult ScpElementString::setUtf16(const char16_t* text)
{
    m_text.clear();
    setPresent(false);
    if (!text)
        return SCP_E_ARG;
    for (size_t i = 0; text[i] != 0;) {
        if (m_text.length() >= SCP_STRING_MAX || m_text.length() >= m_text.maxLength()) {
            m_text.clear();
            return SCP_E_ARG;
        }
        JLIB::JUnicode ch;
        size_t used = 1;
        ch.fromUtf16(static_cast<uint16_t>(text[i]), static_cast<uint16_t>(text[i + 1]), &used);
        m_text.pushBack(ch);
        i += used;
    }
    setPresent(true);
    return SCP_OK;
}

// ---- integers ----

ScpElementInteger::ScpElementInteger(const char* name, int32_t value)
    : ScpElement(name)
{
    set(value);
}

JResult ScpElementInteger::reset()
{
    m_value = 0;
    return ScpElement::reset();
}

JResult ScpElementInteger::decode(const ScpText& token)
{
    int32_t value = 0;
    const JResult r = parseInteger(token, &value);
    m_value = value;
    setPresent(r >= 0);
    return r;
}

JResult ScpElementInteger::encode(bool /*json*/, bool /*utf8*/, ScpRing& ring) const
{
    return putInteger(ring, m_value);
}

JResult ScpElementInteger::set(int32_t value)
{
    m_value = value;
    setPresent(true);
    return SCP_OK;
}

JResult ScpElementSubAddress::reset()
{
    m_all = 0;
    return ScpElementInteger::reset();
}

JResult ScpElementSubAddress::decode(const ScpText& token)
{
    if (scp_wordEquals(token, "all", true)) {
        m_all = 1;
        m_value = 0;
        setPresent(true);
        return SCP_OK;
    }
    m_all = 0;
    return ScpElementInteger::decode(token);
}

JResult ScpElementSubAddress::encode(bool json, bool utf8, ScpRing& ring) const
{
    if (!m_all)
        return ScpElementInteger::encode(json, utf8, ring);
    const char* word = json ? "\"all\"" : "all";
    return scp_ringWriteText(ring, word) < 0 ? SCP_E_CONVERT : SCP_OK;
}

JResult ScpElementSubAddress::set(int32_t value)
{
    m_all = 0;
    return ScpElementInteger::set(value);
}

JResult ScpElementSubAddress::setAll()
{
    m_all = 1;
    m_value = 0;
    setPresent(true);
    return SCP_OK;
}

// ---- parameter ----

ScpElementParameter::ScpElementParameter(const char* name, const JLIB::JVariant& value)
    : ScpElement(name)
{
    set(value);
}

JResult ScpElementParameter::reset()
{
    m_value.clear();
    return ScpElement::reset();
}

JResult ScpElementParameter::decode(const ScpText& token)
{
    m_value.clear();
    setPresent(false);
    if (token.length() == 0)
        return SCP_E_ARG;
    if (token[0].code() != kQuote) {
        int32_t value = 0;
        const JResult r = parseInteger(token, &value);
        if (r < 0)
            return r;
        m_value.setInt32(value);
        setPresent(true);
        return SCP_OK;
    }
    const size_t close = closingQuote(token);
    if (close == 0)
        return SCP_E_SYNTAX;
    // At most 128 characters of up to 4 UTF-8 bytes each, and the NUL.
    char text[SCP_STRING_MAX * 4 + 1];
    size_t n = 0;
    for (size_t i = 1; i < close && i <= SCP_STRING_MAX; ++i) {
        const uint32_t c = token[i].code();
        if (c == 0)
            return SCP_E_CONVERT;
        size_t written = 0;
        if (token[i].toUtf8(reinterpret_cast<uint8_t*>(text + n), sizeof text - 1 - n, &written) < 0)
            return SCP_E_CONVERT;
        n += written;
    }
    text[n] = 0;
    if (m_value.setString(text, static_cast<uint32_t>(n)) < 0)
        return SCP_E_CONVERT;
    setPresent(true);
    return SCP_OK;
}

JResult ScpElementParameter::encode(bool json, bool /*utf8*/, ScpRing& ring) const
{
    bool ok = false;
    // JSON requests carry the reply-only members too; an empty one is an
    // empty text, as for the other kinds, rather than a line that can
    // never be encoded.
    if (json && m_value.type() == JLIB::JVARIANT_EMPTY)
        return scp_ringWriteText(ring, "\"\"") < 0 ? SCP_E_CONVERT : SCP_OK;
    if (m_value.type() == JLIB::JVARIANT_INT32 || m_value.type() == JLIB::JVARIANT_UINT32)
        return putInteger(ring, static_cast<int32_t>(m_value.toInteger()));
    if (m_value.type() != JLIB::JVARIANT_STRING)
        return SCP_E_FAIL;
    const char* text = m_value.getString(&ok);
    if (!ok || !text)
        return SCP_E_FAIL;
    if (scp_ringPut(ring, '"') < 0)
        return SCP_E_CONVERT;
    for (const char* p = text; *p; ++p) {
        const char escape = escapeFor(static_cast<uint8_t>(*p));
        if (escape && scp_ringPut(ring, '\\') < 0)
            return SCP_E_CONVERT;
        if (scp_ringPut(ring, static_cast<uint8_t>(escape ? escape : *p)) < 0)
            return SCP_E_CONVERT;
    }
    return scp_ringPut(ring, '"') < 0 ? SCP_E_CONVERT : SCP_OK;
}

JResult ScpElementParameter::set(const JLIB::JVariant& value)
{
    if (value.type() == JLIB::JVARIANT_INT32 || value.type() == JLIB::JVARIANT_UINT32
        || value.type() == JLIB::JVARIANT_STRING) {
        m_value = value;
        if (m_value.type() == value.type()) {
            setPresent(true);
            return SCP_OK;
        }
    }
    m_value.clear();
    setPresent(false);
    return SCP_E_ARG;
}

// ---- element list ----

JResult ScpElementList::push(ScpElement* element, uint8_t flags)
{
    if (m_count >= SCP_LIST_MAX)
        return SCP_E_FULL;
    m_entries[m_count++] = Entry{element, flags};
    return SCP_OK;
}

bool ScpElementList::allPresent(uint8_t flags) const
{
    for (uint32_t i = 0; i < m_count; ++i) {
        if ((m_entries[i].flags & flags) && !(m_entries[i].element && m_entries[i].element->isPresent()))
            return false;
    }
    return true;
}

JResult ScpElementList::decode(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values)
{
    JResult result = SCP_OK;
    for (uint32_t i = 0; i < m_count; ++i) {
        if (m_entries[i].element)
            m_entries[i].element->reset();
    }
    for (uint32_t i = 0; i < m_count; ++i) {
        ScpElement* element = m_entries[i].element;
        if (!element || !(m_entries[i].flags & SCP_FLAG_READ))
            continue;
        int32_t index = static_cast<int32_t>(i);
        if (keys.hasStorage() && keys.count() > 0)
            index = keys.find(element->name());
        const ScpText* value = index >= 0 ? values.item(static_cast<uint32_t>(index)) : nullptr;
        if (!value || element->decode(*value) < 0)
            result = SCP_E_MISSING;
    }
    return result;
}

// ---- information records ----

void ScpParameterInfo::clear()
{
    std::memset(this, 0, sizeof *this);
}
void ScpMeterInfo::clear()
{
    std::memset(this, 0, sizeof *this);
}
void ScpSceneInfo::clear()
{
    std::memset(this, 0, sizeof *this);
}

// ---- name tables ----

namespace {
const char* const kMeterTypes[] = {"level", "hold", "gr", "vu"};
const char* const kParameterTypes[] = {"integer", "freq", "binary"};
const char* const kUiTypes[] = {"any", "fader", "latchsw", "unlatchsw", "list", "knob"};
const char* const kAccessAttributes[] = {"rw", "r", "w"};
const char* const kSceneAttributes[] = {"empty", "user", "preinst", "reserve"};
template <size_t N> constexpr ScpNameTable table(const char* const (&names)[N])
{
    return ScpNameTable{names, static_cast<int32_t>(N)};
}
} // namespace

const ScpNameTable scp_meterTypes = table(kMeterTypes);
const ScpNameTable scp_parameterTypes = table(kParameterTypes);
const ScpNameTable scp_uiTypes = table(kUiTypes);
const ScpNameTable scp_accessAttributes = table(kAccessAttributes);
const ScpNameTable scp_sceneAttributes = table(kSceneAttributes);

JResult scp_nameToIndex(const ScpNameTable& table, const char* name, int32_t* index)
{
    int32_t found = -1;
    for (int32_t i = 0; name && i < table.count; ++i) {
        if (std::strcmp(table.names[i], name) == 0) {
            found = i;
            break;
        }
    }
    if (index)
        *index = found < 0 ? 0 : found;
    return found < 0 ? SCP_E_FAIL : SCP_OK;
}

const char* scp_indexToName(const ScpNameTable& table, int32_t index)
{
    return (index >= 0 && index < table.count) ? table.names[index] : "?";
}

} // namespace SCP
