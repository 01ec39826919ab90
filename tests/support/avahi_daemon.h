// One avahi-daemon, Debian's mDNS responder, inside the peer namespace of a
// NetnsBed, publishing static services: a real responder for interop tests.
// It runs in a private mount namespace with its own /run/avahi-daemon and
// services folder, without a bus, so it never meets a system instance.
#pragma once

#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qtest {

class AvahiDaemon {
public:
    struct Service {
        std::string name; // instance name
        std::string type; // "_netaudio-arc._udp"
        uint16_t port = 0;
        std::vector<std::string> txt; // "key=value" entries
    };

    // The message tests skip with when the program is absent.
    static constexpr const char* kMissing = "avahi-daemon missing: run scripts/bootstrap --interop";
    static bool installed();

    // Starts the daemon and waits until every service is established.
    AvahiDaemon(const NetnsBed& bed, const std::vector<Service>& services);
    ~AvahiDaemon();
    AvahiDaemon(const AvahiDaemon&) = delete;
    AvahiDaemon& operator=(const AvahiDaemon&) = delete;

    bool ready() const { return m_error.empty(); }
    const std::string& error() const { return m_error; }
    const std::string& hostName() const { return m_host; }

    // Removes a service's file and makes the daemon reload (it sends
    // goodbyes for what it no longer publishes).
    bool withdraw(const std::string& name);
    // Ends the daemon at once, without goodbyes.
    void kill();

private:
    TempDir m_dir;
    std::string m_host;
    std::vector<Service> m_services;
    std::unique_ptr<ChildProcess> m_process;
    std::string m_error;
};

} // namespace qtest
