// Session data of one SCP client: the line decoder in use, the encoding of
// outgoing lines, the value type and resolution the unit announced, the
// keep-alive interval with its countdown, and the meter subscriptions.
// Used only by the thread that steps the client; no lock.
#pragma once

#include "pbd/OSWRAP/oswrap.h"
#include "scp/scp_codec.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace SCP {

// Session defaults and bounds.
constexpr uint32_t SCP_RESOLUTION_DEFAULT = 1000;
constexpr uint32_t SCP_RESOLUTION_MIN = 100;
// Shortest keep-alive interval a unit may ask for, in ms. The protocol-mode
// handler and the session use this one bound.
constexpr uint32_t SCP_KEEPALIVE_MIN_MS = 1000;

constexpr int SCP_DECODER_NONE = 2; // before the first reset
constexpr int SCP_ENCODING_ASCII = 0;
constexpr int SCP_ENCODING_UTF8 = 1;
constexpr int SCP_VALUETYPE_RAW = 0;
constexpr int SCP_VALUETYPE_NORMALIZED = 1;

// Countdown over one OS-wrapper timer record.
class ScpTimer {
public:
    JResult clear();
    JResult start(uint32_t ms);
    bool isStarted() const;
    bool hasExpired();

private:
    OswrapTimer m_timer;
};

struct ScpMeterSetting {
    int32_t meterIndex = -1; // -1: free slot
    uint32_t interval = 0; // ms
};

// Fixed-capacity list with a free-slot chain, walked in insertion order.
template <class T> class ScpList {
public:
    // SCP_E_FAIL when already sized or capacity is 0.
    JResult allocate(uint32_t capacity)
    {
        if (!m_objects.empty() || capacity == 0)
            return SCP_E_FAIL;
        m_objects.assign(capacity, T());
        m_next.assign(capacity, kEnd);
        m_used.assign(capacity, 0);
        m_freeHead = 0;
        for (uint32_t i = 0; i + 1 < capacity; ++i)
            m_next[i] = i + 1;
        m_head = m_tail = kEnd;
        return SCP_OK;
    }
    uint32_t capacity() const { return static_cast<uint32_t>(m_objects.size()); }
    uint32_t count() const { return m_count; }

    // Takes a free slot, stores value and appends it to the walk; null when
    // no slot is free.
    T* insert(const T& value)
    {
        if (m_freeHead == kEnd)
            return nullptr;
        const uint32_t slot = m_freeHead;
        m_freeHead = m_next[slot];
        m_objects[slot] = value;
        m_used[slot] = 1;
        m_next[slot] = kEnd;
        if (m_tail == kEnd)
            m_head = slot;
        else
            m_next[m_tail] = slot;
        m_tail = slot;
        ++m_count;
        return &m_objects[slot];
    }
    // Unlinks the object (which must come from insert) and frees its slot.
    void remove(T* object)
    {
        const uint32_t slot = static_cast<uint32_t>(object - m_objects.data());
        uint32_t prev = kEnd;
        for (uint32_t at = m_head; at != kEnd; prev = at, at = m_next[at]) {
            if (at != slot)
                continue;
            const uint32_t next = m_next[at];
            if (prev == kEnd)
                m_head = next;
            else
                m_next[prev] = next;
            if (m_tail == at)
                m_tail = prev;
            m_objects[at] = T();
            m_used[at] = 0;
            m_next[at] = m_freeHead;
            m_freeHead = at;
            --m_count;
            return;
        }
    }
    // Walk in insertion order: first(), then next(object); null at the end.
    T* first() { return m_head == kEnd ? nullptr : &m_objects[m_head]; }
    T* next(const T* object)
    {
        const uint32_t slot = static_cast<uint32_t>(object - m_objects.data());
        const uint32_t n = m_next[slot];
        return n == kEnd ? nullptr : &m_objects[n];
    }

private:
    static constexpr uint32_t kEnd = 0xFFFFFFFFu;
    std::vector<T> m_objects;
    std::vector<uint32_t> m_next;
    std::vector<uint8_t> m_used;
    uint32_t m_freeHead = kEnd;
    uint32_t m_head = kEnd;
    uint32_t m_tail = kEnd;
    uint32_t m_count = 0;
};

// Frees a decoder made on the tracked heap.
struct ScpDecoderDeleter {
    void operator()(ScpAbstractDecoder* decoder) const;
};

class ScpSessionData {
public:
    ScpSessionData() = default;
    ScpSessionData(const ScpSessionData&) = delete;
    ScpSessionData& operator=(const ScpSessionData&) = delete;

    // Sizes the meter list and resets; SCP_E_FAIL when a decoder already
    // exists or the list cannot be sized.
    JResult init(uint32_t meterCapacity);
    // Back to a new connection's state: not active, a clean RAW decoder,
    // ascii, raw values, resolution 1000, keep-alive off. SCP_E_FAIL when
    // no decoder could be made.
    JResult reset();
    // SCP_E_FAIL without a decoder.
    JResult activate();
    bool isActive() const { return m_active != 0; }

    // SCP_DECODER_RAW or SCP_DECODER_JSON (any nonzero kind); a new kind
    // replaces the decoder, the same kind keeps it. SCP_E_FAIL when the new
    // decoder cannot be made (there is then none).
    JResult setDecoder(int kind);
    ScpAbstractDecoder* decoder() const { return m_decoder.get(); }
    int decoderKind() const { return m_decoderKind; }

    // SCP_E_ARG for values outside their range; the stored value stays.
    JResult setEncoding(int encoding);
    int encoding() const { return m_encoding; }
    JResult setValueType(int valueType);
    int valueType() const { return m_valueType; }
    JResult setResolution(uint32_t resolution);
    uint32_t resolution() const { return m_resolution; }

    // Stores the interval and starts the countdown; SCP_E_ARG below
    // SCP_KEEPALIVE_MIN_MS.
    JResult setKeepAlive(uint32_t ms);
    uint32_t keepAlive() const { return m_keepAlive; }
    // SCP_E_FAIL when keep-alive is off.
    JResult restartKeepAlive();
    // Keep-alive is on and its countdown has run out.
    bool keepAliveDue();

    // SCP_E_INDEX when meterIndex is negative or not below the capacity;
    // an existing subscription gets the new interval; SCP_E_FULL when no
    // slot is free.
    JResult addMeter(int32_t meterIndex, uint32_t interval);
    // SCP_E_INDEX as above; removing an absent subscription succeeds.
    JResult removeMeter(int32_t meterIndex);
    ScpList<ScpMeterSetting>& meters() { return m_meters; }

private:
    JResult makeDecoder(int kind);

    uint8_t m_active = 0;
    ScpList<ScpMeterSetting> m_meters;
    int m_decoderKind = SCP_DECODER_NONE;
    std::unique_ptr<ScpAbstractDecoder, ScpDecoderDeleter> m_decoder;
    int m_encoding = SCP_ENCODING_ASCII;
    int m_valueType = SCP_VALUETYPE_RAW;
    uint32_t m_resolution = SCP_RESOLUTION_DEFAULT;
    uint32_t m_keepAlive = 0;
    ScpTimer m_keepAliveTimer;
};

} // namespace SCP
