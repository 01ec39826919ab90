// The Mavik family's adapters: a 28-parameter table of unit state, clocks
// and network settings, some with three-level or literal paths; no meters,
// no conversions, no fix after association.
#pragma once

#include "device/link/dev_iofamily.h"

namespace Quil {

constexpr int32_t MAVIK_PARAMETER_COUNT = 28;

class ScpParameter_Mavik : public ScpParameter_Io {
    Q_OBJECT

public:
    explicit ScpParameter_Mavik(QObject* parent = nullptr);
};

class ScpDeviceReporter_Mavik : public ScpDeviceReporter_Io { };

// No meters: the link sends no meter subscriptions.
class ScpMeterReporter_Mavik : public ScpMeterReporter_Quil { };

// 28 rows, 46 gets.
class MavikAssoSeq final : public IoAssoSeq {
public:
    MavikAssoSeq();
};

} // namespace Quil
