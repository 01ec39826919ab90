// The simulated unit: a memory built from a layout, answering SCP on a TCP
// port through the server command set, pushing NOTIFY lines for its own
// value changes, with fault knobs. One loop thread serves every connection;
// the control operations may be called from any thread.
//
// Write sources on the unit: a client's set is stored as a link write
// (source 2), the unit's own edits (setLocal) as local writes (source 1).
// The loop pulls what key 2 sees, i.e. the local edits, and sends each to
// every client as "NOTIFY set ...". A client's own set is answered, not
// echoed.
#pragma once

#include "scp/scp_server_session.h"
#include "tests/sim/sim_devlog.h"
#include "tests/sim/sim_memory.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace simtest {

struct SimUnitConfig {
    std::string layoutPath;
    std::string address = "127.0.0.1"; // listening address
    uint16_t port = 0; // 0: any free port
    std::string unitId = "1";
    std::string model = "SimRack";
    std::string mac = "02:53:00:00:00:01";
    // Meter addresses the unit knows, in meter index order.
    std::vector<std::string> meters = {"meter/in", "meter/out"};
    // Items per meter line, by meter index; while a connection's mtrstart
    // holds, every meter with items sends a line each meterPeriodMs.
    std::vector<uint32_t> meterItems;
    int meterPeriodMs = 50;
    // Each item's level rises and falls on its own phase instead of the one
    // fixed level, so a person watching the demo sees meters move.
    bool movingMeters = false;
    // devinfo and devstatus answers by tag; a tag not listed falls back to
    // the built-in answers.
    std::map<std::string, std::string> devInfo;
    std::map<std::string, std::string> devStatus;
    // LISTITEMNUM answers by category: {number, head, tail}. The unit
    // answers LISTITEMNUM and LISTITEM itself; LISTITEM gives
    // "<category> item <index>".
    std::map<std::string, std::array<int32_t, 3>> lists;
    // Called on the loop thread. When set: the text of LISTITEM <category>
    // <index> for a configured list, instead of "<category> item <index>".
    std::function<std::string(const std::string& category, int32_t index)> listItemText;
    // Request lines (without the line end) for which it returns true get no
    // answer at all, as from a unit that lost them.
    std::function<bool(const std::string& line)> dropRequest;
    // Every event request the unit answers (id, data without quotes).
    std::function<void(const std::string& eventId, const std::string& data)> onEvent;
    // A third-generation unit's log (SimDeviceLog): its files, the time each
    // takes to collect, the upload's timings. No files: no such log, and the
    // summaries answer from `lists`.
    std::vector<SimLogFile> logFiles;
    int logItemMs = 500;
    SimTftpTimings tftpTimings;
};

// Answers devinfo and devstatus from the configured tags, else devinfo
// "productname", "unitid", "mac" and devstatus "runmode".
class SimDevice : public SCP::ScpDeviceReporter {
public:
    explicit SimDevice(const SimUnitConfig& config)
        : m_config(config)
    {
    }
    JResult deviceInfo(int32_t id, SCP::ScpText& data, const SCP::ScpText& tag) override;
    JResult deviceStatus(int32_t id, SCP::ScpText& data, const SCP::ScpText& tag) override;
    JResult event(int32_t id, const SCP::ScpText& eventId, const SCP::ScpText& data) override;
    // The run mode it answers, over the configured one (on the loop thread).
    void setRunmode(std::function<std::string()> runmode) { m_runmode = std::move(runmode); }
    // The unit's own handling of every event it answers, beside onEvent.
    void setUnitEvent(std::function<void(const std::string& eventId, const std::string& data)> handler)
    {
        m_unitEvent = std::move(handler);
    }

private:
    const SimUnitConfig& m_config;
    std::function<void(const std::string& eventId, const std::string& data)> m_unitEvent;
    std::function<std::string()> m_runmode;
};

// Knows the configured meters by address and index; any other is unknown.
class SimMeter : public SCP::ScpMeterReporter {
public:
    explicit SimMeter(const SimUnitConfig& config)
        : m_config(config)
    {
    }
    JResult indexOf(int32_t& meterIndex, const SCP::ScpText& address) override;
    JResult nameOf(SCP::ScpText& address, int32_t meterIndex) override;
    JResult getMeterCount(int32_t& count) override;

private:
    const SimUnitConfig& m_config;
};

