// The Brox family's adapters (they also serve the Pell models): the
// 36-parameter table, the high-pass conversion, the reset list, the fix
// after association, the negotiation check, three meters, and the second
// generation's summary-list, log and TFTP requests.
#pragma once

#include "device/link/dev_scpadapter.h"

#include <string>

namespace Quil {

struct SummaryPaths;

constexpr int32_t BROX_PARAMETER_COUNT = 36;
constexpr int32_t BROX_METER_COUNT = 3;
// The one converted parameter: memory holds a high-pass table index, the
// unit tenths of a hertz.
constexpr int32_t BROX_HPF_FREQ = 3;

class ScpParameter_Brox : public ScpParameter_Quil {
    Q_OBJECT

public:
    using ScpParameter_Quil::ScpParameter_Quil;

    JResult getParameterCount(int32_t& count) override;
    bool isValidIndex(int32_t index) const override;
    const ScpParamRow* row(int32_t index) const override;
    const ScpPathFormat* pathFormat(int32_t index) const override;
    JResult toDevice(JLIB::JVariant* out, int32_t index, const JLIB::JVariant& value) const override;
    JResult fromDevice(JLIB::JVariant* out, int32_t index, const JLIB::JVariant& value) const override;
    JResult applyResetList() override;
    bool needsPostAssociationFix() override;
    JResult applyPostAssociationFix() override;
};

class ScpDeviceReporter_Brox : public ScpDeviceReporter_Quil {
public:
    bool acceptNegotiation() override;
};

// Second generation (types 8, 9, 11, 12): summary lists, event log and
// TFTP address travel through the ListItem and LogEvent functions.
class ScpDeviceReporter_Brox2 : public QObject, public ScpDeviceReporter_Brox {
    Q_OBJECT

public:
    explicit ScpDeviceReporter_Brox2(QObject* parent = nullptr);

    using ScpDeviceReporter_Quil::bind;
    JResult bind(IZDev* device, uint8_t source, SCP::IScpClient* client, NegotiatedProbe negotiated) override;
    JResult pollRequests() override;

protected:
    JResult storeEvent(const SCP::ScpText& eventId, const SCP::ScpText& data) override;
    JResult storeListCount(const SCP::ScpText& category, int32_t number, int32_t head, int32_t tail) override;
    JResult storeListItem(const SCP::ScpText& category, int32_t index, const JLIB::JVariant& data) override;

private:
    void pollCount(const SummaryPaths& summary);
    void pollItem(const SummaryPaths& summary);
    void pollLogging();
    void pollTftp();

    // The log text last sent, so that a memory wake does not send it again
    // before the unit answers; forgotten once loggingSend reads empty.
    std::string m_loggingSent;
};

class ScpMeterReporter_Brox : public ScpMeterReporter_Quil {
public:
    JResult getMeterCount(int32_t& count) override;
    const ScpParamRow* meterRow(int32_t index) const override;
};

} // namespace Quil
