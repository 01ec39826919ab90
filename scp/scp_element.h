// SCP elements: the named, typed fields of a command or notification line,
// the element list that says which of them a line carries, the information
// records that replies fill, and the name tables of the protocol's
// enumeration words.
//
// Text values are code points (ScpText). Outgoing lines are written into
// the client's output ring (ScpRing, a JDataStream of bytes).
#pragma once

#include "pbd/jlib/jdatastream.h"
#include "pbd/jlib/jlib_result.h"
#include "pbd/jlib/jstring.h"
#include "pbd/jlib/junicode.h"
#include "pbd/jlib/jvariant.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace SCP {

using ScpText = JLIB::JString<JLIB::JUnicode>;
using ScpRing = JLIB::JDataStream<unsigned char>;

// Result codes of the SCP library. Callers test the sign; the meaning of a
// code depends on the operation that returned it.
constexpr JResult SCP_OK = 0;
constexpr JResult SCP_E_FAIL = static_cast<JResult>(0x80000000u);
constexpr JResult SCP_E_FULL = static_cast<JResult>(0x80000001u); // list, table or ring full
constexpr JResult SCP_E_SYNTAX = static_cast<JResult>(0x80000002u); // bad number, unterminated text, JSON structure
constexpr JResult SCP_E_MISSING = static_cast<JResult>(0x80000003u); // element missing or undecodable
constexpr JResult SCP_E_ARG = static_cast<JResult>(0x80000004u); // value out of range, text missing or too long
constexpr JResult SCP_E_INDEX = static_cast<JResult>(0x80000005u); // index out of range, array full, unknown address
constexpr JResult SCP_E_CONVERT = static_cast<JResult>(0x80000006u); // byte did not fit, text not convertible
constexpr JResult SCP_E_NOTREADY = static_cast<JResult>(0x80000008u); // not connected or not started
constexpr JResult SCP_E_NOTATTACHED = static_cast<JResult>(0x8000000Au);
constexpr JResult SCP_E_READ = static_cast<JResult>(0x8000000Cu);
constexpr JResult SCP_E_ENCODE = static_cast<JResult>(0x8000000Du); // line does not fit the output ring
// Informative results.
constexpr JResult SCP_LINE_COMPLETE = 3; // a decoder finished a line
constexpr JResult SCP_FEED_STOPPED = 4; // feed ended inside a UTF-8 sequence
constexpr JResult SCP_NOT_STARTED = 13;

// Longest texts of the element kinds, in code points.
constexpr size_t SCP_ALNUM_MAX = 64;
constexpr size_t SCP_STRING_MAX = 128;
// Longest token a decoder builds, in code points.
constexpr size_t SCP_TOKEN_MAX = 256;
// Most bytes of one UTF-8 sequence.
constexpr size_t SCP_UTF8_MAX = 6;
// Most entries of an element list.
constexpr uint32_t SCP_LIST_MAX = 64;

// Element flags of an element list entry.
constexpr uint8_t SCP_FLAG_RAW_REQUEST = 0x08;
constexpr uint8_t SCP_FLAG_READ = 0x10;
constexpr uint8_t SCP_FLAG_JSON_REQUEST = 0x20;
constexpr uint8_t SCP_FLAG_NOTIFICATION = 0x40;

// Output ring. Every encoded line starts at the beginning of the buffer.
void scp_ringReset(ScpRing& ring);
// SCP_E_FULL when the ring holds its capacity.
JResult scp_ringPut(ScpRing& ring, uint8_t byte);
// All bytes or SCP_E_FULL (what fit stays written).
JResult scp_ringWrite(ScpRing& ring, const char* bytes, size_t length);
JResult scp_ringWriteText(ScpRing& ring, const char* text);