struct SimUnitStats {
    uint64_t accepted = 0; // connections taken
    uint64_t lines = 0; // request lines answered or refused
    uint64_t notifies = 0; // NOTIFY lines sent (per connection)
    size_t connections = 0; // open now
    int64_t lastNotifyNs = 0; // when the last NOTIFY line was handed to the socket
    uint64_t meterLines = 0; // NOTIFY mtr lines sent
    std::map<std::string, uint64_t> words; // request lines per command word, as received
};

class SimUnit {
public:
    SimUnit();
    ~SimUnit();
    SimUnit(const SimUnit&) = delete;
    SimUnit& operator=(const SimUnit&) = delete;

    // Loads the layout, listens and starts the loop. 0, or a negative code
    // with *why filled.
    JResult start(const SimUnitConfig& config, std::string* why);
    void stop();

    uint16_t port() const { return m_port; }
    SimMemory& memory() { return m_memory; }
    const SimUnitConfig& config() const { return m_config; }
    // The third-generation log, null without log files.
    const SimDeviceLog* deviceLog() const { return m_log.get(); }
    SimUnitStats stats() const;

    // The unit's own edit of one cell (by name path); the field's result.
    JResult setLocal(const std::string& path, int32_t x, int32_t y, const JLIB::JVariant& value);

    // Fault knobs.
    void stall(int milliseconds); // hold every request until then
    void errorNext(); // answer the next request "ERROR <word>"
    void closeMidLine(); // send half of the next line, then close
    void splitLines(bool on); // every line in two writes with a pause
    void goSilent(bool on); // read and drop requests, send nothing
    void closeAll(); // close every connection
    void resetAll(); // close every connection with a reset (RST)
    void setMeterLevel(uint8_t level); // the byte every meter item carries
    // Firmware-update mode: "set IO:Current/Dev/QuillonFWUpdateMode" 1 or 0
    // switches the run mode to "update" or "normal" and tells it with a
    // NOTIFY devstatus runmode; silent, the unit takes the set and never
    // switches.
    void fwModeSilent(bool on);
    std::string runmode() const;

private:
    struct Connection;
    void loop();
    void wake();
    void acceptAll();
    // False when the connection must go.
    bool readFrom(Connection& c);
    bool handleLines(Connection& c);
    bool sendLine(Connection& c, const std::string& bytes);
    void pushNotifies();
    void pushMeters();
    // Lines the unit answers itself (LISTITEMNUM, LISTITEM); false when the
    // session must answer. Tracks mtrstart and mtrstop.
    bool answerOwnWords(Connection& c, const std::string& line, std::string* reply);
    // The firmware-update parameters: the mode and the two progress values.
    bool answerUpdateMode(const std::vector<std::string>& words, std::string* reply);
    // LISTITEMNUM and LISTITEM of the third-generation log's lists.
    bool answerLog(const std::vector<std::string>& words, std::string* reply);
    void countWord(const std::string& line);

    SimUnitConfig m_config;
    SimMemory m_memory;
    std::unique_ptr<SimParameter> m_parameter;
    std::unique_ptr<SimDevice> m_device;
    std::unique_ptr<SimDeviceLog> m_log;
    SimMeter m_meter{m_config};
    int m_listen = -1;
    int m_wake = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::vector<std::unique_ptr<Connection>> m_connections; // loop thread only

    mutable std::mutex m_lock; // knobs and stats
    int64_t m_stallUntilMs = 0;
    bool m_errorNext = false;
    bool m_closeMid = false;
    bool m_split = false;
    bool m_silent = false;
    bool m_closeAll = false;
    bool m_reset = false;
    uint8_t m_meterLevel = 0x40;
    std::string m_runmode = "normal";
    bool m_fwModeSilent = false;
    SimUnitStats m_stats;
};

// Milliseconds on the monotonic clock.
int64_t simNowMs();

} // namespace simtest
