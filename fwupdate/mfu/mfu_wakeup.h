// What a unit's link calls on the MFU task's owner: wake the task for the
// unit at an index (from the socket service's thread), and read a unit's
// version error flag.
#pragma once

#include <cstdint>

class MFUTaskWakeupIF {
public:
    // Sets the unit's wake bit on the MFU task; 0x80000000 for a bad index.
    virtual int32_t wake(uint32_t index) = 0;
    // The version error flag of the unit's command link (0 when none); not
    // from the MFU task.
    virtual int32_t versionErrorFlag(uint32_t index) = 0;
    virtual ~MFUTaskWakeupIF() = default;
};
