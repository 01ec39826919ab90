// Time from the start of a browse to 100 resolved devices, all advertised by
// one avahi-daemon in a peer network namespace: our querier and browser
// against avahi-browse -rp through a second avahi-daemon in this program's
// own namespace (on a private system bus), run one after the other, each
// from a cold cache. Throughput: devices per second, higher is better.
//
// Needs root (it makes its own network namespace, so nothing reaches a real
// network) and avahi-daemon, avahi-utils and dbus-daemon; without them it
// says so and runs nothing.
#include "bench/bench_budget.h"
#include "dante/browse/db_browse.h"

#include "bench/bench_netns.h"
#include "tests/support/avahi_daemon.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <net/if.h>
#include <set>
#include <string>
#include <unistd.h>

namespace {

constexpr int kDevices = 100;
using Clock = std::chrono::steady_clock;

qtest::NetnsBed* g_bed = nullptr;

// One avahi-daemon with D-Bus in this namespace, on the bus at busPath.
class LocalAvahi {
public:
    LocalAvahi(const qtest::TempDir& dir, int round)
    {
        const std::string conf = "[server]\nhost-name=qlocal" + std::to_string(getpid()) + "x" + std::to_string(round)
            + "\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=" + qtest::NetnsBed::kLocalInterface
            + "\nenable-dbus=yes\n[wide-area]\nenable-wide-area=no\n[publish]\npublish-hinfo=no\n"
              "publish-workstation=no\npublish-addresses=no\n";
        qtest::runCommand("mkdir -p " + dir.file("local-services"));
        qtest::writeFile(dir.file("local.conf"), conf);
        const std::string script = "mkdir -p /run/avahi-daemon && mount -t tmpfs none /run/avahi-daemon && "
                                   "mount --bind "
            + dir.file("local-services") + " /etc/avahi/services && exec avahi-daemon -f " + dir.file("local.conf")
            + " --no-drop-root --no-chroot --no-rlimits 2>&1";
        m_process = std::make_unique<qtest::ChildProcess>(
            std::vector<std::string>{"unshare", "-m", "--propagation", "private", "sh", "-c", script});
        std::string line;
        for (int i = 0; i < 100 && m_process->readLine(&line, 10000); ++i)
            if (line.find("Server startup complete") != std::string::npos) {
                m_ready = true;
                break;
            }
    }
    bool ready() const { return m_ready; }

private:
    std::unique_ptr<qtest::ChildProcess> m_process;
    bool m_ready = false;
};

void OurBrowser(benchmark::State& state)
{
    aud_env* env = nullptr;
    aud_env_setup(&env);
    for (auto _ : state) {
        db_browse* browse = nullptr;
        db_browse_new(env, 0x01, &browse);
        db_browse_config config;
        db_browse_config_init(&config);
        config.interface_indexes[0] = if_nametoindex(qtest::NetnsBed::kLocalInterface);
        const auto start = Clock::now();
        db_browse_start_config(browse, &config);
        while (db_browse_num_devices(browse) < kDevices && Clock::now() - start < std::chrono::seconds(15)) {
            aud_fdset set;
            aud_fdset_zero(&set);
            db_browse_get_sockets(browse, &set);
            aud_fdset_poll(&set, 50, nullptr);
            db_browse_process(browse, &set, nullptr);
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (db_browse_num_devices(browse) < kDevices)
            state.SkipWithError(
                ("not every device was resolved: " + std::to_string(db_browse_num_devices(browse))).c_str());
        db_browse_free(browse); // the querier stops with its last request: a cold cache next time
    }
    state.SetItemsProcessed(state.iterations() * kDevices);
    aud_env_release(env);
}

void AvahiBrowse(benchmark::State& state)
{
    qtest::TempDir dir;
    const std::string bus = "unix:path=" + dir.file("bus");
    qtest::writeFile(dir.file("bus.conf"),
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>system</type><listen>"
            + bus
            + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
              "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy></busconfig>\n");
    qtest::ChildProcess dbus({"dbus-daemon", "--nofork", "--print-address", "--config-file=" + dir.file("bus.conf")});
    std::string line;
    if (!dbus.readLine(&line, 5000)) {
        state.SkipWithError("dbus-daemon did not start");
        return;
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.c_str(), 1);
    int round = 0;
    for (auto _ : state) {
        LocalAvahi avahi(dir, round++); // a fresh daemon: a cold cache
        if (!avahi.ready()) {
            state.SkipWithError("the local avahi-daemon did not start");
            break;
        }
        const auto start = Clock::now();
        qtest::ChildProcess browse({"avahi-browse", "-rp", "_netaudio-arc._udp"});
        std::set<std::string> resolved;
        while (resolved.size() < kDevices && browse.readLine(&line, 30000))
            if (line.rfind("=;", 0) == 0)
                resolved.insert(line.substr(0, line.find(";_netaudio")));
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (resolved.size() < kDevices)
            state.SkipWithError("avahi-browse did not resolve every device");
    }
    state.SetItemsProcessed(state.iterations() * kDevices);
}

} // namespace

int main(int argc, char** argv)
{
    if (geteuid() != 0 || !qtest::AvahiDaemon::installed() || access("/usr/bin/avahi-browse", X_OK) != 0) {
        std::printf("bench_dante_browse_avahi needs root, avahi-daemon and avahi-utils: nothing run\n");
        return 0;
    }
    int exitCode = 0;
    const auto bed = benchNetnsBed("bench_dante_browse_avahi", &exitCode);
    if (!bed)
        return exitCode;
    g_bed = bed.get();
    std::vector<qtest::AvahiDaemon::Service> services;
    for (int i = 0; i < kDevices; ++i)
        services.push_back({"dev" + std::to_string(1000 + i), "_netaudio-arc._udp", 4440, {"arcp_vers=2.7.1"}});
    qtest::AvahiDaemon peer(*bed, services);
    if (!peer.ready()) {
        std::printf("bench_dante_browse_avahi: %s\n", peer.error().c_str());
        return 1;
    }
    benchmark::RegisterBenchmark("OurBrowser", OurBrowser)
        ->UseManualTime()
        ->Iterations(benchbudget::rounds(3))
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("AvahiBrowse", AvahiBrowse)
        ->UseManualTime()
        ->Iterations(benchbudget::rounds(3))
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
