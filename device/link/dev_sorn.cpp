#include "device/link/dev_sorn.h"

#include <iterator>

namespace Quil {

namespace {

// Rows 22 and 23 name "Slot/InputPortNum" and "Slot/OutputPortNum" while
// memory calls them SLOTInputPortNum and SLOTOutputPortNum: both only
// receive, and their paths come from the formats, so only a search by name
// path misses them.
constexpr ScpParamRow kSornRows[SORN_PARAMETER_COUNT] = {
    {"Current", "Dev/WordClockSelect", "IO:Current/Dev/MasterWCLK/Sel", -1, -1, RXTX},
    {"Current", "Dev/MasterWCLKLockStatus", "IO:Current/Dev/MasterWCLKLockStatus", -1, -1, RX},
    {"Current", "Dev/RoutingPattern", "IO:Current/Dev/RoutingPattern", -1, -1, RX},
    {"Current", "Dev/PowerOn", "IO:Current/Dev/PowerOn", 1, -1, RX},
    {"Current", "Dev/PanelLock", "IO:Current/Dev/PanelLock", -1, -1, RX},
    {"Backup", "Patch/UserPatchSrc", "IO:Current/Dev/UserPatch", 0, -1, RXTX},
    {"Current", "Dev/CurrIPSelectMode", "IO:Current/Dev/IPSelectMode", -1, -1, RX},
    {"Current", "Dev/CurrIPAddress", "IO:Current/Dev/IPAddress", 1, -1, RX},
    {"Current", "Dev/CurrSubnetMask", "IO:Current/Dev/SubnetMask", 1, -1, RX},
    {"Current", "Dev/CurrDefaultGateway", "IO:Current/Dev/DefaultGateway", 1, -1, RX},
    {"Current", "Dev/NextIPSelectMode", "IO:NextBoot/Dev/IPSelectMode", -1, -1, RX},
    {"Current", "Dev/NextIPAddress", "IO:NextBoot/Dev/IPAddress", 1, -1, RXTX},
    {"Current", "Dev/NextSubnetMask", "IO:NextBoot/Dev/SubnetMask", 1, -1, RXTX},
    {"Current", "Dev/NextDefaultGateway", "IO:NextBoot/Dev/DefaultGateway", 1, -1, RXTX},
    {"Current", "Dev/SystemStatus", "IO:Current/Dev/SystemStatus", -1, -1, RX},
    {"Current", "Dev/SyncStatus", "IO:Current/Dev/SyncStatus", -1, -1, RX},
    {"Current", "Slot/SRCOn", "IO:Current/Dev/SRCOn", 0, -1, RXTX},
    {"Current", "Slot/SRCSource", "IO:Current/Dev/SRCSource", 0, -1, RX},
    {"Current", "Slot/SRCLockStatus", "IO:Current/Dev/SRCLockStatus", 0, -1, RX},
    {"Current", "Slot/SLOTLockStatus", "IO:Current/Dev/SLOTLockStatus", 0, -1, RX},
    {"Current", "Slot/CardSRCEnable", "IO:Current/Dev/Slot/CardSRCEnable", 0, -1, RX},
    {"Current", "Slot/CardName", "IO:Current/Dev/CardName", 0, -1, RX},
    {"Current", "Slot/InputPortNum", "IO:Current/Dev/SLOTInputPortNum", 0, -1, RX},
    {"Current", "Slot/OutputPortNum", "IO:Current/Dev/SLOTOutputPortNum", 0, -1, RX},
    {"Event", "Dev/Identify", "IO:Event/Dev/Identify", -1, -1, RXTX},
};

constexpr ScpPathFormat kSornFormats[SORN_PARAMETER_COUNT] = {
    {"/Current/Dev:%d/WordClockSelect:%d", 1, 1},
    {"/Current/Dev:%d/MasterWCLKLockStatus:%d", 1, 1},
    {"/Current/Dev:%d/RoutingPattern:%d", 1, 1},
    {"/Current/Dev:%d/PowerOn:%d", 1, 2},
    {"/Current/Dev:%d/PanelLock:%d", 1, 1},
    {"/Backup/Patch:%d/UserPatchSrc:%d", 128, 1},
    {"/Current/Dev:%d/CurrIPSelectMode:%d", 1, 1},
    {"/Current/Dev:%d/CurrIPAddress:%d", 1, 4},
    {"/Current/Dev:%d/CurrSubnetMask:%d", 1, 4},
    {"/Current/Dev:%d/CurrDefaultGateway:%d", 1, 4},
    {"/Current/Dev:%d/NextIPSelectMode:%d", 1, 1},
    {"/Current/Dev:%d/NextIPAddress:%d", 1, 4},
    {"/Current/Dev:%d/NextSubnetMask:%d", 1, 4},
    {"/Current/Dev:%d/NextDefaultGateway:%d", 1, 4},
    {"/Current/Dev:0/SystemStatus:0", 1, 1},
    {"/Current/Dev:0/SyncStatus:0", 1, 1},
    {"/Current/Slot:%d/SRCOn:%d", 4, 1},
    {"/Current/Slot:%d/SRCSource:%d", 4, 1},
    {"/Current/Slot:%d/SRCLockStatus:%d", 4, 1},
    {"/Current/Slot:%d/SLOTLockStatus:%d", 4, 1},
    {"/Current/Slot:%d/CardSRCEnable:%d", 4, 1},
    {"/Current/Slot:%d/CardName:%d", 4, 1},
    {"/Current/Slot:%d/SLOTInputPortNum:%d", 4, 1},
    {"/Current/Slot:%d/SLOTOutputPortNum:%d", 4, 1},
    {"/Event/Dev:%d/Identify:%d", 1, 1},
};

// Reset at disconnect and detach: what only the unit can know.
constexpr int32_t kSornResetList[] = {3, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};

// The panel lock and the identify event are not read; the slots' SRC lock
// status comes last.
constexpr IoAssoRow kSornAsso[] = {
    {0, 1},
    {1, 1},
    {2, 1},
    {3, 2},
    {5, 128},
    {6, 1},
    {7, 4},
    {8, 4},
    {9, 4},
    {10, 1},
    {11, 4},
    {12, 4},
    {13, 4},
    {14, 1},
    {15, 1},
    {16, 4},
    {17, 4},
    {19, 4},
    {20, 4},
    {21, 4},
    {22, 4},
    {23, 4},
    {18, 4},
};

} // namespace

ScpParameter_Sorn::ScpParameter_Sorn(QObject* parent)
    : ScpParameter_Io(
        {kSornRows, kSornFormats, SORN_PARAMETER_COUNT, kSornResetList, std::size(kSornResetList)}, parent)
{
}

SornAssoSeq::SornAssoSeq()
    : IoAssoSeq(kSornAsso, std::size(kSornAsso))
{
}

} // namespace Quil
