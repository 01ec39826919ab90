#include "scp/scp_codec.h"

#include "scp/scp_chars.h"

#include <algorithm>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace SCP {

namespace {

bool isContinuation(uint8_t b)
{
    return (b & 0xC0u) == 0x80u;
}

// Sequence length announced by a lead byte; 0 for a byte that cannot lead.
size_t sequenceLength(uint8_t lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF7)
        return 4;
    if (lead >= 0xF8 && lead <= 0xFB)
        return 5;
    if (lead == 0xFC || lead == 0xFD)
        return 6;
    return 0;
}

// Byte classes for the run scanners: each class names the bytes that end a
// run (Stop::byte), and the same test on 16 bytes at once (Stop::block, one
// mask byte per input byte). Bytes 0x80 and above always end a run: they
// start UTF-8 sequences, decoded one at a time.
struct PlainStop { // a RAW token outside quotes
    static bool byte(uint8_t b) { return b <= ' ' || b >= 0x80 || b == kQuote; }
#ifdef __SSE2__
    static __m128i block(__m128i v)
    {
        // Signed compare: bytes 0x80 and above are negative, so below 0x21.
        return _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x21)), _mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
    }
#endif
};

struct QuotedStop { // inside a quoted text
    static bool byte(uint8_t b) { return b < ' ' || b >= 0x80 || b == kQuote || b == kBackslash; }
#ifdef __SSE2__
    static __m128i block(__m128i v)
    {
        const __m128i low = _mm_cmplt_epi8(v, _mm_set1_epi8(0x20));
        const __m128i marks
            = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
        return _mm_or_si128(low, marks);
    }
#endif
};

struct JsonPlainStop { // a JSON number or word outside quotes
    static bool byte(uint8_t b)
    {
        return b <= ' ' || b >= 0x80 || b == kQuote || b == '{' || b == '}' || b == '[' || b == ']' || b == ':'
            || b == ',';
    }
#ifdef __SSE2__
    static __m128i block(__m128i v)
    {
        __m128i m = _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x21)), _mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
        for (const char c : {'{', '}', '[', ']', ':', ','})
            m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8(c)));
        return m;
    }
#endif
};

// Length of the leading run of data without a Stop byte, 16 bytes at a time.
template <class Stop> size_t runLength(const uint8_t* data, size_t length)
{
    size_t i = 0;
#ifdef __SSE2__
    for (; i + 16 <= length; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(Stop::block(v)));
        if (mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(mask));
    }
#endif
    while (i < length && !Stop::byte(data[i]))
        ++i;
    return i;
}

#ifdef __SSE2__
constexpr size_t kChunk = 64;

// One bit per byte of data[0..64): set for the Stop bytes.
template <class Stop> uint64_t stopMask(const uint8_t* data)
{
    uint64_t mask = 0;
    for (size_t i = 0; i < kChunk; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        mask |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(Stop::block(v)))) << i;
    }
    return mask;
}
#endif

} // namespace

// ---- ScpAbstractDecoder ----

JResult ScpAbstractDecoder::resetAll()
{
    m_state = 0;
    m_token.clear();
    m_pendingCount = 0;
    m_lineDone = false;
    m_keys.clear();
    m_values.clear();
    return SCP_OK;
}

uint32_t ScpAbstractDecoder::escapeOf(uint32_t code)
{
    switch (code) {
    case kBackslash:
        return kBackslash;
    case '/':
        return '/';
    case kQuote:
        return kQuote;
    case 'b':
        return 0x08;
    case 'f':
        return 0x0C;
    case 'n':
        return 0x0A;
    case 'r':
        return 0x0D;
    case 't':
        return 0x09;
    default:
        return 0;
    }
}

template <class Decoder> inline JResult ScpAbstractDecoder::deliver(Decoder& self, uint32_t code)
{
    if (m_lineDone) {
        // The previous line's tables are only valid until the next character.
        m_lineDone = false;
        m_keys.clear();
        m_values.clear();
    }
    const JResult r = self.step(code);
    if (r == SCP_LINE_COMPLETE)
        m_lineDone = true;
    return r;
}

