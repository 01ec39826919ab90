// The server commands that do not address cells: information records,
// counts, meters, scenes, the device reporter and the protocol mode.
#include "scp/scp_server_commands.h"

#include "scp/scp_server_mode.h"

#include <cstdio>
#include <cstring>

namespace SCP {

namespace {

constexpr uint8_t kRP = SCP_SERVER_REQUEST | SCP_SERVER_REPLY;
constexpr uint8_t kP = SCP_SERVER_REPLY;

// A NUL-terminated UTF-16 record text of at most units code units into a
// String element. Display texts may be cut to the element's length; an
// address that does not fit is refused, since a cut one names another
// parameter.
JResult setUtf16(ScpElementString& element, const char16_t* units, size_t maxUnits, bool mayCut)
{
    ScpText text(maxUnits);
    for (size_t i = 0; i < maxUnits && units[i] != 0;) {
        const uint16_t second = i + 1 < maxUnits ? static_cast<uint16_t>(units[i + 1]) : 0;
        JLIB::JUnicode ch;
        size_t used = 1;
        ch.fromUtf16(static_cast<uint16_t>(units[i]), second, &used);
        text.pushBack(ch);
        i += used ? used : 1;
    }
    if (text.length() > element.maxLength() && !mayCut)
        return SCP_E_ARG;
    return element.set(text);
}

// A NUL-terminated 8-bit record text of at most maxBytes bytes.
JResult setBytes(ScpElementText& element, const char* bytes, size_t maxBytes)
{
    ScpText text(maxBytes);
    text.assign(bytes, maxBytes);
    return element.set(text);
}

// The record of a non-negative index, read from a reporter that is present.
template <class Reporter, class Owner, class Record>
JResult readRecord(Reporter* reporter, JResult (Owner::*read)(Record&, int32_t), int32_t index, Record& record)
{
    if (!reporter)
        return SCP_E_FAIL;
    if (index < 0)
        return SCP_E_ARG;
    return (reporter->*read)(record, index);
}

JResult setDecimal(ScpElementAlNum& element, int32_t value)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
    return element.set(digits);
}

} // namespace

// ---- information records ----

ScpServerCommandPRMINFO::ScpServerCommandPRMINFO()
    : ScpServerCommand("prminfo")
{
    add(m_index, kRP);
    add(m_address, kP);
    add(m_xnum, kP);
    add(m_ynum, kP);
    add(m_min, kP);
    add(m_max, kP);
    add(m_default, kP);
    add(m_unit, kP);
    add(m_type, kP);
    add(m_ui, kP);
    add(m_attrib, kP);
    add(m_scaling, kP);
}

JResult ScpServerCommandPRMINFO::execute(int32_t /*context*/, ScpInfoReporter& info)
{
    ScpParameterInfo record;
    const JResult r = readRecord(info.parameter, &ScpParameter::parameterInfo, m_index.value(), record);
    if (r < 0)
        return r;
    const JResult address = setUtf16(m_address, record.address, SCP_ALNUM_MAX + 1, false);
    if (address < 0)
        return address;
    m_xnum.set(record.xCount);
    m_ynum.set(record.yCount);
    m_min.set(record.minimum);
    m_max.set(record.maximum);
    m_default.set(record.defaultValue);
    setBytes(m_unit, record.unit, sizeof record.unit);
    m_type.set(scp_indexToName(scp_parameterTypes, record.type));
    m_ui.set(scp_indexToName(scp_uiTypes, record.uiType));
    m_attrib.set(scp_indexToName(scp_accessAttributes, record.attribute));
    m_scaling.set(record.scaling);
    return r;
}

ScpServerCommandMTRINFO::ScpServerCommandMTRINFO()
    : ScpServerCommand("mtrinfo")
{
    add(m_index, kRP);
    add(m_address, kP);
    add(m_num, kP);
    add(m_type, kP);
}

JResult ScpServerCommandMTRINFO::execute(int32_t /*context*/, ScpInfoReporter& info)
{
    ScpMeterInfo record;
    const JResult r = readRecord(info.meter, &ScpMeterReporter::getMeterInfo, m_index.value(), record);
    if (r < 0)
        return r;
    const JResult address
        = setUtf16(m_address, record.address, sizeof record.address / sizeof record.address[0], false);
    if (address < 0)
        return address;
    m_num.set(record.number);
    m_type.set(scp_indexToName(scp_meterTypes, record.type));
    return r;
}

ScpServerCommandSSINFO::ScpServerCommandSSINFO()
    : ScpServerCommand("ssinfo")
{
    add(m_index, kRP);
    add(m_numtext, kP);
    add(m_title, kP);
    add(m_comment, kP);
    add(m_attrib, kP);
}