// Text helpers over code points.
// Exact comparison with an 8-bit NUL-terminated word; ignoreCase folds A to Z.
bool scp_textEquals(const ScpText& text, const char* word, bool ignoreCase);
// As scp_textEquals, but one pair of surrounding double quotes (as JSON
// values keep them) is not part of the text.
bool scp_wordEquals(const ScpText& text, const char* word, bool ignoreCase);
// Copies as 7-bit text (code points of 128 and above become blanks) into
// out[size], cut to size - 1 characters and always terminated. Returns the
// characters written.
size_t scp_textToAscii7(const ScpText& text, char* out, size_t size);
// Copies as UTF-16 into out[units], cut to units - 1 code units (a pair is
// never split) and always terminated. Returns the units written.
size_t scp_textToUtf16(const ScpText& text, char16_t* out, size_t units);
// Copies as UTF-8 into out[size], cut before a character that does not fit,
// always terminated. Returns the bytes written.
size_t scp_textToUtf8(const ScpText& text, char* out, size_t size);

// One named, typed field of a line.
class ScpElement {
public:
    ScpElement() = default;
    explicit ScpElement(const char* name)
        : m_name(name)
    {
    }
    virtual ~ScpElement() = default;
    ScpElement(ScpElement&&) = default;
    ScpElement& operator=(ScpElement&&) = default;

    // Clears the value and the present mark.
    virtual JResult reset();
    // 1 for a scalar; an array reports its reserved capacity.
    virtual uint32_t count() const { return 1; }
    // Sets the value from one received token (quotes as the decoder left
    // them) and marks the element present; a failure leaves it not present.
    virtual JResult decode(const ScpText& token) = 0;
    // Writes the value into the ring; SCP_E_CONVERT when a byte did not fit
    // or the value cannot be written.
    virtual JResult encode(bool json, bool utf8, ScpRing& ring) const = 0;

    // Stores the name (not owned) and resets the element.
    JResult setName(const char* name);
    const char* name() const { return m_name; }
    bool isPresent() const { return m_present != 0; }

protected:
    void setPresent(bool present) { m_present = present ? 1 : 0; }

private:
    const char* m_name = nullptr;
    uint8_t m_present = 0;
};

// Common text storage of ScpElementAlNum and ScpElementString.
class ScpElementText : public ScpElement {
public:
    JResult reset() override;
    // Quoted text: the characters between the opening and the closing
    // double quote (inner quotes came from escapes and are kept), then any
    // characters after the closing quote. Characters past the maximum
    // length are dropped.
    JResult decode(const ScpText& token) override;

    // Copy of another text (cut to the maximum length); present.
    JResult set(const ScpText& text);
    const ScpText& text() const { return m_text; }
    // For reporters that fill the text in place.
    ScpText& mutableText() { return m_text; }
    size_t maxLength() const { return m_text.maxLength(); }

protected:
    ScpText m_text;
    ScpElementText(const char* name, size_t maxLength)
        : ScpElement(name)
        , m_text(maxLength)
    {
    }
    // Text in double quotes with quote, backslash, LF and CR escaped; a NUL
    // cannot be carried by a line and is refused.
    JResult encodeQuoted(bool utf8, ScpRing& ring) const;
    JResult encodeBare(bool utf8, ScpRing& ring) const;
};

// A word of at most 64 characters, written bare in RAW lines.
class ScpElementAlNum : public ScpElementText {
public:
    explicit ScpElementAlNum(const char* name = nullptr)
        : ScpElementText(name, SCP_ALNUM_MAX)
    {
    }
    ScpElementAlNum(const char* name, const char* value);
    // RAW: bare; a text that could not stand as one bare token (empty, or
    // holding white space, a quote or a line end) is quoted instead so that
    // it comes back as the same single token. JSON: in double quotes.
    JResult encode(bool json, bool utf8, ScpRing& ring) const override;
    using ScpElementText::set;
    // Each byte one character up to the NUL; SCP_E_ARG and not present when
    // the text is missing or longer than 64 characters.
    JResult set(const char* text);
    // A to Z become a to z.
    void makeLower();
};

// A text of at most 128 characters, always written in double quotes.
class ScpElementString : public ScpElementText {
public:
    explicit ScpElementString(const char* name = nullptr)
        : ScpElementText(name, SCP_STRING_MAX)
    {
    }
    JResult encode(bool json, bool utf8, ScpRing& ring) const override;
    using ScpElementText::set;
    // UTF-16 up to a NUL unit, surrogate pairs combined; SCP_E_ARG and not
    // present when the text is missing or longer than 128 characters.
    JResult setUtf16(const char16_t* text);
};

