// A Mavik update of one and of four units with a 16 MiB package, against the
// bare transfer: tftp -6 fetching the same files from in.tftpd, same run.
// The units are the workgroup session peer on [::1]; on the start they are
// sent, the bench fetches their files from the PC's server with tftp -6 and
// has them report success. Like real units they answer status requests
// while they fetch and keep beating while they are in the PC's workgroup.
// The ratio is what the workgroup sessions, the manager's 200 ms tick and
// the status handling add to the transfers.
//
// The program runs in its own network namespace with the test bed (it
// needs root).
#include "bench/bench_budget.h"
#include "bench/bench_netns.h"
#include "tests/fwupdate/workgroup/wg_session_fixture.h"

#include "fwupdate/mavik/manager/mavik_manager.h"
#include "fwupdate/workgroup/wg_document.h"

#include <QCoreApplication>
#include <QDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <net/if.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uint16_t kPeerPort = 6969;
constexpr int64_t kFirmware = 16 << 20;
constexpr int kMaxUnits = 4;
constexpr char kUnitText[] = "J001-Valdor-Mavik-D-A1B2C3";
// A round of a starved machine may be slow; only a hung one reaches this.
constexpr auto kRunLimit = std::chrono::seconds(240);

struct Bed {
    std::string folder;
    pid_t peer = -1;
    uint32_t scope = 0;
    bool ready = false;
};

Bed& bed()
{
    static Bed b;
    return b;
}

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "bench_mavik_update";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return *instance;
}

