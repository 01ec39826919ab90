// The Dante agent's device list end to end: avahi-daemon in a peer network
// namespace publishes N Dante devices (media and conmon services),
// fake_conmon.py plays the conmon service and the devices, fake_cmm.py the
// configuration manager, and the agent runs with its real clients.
//
// - DeviceList/N: time from the request to DFA_CBACK_INF_DEVICE_LIST, the
//   window closed (by stepping the agent's clock) as soon as all N devices
//   were reported; throughput "devices_per_s". The agent's idle fraction
//   (1 - process CPU / wall) during the window and while idle afterwards, in
//   the same run: the ratio window ÷ idle is what a busy window costs.
// - DeviceListFileInfo/64/{1,0}: 64 devices whose module has a 24 MiB .dnt
//   file, with and without the kept file information.
//
// Needs root (it makes its own network namespace, so nothing reaches a real
// network) and avahi-daemon; without them it says so and runs nothing.
#include "bench/bench_budget.h"
#include "dante/dfa/dfa.h"
#include "dante/dfa/dfa_glue.h"
#include "dante/dfa/dfa_glue_parts.h"
#include "dante/support/aud_env.h"
#include "dante/support/aud_text.h"
#include "pbd/OSWRAP/oswrap.h"

#include "bench/bench_netns.h"
#include "tests/support/avahi_daemon.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

qtest::NetnsBed* g_bed = nullptr;
std::string g_dntFolder;

// Counts the answers the benchmark waits for.
struct Answers {
    std::mutex lock;
    std::condition_variable wake;
    size_t devices = 0;
    uint16_t listReqId = 0;
    bool listed = false;
    bool init = false;
};
Answers g_answers;

void callback(DfaResult, const DfaCallbackInfo* info)
{
    std::lock_guard<std::mutex> guard(g_answers.lock);
    if (info->kind == DFA_CBACK_INF_DEVICE)
        ++g_answers.devices;
    else if (info->kind == DFA_CBACK_INF_DEVICE_LIST && info->req_id == g_answers.listReqId)
        g_answers.listed = true;
    else if (info->kind == DFA_CBACK_INF_INIT)
        g_answers.init = true;
    g_answers.wake.notify_all();
}

template <class Pred> bool await(Pred pred, int seconds)
{
    std::unique_lock<std::mutex> guard(g_answers.lock);
    return g_answers.wake.wait_for(guard, std::chrono::seconds(seconds), pred);
}

