#include "device/link/dev_mavik.h"

#include <iterator>

namespace Quil {

namespace {

constexpr ScpParamRow kMavikRows[MAVIK_PARAMETER_COUNT] = {
    {"Current", "SRC/On", "IO:Current/SRC/On", -1, -1, RXTX},
    {"Current", "Dev/ExtCtrl/On", "IO:Current/Dev/ExtCtrl/On", -1, -1, RX},
    {"Current", "SRCClock_MADI/LockUnlock", "IO:Current/SRCClock_MADI/LockUnlock", -1, -1, RX},
    {"Current", "InputRate/Fs", "IO:Current/InputRate/Fs", -1, -1, RX},
    {"Current", "InputRate/FsRate", "IO:Current/InputRate/FsRate", -1, -1, RXTX},
    {"Current", "SRCInputClock/Source", "IO:Current/SRCInputClock/Source", -1, -1, RXTX},
    {"Current", "SRCClock_WCLKIN/LockUnlock", "IO:Current/SRCClock_WCLKIN/LockUnlock", -1, -1, RX},
    {"Current", "InStatus/Frame", "IO:Current/InStatus/Frame", -1, -1, RX},
    {"Current", "InStatus/Channel", "IO:Current/InStatus/Channel", -1, -1, RX},
    {"Current", "OutStatus/Frame", "IO:Current/OutStatus/Frame", -1, -1, RX},
    {"Current", "OutStatus/Channel", "IO:Current/OutStatus/Channel", -1, -1, RX},
    {"Current", "Dev/SystemStatus", "IO:Current/Dev/SystemStatus", -1, -1, RX},
    {"Current", "Dev/SyncStatus", "IO:Current/Dev/SyncStatus", -1, -1, RX},
    {"Current", "Dev/MasterWCLK/Sel", "IO:Current/Dev/MasterWCLK/Sel", -1, -1, RXTX},
    {"Current", "Dev/MasterWCLK_WCLKIN/LockUnlock", "IO:Current/Dev/MasterWCLK_WCLKIN/LockUnlock", -1, -1, RX},
    {"Current", "Dev/MasterWCLK_MADI/LockUnlock", "IO:Current/Dev/MasterWCLK_MADI/LockUnlock", -1, -1, RX},
    {"Current", "Dev/MasterWCLK_Dante/LockUnlock", "IO:Current/Dev/MasterWCLK_Dante/LockUnlock", -1, -1, RX},
    {"Current", "Dev/MasterWCLK_Dante/Fs", "IO:Current/Dev/MasterWCLK_Dante/Fs", -1, -1, RX},
    {"Current", "Dev/MasterWCLK/Fs", "IO:Current/Dev/MasterWCLK/Fs", -1, -1, RX},
    {"Event", "Dev/Identify", "IO:Event/Dev/Identify", -1, -1, RXTX},
    {"Current", "Dev/CurrIPSelectMode", "IO:Current/Dev/IPSelectMode", -1, -1, RX},
    {"Current", "Dev/CurrIPAddress", "IO:Current/Dev/IPAddress", 1, -1, RX},
    {"Current", "Dev/CurrSubnetMask", "IO:Current/Dev/SubnetMask", 1, -1, RX},
    {"Current", "Dev/CurrDefaultGateway", "IO:Current/Dev/DefaultGateway", 1, -1, RX},
    {"Current", "Dev/NextIPSelectMode", "IO:NextBoot/Dev/IPSelectMode", -1, -1, RXTX},
    {"Current", "Dev/NextIPAddress", "IO:NextBoot/Dev/IPAddress", 1, -1, RXTX},
    {"Current", "Dev/NextSubnetMask", "IO:NextBoot/Dev/SubnetMask", 1, -1, RXTX},
    {"Current", "Dev/NextDefaultGateway", "IO:NextBoot/Dev/DefaultGateway", 1, -1, RXTX},
};

// Rows 1 and 13-18 have three places and rows 11-12 none: every place is
// filled from the four path indices, so these need no special case.
constexpr ScpPathFormat kMavikFormats[MAVIK_PARAMETER_COUNT] = {
    {"/Current/SRC:%d/On:%d", 1, 1},
    {"/Current/Dev:%d/ExtCtrl:%d/On:%d", 1, 1},
    {"/Current/SRCClock_MADI:%d/LockUnlock:%d", 1, 1},
    {"/Current/InputRate:%d/Fs:%d", 1, 1},
    {"/Current/InputRate:%d/FsRate:%d", 1, 1},
    {"/Current/SRCInputClock:%d/Source:%d", 1, 1},
    {"/Current/SRCClock_WCLKIN:%d/LockUnlock:%d", 1, 1},
    {"/Current/InStatus:%d/Frame:%d", 1, 1},
    {"/Current/InStatus:%d/Channel:%d", 1, 1},
    {"/Current/OutStatus:%d/Frame:%d", 1, 1},
    {"/Current/OutStatus:%d/Channel:%d", 1, 1},
    {"/Current/Dev:0/SystemStatus:0", 1, 1},
    {"/Current/Dev:0/SyncStatus:0", 1, 1},
    {"/Current/Dev:%d/MasterWCLK:%d/Sel:%d", 1, 1},
    {"/Current/Dev:%d/MasterWCLK_WCLKIN:%d/LockUnlock:%d", 1, 1},
    {"/Current/Dev:%d/MasterWCLK_MADI:%d/LockUnlock:%d", 1, 1},
    {"/Current/Dev:%d/MasterWCLK_Dante:%d/LockUnlock:%d", 1, 1},
    {"/Current/Dev:%d/MasterWCLK_Dante:%d/Fs:%d", 1, 1},
    {"/Current/Dev:%d/MasterWCLK:%d/Fs:%d", 1, 1},
    {"/Event/Dev:%d/Identify:%d", 1, 1},
    {"/Current/Dev:%d/CurrIPSelectMode:%d", 1, 1},
    {"/Current/Dev:%d/CurrIPAddress:%d", 1, 4},
    {"/Current/Dev:%d/CurrSubnetMask:%d", 1, 4},
    {"/Current/Dev:%d/CurrDefaultGateway:%d", 1, 4},
    {"/Current/Dev:%d/NextIPSelectMode:%d", 1, 1},
    {"/Current/Dev:%d/NextIPAddress:%d", 1, 4},
    {"/Current/Dev:%d/NextSubnetMask:%d", 1, 4},
    {"/Current/Dev:%d/NextDefaultGateway:%d", 1, 4},
};

// Reset at disconnect and detach: everything but the identify event. Every
// element is reset, so no address keeps the unit's old bytes behind a
// default first byte.
constexpr int32_t kMavikResetList[]
    = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 22, 23, 24, 25, 26, 27};

constexpr IoAssoRow kMavikAsso[] = {
    {0, 1},
    {1, 1},
    {2, 1},
    {3, 1},
    {4, 1},
    {5, 1},
    {6, 1},
    {7, 1},
    {8, 1},
    {9, 1},
    {10, 1},
    {11, 1},
    {12, 1},
    {13, 1},
    {14, 1},
    {15, 1},
    {16, 1},
    {17, 1},
    {18, 1},
    {19, 1},
    {20, 1},
    {21, 4},
    {22, 4},
    {23, 4},
    {24, 1},
    {25, 4},
    {26, 4},
    {27, 4},
};

} // namespace

ScpParameter_Mavik::ScpParameter_Mavik(QObject* parent)
    : ScpParameter_Io(
        {kMavikRows, kMavikFormats, MAVIK_PARAMETER_COUNT, kMavikResetList, std::size(kMavikResetList)}, parent)
{
}

MavikAssoSeq::MavikAssoSeq()
    : IoAssoSeq(kMavikAsso, std::size(kMavikAsso))
{
}

} // namespace Quil