JResult ScpServerCommandSSINFO::execute(int32_t /*context*/, ScpInfoReporter& info)
{
    ScpSceneInfo record;
    const JResult r = readRecord(info.parameter, &ScpParameter::sceneInfo, m_index.value(), record);
    if (r < 0)
        return r;
    setUtf16(m_numtext, record.numberText, sizeof record.numberText / sizeof record.numberText[0], true);
    setUtf16(m_title, record.title, sizeof record.title / sizeof record.title[0], true);
    setUtf16(m_comment, record.comment, sizeof record.comment / sizeof record.comment[0], true);
    m_attrib.set(scp_indexToName(scp_sceneAttributes, record.attribute));
    return r;
}

// ---- counts ----

ScpServerCountCommand::ScpServerCountCommand(const char* word, const char* member)
    : ScpServerCommand(word)
    , m_number(member)
{
    add(m_number, kP);
}

JResult ScpServerCountCommand::execute(int32_t /*context*/, ScpInfoReporter& info)
{
    int32_t count = 0;
    const JResult r = readCount(info, count);
    if (r < 0)
        return r; // a count that could not be had is not answered as 0
    m_number.set(count);
    return SCP_OK;
}

JResult ScpServerCommandPRMNUM::readCount(ScpInfoReporter& info, int32_t& count)
{
    return info.parameter ? info.parameter->getParameterCount(count) : SCP_E_FAIL;
}

JResult ScpServerCommandMTRNUM::readCount(ScpInfoReporter& info, int32_t& count)
{
    return info.meter ? info.meter->getMeterCount(count) : SCP_E_FAIL;
}

JResult ScpServerCommandSSNUM::readCount(ScpInfoReporter& info, int32_t& count)
{
    return info.parameter ? info.parameter->getSceneCount(count) : SCP_E_FAIL;
}

// ---- meters ----

namespace {

// The meter index of an address; SCP_E_FAIL without a meter reporter or a
// session, SCP_E_INDEX when the meter does not know the address.
JResult meterIndex(ScpInfoReporter& info, const ScpElementAlNum& address, int32_t* index)
{
    *index = -1;
    if (!info.meter || !info.session)
        return SCP_E_FAIL;
    if (info.meter->indexOf(*index, address.text()) < 0 || *index < 0)
        return SCP_E_INDEX;
    return SCP_OK;
}

void writeMeterName(ScpInfoReporter& info, ScpElementAlNum& address, int32_t index)
{
    ScpText name(SCP_ALNUM_MAX);
    if (info.meter->nameOf(name, index) >= 0 && name.length() > 0)
        address.set(name);
}

} // namespace

ScpServerCommandMTRSTART::ScpServerCommandMTRSTART()
    : ScpServerCommand("mtrstart")
{
    add(m_address, kRP);
    add(m_interval, kRP);
}

JResult ScpServerCommandMTRSTART::execute(int32_t /*context*/, ScpInfoReporter& info)
{
    int32_t index = -1;
    const JResult found = meterIndex(info, m_address, &index);
    if (found < 0)
        return found;
    if (m_interval.value() < 0)
        return SCP_E_ARG;
    const JResult r = info.session->addMeter(index, static_cast<uint32_t>(m_interval.value()));
    writeMeterName(info, m_address, index);
    return r;
}

ScpServerCommandMTRSTOP::ScpServerCommandMTRSTOP()
    : ScpServerCommand("mtrstop")
{
    add(m_address, kRP);
}

JResult ScpServerCommandMTRSTOP::execute(int32_t /*context*/, ScpInfoReporter& info)
{
    int32_t index = -1;
    const JResult found = meterIndex(info, m_address, &index);
    if (found < 0)
        return found;
    const JResult r = info.session->removeMeter(index);
    writeMeterName(info, m_address, index);
    return r;
}

// ---- scenes ----

ScpServerCommandSSCURRENT::ScpServerCommandSSCURRENT()
    : ScpServerCommand("sscurrent")
{
    add(m_index, kP);
    add(m_status, kP);
}

JResult ScpServerCommandSSCURRENT::execute(int32_t /*context*/, ScpInfoReporter& info)
{
    if (!info.parameter)
        return SCP_E_FAIL;
    int32_t number = 0;
    int32_t modified = 0;
    const JResult r = info.parameter->currentScene(number, modified);
    if (r < 0)
        return r;
    m_index.set(number);
    m_status.set(modified ? "modified" : "unmodified");
    return r;
}

