#include "scp/scp_notification.h"
#include "scp/scp_session.h"

namespace SCP {

ScpClientNotification::ScpClientNotification(const char* word)
    : m_word(word)
    , m_command("command", word)
{
    m_list.push(&m_command, SCP_FLAG_NOTIFICATION);
}

void ScpClientNotification::add(ScpElement& element)
{
    m_list.push(&element, SCP_FLAG_NOTIFICATION);
}

JResult ScpClientNotification::encode(bool json, bool utf8, ScpRing& ring) const
{
    return scp_encodeNotification(m_list, json, utf8, ring);
}

ScpClientNotificationMTRSTART::ScpClientNotificationMTRSTART()
    : ScpClientNotification("mtrstart")
    , address("address")
    , interval("interval")
{
    add(address);
    add(interval);
}

JResult ScpClientNotificationMTRSTART::set(const ScpText& meterAddress, int32_t ms)
{
    if (meterAddress.length() > address.maxLength())
        return SCP_E_ARG;
    address.set(meterAddress);
    return interval.set(ms);
}

ScpClientNotificationMTRSTOP::ScpClientNotificationMTRSTOP()
    : ScpClientNotification("mtrstop")
    , address("address")
{
    add(address);
}

JResult ScpClientNotificationMTRSTOP::set(const ScpText& meterAddress)
{
    if (meterAddress.length() > address.maxLength())
        return SCP_E_ARG;
    return address.set(meterAddress);
}

ScpClientNotificationSET::ScpClientNotificationSET()
    : ScpClientNotification("set")
    , address("address")
    , x("x")
    , y("y")
    , param("param")
{
    add(address);
    add(x);
    add(y);
    add(param);
}

JResult ScpClientNotificationSET::fill(ScpParameter& parameter, int32_t index, int32_t cx, int32_t cy)
{
    ScpText name(SCP_ALNUM_MAX);
    JResult r = parameter.nameOf(name, index);
    if (r < 0)
        return r;
    JLIB::JVariant value;
    r = parameter.readValue(value, index, cx, cy);
    if (r < 0)
        return r;
    address.set(name);
    x.set(cx);
    y.set(cy);
    param.set(value);
    return SCP_OK;
}

ScpClientNotificationSETN::ScpClientNotificationSETN()
    : ScpClientNotification("setn")
    , address("address")
    , x("x")
    , y("y")
    , nparam("nparam")
{
    add(address);
    add(x);
    add(y);
    add(nparam);
}

JResult ScpClientNotificationSETN::fill(
    ScpParameter& parameter, const ScpSessionData& session, int32_t index, int32_t cx, int32_t cy)
{
    ScpText name(SCP_ALNUM_MAX);
    JResult r = parameter.nameOf(name, index);
    if (r < 0)
        return r;
    int32_t value = 0;
    r = parameter.readNormalized(value, session.resolution(), index, cx, cy);
    if (r < 0)
        return r;
    address.set(name);
    x.set(cx);
    y.set(cy);
    nparam.set(value);
    return SCP_OK;
}

ScpClientNotificationSSRECALL::ScpClientNotificationSSRECALL()
    : ScpClientNotification("ssrecall")
    , index("index")
{
    add(index);
}

JResult ScpClientNotificationSSRECALL::set(int32_t scene)
{
    return index.set(scene);
}

} // namespace SCP