// The agent's clock, stepped forward to close a window at once.
std::atomic<int32_t> g_offset{0};
aud_error steppedClock(void*, aud_time* out)
{
    aud_clock_monotonic(out);
    out->seconds += g_offset.load();
    return AUD_SUCCESS;
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string deviceName(int i)
{
    return "dev" + std::to_string(100 + i);
}

// A fake service whose output is read away so it never blocks.
class Peer {
public:
    Peer(const std::string& script, const std::vector<std::string>& args)
        : m_child(qtest::pythonPeer(script, args), true)
    {
        std::string line;
        while (m_child.readLine(&line, 10000)) {
            if (line.rfind("ready", 0) == 0) {
                m_ready = true;
                break;
            }
        }
        m_reader = std::thread([this] {
            std::string l;
            while (!m_stop.load())
                m_child.readLine(&l, 100);
        });
    }
    ~Peer()
    {
        m_stop.store(true);
        m_reader.join();
    }
    bool ready() const { return m_ready; }

private:
    qtest::ChildProcess m_child;
    bool m_ready = false;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};

// Everything one benchmark runs against, and the agent itself.
class Bed {
public:
    explicit Bed(int devices)
        : m_avahi(*g_bed, services(devices))
        , m_conmon("fake_conmon.py", conmonArgs(devices))
        , m_cmm("fake_cmm.py",
              {"--port", "8850", "--lifetime", "600", "--interface", "eth-first=02:00:00:00:00:01", "--current",
                  "eth-first"})
    {
        if (!m_avahi.ready() || !m_conmon.ready() || !m_cmm.ready())
            return;
        aud_env_setup(&m_env);
        aud_env_set_clock(m_env, &steppedClock, nullptr);
        {
            std::lock_guard<std::mutex> guard(g_answers.lock);
            g_answers.init = false;
        }
        uint16_t reqId = 0;
        m_started = dfa_init(&callback, &reqId) == DFA_ERR_NOERR;
        m_ready = m_started && await([] { return g_answers.init; }, 20);
    }
    ~Bed()
    {
        if (m_started)
            dfa_terminate();
        if (m_env != nullptr) {
            aud_env_set_clock(m_env, nullptr, nullptr);
            aud_env_release(m_env);
        }
    }
    bool ready() const { return m_ready; }

    // One device-list window until every device is reported; its seconds.
    bool list(int devices, double* seconds)
    {
        std::unique_lock<std::mutex> guard(g_answers.lock);
        g_answers.devices = 0;
        g_answers.listed = false;
        const auto start = Clock::now();
        uint16_t reqId = 0;
        if (dfa_req_get_device_list(10, &reqId) != DFA_ERR_NOERR)
            return false;
        g_answers.listReqId = reqId;
        const bool all = g_answers.wake.wait_for(
            guard, std::chrono::seconds(60), [&] { return g_answers.devices >= size_t(devices); });
        g_offset.fetch_add(11);
        const bool listed = g_answers.wake.wait_for(guard, std::chrono::seconds(10), [] { return g_answers.listed; });
        *seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return all && listed;
    }

private:
    static std::vector<qtest::AvahiDaemon::Service> services(int devices)
    {
        std::vector<qtest::AvahiDaemon::Service> out;
        for (int i = 0; i < devices; ++i) {
            char id[32];
            std::snprintf(id, sizeof id, "id=00aabbccdd%06x", i);
            out.push_back({deviceName(i), "_netaudio-arc._udp", 4440, {"arcp_vers=2.7.1", "mf=_0001"}});
            out.push_back({deviceName(i), "_netaudio-cmc._udp", 8800, {id, "process=1"}});
        }
        return out;
    }
    static std::vector<std::string> conmonArgs(int devices)
    {
        std::vector<std::string> a = {"--port", "8900", "--lifetime", "600", "--interface",
            std::string(qtest::NetnsBed::kLocalInterface) + "=" + qtest::NetnsBed::kLocalAddress};
        for (int i = 0; i < devices; ++i) {
            a.push_back("--device");
            a.push_back(deviceName(i));
        }
        return a;
    }
    qtest::AvahiDaemon m_avahi;
    Peer m_conmon;
    Peer m_cmm;
    aud_env* m_env = nullptr;
    bool m_started = false;
    bool m_ready = false;
};

// Points slot 0 (the devices' module) at the big file, or at none.
void setDntFile(bool big)
{
    DfaSettings settings{};
    aud_mbs_to_wcs(settings.dnt_dir, big ? g_dntFolder.c_str() : "/nonexistent", DFA_DNT_NAME_CHARS);
    dfa_set_dnt_dir(&settings);
    dfa_set_dnt_file(u"module.dnt", 0);
}

void run(benchmark::State& state, int devices, bool bigFile, bool keep)
{
    dfa_conmon_keep_file_info(keep);
    Bed bed(devices);
    if (!bed.ready()) {
        state.SkipWithError("the bed or the agent did not start");
        return;
    }
    // The settings live as long as the agent: set once it runs.
    setDntFile(bigFile);
    double windowCpu = 0;
    double windowWall = 0;
    for (auto _ : state) {
        double seconds = 0;
        const double cpu = processCpuSeconds();
        if (!bed.list(devices, &seconds)) {
            state.SkipWithError("not every device was reported");
            break;
        }
        windowCpu += processCpuSeconds() - cpu;
        windowWall += seconds;
        state.SetIterationTime(seconds);
    }
    // The same agent idle, for as long as one window took (at least 1 s).
    const double idleWall = std::max(1.0, windowWall / static_cast<double>(state.iterations()));
    const double cpu = processCpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(idleWall));
    const double idleCpu = processCpuSeconds() - cpu;
    const double idleFraction = 1.0 - idleCpu / std::chrono::duration<double>(Clock::now() - start).count();
    const double windowFraction = windowWall > 0 ? 1.0 - windowCpu / windowWall : 0;
    state.counters["devices_per_s"]
        = benchmark::Counter(static_cast<double>(devices) * static_cast<double>(state.iterations()) / windowWall);
    state.counters["window_idle_fraction"] = windowFraction;
    state.counters["idle_fraction"] = idleFraction;
    state.counters["window_to_idle"] = idleFraction > 0 ? windowFraction / idleFraction : 0;
    dfa_conmon_keep_file_info(true);
}

} // namespace

int main(int argc, char** argv)
{
    if (geteuid() != 0 || !qtest::AvahiDaemon::installed()) {
        std::printf("bench_dante_agent needs root and avahi-daemon: nothing run\n");
        return 0;
    }
    int exitCode = 0;
    const auto bed = benchNetnsBed("bench_dante_agent", &exitCode);
    if (!bed)
        return exitCode;
    g_bed = bed.get();
    qtest::TempDir dnt;
    if (qtest::runCommand("python3 " + qtest::peerPath("dnt_gen.py") + " " + dnt.path()
            + " --big --only v2_exact_limit >/dev/null && mv " + dnt.file("v2_exact_limit.dnt") + " "
            + dnt.file("module.dnt"))
        != 0) {
        std::printf("bench_dante_agent: dnt_gen.py failed\n");
        return 1;
    }
    g_dntFolder = dnt.path();
    oswrap_init();
    dfa_set_print_level(0);
    dfa_set_glue(nullptr);

    for (int devices : {1, 16, 64}) {
        benchmark::RegisterBenchmark(("DeviceList/" + std::to_string(devices)).c_str(),
            [devices](benchmark::State& s) { run(s, devices, false, true); })
            ->UseManualTime()
            ->Iterations(benchbudget::rounds(3))
            ->Unit(benchmark::kMillisecond);
    }
    for (int keep : {1, 0}) {
        benchmark::RegisterBenchmark(("DeviceListFileInfo/64/" + std::to_string(keep)).c_str(),
            [keep](benchmark::State& s) { run(s, 64, true, keep != 0); })
            ->UseManualTime()
            ->Iterations(benchbudget::rounds(3))
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
