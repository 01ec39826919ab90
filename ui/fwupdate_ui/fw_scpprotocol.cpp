#include "ui/fwupdate_ui/fw_scpprotocol.h"

#include <cstring>

namespace Quil {

namespace {

struct NegoStep {
    int32_t kind;
    const char* tag;
};

constexpr NegoStep kNegoSteps[] = {
    {SCP::SCP_STEP_DEVSTATUS, "runmode"},
    {SCP::SCP_STEP_DEVSTATUS, "error"},
    {SCP::SCP_STEP_DEVINFO, "protocolver"},
    {SCP::SCP_STEP_DEVINFO, "paramsetver"},
    {SCP::SCP_STEP_DEVINFO, "version"},
    {SCP::SCP_STEP_DEVINFO, "productname"},
    {SCP::SCP_STEP_DEVINFO, "manufacturer"},
    {SCP::SCP_STEP_DEVINFO, "category"},
    {SCP::SCP_STEP_DEVINFO, "deviceid"},
    {SCP::SCP_STEP_DEVINFO, "devicename"},
    {SCP::SCP_STEP_DEVINFO, "inputport"},
    {SCP::SCP_STEP_DEVINFO, "outputport"},
    {SCP::SCP_STEP_SCPMODE, "keepalive"},
};
constexpr int32_t kNegoStepCount = static_cast<int32_t>(sizeof kNegoSteps / sizeof kNegoSteps[0]);
constexpr const char* kKeepAliveValue = "10000";

constexpr const char* kKeptTags[] = {"runmode", "error", "keepalive", "protocolver", "paramsetver", "version",
    "productname", "manufacturer", "category", "deviceid", "devicename", "inputport", "outputport"};
constexpr int kKeptTagCount = static_cast<int>(sizeof kKeptTags / sizeof kKeptTags[0]);

constexpr const char* kParameterNames[FWSCP_PARAM_COUNT] = {
    "IO:Current/Dev/QuillonFWUpdateMode",
    "IO:Current/Dev/QuillonFWUpdateProgress",
    "IO:Current/Dev/QuillonDanteUpdateProgress",
};

} // namespace

// ---------------------------------------------------------------------------

int32_t ScpNegoSeq_fwUpdate::stepCount()
{
    return kNegoStepCount;
}

JResult ScpNegoSeq_fwUpdate::step(SCP::ScpConnectStep& step, int32_t index)
{
    if (index < 0 || index >= kNegoStepCount)
        return FWSCP_E_FAIL;
    const NegoStep& s = kNegoSteps[index];
    step = SCP::ScpConnectStep{};
    step.kind = s.kind;
    step.values[0] = reinterpret_cast<intptr_t>(s.tag);
    if (std::strcmp(s.tag, "keepalive") == 0)
        step.values[1] = reinterpret_cast<intptr_t>(kKeepAliveValue);
    return 0;
}

// ---------------------------------------------------------------------------

QString ScpDeviceReporter_fwUpdate::keptText(const SCP::ScpText& data)
{
    const size_t count = std::min<size_t>(data.length(), FWSCP_VALUE_MAX);
    QByteArray bytes(static_cast<int>(count), ' ');
    for (size_t i = 0; i < count; ++i) {
        uint8_t ch = ' ';
        data[i].toLatin1(&ch, ' ');
        bytes[static_cast<int>(i)] = static_cast<char>(ch);
    }
    return QString::fromLatin1(bytes);
}

JResult ScpDeviceReporter_fwUpdate::report(const SCP::ScpText& data, const SCP::ScpText& tag)
{
    for (const char* kept : kKeptTags) {
        if (m_info && tag.equalsAscii(kept, 1))
            m_info->set(QString::fromLatin1(kept), keptText(data));
    }
    // The client takes no notice of the result.
    return FWSCP_E_FAIL;
}

JResult ScpDeviceReporter_fwUpdate::deviceInfo(int32_t, SCP::ScpText& data, const SCP::ScpText& tag)
{
    return report(data, tag);
}

JResult ScpDeviceReporter_fwUpdate::deviceStatus(int32_t, SCP::ScpText& data, const SCP::ScpText& tag)
{
    return report(data, tag);
}

JResult ScpDeviceReporter_fwUpdate::deviceMode(int32_t, const SCP::ScpText&)
{
    return FWSCP_E_FAIL;
}

JResult ScpDeviceReporter_fwUpdate::lookup(const char* tag, JLIB::JVariant& value)
{
    for (const char* kept : kKeptTags) {
        if (!tag || std::strcmp(kept, tag) != 0)
            continue;
        QString text;
        if (!m_info || m_info->get(QString::fromLatin1(kept), text) < 0)
            return FWSCP_E_FAIL;
        const QByteArray bytes = text.toLatin1();
        value.setString(bytes.constData(), static_cast<uint32_t>(bytes.size()));
        return 0;
    }
    return FWSCP_E_FAIL;
}

bool ScpDeviceReporter_fwUpdate::negotiationAccepted()
{
    JLIB::JVariant value;
    if (lookup("error", value) < 0)
        return false;
    const char* text = value.getString();
    return text && qstricmp(text, "nothing") == 0;
}

const char* ScpDeviceReporter_fwUpdate::tag(int i)
{
    return i >= 0 && i < kKeptTagCount ? kKeptTags[i] : nullptr;
}

int ScpDeviceReporter_fwUpdate::tagCount()
{
    return kKeptTagCount;
}

// ---------------------------------------------------------------------------

const char* ScpParameter_fwUpdate::name(int32_t index)
{
    return index >= 0 && index < FWSCP_PARAM_COUNT ? kParameterNames[index] : nullptr;
}

JResult ScpParameter_fwUpdate::indexOf(int32_t& index, const SCP::ScpText& address)
{
    for (int32_t i = 0; i < FWSCP_PARAM_COUNT; ++i) {
        const char* name = kParameterNames[i];
        const size_t length = std::strlen(name);
        if (address.length() != length)
            continue;
        bool same = true;
        for (size_t c = 0; same && c < length; ++c)
            same = address[c].toLower() == JLIB::JUnicode(static_cast<uint32_t>(name[c])).toLower();
        if (same) {
            index = i;
            return 0;
        }
    }
    return FWSCP_E_INDEX;
}

JResult ScpParameter_fwUpdate::nameOf(SCP::ScpText& address, int32_t index)
{
    const char* text = name(index);
    if (!text)
        return FWSCP_E_INDEX;
    return address.assign(text, std::strlen(text)) < 0 ? FWSCP_E_INDEX : 0;
}

JResult ScpParameter_fwUpdate::getParameterCount(int32_t& count)
{
    count = FWSCP_PARAM_COUNT;
    return 0;
}

JResult ScpParameter_fwUpdate::storeValue(int32_t, int32_t index, int32_t, int32_t, const JLIB::JVariant& value)
{
    switch (index) {
    case FWSCP_PARAM_MODE:
        emit receiveFWUpdateMode(value.toInteger());
        return 0;
    case FWSCP_PARAM_PROGRESS:
        emit receiveFWUpdateProgress(value.toInteger());
        return 0;
    case FWSCP_PARAM_DANTE_PROGRESS:
        // What the PC itself reports; nothing to keep.
        return FWSCP_E_FAIL;
    default:
        return FWSCP_E_INDEX;
    }
}

JResult ScpParameter_fwUpdate::readValue(JLIB::JVariant&, int32_t index, int32_t, int32_t)
{
    return index >= 0 && index < FWSCP_PARAM_COUNT ? FWSCP_E_FAIL : FWSCP_E_INDEX;
}

} // namespace Quil
