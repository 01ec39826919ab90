// A unit's link state as its memory holds it, in the "DevState" function
// every family shares: the connection writes ConnectionState, the rack owner
// SlotState and DeviceNum, and the requests are how the rack owner drives
// the connection. One table, so writers and readers name the same elements.
#pragma once

#include <cstdint>

namespace Quil {

enum class ConnectionState : int32_t {
    Disconnected = 0,
    Connecting = 1, // negotiating or reading the unit's parameters
    Connected = 2,
    Disconnecting = 3,
};

enum class SlotState : int32_t {
    Empty = 0, // never written: nothing mounted yet
    Virtual = 1, // mounted with no unit's connection behind it
    Attached = 2, // a found unit's connection serves the slot
};

inline constexpr char kConnectionStatePath[] = "/DevState/devstate:0/ConnectionState:0";
inline constexpr char kSlotStatePath[] = "/DevState/devstate:0/SlotState:0";
inline constexpr char kConnectReqPath[] = "/DevState/devstate:0/ConnectReq:0";
inline constexpr char kDisconnectReqPath[] = "/DevState/devstate:0/DisconnectReq:0";
// How many found units claim the slot; more than one shows a duplicate.
inline constexpr char kDeviceNumPath[] = "/DevState/devstate:0/DeviceNum:0";

// The value stored in memory.
constexpr int32_t stateValue(ConnectionState state)
{
    return static_cast<int32_t>(state);
}
constexpr int32_t stateValue(SlotState state)
{
    return static_cast<int32_t>(state);
}

} // namespace Quil
