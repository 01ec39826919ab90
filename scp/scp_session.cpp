#include "scp/scp_session.h"

#include "pbd/jlib/jlib_heap.h"

#include <new>

namespace SCP {

namespace {

constexpr const char* kDecoderTag = "ScpSessionData::m_pDecoder";

template <class T> ScpAbstractDecoder* newDecoder()
{
    void* block = jlib_heapAlloc(0, kDecoderTag, sizeof(T));
    return block ? new (block) T() : nullptr;
}

} // namespace

void ScpDecoderDeleter::operator()(ScpAbstractDecoder* decoder) const
{
    if (!decoder)
        return;
    decoder->~ScpAbstractDecoder();
    jlib_heapFree(decoder);
}

// ---- ScpTimer ----

JResult ScpTimer::clear()
{
    return oswrap_clearTimer(&m_timer) < 0 ? SCP_E_FAIL : SCP_OK;
}

JResult ScpTimer::start(uint32_t ms)
{
    return oswrap_startTimer(&m_timer, ms) < 0 ? SCP_E_FAIL : SCP_OK;
}

bool ScpTimer::isStarted() const
{
    return oswrap_isTimerStarted(&m_timer) == OSWRAP_OK;
}

bool ScpTimer::hasExpired()
{
    return oswrap_checkTimer(&m_timer) == OSWRAP_TIMER_REACHED;
}

// ---- ScpSessionData ----

JResult ScpSessionData::init(uint32_t meterCapacity)
{
    if (m_decoder || m_meters.allocate(meterCapacity) < 0)
        return SCP_E_FAIL;
    return reset();
}

JResult ScpSessionData::makeDecoder(int kind)
{
    m_decoder.reset();
    m_decoder.reset(kind == SCP_DECODER_RAW ? newDecoder<ScpDecoderRAW>() : newDecoder<ScpDecoderJSON>());
    m_decoderKind = kind;
    return m_decoder ? SCP_OK : SCP_E_FAIL;
}

JResult ScpSessionData::reset()
{
    m_active = 0;
    JResult result = SCP_OK;
    if (m_decoderKind != SCP_DECODER_RAW || !m_decoder)
        result = makeDecoder(SCP_DECODER_RAW);
    else
        m_decoder->resetAll(); // a new connection never sees the old one's half line
    m_encoding = SCP_ENCODING_ASCII;
    m_valueType = SCP_VALUETYPE_RAW;
    m_resolution = SCP_RESOLUTION_DEFAULT;
    m_keepAlive = 0;
    m_keepAliveTimer.clear();
    return result;
}

JResult ScpSessionData::activate()
{
    if (!m_decoder)
        return SCP_E_FAIL;
    m_active = 1;
    return SCP_OK;
}

JResult ScpSessionData::setDecoder(int kind)
{
    if (kind == m_decoderKind && m_decoder)
        return SCP_OK;
    return makeDecoder(kind == SCP_DECODER_RAW ? SCP_DECODER_RAW : SCP_DECODER_JSON);
}

JResult ScpSessionData::setEncoding(int encoding)
{
    if (encoding != SCP_ENCODING_ASCII && encoding != SCP_ENCODING_UTF8)
        return SCP_E_ARG;
    m_encoding = encoding;
    return SCP_OK;
}

JResult ScpSessionData::setValueType(int valueType)
{
    if (valueType != SCP_VALUETYPE_RAW && valueType != SCP_VALUETYPE_NORMALIZED)
        return SCP_E_ARG;
    m_valueType = valueType;
    return SCP_OK;
}

JResult ScpSessionData::setResolution(uint32_t resolution)
{
    if (resolution < SCP_RESOLUTION_MIN)
        return SCP_E_ARG;
    m_resolution = resolution;
    return SCP_OK;
}

JResult ScpSessionData::setKeepAlive(uint32_t ms)
{
    if (ms < SCP_KEEPALIVE_MIN_MS)
        return SCP_E_ARG;
    m_keepAlive = ms;
    return m_keepAliveTimer.start(ms);
}

JResult ScpSessionData::restartKeepAlive()
{
    if (m_keepAlive == 0)
        return SCP_E_FAIL;
    return m_keepAliveTimer.start(m_keepAlive);
}

bool ScpSessionData::keepAliveDue()
{
    return m_keepAlive != 0 && m_keepAliveTimer.hasExpired();
}

JResult ScpSessionData::addMeter(int32_t meterIndex, uint32_t interval)
{
    if (meterIndex < 0 || static_cast<uint32_t>(meterIndex) >= m_meters.capacity())
        return SCP_E_INDEX;
    for (ScpMeterSetting* s = m_meters.first(); s; s = m_meters.next(s)) {
        if (s->meterIndex == meterIndex) {
            s->interval = interval;
            return SCP_OK;
        }
    }
    return m_meters.insert(ScpMeterSetting{meterIndex, interval}) ? SCP_OK : SCP_E_FULL;
}

JResult ScpSessionData::removeMeter(int32_t meterIndex)
{
    if (meterIndex < 0 || static_cast<uint32_t>(meterIndex) >= m_meters.capacity())
        return SCP_E_INDEX;
    for (ScpMeterSetting* s = m_meters.first(); s; s = m_meters.next(s)) {
        if (s->meterIndex == meterIndex) {
            m_meters.remove(s);
            break;
        }
    }
    return SCP_OK;
}

} // namespace SCP
