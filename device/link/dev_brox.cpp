#include "device/link/dev_brox.h"

#include "device/layouts/dev_iotable.h"
#include "device/layouts/dev_summarypaths.h"
#include "pbd/jlib/jvariant.h"

#include <cmath>
#include <iterator>

namespace Quil {

namespace {

constexpr ScpParamRow kBroxRows[BROX_PARAMETER_COUNT] = {
    {"Backup", "InCh/48VOn", "IO:Current/InCh/48VOn", 0, -1, RXTX},
    {"Backup", "InCh/HPFOn", "IO:Current/InCh/HPFOn", 0, -1, RXTX},
    {"Backup", "InCh/GainCompOn", "IO:Current/InCh/GainCompOn", 0, -1, RXTX},
    {"Backup", "InCh/HPFFreq", "IO:Current/InCh/HPFFreq", 0, -1, RXTX},
    {"Backup", "InCh/HAGain", "IO:Current/InCh/HAGain", 0, -1, RXTX},
    {"Backup", "InCh/CompGain", "IO:Current/InCh/CompGain", 0, -1, RXTX},
    {"Backup", "OutCh/DelayOn", "IO:Current/OutCh/DelayOn", 0, -1, RXTX},
    {"Backup", "OutCh/DelayTime", "IO:Current/OutCh/DelayTime", 0, -1, RXTX},
    {"Backup", "OutCh/Polarity", "IO:Current/OutCh/Polarity", 0, -1, RXTX},
    {"Backup", "OutCh/GainLevel", "IO:Current/OutCh/GainLevel", 0, -1, RXTX},
    {"Backup", "OutChAES/DelayOn", "IO:Current/OutCh/AES/DelayOn", 0, -1, RXTX},
    {"Backup", "OutChAES/DelayTime", "IO:Current/OutCh/AES/DelayTime", 0, -1, RXTX},
    {"Backup", "OutChAES/Polarity", "IO:Current/OutCh/AES/Polarity", 0, -1, RXTX},
    {"Backup", "OutChAES/GainLevel", "IO:Current/OutCh/AES/GainLevel", 0, -1, RXTX},
    {"Backup", "Headphone/Mono", "IO:Current/Headphone/Mono", 0, -1, RXTX},
    {"Backup", "Headphone/Assign", "IO:Current/Headphone/Assign", 0, -1, RXTX},
    {"Current", "Dev/48VMasterOn", "IO:Current/Dev/48VMasterOn", -1, -1, RX},
    {"Current", "Dev/48VLeaderOn", "IO:Current/Dev/48VLeaderOn", -1, -1, RX},
    {"Current", "Dev/48VActiveOn", "IO:Current/Dev/48VActiveOn", -1, -1, RX},
    {"Current", "Dev/MuteOn", "IO:Current/Dev/MuteOn", -1, -1, RXTX},
    {"Current", "Dev/WordclockFs", "IO:Current/Dev/Wordclock/Fs", -1, -1, RX},
    {"Current", "Dev/OutputImpedance", "IO:Current/Dev/OutputImpedance", -1, -1, RXTX},
    {"Current", "Dev/CurrIPSelectMode", "IO:Current/Dev/IPSelectMode", -1, -1, RX},
    {"Current", "Dev/CurrIPAddress", "IO:Current/Dev/IPAddress", 1, -1, RX},
    {"Current", "Dev/CurrSubnetMask", "IO:Current/Dev/SubnetMask", 1, -1, RX},
    {"Current", "Dev/CurrDefaultGateway", "IO:Current/Dev/DefaultGateway", 1, -1, RX},
    {"Current", "Dev/NextIPSelectMode", "IO:NextBoot/Dev/IPSelectMode", -1, -1, RXTX},
    {"Current", "Dev/NextIPAddress", "IO:NextBoot/Dev/IPAddress", 1, -1, RXTX},
    {"Current", "Dev/NextSubnetMask", "IO:NextBoot/Dev/SubnetMask", 1, -1, RXTX},
    {"Current", "Dev/NextDefaultGateway", "IO:NextBoot/Dev/DefaultGateway", 1, -1, RXTX},
    {"Current", "Dev/ExecMode", "IO:Current/Dev/ExecMode", -1, -1, RX},
    {"Current", "Dev/SystemStatus", "IO:Current/Dev/SystemStatus", -1, -1, RX},
    {"Current", "Dev/SyncStatus", "IO:Current/Dev/SyncStatus", -1, -1, RX},
    {"Event", "Dev/Identify", "IO:Event/Dev/Identify", -1, -1, RXTX},
    {"Event", "InCh/Identify", "IO:Event/InCh/Identify", 0, -1, RXTX},
    {"Event", "OutCh/Identify", "IO:Event/OutCh/Identify", 0, -1, RXTX},
};

constexpr ScpPathFormat kBroxFormats[BROX_PARAMETER_COUNT] = {
    {"/Backup/InCh:%d/48VOn:%d", 32, 1},
    {"/Backup/InCh:%d/HPFOn:%d", 32, 1},
    {"/Backup/InCh:%d/GainCompOn:%d", 32, 1},
    {"/Backup/InCh:%d/HPFFreq:%d", 32, 1},
    {"/Backup/InCh:%d/HAGain:%d", 32, 1},
    {"/Backup/InCh:%d/CompGain:%d", 32, 1},
    {"/Backup/OutCh:%d/DelayOn:%d", 24, 1},
    {"/Backup/OutCh:%d/DelayTime:%d", 24, 1},
    {"/Backup/OutCh:%d/Polarity:%d", 24, 1},
    {"/Backup/OutCh:%d/GainLevel:%d", 24, 1},
    {"/Backup/OutChAES:%d/DelayOn:%d", 8, 1},
    {"/Backup/OutChAES:%d/DelayTime:%d", 8, 1},
    {"/Backup/OutChAES:%d/Polarity:%d", 8, 1},
    {"/Backup/OutChAES:%d/GainLevel:%d", 8, 1},
    {"/Backup/Headphone:%d/Mono:%d", 2, 1},
    {"/Backup/Headphone:%d/Assign:%d", 2, 1},
    {"/Current/Dev:%d/48VMasterOn:%d", 1, 1},
    {"/Current/Dev:%d/48VLeaderOn:%d", 1, 1},
    {"/Current/Dev:%d/48VActiveOn:%d", 1, 1},
    {"/Current/Dev:%d/MuteOn:%d", 1, 1},
    {"/Current/Dev:%d/WordclockFs:%d", 1, 1},
    {"/Current/Dev:%d/OutputImpedance:%d", 1, 1},
    {"/Current/Dev:%d/CurrIPSelectMode:%d", 1, 1},
    {"/Current/Dev:%d/CurrIPAddress:%d", 1, 4},
    {"/Current/Dev:%d/CurrSubnetMask:%d", 1, 4},
    {"/Current/Dev:%d/CurrDefaultGateway:%d", 1, 4},
    {"/Current/Dev:%d/NextIPSelectMode:%d", 1, 1},
    {"/Current/Dev:%d/NextIPAddress:%d", 1, 4},
    {"/Current/Dev:%d/NextSubnetMask:%d", 1, 4},
    {"/Current/Dev:%d/NextDefaultGateway:%d", 1, 4},
    {"/Current/Dev:%d/ExecMode:%d", 1, 1},
    {"/Current/Dev:%d/SystemStatus:%d", 1, 1},
    {"/Current/Dev:%d/SyncStatus:%d", 1, 1},
    {"/Event/Dev:%d/Identify:%d", 1, 1},
    {"/Event/InCh:%d/Identify:%d", 32, 1},
    {"/Event/OutCh:%d/Identify:%d", 24, 1},
};

// Reset at disconnect and detach: what only the unit can know.
constexpr int32_t kBroxResetList[] = {16, 17, 18, 19, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

constexpr ScpParamRow kMeterRows[BROX_METER_COUNT] = {
    {"Meter", "Dev/InputLevel", "IO:Current/Dev/InputLevel", -1, -1, RX},
    {"Meter", "Dev/OutputLevel", "IO:Current/Dev/OutputLevel", -1, -1, RX},
    {"Meter", "Dev/PhonesLevel", "IO:Current/Dev/PhonesLevel", -1, -1, RX},
};

int32_t integerOf(const JLIB::JVariant& value, bool* ok)
{
    if (value.type() != JLIB::JVARIANT_INT32 && value.type() != JLIB::JVARIANT_UINT32) {
        *ok = false;
        return 0;
    }
    *ok = true;
    return static_cast<int32_t>(value.toInteger());
}

} // namespace

// ---- parameters ----

JResult ScpParameter_Brox::getParameterCount(int32_t& count)
{
    count = BROX_PARAMETER_COUNT;
    return 0;
}

bool ScpParameter_Brox::isValidIndex(int32_t index) const
{
    return index >= 0 && index < BROX_PARAMETER_COUNT;
}

const ScpParamRow* ScpParameter_Brox::row(int32_t index) const
{
    return isValidIndex(index) ? &kBroxRows[index] : nullptr;
}

const ScpPathFormat* ScpParameter_Brox::pathFormat(int32_t index) const
{
    return isValidIndex(index) ? &kBroxFormats[index] : nullptr;
}

JResult ScpParameter_Brox::toDevice(JLIB::JVariant* out, int32_t index, const JLIB::JVariant& value) const
{
    if (index != BROX_HPF_FREQ)
        return ScpParameter_Quil::toDevice(out, index, value);
    bool ok = false;
    const int32_t tableIndex = integerOf(value, &ok);
    if (!ok)
        return ADAPTER_E_FAIL;
    *out = JLIB::JVariant(static_cast<int32_t>(hpfFrequencyAt(tableIndex) * 10.0 + 0.5));
    return 0;
}

JResult ScpParameter_Brox::fromDevice(JLIB::JVariant* out, int32_t index, const JLIB::JVariant& value) const
{
    if (index != BROX_HPF_FREQ)
        return ScpParameter_Quil::fromDevice(out, index, value);
    bool ok = false;
    const int32_t tenths = integerOf(value, &ok);
    if (!ok)
        return ADAPTER_E_FAIL;
    *out = JLIB::JVariant(static_cast<int32_t>(hpfNearestIndex(tenths / 10.0)));
    return 0;
}

JResult ScpParameter_Brox::applyResetList()
{
    IZDev* dev = device();
    if (!dev)
        return ADAPTER_E_FAIL;
    for (const int32_t index : kBroxResetList) {
        const ScpPathFormat& format = kBroxFormats[index];
        QString p;
        JLIB::JVariant value;
        if (formatMemPath(format.format, {0, 0, 0, 0}, &p) < 0 || dev->getDefault(p, &value, false) < 0)
            continue;
        for (int32_t j = 0; j < format.elements; ++j)
            if (formatMemPath(format.format, {0, j, 0, 0}, &p) >= 0)
                dev->setValue(p, value, source());
    }
    return 0;
}

bool ScpParameter_Brox::needsPostAssociationFix()
{
    auto readInt = [this](const char* namePath, int32_t* out) {
        int32_t index = -1;
        JLIB::JVariant value;
        bool ok = false;
        if (findIndex("Current", namePath, &index) < 0 || readValue(value, index, 0, 0) < 0)
            return false;
        *out = integerOf(value, &ok);
        return ok;
    };
    int32_t mute = 0;
    if (!readInt("Dev/MuteOn", &mute))
        return true;
    int32_t execMode = 0;
    return readInt("Dev/ExecMode", &execMode) && execMode == 1 && mute == 1;
}

JResult ScpParameter_Brox::applyPostAssociationFix()
{
    int32_t index = -1;
    if (findIndex("Current", "Dev/MuteOn", &index) < 0)
        return ADAPTER_E_FAIL;
    const JResult stored = storeValue(0, index, 0, 0, JLIB::JVariant(0));
    if (stored < 0)
        return stored;
    // Stored as the link's write, so the change walk would not send it.
    SCP::IScpParameterCallback* cb = parameterCallback();
    return cb ? cb->parameterChanged(false, index, 0, 0) : ADAPTER_E_FAIL;
}

// ---- device reporter ----

bool ScpDeviceReporter_Brox::acceptNegotiation()
{
    JLIB::JVariant error;
    JLIB::JVariant runmode;
    if (readInfo("error", &error) < 0 || readInfo("runmode", &runmode) < 0)
        return false;
    const char* errorText = error.getString();
    const char* runText = runmode.getString();
    if (!errorText || !runText || qstricmp(errorText, "nothing") != 0)
        return false;
    return qstrnicmp(runText, "normal", 6) == 0 || qstricmp(runText, "emergency") == 0;
}

// ---- second generation ----

namespace {

const SummaryPaths* summaryOf(const SCP::ScpText& category)
{
    if (SCP::scp_textEquals(category, kCurSummaryPaths.category, true))
        return &kCurSummaryPaths;
    if (SCP::scp_textEquals(category, kEvtSummaryPaths.category, true))
        return &kEvtSummaryPaths;
    return nullptr;
}

} // namespace

ScpDeviceReporter_Brox2::ScpDeviceReporter_Brox2(QObject* parent)
    : QObject(parent)
{
}

JResult ScpDeviceReporter_Brox2::bind(
    IZDev* device, uint8_t source, SCP::IScpClient* client, NegotiatedProbe negotiated)
{
    m_loggingSent.clear();
    return ScpDeviceReporter_Quil::bind(device, source, client, std::move(negotiated));
}

void ScpDeviceReporter_Brox2::pollCount(const SummaryPaths& s)
{
    int32_t request = 0;
    if (!readInt(s.numReq, &request) || request == 0)
        return;
    writeInt(s.numReq, -1);
    // The client drops requests before its negotiation has finished and
    // still answers 0: report that at once instead of leaving the dialog
    // waiting for a reply that never comes.
    if (!clientNegotiated() || client()->listItemNum(s.category) < 0)
        writeInt(s.numReceived, -1);
}

void ScpDeviceReporter_Brox2::pollItem(const SummaryPaths& s)
{
    int32_t item = -1;
    if (!readInt(s.itemReq, &item) || item == -1)
        return;
    writeInt(s.itemReq, -1);
    if (!clientNegotiated() || client()->listItem(s.category, item) < 0)
        writeInt(s.itemReceived, -1);
}

void ScpDeviceReporter_Brox2::pollLogging()
{
    std::string text;
    if (!readText(kLoggingSendPath, &text))
        return;
    if (text.empty()) {
        m_loggingSent.clear();
        return;
    }
    // Sent once per request: the memory wakes for every change of any unit,
    // and the text stays until the unit answers.
    if (!clientNegotiated() || text == m_loggingSent)
        return;
    if (client()->event("logging", text.c_str()) >= 0)
        m_loggingSent = text;
}

void ScpDeviceReporter_Brox2::pollTftp()
{
    std::string text;
    if (!readText(kTftpUriSendPath, &text) || text.empty() || !clientNegotiated())
        return;
    if (client()->event("tftpuri", text.c_str()) >= 0)
        write(kTftpUriSendPath, JLIB::JVariant("", 0));
}

JResult ScpDeviceReporter_Brox2::pollRequests()
{
    if (!device() || !client())
        return ADAPTER_E_FAIL;
    pollCount(kCurSummaryPaths);
    pollItem(kCurSummaryPaths);
    pollCount(kEvtSummaryPaths);
    pollItem(kEvtSummaryPaths);
    pollLogging();
    pollTftp();
    return 0;
}

JResult ScpDeviceReporter_Brox2::storeListCount(
    const SCP::ScpText& category, int32_t number, int32_t head, int32_t tail)
{
    const SummaryPaths* s = summaryOf(category);
    if (!s)
        return 0;
    const bool stored = writeInt(s->num, number) >= 0 && writeInt(s->start, head) >= 0 && writeInt(s->end, tail) >= 0;
    return writeInt(s->numReceived, stored ? 1 : -1);
}

JResult ScpDeviceReporter_Brox2::storeListItem(const SCP::ScpText& category, int32_t, const JLIB::JVariant& data)
{
    const SummaryPaths* s = summaryOf(category);
    if (!s)
        return 0;
    const bool stored = write(s->item, data) >= 0;
    return writeInt(s->itemReceived, stored ? 1 : -1);
}

JResult ScpDeviceReporter_Brox2::storeEvent(const SCP::ScpText& eventId, const SCP::ScpText&)
{
    if (SCP::scp_textEquals(eventId, "logging", false))
        return write(kLoggingSendPath, JLIB::JVariant("", 0));
    if (SCP::scp_textEquals(eventId, "tftpuri", false))
        return write(kTftpUriSendPath, JLIB::JVariant("", 0));
    return 0;
}

// ---- meters ----

JResult ScpMeterReporter_Brox::getMeterCount(int32_t& count)
{
    count = BROX_METER_COUNT;
    return 0;
}

const ScpParamRow* ScpMeterReporter_Brox::meterRow(int32_t index) const
{
    return index >= 0 && index < BROX_METER_COUNT ? &kMeterRows[index] : nullptr;
}

} // namespace Quil
