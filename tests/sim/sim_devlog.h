// What a Brox unit keeps of its own history, and how it hands it over.
//
// Second generation: two summaries read line by line (LISTITEMNUM and
// LISTITEM of "IO:_CurSummary" and "IO:_EvtSummary").
//
// Third generation (SimDeviceLog): the event "logging" with "start" makes the
// unit collect its log files; "IO:_CurSummary" then has one item per file,
// each item's text its progress in percent, rising to 100 over itemMs one
// file after the other. The event "tftpuri" with "tftp://ADDRESS:PORT" makes
// it upload the files one by one by TFTP; "IO:_EvtSummary" has one item per
// file, each its transfer progress: 100 once the server acknowledged the
// last block, -1 when the upload failed.
#pragma once

#include "tests/sim/sim_tftp.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace simtest {

struct SimUnitConfig;

struct SimLogFile {
    std::string name;
    std::string bytes;
};

// The unit's state as summary lines ("KEY = value") and its event history
// (time-stamped lines), from its model, names and information tags.
std::vector<std::string> simCurrentSummary(const SimUnitConfig& unit);
std::vector<std::string> simEventSummary(const SimUnitConfig& unit);
// The third-generation unit's log files: the two summaries, CR LF lines.
std::vector<SimLogFile> simLogFiles(const SimUnitConfig& unit);

class SimDeviceLog {
public:
    // Uploads go from `localAddress`, the unit's own.
    SimDeviceLog(std::vector<SimLogFile> files, int itemMs, std::string localAddress, SimTftpTimings timings);
    ~SimDeviceLog(); // stops an upload in progress
    SimDeviceLog(const SimDeviceLog&) = delete;
    SimDeviceLog& operator=(const SimDeviceLog&) = delete;

    // An event request the unit took (data without quotes).
    void event(const std::string& eventId, const std::string& data);
    // Whether LISTITEMNUM and LISTITEM of this category are the log's.
    static bool answers(const std::string& category);
    // {number, head, tail} of the category's list.
    std::array<int32_t, 3> count() const;
    // The item's text; false for an index outside the list.
    bool item(const std::string& category, int32_t index, std::string* text) const;

    const std::vector<SimLogFile>& files() const { return m_files; }
    // Why the last upload failed; empty when none did.
    std::string lastError() const;

private:
    int32_t loggingPercent(size_t file) const;
    void upload(SimTftpTarget target);
    void joinUpload();

    const std::vector<SimLogFile> m_files;
    const int m_itemMs;
    const std::string m_localAddress;
    const SimTftpTimings m_timings;
    std::atomic<int64_t> m_loggingSinceMs{-1}; // -1: not asked to log
    std::unique_ptr<std::atomic<int32_t>[]> m_transfer; // percent per file
    std::atomic<bool> m_uploading{false};
    std::atomic<bool> m_stop{false};
    std::thread m_upload;
    mutable std::mutex m_lock;
    std::string m_lastError;
};

} // namespace simtest