template <class Decoder>
JResult ScpAbstractDecoder::feedWith(Decoder& self, const uint8_t* data, size_t length, size_t* consumedOut)
{
    size_t consumed = 0;
    if (!data)
        length = 0;
    auto finish = [&](JResult r) {
        if (consumedOut)
            *consumedOut = consumed;
        return r;
    };

    if (m_pendingCount > 0) {
        // Complete a sequence that the previous read cut; a byte that is not
        // a continuation byte breaks it and is decoded on its own.
        const size_t need = sequenceLength(m_pending[0]);
        while (m_pendingCount < need && consumed < length && isContinuation(data[consumed]))
            m_pending[m_pendingCount++] = data[consumed++];
        if (m_pendingCount < need && consumed == length)
            return finish(SCP_FEED_STOPPED);
        uint32_t code = JLIB::JUnicode::kReplacement;
        if (m_pendingCount == need) {
            JLIB::JUnicode ch;
            size_t used = 0;
            ch.fromUtf8(m_pending, m_pendingCount, &used);
            code = ch.code();
        }
        m_pendingCount = 0;
        const JResult r = deliver(self, code);
        if (r != SCP_OK)
            return finish(r);
    }

    while (consumed < length) {
        // Runs of bytes that only extend the token go in whole; a line that
        // just ended still has to clear its tables first (deliver).
        if (!m_lineDone) {
            consumed += self.plainRun(data + consumed, length - consumed);
            if (consumed == length)
                break;
        }
        const uint8_t lead = data[consumed];
        uint32_t code;
        if (lead < 0x80) {
            code = lead;
            ++consumed;
        } else {
            JLIB::JUnicode ch;
            size_t used = 0;
            const JResult u = ch.fromUtf8(data + consumed, length - consumed, &used);
            if (u == JLIB_UNICODE_E_SHORT) {
                // Held until the next read brings the rest (fewer than 6 bytes).
                const size_t held = length - consumed;
                m_pendingCount = held < SCP_UTF8_MAX ? held : SCP_UTF8_MAX;
                for (size_t i = 0; i < m_pendingCount; ++i)
                    m_pending[i] = data[consumed + i];
                return finish(SCP_FEED_STOPPED);
            }
            code = ch.code(); // U+FFFD for a broken sequence
            consumed += used ? used : 1;
        }
        const JResult r = deliver(self, code);
        if (r != SCP_OK)
            return finish(r);
    }
    return finish(SCP_OK);
}

// ---- RAW ----

ScpDecoderRAW::ScpDecoderRAW()
{
    m_values.allocate(SCP_TABLE_ENTRIES, SCP_VALUE_MAX);
}

JResult ScpDecoderRAW::feedBytes(const uint8_t* data, size_t length, size_t* consumed)
{
    return feedWith(*this, data, length, consumed);
}

JResult ScpDecoderRAW::resetLine()
{
    m_state = 0;
    dropToken();
    return SCP_OK;
}

JResult ScpDecoderRAW::resetAll()
{
    dropToken();
    return ScpAbstractDecoder::resetAll();
}

void ScpDecoderRAW::dropToken()
{
    // The open entry is emptied again when it is next opened.
    m_current = nullptr;
    m_token.clear();
}

JResult ScpDecoderRAW::putChar(JLIB::JUnicode ch)
{
    if (m_lineDone) {
        m_lineDone = false;
        m_values.clear();
    }
    const JResult r = step(ch.code());
    m_lineDone = r == SCP_LINE_COMPLETE;
    return r;
}

size_t ScpDecoderRAW::plainTokens(const uint8_t* data, size_t length)
{
    size_t start = 0; // the first byte not yet appended
#ifdef __SSE2__
    // The stops of 64 bytes are found at once; between them each token is
    // appended whole to its entry and a single blank commits it. Anything
    // else that ends a token is left to step, and so is a full table.
    if (!m_current)
        m_current = m_values.openEntry();
    for (size_t chunk = 0; m_current && chunk + kChunk <= length; chunk += kChunk) {
        ScpText* entry = m_current;
        for (uint64_t stops = stopMask<PlainStop>(data + chunk); stops != 0; stops &= stops - 1) {
            const size_t at = chunk + static_cast<size_t>(__builtin_ctzll(stops));
            if (at > start)
                entry->appendAscii(data + start, at - start, length - start);
            if (data[at] != ' ') {
                m_current = entry;
                return at;
            }
            start = at + 1;
            if (entry->length() > 0) {
                m_values.commitEntry();
                entry = m_values.openEntry();
                if (!entry) {
                    m_current = nullptr;
                    return start;
                }
            }
        }
        m_current = entry;
    }
#endif
    const size_t n = runLength<PlainStop>(data + start, length - start);
    if (n > 0)
        appendRun(data + start, n, length - start);
    return start + n;
}

