#include "tests/sim/sim_devlog.h"

#include "tests/sim/sim_unit.h"

#include <algorithm>
#include <cstdio>
#include <strings.h>

namespace simtest {

namespace {

constexpr char kCurrent[] = "IO:_CurSummary";
constexpr char kEvents[] = "IO:_EvtSummary";

std::string tagOr(const std::map<std::string, std::string>& tags, const char* tag, const std::string& otherwise)
{
    const auto found = tags.find(tag);
    return found == tags.end() ? otherwise : found->second;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += line + "\r\n";
    return out;
}

} // namespace

std::vector<std::string> simCurrentSummary(const SimUnitConfig& unit)
{
    return {
        "MODEL = " + tagOr(unit.devInfo, "productname", unit.model),
        "DEVICE NAME = " + tagOr(unit.devInfo, "devicename", ""),
        "UNIT ID = " + unit.unitId,
        "FIRMWARE = " + tagOr(unit.devInfo, "version", "V1.00"),
        "MAC = " + unit.mac,
        "IP ADDRESS = " + unit.address,
        "RUN MODE = " + tagOr(unit.devStatus, "runmode", "normal"),
        "ERROR = " + tagOr(unit.devStatus, "error", "nothing"),
        "WORD CLOCK = DANTE 48kHz LOCKED",
        "FAN = NORMAL",
        "TEMPERATURE = 41C",
        "POWER SUPPLY = A:OK B:OK",
    };
}

std::vector<std::string> simEventSummary(const SimUnitConfig& unit)
{
    // A fixed history, so every run of a test or the demo reads the same.
    static const char* const kEvents[] = {"POWER ON", "DANTE LINK UP (PRIMARY)", "WORD CLOCK LOCKED 48kHz",
        "CONTROLLER CONNECTED", "PARAMETER MEMORY LOADED", "DANTE LINK UP (SECONDARY)", "+48V ON CH1-4",
        "WORD CLOCK UNLOCKED", "WORD CLOCK LOCKED 48kHz", "CONTROLLER DISCONNECTED", "CONTROLLER CONNECTED",
        "FAN SPEED HIGH", "FAN SPEED NORMAL", "POWER SUPPLY B LOST", "POWER SUPPLY B RESTORED"};
    std::vector<std::string> lines;
    int minutes = 9 * 60 + 2;
    for (size_t i = 0; i < 40; ++i) {
        const size_t day = 1 + i / 8;
        char stamp[32];
        std::snprintf(
            stamp, sizeof stamp, "2026/12/%02zu %02d:%02d:%02zu ", day, minutes / 60 % 24, minutes % 60, (i * 17) % 60);
        lines.push_back(stamp + std::string(kEvents[i % (sizeof kEvents / sizeof kEvents[0])]));
        minutes += 7 + static_cast<int>(i % 5) * 13;
    }
    lines.push_back("2026/12/06 10:15:00 LOG REQUESTED BY " + tagOr(unit.devInfo, "devicename", unit.model));
    return lines;
}

std::vector<SimLogFile> simLogFiles(const SimUnitConfig& unit)
{
    const std::string stem = tagOr(unit.devInfo, "productname", unit.model) + "_" + unit.unitId;
    return {
        {stem + "_status.log", joined(simCurrentSummary(unit))}, {stem + "_event.log", joined(simEventSummary(unit))}};
}

SimDeviceLog::SimDeviceLog(std::vector<SimLogFile> files, int itemMs, std::string localAddress, SimTftpTimings timings)
    : m_files(std::move(files))
    , m_itemMs(std::max(1, itemMs))
    , m_localAddress(std::move(localAddress))
    , m_timings(timings)
    , m_transfer(new std::atomic<int32_t>[m_files.size()])
{
    for (size_t i = 0; i < m_files.size(); ++i)
        m_transfer[i] = 0;
}

SimDeviceLog::~SimDeviceLog()
{
    m_stop = true;
    joinUpload();
}

void SimDeviceLog::joinUpload()
{
    if (m_upload.joinable())
        m_upload.join();
}

bool SimDeviceLog::answers(const std::string& category)
{
    return strcasecmp(category.c_str(), kCurrent) == 0 || strcasecmp(category.c_str(), kEvents) == 0;
}

std::array<int32_t, 3> SimDeviceLog::count() const
{
    const auto n = static_cast<int32_t>(m_files.size());
    return {n, 0, n - 1};
}

int32_t SimDeviceLog::loggingPercent(size_t file) const
{
    const int64_t since = m_loggingSinceMs.load();
    if (since < 0)
        return 0;
    // The files are collected one after the other.
    const int64_t elapsed = simNowMs() - since - static_cast<int64_t>(file) * m_itemMs;
    return static_cast<int32_t>(std::clamp<int64_t>(elapsed * 100 / m_itemMs, 0, 100));
}

bool SimDeviceLog::item(const std::string& category, int32_t index, std::string* text) const
{
    if (index < 0 || static_cast<size_t>(index) >= m_files.size())
        return false;
    const size_t file = static_cast<size_t>(index);
    const bool current = strcasecmp(category.c_str(), kCurrent) == 0;
    *text = std::to_string(current ? loggingPercent(file) : m_transfer[file].load());
    return true;
}

std::string SimDeviceLog::lastError() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lastError;
}

void SimDeviceLog::event(const std::string& eventId, const std::string& data)
{
    if (strcasecmp(eventId.c_str(), "logging") == 0 && data == "start") {
        m_loggingSinceMs = simNowMs();
        return;
    }
    // One upload at a time: a second address while one runs is not taken.
    if (strcasecmp(eventId.c_str(), "tftpuri") != 0 || m_uploading.load())
        return;
    joinUpload();
    SimTftpTarget target;
    const bool valid = simParseTftpUri(data, &target);
    for (size_t i = 0; i < m_files.size(); ++i)
        m_transfer[i] = valid ? 0 : -1;
    std::lock_guard<std::mutex> guard(m_lock);
    m_lastError = valid ? "" : "not a TFTP address: " + data;
    if (!valid)
        return;
    m_uploading = true;
    m_upload = std::thread([this, target] { upload(target); });
}

void SimDeviceLog::upload(SimTftpTarget target)
{
    std::string why;
    size_t file = 0;
    for (; file < m_files.size(); ++file) {
        const SimLogFile& f = m_files[file];
        const auto progress = [this, file, &f](size_t acked) {
            // 100 only once the last block is acknowledged.
            m_transfer[file]
                = static_cast<int32_t>(std::min<size_t>(99, acked * 100 / std::max<size_t>(1, f.bytes.size())));
        };
        if (simTftpPut(m_localAddress, target, f.name, f.bytes, m_timings, progress, m_stop, &why) < 0)
            break;
        m_transfer[file] = 100;
    }
    // A failed file ends the upload: it and every file after it report the
    // failure, so whoever polls the progress is not left waiting.
    if (file < m_files.size()) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lastError = m_files[file].name + ": " + why;
    }
    for (size_t rest = file; rest < m_files.size(); ++rest)
        m_transfer[rest] = -1;
    m_uploading = false;
}

} // namespace simtest
