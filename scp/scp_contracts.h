// The objects through which the SCP library hands received values to the
// device side and reads values to send: the parameter object, the device
// reporter and the meter reporter. Every operation of these bases does
// nothing and returns 0 (or clears its output), so that a unit family
// overrides only what it needs. A negative result means failure.
//
// "id" is the connection id that the receive loop passes on. The library
// calls these operations only on the thread that steps the client.
#pragma once

#include "pbd/jlib/jvariant.h"
#include "scp/scp_element.h"

#include <cstdint>

namespace SCP {

class IScpParameterCallback;
class ScpSessionData;

class ScpParameter {
public:
    virtual ~ScpParameter() = default;
    // Stores the client's callback (not owned).
    virtual JResult setCallback(IScpParameterCallback* callback);
    // Address text to parameter index (negative when unknown).
    virtual JResult indexOf(int32_t& index, const ScpText& address);
    // Parameter index to address text (at most 64 characters).
    virtual JResult nameOf(ScpText& address, int32_t index);
    // Number of parameters, for a unit that answers prmnum.
    virtual JResult getParameterCount(int32_t& count);
    virtual JResult parameterCount(int32_t count);
    virtual JResult storeValue(int32_t id, int32_t index, int32_t x, int32_t y, const JLIB::JVariant& value);
    virtual JResult storeNormalized(
        int32_t id, int32_t index, int32_t x, int32_t y, int32_t value, uint32_t resolution);
    // Relative change by step, for a unit that answers setr.
    virtual JResult storeRelative(
        int32_t id, int32_t index, int32_t x, int32_t y, int32_t step, int32_t reserved1, int32_t reserved2);
    virtual JResult storeText(int32_t id, int32_t index, int32_t x, int32_t y, const ScpText& text);
    virtual JResult storeParameterInfo(ScpParameterInfo& info, int32_t index);
    virtual JResult readValue(JLIB::JVariant& value, int32_t index, int32_t x, int32_t y);
    virtual JResult readNormalized(int32_t& value, uint32_t resolution, int32_t index, int32_t x, int32_t y);
    // At most 64 characters.
    virtual JResult readText(ScpText& text, int32_t index, int32_t x, int32_t y);
    virtual JResult parameterInfo(ScpParameterInfo& info, int32_t index);
    virtual JResult reservedValue(int32_t& value);
    // Number of scenes, for a unit that answers ssnum.
    virtual JResult getSceneCount(int32_t& count);
    virtual JResult sceneCount(int32_t count);
    virtual JResult sceneInfo(ScpSceneInfo& info, int32_t number);
    virtual JResult storeSceneInfo(const ScpSceneInfo& info, int32_t number);
    virtual JResult currentScene(int32_t& number, int32_t& flag);
    // modified: 1 "modified", 0 "unmodified".
    virtual JResult storeCurrentScene(int32_t index, int32_t modified);
    virtual JResult sceneRecalled(int32_t number);
    virtual JResult sceneUpdated(int32_t index);
    // Stores the current scene, for a unit that answers ssupdate.
    virtual JResult storeScene();

protected:
    IScpParameterCallback* callback() const { return m_callback; }

private:
    IScpParameterCallback* m_callback = nullptr;
};

class ScpDeviceReporter {
public:
    virtual ~ScpDeviceReporter() = default;
    virtual JResult reserved();
    // data: the received text; a reporter that answers requests fills it.
    virtual JResult deviceInfo(int32_t id, ScpText& data, const ScpText& tag);
    virtual JResult deviceStatus(int32_t id, ScpText& data, const ScpText& tag);
    virtual JResult deviceMode(int32_t id, const ScpText& mode);
    virtual JResult event(int32_t id, const ScpText& eventId, const ScpText& data);
    virtual JResult listItemNumber(const ScpText& category, int32_t number, int32_t head, int32_t tail);
    virtual JResult listItem(const ScpText& category, int32_t index, const JLIB::JVariant& data);
    // The unit answered a request with ERROR: command is the request's word,
    // subject its first value (address, tag, index...; empty when none).
    // Nothing of the line is stored.
    virtual JResult replyError(int32_t id, const ScpText& command, const ScpText& subject);
};

class ScpMeter {
public:
    virtual ~ScpMeter() = default;
    virtual JResult reserved();
    // Meter address to meter index; SCP_E_INDEX when unknown.
    virtual JResult indexOf(int32_t& meterIndex, const ScpText& address);
    virtual JResult nameOf(ScpText& address, int32_t meterIndex);
    // Number of meters and their information, for a unit that answers
    // mtrnum and mtrinfo.
    virtual JResult getMeterCount(int32_t& count);
    virtual JResult reservedMeter();
    virtual JResult getMeterInfo(ScpMeterInfo& info, int32_t index);
};

class ScpMeterReporter : public ScpMeter {
public:
    // values: one byte per meter, count of them.
    virtual JResult meterData(int32_t id, const uint8_t* values, int32_t count, int32_t meterIndex);
    virtual JResult meterInfo(int32_t id, const ScpMeterInfo& info, int32_t index);
    virtual JResult meterCount(int32_t id, int32_t number);
};

// What every reply and notification handler gets; owns nothing, lives for
// one dispatch.
struct ScpInfoReporter {
    ScpDeviceReporter* device = nullptr;
    ScpParameter* parameter = nullptr;
    ScpMeterReporter* meter = nullptr;
    ScpSessionData* session = nullptr;
};

} // namespace SCP