// A signed 32-bit integer in decimal.
class ScpElementInteger : public ScpElement {
public:
    explicit ScpElementInteger(const char* name = nullptr)
        : ScpElement(name)
    {
    }
    ScpElementInteger(const char* name, int32_t value);
    JResult reset() override;
    // Leading blanks, an optional sign, decimal digits, trailing white space.
    // SCP_E_SYNTAX and not present for anything else, for no digits, and for
    // a number outside the 32-bit range.
    JResult decode(const ScpText& token) override;
    JResult encode(bool json, bool utf8, ScpRing& ring) const override;
    JResult set(int32_t value);
    int32_t value() const { return m_value; }

protected:
    int32_t m_value = 0;
};

// An integer or the word "all" (value 0, all mark set).
class ScpElementSubAddress : public ScpElementInteger {
public:
    explicit ScpElementSubAddress(const char* name = nullptr)
        : ScpElementInteger(name)
    {
    }
    ScpElementSubAddress(const char* name, int32_t value)
        : ScpElementInteger(name, value)
    {
    }
    JResult reset() override;
    // "all" in any case, bare or in double quotes (as JSON lines carry it).
    JResult decode(const ScpText& token) override;
    JResult encode(bool json, bool utf8, ScpRing& ring) const override;
    // Clears the all mark.
    JResult set(int32_t value);
    JResult setAll();
    bool isAll() const { return m_all != 0; }

private:
    uint8_t m_all = 0;
};

// A JVariant: a quoted token is a text, anything else a decimal integer.
class ScpElementParameter : public ScpElement {
public:
    explicit ScpElementParameter(const char* name = nullptr)
        : ScpElement(name)
    {
    }
    ScpElementParameter(const char* name, const JLIB::JVariant& value);
    JResult reset() override;
    // Text: at most 128 characters between the opening and the closing
    // quote, stored as UTF-8; SCP_E_ARG for an empty token, SCP_E_SYNTAX
    // without a closing quote, SCP_E_CONVERT for a NUL in the text.
    // Integer: as ScpElementInteger.
    JResult decode(const ScpText& token) override;
    // Integers "%d"; texts in double quotes with the line's escapes; an
    // empty value in JSON as an empty text; other variants (and an empty
    // one in RAW) fail with SCP_E_FAIL.
    JResult encode(bool json, bool utf8, ScpRing& ring) const override;
    // Integer and text variants are copied and present; anything else
    // empties the element.
    JResult set(const JLIB::JVariant& value);
    const JLIB::JVariant& value() const { return m_value; }

private:
    JLIB::JVariant m_value;
};

// A bounded vector of elements of one kind, all named like the array.
template <class T> class ScpElementArray : public ScpElement {
public:
    ScpElementArray(const char* name, uint32_t maxCount)
        : ScpElement(name)
        , m_maxCount(maxCount)
    {
        m_items.reserve(maxCount);
    }
    // Empties the array; the reserved room stays.
    JResult reset() override
    {
        m_items.clear();
        return ScpElement::reset();
    }
    uint32_t count() const override { return m_maxCount; }
    // Appends one item decoded from the token; SCP_E_INDEX when full. An
    // item that refuses the token is not appended.
    JResult decode(const ScpText& token) override
    {
        if (m_items.size() >= m_maxCount)
            return SCP_E_INDEX;
        T item(name());
        const JResult r = item.decode(token);
        if (r < 0)
            return r;
        m_items.push_back(std::move(item));
        setPresent(true);
        return r;
    }
    // RAW: the items separated by single blanks; JSON: [a,b,...].
    JResult encode(bool json, bool utf8, ScpRing& ring) const override
    {
        if (json && scp_ringPut(ring, '[') < 0)
            return SCP_E_CONVERT;
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (i > 0 && scp_ringPut(ring, json ? ',' : ' ') < 0)
                return SCP_E_CONVERT;
            const JResult r = m_items[i].encode(json, utf8, ring);
            if (r < 0)
                return r;
        }
        if (json && scp_ringPut(ring, ']') < 0)
            return SCP_E_CONVERT;
        return SCP_OK;
    }
    // A new empty item named like the array, for the caller to fill; null
    // when the array is full. The array counts as present from then on.
    T* appendItem()
    {
        if (m_items.size() >= m_maxCount)
            return nullptr;
        m_items.emplace_back(name());
        setPresent(true);
        return &m_items.back();
    }
    size_t size() const { return m_items.size(); }
    const T* item(size_t index) const { return index < m_items.size() ? &m_items[index] : nullptr; }
    uint32_t maxCount() const { return m_maxCount; }

