// The high-pass frequency table of the Brox input channels, and the table
// that maps the "IO:" parameter names of version-1 setup files to memory
// paths.
#pragma once

#include "device/memory/dev_result.h"

#include <QString>

#include <cstddef>
#include <cstdint>

namespace Quil {

constexpr int kHpfCount = 128;

// The table entry in Hz (16 Hz .. 23.6 kHz); a negative index gives 16, an
// index above 127 the last entry.
double hpfFrequencyAt(int index);
// Index of the nearest entry (a tie takes the upper one); below 16 Hz gives
// 0, above 23.6 kHz 127.
int hpfNearestIndex(double frequency);

// One row of the IO table.
struct IoTableRow {
    const char* function;
    const char* namePath;
    int kind; // always 2
    const char* ioName; // "IO:Current/InCh/48VOn"
    int scope; // 0 per channel, -1 per unit, 1 the four bytes of an address
    int reserved; // always -1
    uint32_t flags; // 0x101 or 0x100
    const char* pathFormat; // "%d" takes the channel; null: no memory path
};

// The 36 rows, in order.
const IoTableRow* ioTable(size_t* count);

// The memory path and value of an "IO:" parameter: the path format of the
// first row with that name, with the channel for "%d" (empty for rows
// without one), and the value, or for "IO:Current/InCh/HPFFreq" (tenths of
// Hz) the nearest high-pass index. DEV_E_FAIL for an unknown name.
JResult convertIoParameter(const char* ioName, int channel, int32_t value, QString* outPath, int32_t* outValue);

} // namespace Quil
