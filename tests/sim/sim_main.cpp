// quillon_simunit: one simulated unit as a process. It serves SCP on
// --address:--port, announces itself by JSDP from --address (maker, model
// and unit id as the units' text block; the SCP port is not announced, the
// units use 49280), and takes
// control lines from the FIFO --control (answers on standard output):
//
//   SET <path> <x> <y> <value>   the unit's own edit (a quoted value is text)
//   GET <path> <x> <y>           -> VALUE <path> <x> <y> <text>
//   STALL <ms> | ERROR | CLOSEMID | SPLIT on|off | SILENT | CLOSE | RESET | LEVEL <byte> | STATS | QUIT
//   FWMODE silent|answer         whether a firmware-update mode set switches the run mode
//   RUNMODE                      -> RUNMODE <normal|update>
//
// RESET drops the SCP connections with a reset (RST). STATS ends with the
// request lines per command word ("set=3 get=359"); its last_notify_ns is
// the monotonic clock, which every namespace shares.
// SILENT stops the announcements and every answer; CLOSE drops the SCP
// connections. Prints "READY <port>" once serving. --brox answers as a Brox
// unit does (status, information, three meters); --info and --status set one
// answer tag each (over --brox's, whatever the order) and --no-meters leaves
// the unit without meters, so an mtrstart gets ERROR; --moving-meters sends
// levels that rise and fall instead of one fixed level. --list CATEGORY=N,HEAD,TAIL
// gives the unit a list it answers LISTITEMNUM and LISTITEM for. --set
// "PATH X Y VALUE" starts the unit with that value of its own (as SET does).
// --summaries makes the two summary lists ("IO:_CurSummary", "IO:_EvtSummary")
// the unit's own state and event history, as a second-generation Brox reads
// them; --device-log makes it a third-generation Brox that collects its log
// files on the event "logging" (each over --log-item-ms, 500 by default) and
// uploads them by TFTP to the address of the event "tftpuri".
#include "pbd/jsdp/jsdp.h"
#include "tests/sim/sim_brox.h"
#include "tests/sim/sim_unit.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace simtest;

namespace {

struct Options {
    SimUnitConfig unit;
    std::string maker = "Valdor";
    std::string control;
    uint32_t periodMs = 1000;
    bool announce = true;
    bool split = false;
    bool noMeters = false;
    bool summaries = false;
    bool deviceLog = false;
    std::map<std::string, std::string> info;
    std::map<std::string, std::string> status;
    std::vector<std::string> sets; // "PATH X Y VALUE", the unit's own values at start
};

bool parseMac(const std::string& text, uint8_t mac[6])
{
    unsigned v[6];
    char tail;
    if (sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &tail) != 6)
        return false;
    for (int i = 0; i < 6; ++i) {
        if (v[i] > 255)
            return false;
        mac[i] = static_cast<uint8_t>(v[i]);
    }
    return true;
}

// "TAG=VALUE" into the map; false without a tag.
bool parseTag(const std::string& text, std::map<std::string, std::string>* tags)
{
    const size_t eq = text.find('=');
    if (eq == 0 || eq == std::string::npos)
        return false;
    (*tags)[text.substr(0, eq)] = text.substr(eq + 1);
    return true;
}

// The summary lists answer the unit's own lines.
void useSummaries(SimUnitConfig* unit)
{
    auto lines = std::make_shared<std::map<std::string, std::vector<std::string>>>();
    (*lines)["IO:_CurSummary"] = simCurrentSummary(*unit);
    (*lines)["IO:_EvtSummary"] = simEventSummary(*unit);
    for (const auto& [category, list] : *lines) {
        const auto n = static_cast<int32_t>(list.size());
        unit->lists[category] = {n, 0, n - 1};
    }
    unit->listItemText = [lines](const std::string& category, int32_t index) {
        const auto list = lines->find(category);
        if (list == lines->end() || index < 0 || static_cast<size_t>(index) >= list->second.size())
            return std::string();
        return list->second[static_cast<size_t>(index)];
    };
}

// A decimal number within [0, max]; false for anything else.
bool parseNumber(const char* text, unsigned long max, unsigned long* out)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long v = strtoul(text, &end, 10);
    if (!text[0] || text[0] == '-' || *end || errno || v > max)
        return false;
    *out = v;
    return true;
}

