// The Mavik family's adapters: a 28-parameter table of unit state, clocks
// and network settings, some with three-level or literal paths; no meters,
// no conversions, no fix after association.
#pragma once

#include "device/dev_brox.h"
#include "device/dev_iofamily.h"

namespace Quil {

constexpr int32_t MAVIK_PARAMETER_COUNT = 28;

class ScpParameter_Mavik : public ScpParameter_Quil {
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
class ScpDeviceReporter_Mavik : public ScpDeviceReporter_Brox {
public:
    bool acceptNegotiation() override;
};

// No meters: the link sends no meter subscriptions.
class ScpMeterReporter_Mavik : public ScpMeterReporter_Quil { };

// 28 rows, 46 gets.
class MavikAssoSeq final : public IoAssoSeq {
public:
    MavikAssoSeq();
};

} // namespace Quil