size_t ScpDecoderRAW::plainRun(const uint8_t* data, size_t length)
{
    if (m_state == 0)
        return plainTokens(data, length);
    if (m_state != 1)
        return 0;
    const size_t n = runLength<QuotedStop>(data, length);
    if (n > 0)
        appendRun(data, n, length);
    return n;
}

inline JResult ScpDecoderRAW::step(uint32_t c)
{
    if (m_state == 0 && c > ' ' && c != kQuote) {
        append(c); // the common case: a character of a plain token
        return SCP_OK;
    }
    if (c == 0 || c == '\n' || c == '\r') {
        // A line end inside quotes drops the unfinished token.
        if (m_state == 0)
            commitToken();
        resetLine();
        return SCP_LINE_COMPLETE;
    }
    switch (m_state) {
    case 0:
        if (isWhite(c)) {
            commitToken();
        } else if (c == kQuote) {
            building().clear();
            append(c);
            m_state = 1;
        } else {
            append(c);
        }
        break;
    case 1:
        if (c == kBackslash) {
            m_state = 2;
        } else {
            append(c);
            if (c == kQuote)
                m_state = 0;
        }
        break;
    default: {
        const uint32_t replacement = escapeOf(c);
        if (replacement)
            append(replacement);
        m_state = 1;
        break;
    }
    }
    return SCP_OK;
}

// ---- JSON ----

ScpDecoderJSON::ScpDecoderJSON()
{
    m_keys.allocate(SCP_TABLE_ENTRIES, SCP_JSON_KEY_MAX);
    m_values.allocate(SCP_TABLE_ENTRIES, SCP_VALUE_MAX);
}

JResult ScpDecoderJSON::feedBytes(const uint8_t* data, size_t length, size_t* consumed)
{
    return feedWith(*this, data, length, consumed);
}

JResult ScpDecoderJSON::resetAll()
{
    m_objectDepth = -1;
    m_arrayDepth = -1;
    return ScpAbstractDecoder::resetAll();
}

JResult ScpDecoderJSON::resetLine()
{
    m_state = 0;
    m_token.clear();
    m_objectDepth = -1;
    m_arrayDepth = -1;
    return SCP_OK;
}

void ScpDecoderJSON::pushMember(ScpUnicodeStringTable& table)
{
    if (m_objectDepth == 0 && m_arrayDepth < 0 && m_token.length() > 0)
        table.push(m_token);
}

JResult ScpDecoderJSON::putChar(JLIB::JUnicode ch)
{
    if (m_lineDone) {
        m_lineDone = false;
        m_keys.clear();
        m_values.clear();
    }
    const JResult r = step(ch.code());
    m_lineDone = r == SCP_LINE_COMPLETE;
    return r;
}

size_t ScpDecoderJSON::plainRun(const uint8_t* data, size_t length)
{
    // Quoted texts (names, addresses, values) are the long runs, taken
    // whole; the quotes, colons and commas between them are stepped here
    // without the round through feed, as they never end a line. Numbers
    // and words outside quotes are a few bytes long: step takes them.
    size_t i = 0;
    while (i < length) {
        if (m_state == 1) {
            const size_t n = runLength<QuotedStop>(data + i, length - i);
            appendRun(data + i, n, length - i);
            i += n;
            if (i == length)
                break;
        }
        const uint8_t b = data[i];
        if (b != kQuote && b != ':' && b != ',')
            break;
        step(b);
        ++i;
    }
    return i;
}

inline JResult ScpDecoderJSON::step(uint32_t c)
{
    if (m_state == 1) {
        if (c == kBackslash) {
            m_state = 2;
        } else {
            appendToken(c);
            if (c == kQuote)
                m_state = 0;
        }
        return SCP_OK;
    }
    if (m_state == 2) {
        const uint32_t replacement = escapeOf(c);
        if (replacement)
            appendToken(replacement);
        m_state = 1;
        return SCP_OK;
    }
    switch (c) {
    case kQuote:
        m_token.clear();
        appendToken(c);
        m_state = 1;
        break;
    case '{':
        ++m_objectDepth;
        m_token.clear();
        break;
    case '[':
        ++m_arrayDepth;
        m_token.clear();
        break;
    case ':':
        pushMember(m_keys);
        m_token.clear();
        break;
    case ',':
        pushMember(m_values);
        m_token.clear();
        break;
    case ']':
        if (m_arrayDepth < 0) {
            // Nothing of a malformed line may leak into the next one.
            resetAll();
            return SCP_E_SYNTAX;
        }
        pushMember(m_values);
        m_token.clear();
        --m_arrayDepth;
        break;
    case '}':
        if (m_objectDepth < 0) {
            resetAll();
            return SCP_E_SYNTAX;
        }
        pushMember(m_values);
        if (m_objectDepth == 0) {
            resetLine();
            return SCP_LINE_COMPLETE;
        }
        m_token.clear();
        --m_objectDepth;
        break;
    default:
        if (!isWhite(c))
            appendToken(c);
        break;
    }
    return SCP_OK;
}

