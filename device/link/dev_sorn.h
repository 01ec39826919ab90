// The Sorn family's adapters: a 25-parameter table of unit state, network
// settings, the 128-entry user patch and four card slots; no meters, no
// conversions, no fix after association.
#pragma once

#include "device/link/dev_iofamily.h"

namespace Quil {

constexpr int32_t SORN_PARAMETER_COUNT = 25;

class ScpParameter_Sorn : public ScpParameter_Io {
    Q_OBJECT

public:
    explicit ScpParameter_Sorn(QObject* parent = nullptr);
};

class ScpDeviceReporter_Sorn : public ScpDeviceReporter_Io { };

// No meters: the link sends no meter subscriptions.
class ScpMeterReporter_Sorn : public ScpMeterReporter_Quil { };

// 23 rows, 193 gets; the slots' SRC lock status is read last.
class SornAssoSeq final : public IoAssoSeq {
public:
    SornAssoSeq();
};

} // namespace Quil