ScpServerCommandSSRECALL::ScpServerCommandSSRECALL()
    : ScpServerCommand("ssrecall")
{
    add(m_index, kRP);
}

JResult ScpServerCommandSSRECALL::execute(int32_t /*context*/, ScpInfoReporter& info)
{
    if (!info.parameter)
        return SCP_E_FAIL;
    if (m_index.value() < 0)
        return SCP_E_ARG;
    return info.parameter->sceneRecalled(m_index.value());
}

ScpServerCommandSSUPDATE::ScpServerCommandSSUPDATE()
    : ScpServerCommand("ssupdate")
{
    add(m_index, kP);
}

JResult ScpServerCommandSSUPDATE::execute(int32_t /*context*/, ScpInfoReporter& info)
{
    if (!info.parameter)
        return SCP_E_FAIL;
    const JResult stored = info.parameter->storeScene();
    if (stored < 0)
        return stored;
    int32_t number = 0;
    int32_t modified = 0;
    // Without the index the reply cannot say which scene was stored.
    const JResult current = info.parameter->currentScene(number, modified);
    if (current < 0)
        return current;
    m_index.set(number);
    return stored;
}

// ---- device ----

ScpServerCommandEVENT::ScpServerCommandEVENT()
    : ScpServerCommand("event")
{
    add(m_eventId, kRP);
    add(m_data, kRP);
}

JResult ScpServerCommandEVENT::execute(int32_t context, ScpInfoReporter& info)
{
    if (!info.device)
        return SCP_E_FAIL;
    return info.device->event(context, m_eventId.text(), m_data.text());
}

ScpServerDeviceTextCommand::ScpServerDeviceTextCommand(const char* word, size_t bufferLength)
    : ScpServerCommand(word)
    , m_bufferLength(bufferLength)
{
    add(m_tag, kRP);
    add(m_data, kP);
}

JResult ScpServerDeviceTextCommand::execute(int32_t context, ScpInfoReporter& info)
{
    if (!info.device)
        return SCP_E_FAIL;
    ScpText data(m_bufferLength);
    const JResult r = report(info, context, data, m_tag.text());
    if (r < 0)
        return SCP_E_ARG;
    m_data.set(data); // a status longer than the element's 128 characters is cut, as texts are
    return r;
}

JResult ScpServerCommandDEVINFO::report(ScpInfoReporter& info, int32_t context, ScpText& data, const ScpText& tag)
{
    return info.device->deviceInfo(context, data, tag);
}

JResult ScpServerCommandDEVSTATUS::report(ScpInfoReporter& info, int32_t context, ScpText& data, const ScpText& tag)
{
    return info.device->deviceStatus(context, data, tag);
}

ScpServerCommandDEVMODE::ScpServerCommandDEVMODE()
    : ScpServerCommand("devmode")
{
    add(m_mode, kRP);
}

JResult ScpServerCommandDEVMODE::execute(int32_t context, ScpInfoReporter& info)
{
    if (!info.device)
        return SCP_E_FAIL;
    const JResult r = info.device->deviceMode(context, m_mode.text());
    return r < 0 ? SCP_E_ARG : r;
}

// ---- protocol mode ----

ScpServerCommandSCPMODE::ScpServerCommandSCPMODE()
    : ScpServerCommand("scpmode")
{
    add(m_tag, kRP);
    add(m_data, kRP);
}

JResult ScpServerCommandSCPMODE::execute(int32_t /*context*/, ScpInfoReporter& info)
{
    if (!info.session)
        return SCP_E_FAIL;
    ScpModeSetting setting;
    if (scp_modeParse(m_tag.text(), m_data.text(), &setting) < 0)
        return SCP_E_ARG;
    ScpSessionData& session = *info.session;
    JResult r = SCP_OK;
    switch (setting.tag) {
    case SCP_MODE_FORMAT:
        r = session.setDecoder(setting.value);
        break;
    case SCP_MODE_ENCODING:
        r = session.setEncoding(setting.value);
        break;
    case SCP_MODE_VALUETYPE:
        r = session.setValueType(setting.value);
        break;
    case SCP_MODE_RESOLUTION:
        r = session.setResolution(static_cast<uint32_t>(setting.value));
        setDecimal(m_data, setting.value);
        break;
    case SCP_MODE_KEEPALIVE:
        // Twice the client's interval, in 32 bits unsigned: never wraps for a
        // value that fits a signed 32-bit number.
        r = session.setKeepAlive(2u * static_cast<uint32_t>(setting.value));
        setDecimal(m_data, setting.value);
        break;
    }
    m_tag.makeLower();
    m_data.makeLower();
    return r;
}

} // namespace SCP
