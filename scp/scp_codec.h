// SCP wire format: the byte feed that turns received UTF-8 into code points,
// the RAW and JSON line decoders, the readers of a decoded line and the
// encoders of request and notification lines.
//
// RAW lines are blank-separated tokens ended by LF, CR or NUL; a token in
// double quotes may hold blanks and the escapes \\ \/ \" \b \f \n \r \t.
// JSON lines are one object; only members of the outermost object are kept.
#pragma once

#include "scp/scp_element.h"
#include "scp/scp_strtable.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace SCP {

// Table sizes of the decoders. A full meter line (the reply word, command,
// address, type and 150 items) must fit in one line's values.
constexpr uint32_t SCP_TABLE_ENTRIES = 160;
constexpr size_t SCP_VALUE_MAX = 128;
constexpr size_t SCP_JSON_KEY_MAX = 20;

// Decoder kinds.
constexpr int SCP_DECODER_RAW = 0;
constexpr int SCP_DECODER_JSON = 1;

// Reply words and line classes.
constexpr int SCP_REPLY_NONE = 0;
constexpr int SCP_REPLY_OK = 1;
constexpr int SCP_REPLY_OKM = 2;
constexpr int SCP_REPLY_ERROR = 3;
constexpr int SCP_REPLY_NOTIFY = 4;
constexpr uint8_t SCP_CLASS_REPLY = 0x20;
constexpr uint8_t SCP_CLASS_NOTIFICATION = 0x40;

// Common part of the line decoders: the token, the pending bytes of a UTF-8
// sequence split across reads, and the keys and values of the last line.
class ScpAbstractDecoder {
public:
    virtual ~ScpAbstractDecoder() = default;
    ScpAbstractDecoder(const ScpAbstractDecoder&) = delete;
    ScpAbstractDecoder& operator=(const ScpAbstractDecoder&) = delete;

    // Starts clean: state, token, pending bytes, keys and values.
    virtual JResult resetAll();
    // Ends the line being built; keys and values stay.
    virtual JResult resetLine() = 0;
    // Consumes one code point: SCP_OK, SCP_LINE_COMPLETE, or SCP_E_SYNTAX
    // (JSON structure; the decoder is then clean for the next line).
    virtual JResult putChar(JLIB::JUnicode ch) = 0;

    // Feeds received bytes. Returns SCP_OK when all were used without
    // completing a line; SCP_LINE_COMPLETE with *consumed = the bytes up to
    // and including the line end (keys() and values() hold the line until
    // the next character is fed, which starts the next line with empty
    // tables; feed the rest from data + *consumed);
    // SCP_FEED_STOPPED when the data ends inside a UTF-8 sequence (the
    // sequence is held and completed by the next feed, *consumed = the bytes
    // before it); a negative code from putChar with *consumed including the
    // offending byte. Broken UTF-8 becomes U+FFFD and decoding goes on.
    JResult feed(const uint8_t* data, size_t length, size_t* consumed) { return feedBytes(data, length, consumed); }

    const ScpUnicodeStringTable& keys() const { return m_keys; }
    const ScpUnicodeStringTable& values() const { return m_values; }
    int state() const { return m_state; }
    const ScpText& token() const { return m_token; }

protected:
    ScpAbstractDecoder()
        : m_token(SCP_TOKEN_MAX)
    {
    }
    // Adds a character to the token; past SCP_TOKEN_MAX it is dropped.
    void appendToken(uint32_t code)
    {
        if (m_token.length() < m_token.maxLength())
            m_token.pushBack(JLIB::JUnicode(code));
    }
    // Appends a run of 7-bit bytes (readable: the bytes that may be read
    // from run on) while the token has room; the rest of the run is dropped,
    // as single characters would be.
    void appendRun(const uint8_t* run, size_t n, size_t readable) { m_token.appendAscii(run, n, readable); }
    // Replacement of a backslash escape; 0 when the character has none.
    static uint32_t escapeOf(uint32_t code);
    // feed() of the concrete decoder, which runs feedWith() over its own
    // putChar so that the per-character step is not a virtual call.
    virtual JResult feedBytes(const uint8_t* data, size_t length, size_t* consumed) = 0;
    template <class Decoder> JResult feedWith(Decoder& self, const uint8_t* data, size_t length, size_t* consumed);
    // putChar, after clearing the tables of a line already handed out.
    template <class Decoder> JResult deliver(Decoder& self, uint32_t code);

