// A unit's memory for the simulated unit and the test-side mirror: a locked
// field built from an XML layout, the two listener keys, and an SCP
// parameter object that maps SCP names to memory paths.
//
// Mapping (generic, no family knowledge): every memory parameter is one SCP
// parameter named "<function>:<name path>", e.g. "Sim:in/gain". Its own
// array index is x; the index of the innermost enclosing collection is y.
// Outer collections must have one element (a layout that nests arrays deeper
// is refused at load).
#pragma once

#include "mms/mms_lockedfield.h"
#include "scp/scp_contracts.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace simtest {

// The two write sources of the device link, also used as listener keys:
// source 1 is the local side (user edits, the unit's own panel), source 2 the
// device link (values that came over SCP).
constexpr uint8_t SOURCE_LOCAL = 1;
constexpr uint8_t SOURCE_LINK = 2;

// Nanoseconds on the monotonic clock.
int64_t simNowNs();

std::string toUtf8(const SCP::ScpText& text);
void fromUtf8(SCP::ScpText& text, const std::string& utf8);

// Counts trigger calls and wakes whoever waits for one.
class CountingTrigger : public MMS::IEventFlagTrigger {
public:
    JResult trigger(uint32_t own, uint32_t key, const MMS::TaskListIdentity& identity) override;
    uint64_t count() const { return m_count.load(); }
    // Monotonic time of the last call, in nanoseconds.
    int64_t lastNs() const { return m_lastNs.load(); }
    // Waits until count() exceeds `seen` or timeoutMs pass; the new count.
    uint64_t waitBeyond(uint64_t seen, int timeoutMs);

private:
    std::atomic<uint64_t> m_count{0};
    std::atomic<int64_t> m_lastNs{0};
    std::mutex m_lock;
    std::condition_variable m_cond;
};

struct SimParam {
    std::string path; // name path inside the function
    std::string address; // SCP name
    uint32_t type = 0;
    uint32_t depth = 0; // levels of the path
    int32_t xCount = 1;
    int32_t yCount = 1;
    // Limits as the layout states them (the type's range where it states
    // none); 0 for texts. Normalized values span minimum to maximum.
    int64_t minimum = 0;
    int64_t maximum = 0;
    int64_t defaultValue = 0;
};

// One element of a memory parameter as SCP addresses it.
struct SimCell {
    int32_t index = -1;
    int32_t x = 0;
    int32_t y = 0;
};

class SimMemory {
public:
    SimMemory();
    SimMemory(const SimMemory&) = delete;
    SimMemory& operator=(const SimMemory&) = delete;

    // Loads and activates the layout, registers keys 1 and 2, builds the
    // parameter table. 0, or a negative code with *why filled.
    JResult load(const std::string& xml, std::string* why);
    JResult loadFile(const std::string& path, std::string* why);

    MMS::Field& field() { return *m_field; }
    CountingTrigger& trigger() { return m_trigger; }
    const std::string& functionName() const { return m_function; }
    const std::vector<SimParam>& params() const { return m_params; }

    int32_t indexOfPath(const std::string& path) const;
    int32_t indexOfAddress(const std::string& address) const;
    bool validCell(int32_t index, int32_t x, int32_t y) const;
    // Memory index array of a cell; false when the cell is outside the layout.
    bool indexesOf(const SimCell& cell, uint32_t* indexes, uint32_t* count) const;
    // The cell of a memory element found by a change walk.
    bool cellOf(const std::string& path, const uint32_t* indexes, uint32_t count, SimCell* cell) const;

    // Values as SCP carries them: an int32 for numbers and bits, a text for
    // strings. write: the source is also the writer's key (own flag clear),
    // so a writer never sees its own change. Result of the field.
    JResult read(const SimCell& cell, JLIB::JVariant* value);
    JResult write(const SimCell& cell, const JLIB::JVariant& value, uint8_t source);
    // Value as a line carries it: decimal, or a text.
    std::string valueText(const SimCell& cell);

    // Pulls the next element changed for `key` (clearing it); false when
    // none is left.
    bool nextChanged(uint32_t key, SimCell* cell);
    // Every element currently marked for `key`, cleared.
    std::vector<SimCell> drainChanged(uint32_t key);

    // Elements in all (cells over every parameter).
    size_t cellCount() const;

private:
    JResult addParams(uint32_t* tags, uint32_t depth, std::string* why);

    CountingTrigger m_trigger;
    MMS::RecursiveMutex m_mutex;
    std::unique_ptr<MMS::Field> m_field;
    std::string m_function;
    std::vector<SimParam> m_params;
};

// The SCP parameter object over a memory: what the client's handlers and
// the server's commands call. Stores with the source given at construction.
class SimParameter : public SCP::ScpParameter {
public:
    SimParameter(SimMemory& memory, uint8_t source)
        : m_memory(memory)
        , m_source(source)
    {
    }

    JResult indexOf(int32_t& index, const SCP::ScpText& address) override;
    JResult nameOf(SCP::ScpText& address, int32_t index) override;
    JResult getParameterCount(int32_t& count) override;
    JResult storeValue(int32_t id, int32_t index, int32_t x, int32_t y, const JLIB::JVariant& value) override;
    JResult storeText(int32_t id, int32_t index, int32_t x, int32_t y, const SCP::ScpText& text) override;
    JResult storeNormalized(
        int32_t id, int32_t index, int32_t x, int32_t y, int32_t value, uint32_t resolution) override;
    JResult readNormalized(int32_t& value, uint32_t resolution, int32_t index, int32_t x, int32_t y) override;
    JResult readValue(JLIB::JVariant& value, int32_t index, int32_t x, int32_t y) override;
    JResult readText(SCP::ScpText& text, int32_t index, int32_t x, int32_t y) override;
    JResult parameterInfo(SCP::ScpParameterInfo& info, int32_t index) override;

    // Stores counted by outcome (for "nothing lost or doubled").
    uint64_t stores() const { return m_stores.load(); }
    uint64_t changedStores() const { return m_changed.load(); }

private:
    // The number parameter at index with a range to scale over, or null.
    const SimParam* scalable(int32_t index, int32_t x, int32_t y) const;

    SimMemory& m_memory;
    uint8_t m_source;
    std::atomic<uint64_t> m_stores{0};
    std::atomic<uint64_t> m_changed{0};
};

} // namespace simtest
