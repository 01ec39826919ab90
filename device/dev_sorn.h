// The Sorn family's adapters: a 25-parameter table of unit state, network
// settings, the 128-entry user patch and four card slots; no meters, no
// conversions, no fix after association.
#pragma once

#include "device/dev_brox.h"
#include "device/dev_iofamily.h"

namespace Quil {

constexpr int32_t SORN_PARAMETER_COUNT = 25;

class ScpParameter_Sorn : public ScpParameter_Quil {
    Q_OBJECT

public:
    using ScpParameter_Quil::ScpParameter_Quil;

    JResult getParameterCount(int32_t& count) override;
    bool isValidIndex(int32_t index) const override;
    const ScpParamRow* row(int32_t index) const override;
    const ScpPathFormat* pathFormat(int32_t index) const override;
    JResult applyResetList() override;
};

// The information rows and their reset are those every family shares;
// only the negotiation check differs from Brox.
class ScpDeviceReporter_Sorn : public ScpDeviceReporter_Brox {
public:
    bool acceptNegotiation() override;
};

// No meters: the link sends no meter subscriptions.
class ScpMeterReporter_Sorn : public ScpMeterReporter_Quil { };

// 23 rows, 193 gets; the slots' SRC lock status is read last.
class SornAssoSeq final : public IoAssoSeq {
public:
    SornAssoSeq();
};

} // namespace Quil
