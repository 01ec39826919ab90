// A simulated Brox unit's answers: its status, information and three
// meters, as a device link expects them to negotiate and subscribe.
#pragma once

#include "tests/sim/sim_unit.h"

namespace simtest {

inline void useBroxAnswers(SimUnitConfig* unit)
{
    unit->meters = {"IO:Current/Dev/InputLevel", "IO:Current/Dev/OutputLevel", "IO:Current/Dev/PhonesLevel"};
    unit->meterItems = {32, 24, 2};
    unit->devStatus = {{"runmode", "normal"}, {"error", "nothing"}};
    unit->devInfo = {{"protocolver", "1.0"}, {"paramsetver", "2.1"}, {"version", "V1.30"}, {"productname", "BroxL-D2"},
        {"manufacturer", "Quillon"}, {"category", "IO"}, {"deviceid", "5"}, {"devicename", "Stage Left"},
        {"inputport", "32"}, {"outputport", "24"}};
}

} // namespace simtest