long msSince(std::chrono::steady_clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

class Owner : public MfuAppCallbackIF_Mavik {
public:
    int finished = 0;
    int failed = 0;
    std::chrono::steady_clock::time_point start;
    std::string ends; // the reports that end a member, with their time
    void appCallback_devID(uint32_t kind, uint32_t) override
    {
        finished += kind == MAVIK_CB_FINISH;
        failed += kind == MAVIK_CB_ERROR;
        if (kind == MAVIK_CB_FINISH || kind == MAVIK_CB_ERROR)
            ends += (kind == MAVIK_CB_FINISH ? " finish@" : " error@") + std::to_string(msSince(start)) + "ms";
    }
    void rowUnitText(uint32_t, QString* text) override { *text = kUnitText; }
    bool rowForUnitText(const QString&, uint32_t*) override { return false; }
};

WG::HeartbeatInfo heartbeat(uint64_t dev, uint16_t port, uint16_t status, uint64_t held)
{
    WG::HeartbeatInfo r;
    r.deviceId = dev;
    r.mac = dev >> 16;
    r.modelCode = MAVIK_MODEL_CODE;
    r.workgroupId = held;
    r.statusWord = status;
    r.sessionPort = port;
    r.value28 = 0x02010000;
    r.announcedWord = 300;
    r.scopeId = bed().scope;
    r.addressText = "0000:0000:0000:0000:0000:0000:0000:0001";
    r.deviceIdText = kUnitText;
    return r;
}

bool setUp()
{
    Bed& b = bed();
    b.scope = if_nametoindex(qtest::NetnsBed::kLocalInterface);
    char pattern[] = "/tmp/bench-mavik-update-XXXXXX";
    if (!mkdtemp(pattern))
        return false;
    b.folder = pattern;
    const std::string src = b.folder + "/src";
    std::filesystem::create_directory(src);
    std::string firmware(kFirmware, '\0');
    for (int64_t i = 0; i < kFirmware; ++i)
        firmware[static_cast<size_t>(i)] = static_cast<char>((i * 7 + 3) % 251);
    qtest::writeFile(src + "/main.bin", firmware);
    qtest::writeFile(src + "/updater_contents.xml",
        "<MAVIK-D><ATTRIBUTE><UPDATE_PACKAGE_VERSION VALUE=\"2.02\"/><REBOOT_AFTER_UPDATE VALUE=\"0\"/>"
        "</ATTRIBUTE></MAVIK-D>\n");
    if (qtest::runCommand("cd '" + src
            + "' && /usr/bin/python3 -c 'import zipfile; z=zipfile.ZipFile(\"../package.zip\",\"w\");"
              " [z.write(n) for n in (\"updater_contents.xml\",\"main.bin\")]; z.close()'")
        != 0)
        return false;
    b.peer = fork();
    if (b.peer == 0) {
        const std::string address = "[::1]:" + std::to_string(kPeerPort);
        execlp("in.tftpd", "in.tftpd", "-6", "-L", "-a", address.c_str(), "-u", "root", "-s", src.c_str(),
            static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    b.ready = b.peer > 0 && waitpid(b.peer, nullptr, WNOHANG) == 0;
    return b.ready;
}

void tearDown()
{
    Bed& b = bed();
    if (b.peer > 0) {
        kill(b.peer, SIGTERM);
        waitpid(b.peer, nullptr, 0);
    }
    if (!b.folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(b.folder, ignored);
    }
}

// What a unit fetches: the description, then the firmware.
std::string fetchCommand(const std::string& port)
{
    return "tftp -6 -m binary ::1 " + port + " -c get updater_contents.xml /dev/null && tftp -6 -m binary ::1 " + port
        + " -c get main.bin /dev/null";
}

// A fetch on a thread of its own: the server it talks to may be on ours.
class Fetch {
public:
    explicit Fetch(const std::string& port)
        : m_thread([this, command = fetchCommand(port)] {
            m_status = std::system(command.c_str());
            m_done = true;
        })
    {
    }
    ~Fetch() { m_thread.join(); }
    bool done() const { return m_done; }
    bool ok() const { return m_status == 0; }
    int status() const { return m_status; }

private:
    std::atomic<bool> m_done{false};
    std::atomic<int> m_status{-1};
    std::thread m_thread;
};

// One unit's side of a run: session, start, fetch, report.
struct UnitRun {
    std::unique_ptr<wgtest::Unit> peer;
    uint64_t dev = 0;
    bool started = false;
    std::unique_ptr<Fetch> fetch;
    bool holdsId = false; // the PC set its workgroup id on the session
    bool reported = false;
    long reportedMs = -1;
    size_t linesSeen = 0;
};

// What the unit was sent, keep-alives left out.
std::string sentToUnit(const wgtest::Unit& unit)
{
    std::string out;
    for (const std::string& l : unit.lines)
        if (l.rfind("MSG", 0) == 0 && l.find(" 0/1 ") == std::string::npos)
            out += l.substr(0, l.find(" total")) + "; ";
    return out;
}

void printFailedRound(const std::vector<UnitRun>& runs, const Owner& owner, int runState)
{
    std::fprintf(stderr, "failed round: finished %d failed %d, manager state %d, reports:%s\n", owner.finished,
        owner.failed, runState, owner.ends.c_str());
    for (const UnitRun& r : runs)
        std::fprintf(stderr, "  unit %llx: started %d, fetch exit %d, reported %d at %ldms; sent: %s\n",
            static_cast<unsigned long long>(r.dev), r.started, r.fetch ? r.fetch->status() : -1, r.reported,
            r.reportedMs, sentToUnit(*r.peer).c_str());
}

void BM_MavikUpdate(benchmark::State& state)
{
    if (!bed().ready) {
        state.SkipWithError("no test bed (root, python3, in.tftpd and tftp are needed)");
        return;
    }
    app();
    const int units = static_cast<int>(state.range(0));
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QByteArray::fromStdString(bed().folder));
    Owner owner;
    FirmwareUpdateManager_Mavik manager;
    manager.setCallback(&owner);
    if (!manager.loadPackage(QString::fromStdString(bed().folder + "/package.zip"))) {
        state.SkipWithError("package not loaded");
        return;
    }
    const auto until = [&](auto pred, const std::function<void()>& each) {
        const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
        auto next = std::chrono::steady_clock::now();
        while (!pred() && std::chrono::steady_clock::now() < deadline) {
            // The server answers on this thread: the loop never sleeps, and
            // the units' side is looked at every few milliseconds.
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            if (std::chrono::steady_clock::now() >= next) {
                each();
                next = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
            }
        }
        return pred();
    };
    until([&] { return manager.document() != nullptr; }, [] {});
    WG::WorkgroupManagerDoc& doc = *manager.document();
    std::vector<UnitRun> runs(static_cast<size_t>(units));
    bool failedRound = false;
    uint64_t nextDev = 0xa1b2c3d4e5f00000ull;
    for (auto _ : state) {
        // Fresh units each time: a unit just released by the document is
        // not taken again at once.
        state.PauseTiming();
        owner.finished = owner.failed = 0;
        owner.ends.clear();
        for (UnitRun& r : runs) {
            r.started = r.holdsId = r.reported = false;
            r.reportedMs = -1;
            r.linesSeen = 0;
            r.fetch.reset();
            r.dev = (nextDev += 1ull << 16);
            r.peer = std::make_unique<wgtest::Unit>(std::vector<std::string>{}, r.dev);
            doc.onHeartbeat(heartbeat(r.dev, static_cast<uint16_t>(r.peer->port), 1, 0));
        }
        state.ResumeTiming();
        owner.start = std::chrono::steady_clock::now();
        if (manager.startUpdate(0) != 0) {
            state.SkipWithError("no member");
            failedRound = true;
            break;
        }
        const auto beatAndServe = [&] {
            const auto joined = doc.snapshot(false);
            for (UnitRun& r : runs) {
                bool hasSession = false;
                for (const WG::WorkgroupMember& m : joined)
                    hasSession = hasSession || (m.deviceId == r.dev && m.session);
                const uint16_t port = static_cast<uint16_t>(r.peer->port);
                // Every pass: the peer logs each keep-alive and stops
                // answering once that log fills its pipe.
                r.peer->drain();
                for (; r.linesSeen < r.peer->lines.size(); ++r.linesSeen) {
                    const std::string& line = r.peer->lines[r.linesSeen];
                    const size_t at = line.find(" port=");
                    if (line.rfind("MSG 1 1/15", 0) == 0) {
                        r.holdsId = true; // the session is up: the unit is the PC's
                    } else if (!r.started && line.rfind("MSG 1 3/0", 0) == 0 && at != std::string::npos) {
                        r.fetch = std::make_unique<Fetch>(std::to_string(std::atoi(line.c_str() + at + 6)));
                        r.started = true;
                    } else if (!r.reported && line.rfind("MSG 1 3/2", 0) == 0) {
                        r.peer->say("unit 3/1 status=0 b22=0"); // still fetching
                    }
                }
                // A unit says it is in the PC's session only once it got it;
                // one that reported keeps beating as long as that session
                // lasts: a silent one is taken for gone.
                const bool inSession = hasSession && r.holdsId;
                if (!r.reported || inSession)
                    doc.onHeartbeat(
                        inSession ? heartbeat(r.dev, port, 3, doc.ownWorkgroupId()) : heartbeat(r.dev, port, 0, 0));
                if (r.fetch && !r.reported && r.fetch->done()) {
                    r.peer->say(r.fetch->ok() ? "unit 3/3 result=0" : "unit 3/3 result=1");
                    r.reported = true;
                    r.reportedMs = msSince(owner.start);
                }
            }
        };
        const bool ended = until([&] { return owner.finished + owner.failed == units; }, beatAndServe);
        if (!ended || owner.failed) {
            printFailedRound(runs, owner, manager.runState());
            state.SkipWithError(ended ? "a unit's update failed" : "the update did not finish in time");
            failedRound = true;
            break;
        }
        until([&] { return manager.runState() == FirmwareUpdateManager_Mavik::Idle; }, [] {});
        // Sessions closed: the units announce themselves afresh next time.
        until([&] { return doc.liveSessions() == 0; }, [] {});
    }
    if (failedRound) {
        // Nothing of the round outlives it: the fetches end (the server
        // they talk to answers on this thread), the sessions close, the
        // units go, all before the manager.
        until(
            [&] {
                return std::all_of(
                    runs.begin(), runs.end(), [](const UnitRun& r) { return !r.fetch || r.fetch->done(); });
            },
            [] {});
        doc.removeAll();
        until([&] { return doc.liveSessions() == 0; }, [] {});
        runs.clear();
    }
    qputenv("TMPDIR", oldTmp);
    if (!failedRound)
        state.SetBytesProcessed(state.iterations() * units * kFirmware);
}

void BM_TftpInTftpd(benchmark::State& state)
{
    if (!bed().ready) {
        state.SkipWithError("no test bed (root, python3, in.tftpd and tftp are needed)");
        return;
    }
    const int units = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::vector<std::unique_ptr<Fetch>> fetches;
        for (int i = 0; i < units; ++i)
            fetches.push_back(std::make_unique<Fetch>(std::to_string(kPeerPort)));
        bool ok = true;
        for (auto& f : fetches) {
            while (!f->done())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ok = ok && f->ok();
        }
        if (!ok) {
            state.SkipWithError("a transfer failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * units * kFirmware);
}

BENCHMARK(BM_MavikUpdate)
    ->Arg(1)
    ->Arg(4)
    ->Iterations(benchbudget::rounds(3))
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TftpInTftpd)
    ->Arg(1)
    ->Arg(4)
    ->Iterations(benchbudget::rounds(3))
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // The bed gives the PC its adapter and so its own workgroup id.
    int exitCode = 0;
    const auto netns = benchNetnsBed("bench_mavik_update", &exitCode);
    if (!netns)
        return exitCode;
    setUp();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    tearDown();
    return 0;
}
