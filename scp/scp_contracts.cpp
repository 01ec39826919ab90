#include "scp/scp_contracts.h"

namespace SCP {

// ---- ScpParameter ----

JResult ScpParameter::setCallback(IScpParameterCallback* callback)
{
    m_callback = callback;
    return SCP_OK;
}

JResult ScpParameter::indexOf(int32_t& index, const ScpText&)
{
    index = 0;
    return SCP_OK;
}

JResult ScpParameter::nameOf(ScpText& address, int32_t)
{
    address.clear();
    return SCP_OK;
}

JResult ScpParameter::getParameterCount(int32_t& count)
{
    count = 0;
    return SCP_OK;
}

JResult ScpParameter::parameterCount(int32_t)
{
    return SCP_OK;
}

JResult ScpParameter::storeValue(int32_t, int32_t, int32_t, int32_t, const JLIB::JVariant&)
{
    return SCP_OK;
}

JResult ScpParameter::storeNormalized(int32_t, int32_t, int32_t, int32_t, int32_t, uint32_t)
{
    return SCP_OK;
}

JResult ScpParameter::storeRelative(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t)
{
    return SCP_OK;
}

JResult ScpParameter::storeText(int32_t, int32_t, int32_t, int32_t, const ScpText&)
{
    return SCP_OK;
}

JResult ScpParameter::storeParameterInfo(ScpParameterInfo& info, int32_t)
{
    info.clear();
    return SCP_OK;
}

JResult ScpParameter::readValue(JLIB::JVariant& value, int32_t, int32_t, int32_t)
{
    value.clear();
    return SCP_OK;
}

JResult ScpParameter::readNormalized(int32_t& value, uint32_t, int32_t, int32_t, int32_t)
{
    value = 0;
    return SCP_OK;
}

JResult ScpParameter::readText(ScpText& text, int32_t, int32_t, int32_t)
{
    text.clear();
    return SCP_OK;
}

JResult ScpParameter::parameterInfo(ScpParameterInfo& info, int32_t)
{
    info.clear();
    return SCP_OK;
}

JResult ScpParameter::reservedValue(int32_t& value)
{
    value = 0;
    return SCP_OK;
}

JResult ScpParameter::getSceneCount(int32_t& count)
{
    count = 0;
    return SCP_OK;
}

JResult ScpParameter::sceneCount(int32_t)
{
    return SCP_OK;
}

JResult ScpParameter::sceneInfo(ScpSceneInfo& info, int32_t)
{
    info.clear();
    return SCP_OK;
}

JResult ScpParameter::storeSceneInfo(const ScpSceneInfo&, int32_t)
{
    return SCP_OK;
}

JResult ScpParameter::currentScene(int32_t& number, int32_t& flag)
{
    number = 0;
    flag = 0;
    return SCP_OK;
}

JResult ScpParameter::storeCurrentScene(int32_t, int32_t)
{
    return SCP_OK;
}
JResult ScpParameter::sceneRecalled(int32_t)
{
    return SCP_OK;
}
JResult ScpParameter::sceneUpdated(int32_t)
{
    return SCP_OK;
}
JResult ScpParameter::storeScene()
{
    return SCP_OK;
}

// ---- ScpDeviceReporter ----

JResult ScpDeviceReporter::reserved()
{
    return SCP_OK;
}
JResult ScpDeviceReporter::deviceInfo(int32_t, ScpText&, const ScpText&)
{
    return SCP_OK;
}
JResult ScpDeviceReporter::deviceStatus(int32_t, ScpText&, const ScpText&)
{
    return SCP_OK;
}
JResult ScpDeviceReporter::deviceMode(int32_t, const ScpText&)
{
    return SCP_OK;
}
JResult ScpDeviceReporter::event(int32_t, const ScpText&, const ScpText&)
{
    return SCP_OK;
}
JResult ScpDeviceReporter::listItemNumber(const ScpText&, int32_t, int32_t, int32_t)
{
    return SCP_OK;
}
JResult ScpDeviceReporter::listItem(const ScpText&, int32_t, const JLIB::JVariant&)
{
    return SCP_OK;
}
JResult ScpDeviceReporter::replyError(int32_t, const ScpText&, const ScpText&)
{
    return SCP_OK;
}

// ---- meters ----

JResult ScpMeter::reserved()
{
    return SCP_OK;
}

JResult ScpMeter::indexOf(int32_t& meterIndex, const ScpText&)
{
    // A reporter that knows no meters knows none by name either.
    meterIndex = -1;
    return SCP_E_INDEX;
}

JResult ScpMeter::nameOf(ScpText& address, int32_t)
{
    address.clear();
    return SCP_OK;
}

JResult ScpMeter::getMeterCount(int32_t& count)
{
    count = 0;
    return SCP_OK;
}

JResult ScpMeter::reservedMeter()
{
    return SCP_OK;
}

JResult ScpMeter::getMeterInfo(ScpMeterInfo& info, int32_t)
{
    info.clear();
    return SCP_OK;
}

JResult ScpMeterReporter::meterData(int32_t, const uint8_t*, int32_t, int32_t)
{
    return SCP_OK;
}
JResult ScpMeterReporter::meterInfo(int32_t, const ScpMeterInfo&, int32_t)
{
    return SCP_OK;
}
JResult ScpMeterReporter::meterCount(int32_t, int32_t)
{
    return SCP_OK;
}

} // namespace SCP
