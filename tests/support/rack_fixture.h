// A real rack owner for tests: real device objects in its slots, the real
// memory thread and the socket layer, with slot i holding device id i + 1 as
// the main window sets it. Units are announced through the discovery front's
// recorder, as the discovery engine reports them, so they reach the rack
// owner by the same queued road as on a network.
//
// Needs a QApplication (widget test programs have one).
#pragma once

#include "app/app_quilobject.h"
#include "device/discovery/dev_discovery.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace racktest {

// The socket layer of the test program, made once and kept to the end.
bool socketLayerUp();

// One unit as it announces itself.
struct UnitAnnouncement {
    std::string unitId; // "J001"
    std::string mac; // "02:53:00:00:00:01"
    std::string address; // a loopback address, one per unit
    std::string model; // "BroxL-D3"

    QString key() const;
};

// A unit of id `id` with a MAC and a loopback address made from `n`.
UnitAnnouncement loopbackUnit(uint16_t id, int n, const std::string& model = "BroxL-D3");

// Ageing of one tick, so that a silenced unit is reported lost at once.
Quil::DiscoveryOptions quickAgeing();

class RackFixture {
public:
    explicit RackFixture(int pendingMs = 100, const Quil::DiscoveryOptions& options = quickAgeing());
    ~RackFixture();
    RackFixture(const RackFixture&) = delete;
    RackFixture& operator=(const RackFixture&) = delete;

    // Socket layer and memory thread are up.
    bool ready() const { return m_ready; }
    Quil::QuilObject& rack() { return *m_rack; }

    // Feeds an announcement into the discovery front.
    void announce(const UnitAnnouncement& unit);
    // The unit went silent and aged out; the front reports it lost.
    void silence(const UnitAnnouncement& unit);

    // Runs the event loop until pred holds (true) or ms pass (false).
    static bool spinUntil(const std::function<bool()>& pred, int ms = 5000);
    static void spinFor(int ms);

    // A user's edit of a slot's value, made once the slot's link no longer
    // reads its unit (the facade refuses user edits while it does); false
    // when it was still refused after ms.
    bool editWhenSettled(int slot, const char* path, int32_t value, int ms = 5000);
    // A slot's value as a signed number; INT32_MIN when it cannot be read.
    int32_t value(int slot, const char* path);
    int32_t deviceNum(int slot);
    int32_t slotState(int slot);
    // The key of the slot's connection object; empty without one.
    QString connectedKey(int slot);

    // mountChanged and deviceIdChanged as received, in order.
    std::vector<std::pair<unsigned, int>> mounts;
    std::vector<std::pair<unsigned, int>> deviceIds;

private:
    bool m_ready = false;
    std::unique_ptr<Quil::QuilObject> m_rack;
};

} // namespace racktest