private:
    std::vector<T> m_items;
    uint32_t m_maxCount;
};

class ScpUnicodeStringTable;

// Up to 64 (element, flags) entries in the order pushed. Elements are not owned.
class ScpElementList {
public:
    // SCP_E_FULL when 64 entries are held; the element is then not listed.
    JResult push(ScpElement* element, uint8_t flags);
    uint32_t count() const { return m_count; }
    // Null when position is not below the count.
    ScpElement* item(uint32_t position) const { return valid(position) ? m_entries[position].element : nullptr; }
    uint8_t flags(uint32_t position) const { return valid(position) ? m_entries[position].flags : 0; }
    // Position below the count and the entry's flags share a bit with bits.
    bool hasFlag(uint32_t position, uint8_t bits) const
    {
        return valid(position) && (m_entries[position].flags & bits) != 0;
    }
    // Every entry carrying one of the flags holds a present element.
    bool allPresent(uint8_t flags) const;
    // Reads a received line: resets every element, then decodes each entry
    // carrying SCP_FLAG_READ from the value found by its name among the keys
    // (JSON lines) or at its own position (RAW lines). SCP_OK, or
    // SCP_E_MISSING when any of them was missing or refused its token.
    JResult decode(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values);

private:
    bool valid(uint32_t position) const { return position < m_count && position < SCP_LIST_MAX; }
    struct Entry {
        ScpElement* element;
        uint8_t flags;
    };
    Entry m_entries[SCP_LIST_MAX] = {};
    uint32_t m_count = 0;
};

// Information records handed to the reporters. Texts are NUL-terminated.
struct ScpParameterInfo {
    char16_t address[SCP_ALNUM_MAX + 1];
    int32_t xCount;
    int32_t yCount;
    int32_t minimum;
    int32_t maximum;
    int32_t defaultValue;
    char unit[SCP_ALNUM_MAX + 1]; // 7-bit
    int32_t type; // index in scp_parameterTypes
    int32_t uiType; // index in scp_uiTypes
    int32_t attribute; // index in scp_accessAttributes
    int32_t scaling;
    ScpParameterInfo() { clear(); }
    void clear();
};

struct ScpMeterInfo {
    char16_t address[130]; // at most 129 code units
    int32_t number;
    int32_t type; // index in scp_meterTypes
    ScpMeterInfo() { clear(); }
    void clear();
};

struct ScpSceneInfo {
    char16_t numberText[11];
    char16_t title[SCP_ALNUM_MAX + 1];
    char16_t comment[201];
    int32_t attribute; // index in scp_sceneAttributes
    ScpSceneInfo() { clear(); }
    void clear();
};

// Name tables of the enumeration words.
struct ScpNameTable {
    const char* const* names;
    int32_t count;
};
extern const ScpNameTable scp_meterTypes; // level hold gr vu
extern const ScpNameTable scp_parameterTypes; // integer freq binary
extern const ScpNameTable scp_uiTypes; // any fader latchsw unlatchsw list knob
extern const ScpNameTable scp_accessAttributes; // rw r w
extern const ScpNameTable scp_sceneAttributes; // empty user preinst reserve

// Exact comparison; SCP_E_FAIL and index 0 when the name is absent or null.
JResult scp_nameToIndex(const ScpNameTable& table, const char* name, int32_t* index);
// "?" for an index outside the table.
const char* scp_indexToName(const ScpNameTable& table, int32_t index);

} // namespace SCP