// ---- readers ----

const ScpText* scp_valueByKey(
    const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values, const char* key, uint32_t defaultIndex)
{
    int32_t index = -1;
    if (keys.hasStorage())
        index = keys.find(key);
    return values.item(index >= 0 ? static_cast<uint32_t>(index) : defaultIndex);
}

int scp_replyWord(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values)
{
    const ScpText* word = scp_valueByKey(keys, values, "result", 0);
    if (!word)
        return SCP_REPLY_NONE;
    if (scp_wordEquals(*word, "OK", true))
        return SCP_REPLY_OK;
    if (scp_wordEquals(*word, "OKm", true))
        return SCP_REPLY_OKM;
    if (scp_wordEquals(*word, "ERROR", true))
        return SCP_REPLY_ERROR;
    if (scp_wordEquals(*word, "NOTIFY", true))
        return SCP_REPLY_NOTIFY;
    return SCP_REPLY_NONE;
}

uint8_t scp_lineClass(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values)
{
    const int word = scp_replyWord(keys, values);
    if (word >= SCP_REPLY_OK && word <= SCP_REPLY_ERROR)
        return SCP_CLASS_REPLY;
    return word == SCP_REPLY_NOTIFY ? SCP_CLASS_NOTIFICATION : 0;
}

const ScpText* scp_commandWord(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values)
{
    return scp_valueByKey(keys, values, "command", 1);
}

// ---- encoders ----

namespace {

// A JSON line is one object holding exactly the listed members, in list
// order; a request's empty "result" leads, as units list it.
JResult encodeLine(const ScpElementList& list, bool json, bool utf8, uint8_t required, uint8_t written, ScpRing& ring)
{
    if (!list.allPresent(required))
        return SCP_E_MISSING;
    scp_ringReset(ring);
    bool ok = !json || scp_ringPut(ring, '{') >= 0;
    bool first = true;
    for (uint32_t i = 0; ok && i < list.count(); ++i) {
        if (!list.hasFlag(i, written))
            continue;
        const ScpElement* element = list.item(i);
        if (!element) {
            ok = false;
            break;
        }
        if (!first)
            ok = scp_ringPut(ring, json ? ',' : ' ') >= 0;
        if (json) {
            ok = ok && scp_ringPut(ring, '"') >= 0 && scp_ringWriteText(ring, element->name()) >= 0
                && scp_ringWriteText(ring, "\":") >= 0;
        }
        ok = ok && element->encode(json, utf8, ring) >= 0;
        first = false;
    }
    if (ok && json)
        ok = scp_ringPut(ring, '}') >= 0;
    ok = ok && scp_ringPut(ring, '\n') >= 0;
    if (!ok) {
        // A partial line must never be sent.
        scp_ringReset(ring);
        return SCP_E_ENCODE;
    }
    return SCP_OK;
}

} // namespace

JResult scp_encodeRequest(const ScpElementList& list, bool json, bool utf8, ScpRing& ring)
{
    return encodeLine(
        list, json, utf8, SCP_FLAG_RAW_REQUEST, json ? SCP_FLAG_JSON_REQUEST : SCP_FLAG_RAW_REQUEST, ring);
}

JResult scp_encodeNotification(const ScpElementList& list, bool json, bool utf8, ScpRing& ring)
{
    return encodeLine(list, json, utf8, SCP_FLAG_NOTIFICATION, SCP_FLAG_NOTIFICATION, ring);
}

JResult scp_encodeKeepAlive(ScpRing& ring)
{
    scp_ringReset(ring);
    return scp_ringPut(ring, '\n') < 0 ? SCP_E_ENCODE : SCP_OK;
}

} // namespace SCP
