#include "device/layouts/dev_iotable.h"

#include <cmath>
#include <cstring>

namespace Quil {
namespace {

// R40 preferred numbers. Entries 5..7 hold the single-precision values the
// units were tuned with.
constexpr double kHpfTable[kHpfCount] = {16, 17, 18, 19, 20, double(21.2f), double(22.4f), double(23.6f), 25, 26.5, 28,
    30, 31.5, 33.5, 35.5, 37.5, 40, 42.5, 45, 47.5, 50, 53, 56, 60, 63, 67, 71, 75, 80, 85, 90, 95, 100, 106, 112, 118,
    125, 132, 140, 150, 160, 170, 180, 190, 200, 212, 224, 236, 250, 265, 280, 300, 315, 335, 355, 375, 400, 425, 450,
    475, 500, 530, 560, 600, 630, 670, 710, 750, 800, 850, 900, 950, 1000, 1060, 1120, 1180, 1250, 1320, 1400, 1500,
    1600, 1700, 1800, 1900, 2000, 2120, 2240, 2360, 2500, 2650, 2800, 3000, 3150, 3350, 3550, 3750, 4000, 4250, 4500,
    4750, 5000, 5300, 5600, 6000, 6300, 6700, 7100, 7500, 8000, 8500, 9000, 9500, 10000, 10600, 11200, 11800, 12500,
    13200, 14000, 15000, 16000, 17000, 18000, 19000, 20000, 21200, 22400, 23600};

constexpr const char* kHpfIoName = "IO:Current/InCh/HPFFreq";

constexpr IoTableRow kIoTable[] = {
    {"Backup", "InCh/48VOn", 2, "IO:Current/InCh/48VOn", 0, -1, 0x101, "/Backup/InCh:%d/48VOn:0"},
    {"Backup", "InCh/HPFOn", 2, "IO:Current/InCh/HPFOn", 0, -1, 0x101, "/Backup/InCh:%d/HPFOn:0"},
    {"Backup", "InCh/GainCompOn", 2, "IO:Current/InCh/GainCompOn", 0, -1, 0x101, "/Backup/InCh:%d/GainCompOn:0"},
    {"Backup", "InCh/HPFFreq", 2, "IO:Current/InCh/HPFFreq", 0, -1, 0x101, "/Backup/InCh:%d/HPFFreq:0"},
    {"Backup", "InCh/HAGain", 2, "IO:Current/InCh/HAGain", 0, -1, 0x101, "/Backup/InCh:%d/HAGain:0"},
    {"Backup", "InCh/CompGain", 2, "IO:Current/InCh/CompGain", 0, -1, 0x101, "/Backup/InCh:%d/CompGain:0"},
    {"Backup", "OutCh/DelayOn", 2, "IO:Current/OutCh/DelayOn", 0, -1, 0x101, "/Backup/OutCh:%d/DelayOn:0"},
    {"Backup", "OutCh/DelayTime", 2, "IO:Current/OutCh/DelayTime", 0, -1, 0x101, "/Backup/OutCh:%d/DelayTime:0"},
    {"Backup", "OutCh/Polarity", 2, "IO:Current/OutCh/Polarity", 0, -1, 0x101, "/Backup/OutCh:%d/Polarity:0"},
    {"Backup", "OutCh/GainLevel", 2, "IO:Current/OutCh/GainLevel", 0, -1, 0x101, "/Backup/OutCh:%d/GainLevel:0"},
    {"Backup", "OutChAES/DelayOn", 2, "IO:Current/OutCh/AES/DelayOn", 0, -1, 0x101, "/Backup/OutChAES:%d/DelayOn:0"},
    {"Backup", "OutChAES/DelayTime", 2, "IO:Current/OutCh/AES/DelayTime", 0, -1, 0x101,
        "/Backup/OutChAES:%d/DelayTime:0"},
    {"Backup", "OutChAES/Polarity", 2, "IO:Current/OutCh/AES/Polarity", 0, -1, 0x101, "/Backup/OutChAES:%d/Polarity:0"},
    {"Backup", "OutChAES/GainLevel", 2, "IO:Current/OutCh/AES/GainLevel", 0, -1, 0x101,
        "/Backup/OutChAES:%d/GainLevel:0"},
    {"Backup", "Headphone/Mono", 2, "IO:Current/Headphone/Mono", 0, -1, 0x101, "/Backup/Headphone:%d/Mono:0"},
    {"Backup", "Headphone/Assign", 2, "IO:Current/Headphone/Assign", 0, -1, 0x101, "/Backup/Headphone:%d/Assign:0"},
    {"Current", "Dev/48VMasterOn", 2, "IO:Current/Dev/48VMasterOn", -1, -1, 0x100, nullptr},
    {"Current", "Dev/48VLeaderOn", 2, "IO:Current/Dev/48VLeaderOn", -1, -1, 0x100, nullptr},
    {"Current", "Dev/48VActiveOn", 2, "IO:Current/Dev/48VActiveOn", -1, -1, 0x100, nullptr},
    {"Current", "Dev/MuteOn", 2, "IO:Current/Dev/MuteOn", -1, -1, 0x101, nullptr},
    {"Current", "Dev/WordclockFs", 2, "IO:Current/Dev/Wordclock/Fs", -1, -1, 0x100, nullptr},
    {"Current", "Dev/OutputImpedance", 2, "IO:Current/Dev/OutputImpedance", -1, -1, 0x101, nullptr},
    {"Current", "Dev/CurrIPSelectMode", 2, "IO:Current/Dev/IPSelectMode", -1, -1, 0x100, nullptr},
    {"Current", "Dev/CurrIPAddress", 2, "IO:Current/Dev/IPAddress", 1, -1, 0x100, nullptr},
    {"Current", "Dev/CurrSubnetMask", 2, "IO:Current/Dev/SubnetMask", 1, -1, 0x100, nullptr},
    {"Current", "Dev/CurrDefaultGateway", 2, "IO:Current/Dev/DefaultGateway", 1, -1, 0x100, nullptr},
    {"Current", "Dev/NextIPSelectMode", 2, "IO:NextBoot/Dev/IPSelectMode", -1, -1, 0x100, nullptr},
    {"Current", "Dev/NextIPAddress", 2, "IO:NextBoot/Dev/IPAddress", 1, -1, 0x101, nullptr},
    {"Current", "Dev/NextSubnetMask", 2, "IO:NextBoot/Dev/SubnetMask", 1, -1, 0x101, nullptr},
    {"Current", "Dev/NextDefaultGateway", 2, "IO:NextBoot/Dev/DefaultGateway", 1, -1, 0x101, nullptr},
    {"Current", "Dev/ExecMode", 2, "IO:Current/Dev/ExecMode", -1, -1, 0x100, nullptr},
    {"Current", "Dev/SystemStatus", 2, "IO:Current/Dev/SystemStatus", -1, -1, 0x100, nullptr},
    {"Current", "Dev/SyncStatus", 2, "IO:Current/Dev/SyncStatus", -1, -1, 0x100, nullptr},
    {"Event", "Dev/Identify", 2, "IO:Event/Dev/Identify", -1, -1, 0x101, nullptr},
    {"Event", "InCh/Identify", 2, "IO:Event/InCh/Identify", 0, -1, 0x101, nullptr},
    // Written with a lower-case "o"; only the IO name and the format are used.
    {"Event", "outCh/Identify", 2, "IO:Event/OutCh/Identify", 0, -1, 0x101, nullptr},
};
static_assert(sizeof(kIoTable) / sizeof(kIoTable[0]) == 36, "36 rows");

} // namespace

double hpfFrequencyAt(int index)
{
    if (index < 0)
        return kHpfTable[0];
    if (index >= kHpfCount)
        return kHpfTable[kHpfCount - 1];
    return kHpfTable[index];
}

int hpfNearestIndex(double frequency)
{
    int low = 0;
    int high = kHpfCount - 1;
    while (low < high - 1) {
        const int mid = (low + high + 1) / 2;
        if (frequency < kHpfTable[mid])
            high = mid;
        else
            low = mid;
    }
    return std::fabs(kHpfTable[high] - frequency) > std::fabs(kHpfTable[low] - frequency) ? low : high;
}

const IoTableRow* ioTable(size_t* count)
{
    if (count)
        *count = sizeof(kIoTable) / sizeof(kIoTable[0]);
    return kIoTable;
}

JResult convertIoParameter(const char* ioName, int channel, int32_t value, QString* outPath, int32_t* outValue)
{
    if (!ioName || !outPath || !outValue)
        return DEV_E_FAIL;
    for (const IoTableRow& row : kIoTable) {
        if (std::strcmp(row.ioName, ioName) != 0)
            continue;
        *outPath = row.pathFormat
            ? QString::fromLatin1(row.pathFormat).replace(QLatin1String("%d"), QString::number(channel))
            : QString();
        *outValue = std::strcmp(row.ioName, kHpfIoName) == 0 ? hpfNearestIndex(value / 10.0) : value;
        return DEV_OK;
    }
    return DEV_E_FAIL;
}

} // namespace Quil
