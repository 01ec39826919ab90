#include "tests/support/unit_process.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#ifndef QUILLON_SIMUNIT_PROGRAM
#define QUILLON_SIMUNIT_PROGRAM "quillon_simunit"
#endif

namespace qtest {

namespace {

// The names units announce, by model type.
constexpr const char* kModelNames[] = {"BroxL-D", "BroxM-D", "BroxI-D", "BroxO-D", "Sorn-D", "Mavik-D", "PellM-D",
    "BroxL-D2", "BroxM-D2", "PellM-D2", "BroxL-D3", "BroxM-D3"};
constexpr int kSornType = 5;
constexpr int kMavikType = 6;

bool isSecondGeneration(int type)
{
    return type == 8 || type == 9 || type == 11 || type == 12;
}

std::string hostHex(int host)
{
    char text[3];
    snprintf(text, sizeof text, "%02X", static_cast<unsigned>(host) & 0xFF);
    return text;
}

// Fills what the caller left empty.
UnitSpec completed(UnitSpec spec)
{
    if (spec.unitId.empty())
        spec.unitId = "J0" + hostHex(spec.host);
    if (spec.mac.empty()) {
        std::string low = hostHex(spec.host);
        for (char& c : low)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        spec.mac = "02:53:00:00:00:" + low;
    }
    if (spec.model.empty())
        spec.model = unitModelName(spec.modelType);
    if (spec.layout.empty()) {
        const char* file = spec.modelType == kSornType ? "sorn.xml"
            : spec.modelType == kMavikType             ? "mavik.xml"
                                                       : "brox.xml";
        spec.layout = sourcePath(std::string("tests/sim/layouts/") + file);
    }
    return spec;
}

std::vector<std::string> commandLine(const UnitSpec& spec, const std::string& address, const std::string& fifo)
{
    std::vector<std::string> argv = {QUILLON_SIMUNIT_PROGRAM, "--layout", spec.layout, "--address", address, "--port",
        std::to_string(UnitProcess::kScpPort), "--unit-id", spec.unitId, "--model", spec.model, "--mac", spec.mac,
        "--control", fifo, "--period", std::to_string(spec.announcePeriodMs)};
    if (spec.modelType == kSornType || spec.modelType == kMavikType) {
        // These families have no meters: an mtrstart gets ERROR.
        argv.insert(argv.end(), {"--no-meters", "--status", "runmode=normal", "--status", "error=nothing"});
    } else if (!unitModelName(spec.modelType).empty()) {
        argv.push_back("--brox");
    }
    if (isSecondGeneration(spec.modelType)) {
        // Their summary lists, which the link asks for on request.
        argv.insert(argv.end(), {"--list", "IO:_CurSummary=12,3,14", "--list", "IO:_EvtSummary=40,0,39"});
    }
    argv.insert(argv.end(), {"--info", "productname=" + spec.model, "--info", "devicename=" + spec.deviceName});
    if (!spec.version.empty())
        argv.insert(argv.end(), {"--info", "version=" + spec.version});
    if (!spec.runmode.empty())
        argv.insert(argv.end(), {"--status", "runmode=" + spec.runmode});
    return argv;
}

} // namespace

std::string unitModelName(int modelType)
{
    constexpr int count = static_cast<int>(sizeof kModelNames / sizeof kModelNames[0]);
    return modelType >= 1 && modelType <= count ? kModelNames[modelType - 1] : "";
}

std::string unitAddress(int host)
{
    return "198.18.0." + std::to_string(host);
}

UnitProcess::UnitProcess(const NetnsBed& bed, const TempDir& dir, const UnitSpec& spec)
    : m_spec(completed(spec))
    , m_address(unitAddress(m_spec.host))
{
    if (m_spec.host < 2 || m_spec.host > 254 || m_spec.model.empty()) {
        m_error = "no such host or model type";
        return;
    }
    // One FIFO per process, so that a restarted unit never reads its
    // predecessor's leftovers.
    static std::atomic<unsigned> serial{0};
    m_fifo = dir.file("unit" + std::to_string(m_spec.host) + "-" + std::to_string(serial++) + ".ctl");
    if (::mkfifo(m_fifo.c_str(), 0600) != 0) {
        m_error = "mkfifo " + m_fifo;
        return;
    }
    // Replace, not add: the address stays when a unit is started again.
    const std::string ip = "ip addr replace " + m_address + "/24 dev " + NetnsBed::kPeerInterface;
    if (bed.runInPeer(ip) != 0) {
        m_error = "'" + ip + "' failed";
        return;
    }
    m_child = std::make_unique<ChildProcess>(bed.inPeer(commandLine(m_spec, m_address, m_fifo)));
    if (!m_child->started()) {
        m_error = "the unit process did not start";
        m_child.reset();
    }
}

UnitProcess::~UnitProcess()
{
    stop();
}

bool UnitProcess::waitReady(int timeoutMs)
{
    if (ready())
        return true;
    if (!m_child)
        return false;
    std::string line;
    const std::string expected = "READY " + std::to_string(kScpPort);
    if (!m_child->readLine(&line, timeoutMs) || line != expected) {
        m_error = "unit " + m_address + " did not serve: '" + line + "'";
        return false;
    }
    // Read-write: our own reader end keeps a write from raising SIGPIPE once
    // the unit is gone, and non-blocking keeps a dead unit from hanging us.
    m_control = ::open(m_fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_control < 0)
        m_error = "cannot open " + m_fifo;
    return ready();
}

bool UnitProcess::send(const std::string& line)
{
    if (!ready() || !m_child)
        return false;
    const std::string bytes = line + "\n";
    return ::write(m_control, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

std::string UnitProcess::ask(const std::string& line, const std::string& prefix, int timeoutMs)
{
    if (!send(line))
        return "";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string answer;
    for (;;) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                  .count();
        if (left <= 0 || !m_child->readLine(&answer, static_cast<int>(left)))
            return "";
        if (answer.rfind(prefix, 0) == 0)
            return answer;
    }
}

bool UnitProcess::set(const std::string& path, int x, int y, const std::string& value)
{
    const std::string answer
        = ask("SET " + path + " " + std::to_string(x) + " " + std::to_string(y) + " " + value, "SET ");
    // The memory's result: positive when the value was stored.
    return answer.size() > 4 && atoi(answer.c_str() + 4) > 0;
}

std::string UnitProcess::value(const std::string& path, int x, int y)
{
    const std::string head = "VALUE " + path + " " + std::to_string(x) + " " + std::to_string(y) + " ";
    const std::string answer = ask("GET " + path + " " + std::to_string(x) + " " + std::to_string(y), head);
    return answer.empty() ? "" : answer.substr(head.size());
}

std::map<std::string, uint64_t> UnitProcess::stats()
{
    std::map<std::string, uint64_t> out;
    std::istringstream in(ask("STATS", "STATS "));
    std::string word;
    in >> word;
    while (in >> word) {
        const size_t eq = word.find('=');
        if (eq != std::string::npos)
            out[word.substr(0, eq)] = strtoull(word.c_str() + eq + 1, nullptr, 10);
    }
    return out;
}

bool UnitProcess::fault(UnitFault fault)
{
    const char* word = fault == UnitFault::Close ? "CLOSE" : fault == UnitFault::Reset ? "RESET" : "SILENT";
    return ask(word, std::string("OK ") + word) == std::string("OK ") + word;
}

bool UnitProcess::fwModeSilent(bool on)
{
    const std::string line = on ? "FWMODE silent" : "FWMODE answer";
    return ask(line, "OK FWMODE") == "OK FWMODE";
}

std::string UnitProcess::runmode()
{
    const std::string line = ask("RUNMODE", "RUNMODE ");
    return line.size() > 8 ? line.substr(8) : std::string();
}

bool UnitProcess::setMeterLevel(int level)
{
    return ask("LEVEL " + std::to_string(level), "OK LEVEL") == "OK LEVEL";
}

void UnitProcess::stop()
{
    if (m_child && send("QUIT"))
        m_child->wait(3000);
    m_child.reset(); // SIGTERM, then SIGKILL, if QUIT did not end it
    if (m_control >= 0)
        ::close(m_control);
    m_control = -1;
    if (!m_fifo.empty())
        ::unlink(m_fifo.c_str());
}

void UnitProcess::kill()
{
    if (m_child) {
        m_child->signal(SIGKILL);
        m_child->wait(3000);
    }
    stop();
}

UnitRack::UnitRack(const NetnsBed& bed)
    : m_bed(bed)
{
}

UnitRack::~UnitRack()
{
    stopAll();
}

bool UnitRack::start(const std::vector<UnitSpec>& specs, int timeoutMs)
{
    const size_t first = m_units.size();
    // Launch all, then wait: the units load their layouts in parallel.
    for (const UnitSpec& spec : specs)
        m_units.push_back(std::make_unique<UnitProcess>(m_bed, m_dir, spec));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (size_t i = first; i < m_units.size(); ++i) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                  .count();
        if (!m_units[i]->error().empty() || !m_units[i]->waitReady(static_cast<int>(std::max<long long>(left, 1)))) {
            m_error = m_units[i]->error();
            return false;
        }
    }
    return true;
}

bool UnitRack::add(const UnitSpec& spec, int timeoutMs)
{
    return start({spec}, timeoutMs);
}

bool UnitRack::restart(size_t i, int timeoutMs)
{
    const UnitSpec spec = m_units.at(i)->spec();
    m_units[i].reset();
    m_units[i] = std::make_unique<UnitProcess>(m_bed, m_dir, spec);
    if (!m_units[i]->error().empty() || !m_units[i]->waitReady(timeoutMs)) {
        m_error = m_units[i]->error();
        return false;
    }
    return true;
}

void UnitRack::stopAll()
{
    // QUIT to all first, so they exit in parallel.
    for (auto& unit : m_units)
        unit->send("QUIT");
    m_units.clear();
}

} // namespace qtest