bool parseArgs(int argc, char** argv, Options* o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--no-announce") {
            o->announce = false;
        } else if (a == "--split") {
            o->split = true;
        } else if (a == "--brox") {
            useBroxAnswers(&o->unit);
        } else if (a == "--no-meters") {
            o->noMeters = true;
        } else if (a == "--moving-meters") {
            o->unit.movingMeters = true;
        } else if (a == "--summaries") {
            o->summaries = true;
        } else if (a == "--device-log") {
            o->deviceLog = true;
        } else if (!hasValue) {
            return false;
        } else if (a == "--layout") {
            o->unit.layoutPath = argv[++i];
        } else if (a == "--address") {
            o->unit.address = argv[++i];
        } else if (a == "--port") {
            unsigned long port = 0;
            if (!parseNumber(argv[++i], 65535, &port))
                return false;
            o->unit.port = static_cast<uint16_t>(port);
        } else if (a == "--unit-id") {
            o->unit.unitId = argv[++i];
        } else if (a == "--model") {
            o->unit.model = argv[++i];
        } else if (a == "--maker") {
            o->maker = argv[++i];
        } else if (a == "--mac") {
            o->unit.mac = argv[++i];
        } else if (a == "--info") {
            if (!parseTag(argv[++i], &o->info))
                return false;
        } else if (a == "--status") {
            if (!parseTag(argv[++i], &o->status))
                return false;
        } else if (a == "--list") {
            std::map<std::string, std::string> list;
            std::array<int32_t, 3> n{};
            char tail = 0;
            if (!parseTag(argv[++i], &list)
                || sscanf(list.begin()->second.c_str(), "%d,%d,%d%c", &n[0], &n[1], &n[2], &tail) != 3)
                return false;
            o->unit.lists[list.begin()->first] = n;
        } else if (a == "--set") {
            o->sets.emplace_back(argv[++i]);
        } else if (a == "--control") {
            o->control = argv[++i];
        } else if (a == "--log-item-ms") {
            unsigned long ms = 0;
            if (!parseNumber(argv[++i], 600000, &ms) || ms == 0)
                return false;
            o->unit.logItemMs = static_cast<int>(ms);
        } else if (a == "--period") {
            unsigned long period = 0;
            if (!parseNumber(argv[++i], 3600000, &period) || period == 0)
                return false;
            o->periodMs = static_cast<uint32_t>(period);
        } else {
            return false;
        }
    }
    for (const auto& [tag, value] : o->info)
        o->unit.devInfo[tag] = value;
    for (const auto& [tag, value] : o->status)
        o->unit.devStatus[tag] = value;
    if (o->noMeters) {
        o->unit.meters.clear();
        o->unit.meterItems.clear();
    }
    if (o->summaries)
        useSummaries(&o->unit);
    if (o->deviceLog)
        o->unit.logFiles = simLogFiles(o->unit);
    return !o->unit.layoutPath.empty();
}

// The units' text block: maker, model name and unit id, each as one length
// byte and its characters. False when a text is longer than 255 bytes.
bool announcementBlock(const Options& o, std::string* block)
{
    block->clear();
    for (const std::string* text : {&o.maker, &o.unit.model, &o.unit.unitId}) {
        if (text->size() > 255)
            return false;
        block->push_back(static_cast<char>(text->size()));
        block->append(*text);
    }
    return true;
}

// The JSDP announcer of the unit.
class Announcer {
public:
    bool start(const Options& o, std::string* why)
    {
        if (!announcementBlock(o, &m_payload)) {
            *why = "maker, model or unit id longer than 255 bytes";
            return false;
        }
        JsdpChannelConfig ch;
        ch.mode = 1;
        if (!parseMac(o.unit.mac, ch.ownMac)) {
            *why = "bad MAC " + o.unit.mac;
            return false;
        }
        vsock_textToAddress(VSOCK_FAMILY_IPV4, o.unit.address.c_str(), &ch.ownAddress);
        vsock_textToAddress(VSOCK_FAMILY_IPV4, "255.255.255.0", &ch.netmask);
        vsock_textToAddress(VSOCK_FAMILY_IPV4, JSDP_DEFAULT_GROUP, &ch.group);
        ch.port = JSDP_DEFAULT_PORT;
        ch.serviceType = JSDP_SERVICE_TYPE_SCP;
        ch.serviceTypeLength = static_cast<uint8_t>(strlen(JSDP_SERVICE_TYPE_SCP));
        ch.periodMs = o.periodMs;
        ch.payload = reinterpret_cast<const uint8_t*>(m_payload.data());
        ch.payloadLength = static_cast<uint16_t>(m_payload.size());

        oswrap_init();
        if (vsock_init() != VSOCK_OK || jsdp_startService() != JSDP_OK) {
            *why = "discovery engine did not start";
            return false;
        }
        m_started = true;
        for (int i = 0; i < 500 && jsdp_getState() == JSDP_STATE_NOINIT; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const JsdpResult rc = jsdp_open(&ch, 1);
        if (rc != JSDP_OK) {
            *why = "jsdp_open: " + std::to_string(static_cast<uint32_t>(rc));
            return false;
        }
        return true;
    }
    void silence() { jsdp_close(); }
    ~Announcer()
    {
        if (m_started) {
            jsdp_close();
            jsdp_stopService();
            vsock_term();
            oswrap_shutdown();
        }
    }

private:
    std::string m_payload;
    bool m_started = false;
};

// A quoted text or a decimal 32-bit number; false for anything else.
bool valueOf(const std::string& text, JLIB::JVariant* value)
{
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        const std::string inner = text.substr(1, text.size() - 2);
        return value->setString(inner.c_str(), static_cast<uint32_t>(inner.size())) >= 0;
    }
    char* end = nullptr;
    errno = 0;
    const long v = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || errno || v < INT32_MIN || v > INT32_MAX)
        return false;
    value->setInt32(static_cast<int32_t>(v));
    return true;
}