    ScpText m_token;
    uint8_t m_pending[SCP_UTF8_MAX] = {};
    size_t m_pendingCount = 0;
    ScpUnicodeStringTable m_keys;
    ScpUnicodeStringTable m_values;
    int m_state = 0; // 0 plain, 1 inside quotes, 2 after a backslash in quotes
    bool m_lineDone = false;
};

// Blank-separated tokens; values only (its keys table has no storage).
class ScpDecoderRAW : public ScpAbstractDecoder {
public:
    ScpDecoderRAW();
    JResult resetAll() override;
    JResult resetLine() override;
    JResult putChar(JLIB::JUnicode ch) override;

protected:
    JResult feedBytes(const uint8_t* data, size_t length, size_t* consumed) override;

private:
    friend class ScpAbstractDecoder;
    JResult step(uint32_t c);
    // The bytes from data on that step would only append to the token or,
    // outside quotes, commit it at a blank, taken as whole runs; the count
    // consumed (0: the first byte needs step).
    size_t plainRun(const uint8_t* data, size_t length);
    size_t plainTokens(const uint8_t* data, size_t length);

    // The token is built in the values table's next free entry, whose
    // maximum length cuts it; only when the table is full does it go to
    // m_token, whose push then reports the overflow.
    ScpText& building()
    {
        if (!m_current)
            m_current = m_values.openEntry();
        return m_current ? *m_current : m_token;
    }
    void append(uint32_t code) { building().append(JLIB::JUnicode(code)); }
    // Appends a run of 7-bit bytes (readable: the bytes that may be read
    // from run on).
    void appendRun(const uint8_t* run, size_t n, size_t readable) { building().appendAscii(run, n, readable); }
    void commitToken()
    {
        if (m_current) {
            if (m_current->length() > 0) {
                m_values.commitEntry();
                m_current = nullptr;
            }
        } else if (m_token.length() > 0) {
            m_values.push(m_token); // the table is full: reported as overflow
            m_token.clear();
        }
    }
    void dropToken();

    ScpText* m_current = nullptr;
};

// One JSON object per line; members of the outermost object only.
class ScpDecoderJSON : public ScpAbstractDecoder {
public:
    ScpDecoderJSON();
    JResult resetAll() override;
    JResult resetLine() override;
    JResult putChar(JLIB::JUnicode ch) override;
    int objectDepth() const { return m_objectDepth; }
    int arrayDepth() const { return m_arrayDepth; }

protected:
    JResult feedBytes(const uint8_t* data, size_t length, size_t* consumed) override;

private:
    friend class ScpAbstractDecoder;
    JResult step(uint32_t c);
    size_t plainRun(const uint8_t* data, size_t length);
    void pushMember(ScpUnicodeStringTable& table);
    int m_objectDepth = -1;
    int m_arrayDepth = -1;
};

// Readers of a decoded line.
// The value of key (found by name when the keys table has storage and holds
// it), else the value at defaultIndex; null when there is none.
const ScpText* scp_valueByKey(
    const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values, const char* key, uint32_t defaultIndex);
// "result" (default index 0), case ignored: OK 1, OKm 2, ERROR 3, NOTIFY 4, else 0.
int scp_replyWord(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values);
// SCP_CLASS_REPLY for OK, OKm and ERROR, SCP_CLASS_NOTIFICATION for NOTIFY, else 0.
uint8_t scp_lineClass(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values);
// "command" (default index 1).
const ScpText* scp_commandWord(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values);

// Encoders into the output ring; the ring holds exactly the line afterwards.
// A request writes the entries flagged SCP_FLAG_RAW_REQUEST (RAW) or
// SCP_FLAG_JSON_REQUEST (JSON); a notification those flagged
// SCP_FLAG_NOTIFICATION; JSON writes them as the members of one object,
// {"result":"","command":"get",...}. SCP_E_MISSING (ring untouched) when a written entry
// of a request (SCP_FLAG_RAW_REQUEST) or notification has no value;
// SCP_E_ENCODE when the line does not fit or an element cannot be written.
JResult scp_encodeRequest(const ScpElementList& list, bool json, bool utf8, ScpRing& ring);
JResult scp_encodeNotification(const ScpElementList& list, bool json, bool utf8, ScpRing& ring);
// The keep-alive line: a single LF.
JResult scp_encodeKeepAlive(ScpRing& ring);

} // namespace SCP
