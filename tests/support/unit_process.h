// Simulated units as processes in the namespace bed's peer namespace: each
// on its own address 198.18.0.<host>, with its own MAC and unit id,
// announcing by JSDP and serving SCP on 49280, driven through a control FIFO.
//
//     qtest::NetnsBed bed;
//     qtest::UnitRack rack(bed);
//     qtest::UnitSpec brox; brox.modelType = 8; brox.host = 2;
//     ASSERT_TRUE(rack.start({brox})) << rack.error();
//     rack[1].fault(qtest::UnitFault::Silent);
//
// A program that uses these needs the quillon_simunit program built first:
// add_dependencies(<test> quillon_simunit) in its CMakeLists.txt.
#pragma once

#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qtest {

// What one unit is. Everything left empty is derived from the host number,
// so that units of one rack never share an address, a MAC or a unit id.
struct UnitSpec {
    int modelType = 8; // 1 to 12, as the device layer numbers them; 0 for a
                       // plain unit of the given model and layout
    int host = 2; // the unit's address is 198.18.0.<host>, 2 to 254
    std::string deviceName = "Rack Unit";
    std::string unitId; // empty: "J0" and the host as two hex digits
    std::string mac; // empty: 02:53:00:00:00:<host>
    std::string model; // empty: the model name of modelType
    std::string layout; // empty: the family's layout under tests/sim/layouts
    int announcePeriodMs = 200;
    std::string version; // empty: the unit reports no firmware version
    std::string runmode; // empty: "normal"; "update" starts it in firmware-update mode
};

// The unit's fault switches.
enum class UnitFault {
    Close, // drops its SCP connections with a close
    Reset, // drops them with a reset
    Silent, // stops announcing and answering, keeps the connections open
};

// "BroxL-D" ... for 1 to 12; empty otherwise.
std::string unitModelName(int modelType);
// "198.18.0.<host>".
std::string unitAddress(int host);

class UnitProcess {
public:
    static constexpr uint16_t kScpPort = 49280;

    // Adds the unit's address in the peer namespace, starts the process
    // and launches it; waitReady() then waits for it to serve.
    UnitProcess(const NetnsBed& bed, const TempDir& dir, const UnitSpec& spec);
    // A clean stop when still running.
    ~UnitProcess();
    UnitProcess(const UnitProcess&) = delete;
    UnitProcess& operator=(const UnitProcess&) = delete;

    // Waits at most timeoutMs until the unit serves SCP; false (and error())
    // when it did not.
    bool waitReady(int timeoutMs = 10000);
    bool ready() const { return m_control >= 0; }
    const std::string& error() const { return m_error; }

    const UnitSpec& spec() const { return m_spec; }
    const std::string& address() const { return m_address; }
    const std::string& mac() const { return m_spec.mac; }
    const std::string& unitId() const { return m_spec.unitId; }
    const std::string& model() const { return m_spec.model; }

    // Sends a control line and returns the first answer that starts with
    // prefix; empty after timeoutMs or when the unit is gone.
    std::string ask(const std::string& line, const std::string& prefix, int timeoutMs = 5000);
    // The unit's own edit: true when its memory took it. `value` is a decimal
    // number or a quoted text.
    bool set(const std::string& path, int x, int y, const std::string& value);
    // The unit's value as text; empty when it did not answer.
    std::string value(const std::string& path, int x, int y);
    // Counters of the unit: accepted, lines, notifies, connections and the
    // request lines per command word ("set", "get", "mtrstart" ...).
    std::map<std::string, uint64_t> stats();
    bool fault(UnitFault fault);
    // Silent: a firmware-update mode set is taken but never switches the
    // unit's run mode.
    bool fwModeSilent(bool on);
    // "normal" or "update"; empty when the unit did not answer.
    std::string runmode();
    // The byte every meter item carries from now on (0 to 255).
    bool setMeterLevel(int level);

    // Clean stop: the unit closes everything and exits.
    void stop();
    // Silent loss: the process dies at once (the kernel still closes its
    // sockets; it sends no goodbye of its own).
    void kill();
    bool running() const { return m_child != nullptr; }

private:
    friend class UnitRack;
    bool send(const std::string& line);

    UnitSpec m_spec;
    std::string m_address;
    std::string m_fifo;
    std::unique_ptr<ChildProcess> m_child;
    int m_control = -1;
    std::string m_error;
};

// Many units at once, started in parallel and stopped together.
class UnitRack {
public:
    explicit UnitRack(const NetnsBed& bed);
    ~UnitRack();
    UnitRack(const UnitRack&) = delete;
    UnitRack& operator=(const UnitRack&) = delete;

    // Starts every unit, then waits (bounded) until each serves SCP. False,
    // with error(), when one did not.
    bool start(const std::vector<UnitSpec>& specs, int timeoutMs = 20000);
    // Starts one more unit (or a unit again, after stop or kill) and waits.
    bool add(const UnitSpec& spec, int timeoutMs = 10000);
    // Replaces unit i by a fresh process of the same spec.
    bool restart(size_t i, int timeoutMs = 10000);

    size_t size() const { return m_units.size(); }
    UnitProcess& operator[](size_t i) { return *m_units.at(i); }
    const std::string& error() const { return m_error; }

    void stopAll();

private:
    const NetnsBed& m_bed;
    TempDir m_dir;
    std::vector<std::unique_ptr<UnitProcess>> m_units;
    std::string m_error;
};

} // namespace qtest