// "PATH X Y VALUE": the unit's own edit of one cell; the field's result.
JResult setValue(SimUnit& unit, const std::string& line)
{
    std::istringstream in(line);
    std::string path;
    int32_t x = -1, y = -1;
    if (!(in >> path >> x >> y))
        return MMS::MMS_E_ARG;
    std::string rest;
    std::getline(in >> std::ws, rest);
    JLIB::JVariant value;
    return valueOf(rest, &value) ? unit.setLocal(path, x, y, value) : MMS::MMS_E_ARG;
}

// One control line; false on QUIT.
bool control(SimUnit& unit, Announcer& announcer, const std::string& line)
{
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "SET") {
        std::string rest;
        std::getline(in >> std::ws, rest);
        printf("SET %d\n", static_cast<int>(setValue(unit, rest)));
    } else if (word == "GET") {
        std::string path;
        int32_t x = -1, y = -1;
        in >> path >> x >> y;
        const int32_t index = unit.memory().indexOfPath(path);
        printf("VALUE %s %d %d %s\n", path.c_str(), x, y,
            index < 0 ? "?" : unit.memory().valueText(SimCell{index, x, y}).c_str());
        return true;
    } else if (word == "STALL") {
        int ms = 0;
        in >> ms;
        unit.stall(ms);
    } else if (word == "ERROR") {
        unit.errorNext();
    } else if (word == "CLOSEMID") {
        unit.closeMidLine();
    } else if (word == "SPLIT") {
        std::string on;
        in >> on;
        unit.splitLines(on == "on");
    } else if (word == "SILENT") {
        announcer.silence();
        unit.goSilent(true);
    } else if (word == "LEVEL") {
        int level = 0;
        in >> level;
        unit.setMeterLevel(static_cast<uint8_t>(std::clamp(level, 0, 255)));
    } else if (word == "RUNMODE") {
        printf("RUNMODE %s\n", unit.runmode().c_str());
        return true;
    } else if (word == "FWMODE") {
        std::string how;
        in >> how;
        unit.fwModeSilent(how == "silent");
    } else if (word == "CLOSE") {
        unit.closeAll();
    } else if (word == "RESET") {
        unit.resetAll();
    } else if (word == "STATS") {
        const SimUnitStats s = unit.stats();
        std::string words;
        for (const auto& [name, count] : s.words)
            words += " " + name + "=" + std::to_string(count);
        printf("STATS accepted=%llu lines=%llu notifies=%llu connections=%zu last_notify_ns=%lld%s\n",
            static_cast<unsigned long long>(s.accepted), static_cast<unsigned long long>(s.lines),
            static_cast<unsigned long long>(s.notifies), s.connections, static_cast<long long>(s.lastNotifyNs),
            words.c_str());
        return true;
    } else if (word == "QUIT") {
        return false;
    } else {
        printf("UNKNOWN %s\n", word.c_str());
        return true;
    }
    if (word != "SET")
        printf("OK %s\n", word.c_str());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Options o;
    if (!parseArgs(argc, argv, &o)) {
        fprintf(stderr,
            "usage: quillon_simunit --layout FILE [--address A] [--port N] [--unit-id ID] [--model M] [--maker M]\n"
            "                       [--mac MAC] [--info TAG=VALUE]... [--status TAG=VALUE]... [--no-meters] "
            "[--moving-meters]\n"
            "                       [--list CATEGORY=N,HEAD,TAIL]... [--set 'PATH X Y VALUE']...\n"
            "                       [--control FIFO] [--period MS] [--no-announce] [--split] [--brox]\n"
            "                       [--summaries] [--device-log] [--log-item-ms MS]\n");
        return 2;
    }
    SimUnit unit;
    std::string why;
    if (unit.start(o.unit, &why) < 0) {
        fprintf(stderr, "quillon_simunit: %s\n", why.c_str());
        return 1;
    }
    for (const std::string& set : o.sets) {
        const JResult rc = setValue(unit, set);
        if (rc < 0) {
            fprintf(stderr, "quillon_simunit: --set %s: error %d\n", set.c_str(), static_cast<int>(rc));
            return 1;
        }
    }
    unit.splitLines(o.split);
    Announcer announcer;
    if (o.announce && !announcer.start(o, &why)) {
        fprintf(stderr, "quillon_simunit: %s\n", why.c_str());
        return 1;
    }
    // Read-write so that the FIFO never reports an end while no writer is open.
    const int fd = o.control.empty() ? -1 : ::open(o.control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (!o.control.empty() && fd < 0) {
        fprintf(stderr, "quillon_simunit: cannot open %s: %s\n", o.control.c_str(), strerror(errno));
        return 1;
    }
    printf("READY %u\n", unit.port());

    std::string pending;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        if (::poll(&p, 1, 1000) <= 0)
            continue;
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        pending.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!control(unit, announcer, line)) {
                ::close(fd);
                unit.stop();
                return 0;
            }
        }
        if (pending.size() > 4096)
            pending.clear();
    }
}
