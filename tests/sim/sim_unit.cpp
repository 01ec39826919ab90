#include "tests/sim/sim_unit.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace simtest {

namespace {

// Longest request line we hold; a client that sends more without a line
// feed is cut off.
constexpr size_t kMaxLine = 8192;

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::string quoteText(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

int64_t simNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

JResult SimDevice::deviceInfo(int32_t, SCP::ScpText& data, const SCP::ScpText& tag)
{
    const std::string t = toUtf8(tag);
    const auto configured = m_config.devInfo.find(t);
    if (configured != m_config.devInfo.end())
        fromUtf8(data, configured->second);
    else if (t == "productname")
        fromUtf8(data, m_config.model);
    else if (t == "unitid")
        fromUtf8(data, m_config.unitId);
    else if (t == "mac")
        fromUtf8(data, m_config.mac);
    else
        return SCP::SCP_E_INDEX;
    return SCP::SCP_OK;
}

JResult SimDevice::deviceStatus(int32_t, SCP::ScpText& data, const SCP::ScpText& tag)
{
    if (m_runmode && toUtf8(tag) == "runmode") {
        fromUtf8(data, m_runmode());
        return SCP::SCP_OK;
    }
    const auto configured = m_config.devStatus.find(toUtf8(tag));
    if (configured != m_config.devStatus.end()) {
        fromUtf8(data, configured->second);
        return SCP::SCP_OK;
    }
    if (toUtf8(tag) != "runmode")
        return SCP::SCP_E_INDEX;
    fromUtf8(data, "normal");
    return SCP::SCP_OK;
}

JResult SimDevice::event(int32_t, const SCP::ScpText& eventId, const SCP::ScpText& data)
{
    std::string text = toUtf8(data);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    if (m_unitEvent)
        m_unitEvent(toUtf8(eventId), text);
    if (m_config.onEvent)
        m_config.onEvent(toUtf8(eventId), text);
    return SCP::SCP_OK;
}

JResult SimMeter::indexOf(int32_t& meterIndex, const SCP::ScpText& address)
{
    std::string a = toUtf8(address);
    if (a.size() >= 2 && a.front() == '"' && a.back() == '"')
        a = a.substr(1, a.size() - 2);
    for (size_t i = 0; i < m_config.meters.size(); ++i) {
        if (m_config.meters[i] == a) {
            meterIndex = static_cast<int32_t>(i);
            return SCP::SCP_OK;
        }
    }
    meterIndex = -1;
    return SCP::SCP_E_INDEX;
}

JResult SimMeter::nameOf(SCP::ScpText& address, int32_t meterIndex)
{
    if (meterIndex < 0 || static_cast<size_t>(meterIndex) >= m_config.meters.size())
        return SCP::SCP_E_INDEX;
    fromUtf8(address, m_config.meters[static_cast<size_t>(meterIndex)]);
    return SCP::SCP_OK;
}

JResult SimMeter::getMeterCount(int32_t& count)
{
    count = static_cast<int32_t>(m_config.meters.size());
    return SCP::SCP_OK;
}

struct SimUnit::Connection {
    int fd = -1;
    std::unique_ptr<SCP::ScpServerSession> session;
    std::string input;
    bool metering = false; // an mtrstart holds
    int64_t nextMeterMs = 0;
    ~Connection() { closeFd(fd); }
};

SimUnit::SimUnit() = default;

SimUnit::~SimUnit()
{
    stop();
}

JResult SimUnit::start(const SimUnitConfig& config, std::string* why)
{
    m_config = config;
    JResult rc = m_memory.loadFile(config.layoutPath, why);
    if (rc < 0)
        return rc;
    m_parameter = std::make_unique<SimParameter>(m_memory, SOURCE_LINK);
    m_device = std::make_unique<SimDevice>(m_config);
    {
        const auto configured = m_config.devStatus.find("runmode");
        std::lock_guard<std::mutex> guard(m_lock);
        m_runmode = configured != m_config.devStatus.end() ? configured->second : "normal";
    }
    m_device->setRunmode([this] { return runmode(); });
    if (!m_config.logFiles.empty()) {
        m_log = std::make_unique<SimDeviceLog>(
            m_config.logFiles, m_config.logItemMs, m_config.address, m_config.tftpTimings);
        m_device->setUnitEvent([this](const std::string& id, const std::string& data) { m_log->event(id, data); });
    }

    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const int on = 1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(config.port);
    if (m_listen < 0 || m_wake < 0 || ::inet_pton(AF_INET, config.address.c_str(), &sa.sin_addr) != 1
        || ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
        || ::bind(m_listen, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(m_listen, 8) != 0) {
        *why = "cannot listen on " + config.address + ":" + std::to_string(config.port) + ": " + strerror(errno);
        closeFd(m_listen);
        closeFd(m_wake);
        return SCP::SCP_E_FAIL;
    }
    socklen_t length = sizeof sa;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&sa), &length);
    m_port = ntohs(sa.sin_port);
    m_stop = false;
    m_thread = std::thread([this] { loop(); });
    return 0;
}

void SimUnit::stop()
{
    if (m_thread.joinable()) {
        m_stop = true;
        wake();
        m_thread.join();
    }
    m_connections.clear();
    m_log.reset();
    closeFd(m_listen);
    closeFd(m_wake);
}

SimUnitStats SimUnit::stats() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_stats;
}

JResult SimUnit::setLocal(const std::string& path, int32_t x, int32_t y, const JLIB::JVariant& value)
{
    const int32_t index = m_memory.indexOfPath(path);
    if (index < 0)
        return MMS::MMS_E_PATH;
    const JResult rc = m_memory.write(SimCell{index, x, y}, value, SOURCE_LOCAL);
    wake();
    return rc;
}

void SimUnit::stall(int milliseconds)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_stallUntilMs = simNowMs() + milliseconds;
}

void SimUnit::errorNext()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_errorNext = true;
}

void SimUnit::closeMidLine()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_closeMid = true;
}

void SimUnit::splitLines(bool on)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_split = on;
}

void SimUnit::fwModeSilent(bool on)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_fwModeSilent = on;
}

std::string SimUnit::runmode() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_runmode;
}

void SimUnit::goSilent(bool on)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_silent = on;
}

void SimUnit::closeAll()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_closeAll = true;
    }
    wake();
}

void SimUnit::resetAll()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_reset = true;
    }
    wake();
}

void SimUnit::setMeterLevel(uint8_t level)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_meterLevel = level;
}

void SimUnit::wake()
{
    if (m_wake >= 0) {
        const uint64_t one = 1;
        (void)!::write(m_wake, &one, sizeof one);
    }
}

void SimUnit::loop()
{
    while (!m_stop) {
        std::vector<pollfd> fds;
        fds.push_back({m_listen, POLLIN, 0});
        fds.push_back({m_wake, POLLIN, 0});
        for (const auto& c : m_connections)
            fds.push_back({c->fd, POLLIN, 0});
        // A short period so that a stall ends on time.
        ::poll(fds.data(), fds.size(), 20);
        if (fds[1].revents & POLLIN) {
            uint64_t drained;
            (void)!::read(m_wake, &drained, sizeof drained);
        }
        if (fds[0].revents & POLLIN)
            acceptAll();
        bool closeAll = false;
        bool reset = false;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            std::swap(closeAll, m_closeAll);
            std::swap(reset, m_reset);
        }
        if (reset) {
            // A zero linger makes close send RST instead of FIN.
            const linger hard{1, 0};
            for (const auto& c : m_connections)
                ::setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            closeAll = true;
        }
        for (size_t i = 0; i < m_connections.size();) {
            Connection& c = *m_connections[i];
            const bool readable = i + 2 < fds.size() && fds[i + 2].fd == c.fd && (fds[i + 2].revents != 0);
            bool keep = !closeAll;
            if (keep && readable)
                keep = readFrom(c);
            if (keep)
                keep = handleLines(c);
            if (keep) {
                ++i;
            } else {
                m_connections.erase(m_connections.begin() + static_cast<std::ptrdiff_t>(i));
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            }
        }
        pushNotifies();
        pushMeters();
        std::lock_guard<std::mutex> guard(m_lock);
        m_stats.connections = m_connections.size();
    }
}

void SimUnit::acceptAll()
{
    for (int n = 0; n < 16; ++n) {
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->session = std::make_unique<SCP::ScpServerSession>(m_device.get(), m_parameter.get(), &m_meter, 0);
        if (c->session->init(1) < 0)
            continue;
        m_connections.push_back(std::move(c));
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_stats.accepted;
    }
}

bool SimUnit::readFrom(Connection& c)
{
    char buffer[4096];
    for (int n = 0; n < 64; ++n) {
        const ssize_t got = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            c.input.append(buffer, static_cast<size_t>(got));
            if (c.input.size() > 16 * kMaxLine)
                return false;
            continue;
        }
        if (got == 0)
            return false;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    return true;
}

bool SimUnit::handleLines(Connection& c)
{
    for (;;) {
        const size_t end = c.input.find('\n');
        if (end == std::string::npos)
            return c.input.size() <= kMaxLine;
        bool silent, error;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_stallUntilMs > simNowMs())
                return true; // held until the stall ends
            silent = m_silent;
            error = m_errorNext;
            m_errorNext = m_errorNext && silent;
        }
        const std::string line = c.input.substr(0, end + 1);
        c.input.erase(0, end + 1);
        if (silent)
            continue;
        countWord(line);
        if (m_config.dropRequest && m_config.dropRequest(line.substr(0, line.find_last_not_of("\r\n") + 1)))
            continue;
        std::string reply;
        if (error) {
            // Refused as the server refuses a request: its own elements echoed.
            reply = "ERROR " + line.substr(0, line.find_last_not_of("\r\n") + 1) + "\n";
        } else if (!answerOwnWords(c, line, &reply)) {
            std::vector<uint8_t> out;
            c.session->receive(reinterpret_cast<const uint8_t*>(line.data()), line.size(), out);
            reply.assign(out.begin(), out.end());
        }
        {
            std::lock_guard<std::mutex> guard(m_lock);
            ++m_stats.lines;
        }
        if (!reply.empty() && !sendLine(c, reply))
            return false;
    }
}

bool SimUnit::sendLine(Connection& c, const std::string& bytes)
{
    bool split, closeMid;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        split = m_split;
        closeMid = m_closeMid;
        m_closeMid = false;
    }
    const size_t half = bytes.size() / 2;
    auto sendAll = [&](const char* data, size_t length) {
        // Bounded: a client that reads nothing for 2 s is dropped.
        const int64_t deadline = simNowMs() + 2000;
        while (length > 0) {
            const ssize_t n = ::send(c.fd, data, length, MSG_NOSIGNAL);
            if (n > 0) {
                data += n;
                length -= static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return false;
            if (simNowMs() > deadline)
                return false;
            pollfd p{c.fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
        return true;
    };
    if (closeMid) {
        sendAll(bytes.data(), half);
        return false;
    }
    if (split && half > 0) {
        if (!sendAll(bytes.data(), half))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return sendAll(bytes.data() + half, bytes.size() - half);
    }
    return sendAll(bytes.data(), bytes.size());
}

void SimUnit::pushNotifies()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_silent)
            return;
    }
    SimCell cell;
    // Bounded per round so requests keep being answered under a flood.
    for (size_t n = 0; n < m_memory.cellCount() && m_memory.nextChanged(SOURCE_LINK, &cell); ++n) {
        const SimParam& p = m_memory.params()[static_cast<size_t>(cell.index)];
        const std::string value = m_memory.valueText(cell);
        const bool text = p.type == MMS::PARAM_STRING;
        const std::string line = "NOTIFY set " + p.address + " " + std::to_string(cell.x) + " " + std::to_string(cell.y)
            + " " + (text ? quoteText(value) : value) + " " + quoteText(value) + "\n";
        for (size_t i = 0; i < m_connections.size();) {
            const int64_t sentNs = simNowNs();
            if (sendLine(*m_connections[i], line)) {
                std::lock_guard<std::mutex> guard(m_lock);
                ++m_stats.notifies;
                m_stats.lastNotifyNs = sentNs;
                ++i;
            } else {
                m_connections.erase(m_connections.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }
}

namespace {

// The words of a request line, split at blanks (quotes are not needed by
// the words the unit answers itself).
std::vector<std::string> wordsOf(const std::string& line)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w && words.size() < 8;)
        words.push_back(w);
    return words;
}

bool sameWord(const std::string& a, const char* b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

} // namespace

void SimUnit::countWord(const std::string& line)
{
    const std::vector<std::string> words = wordsOf(line);
    if (words.empty())
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_stats.words[words[0]];
}

bool SimUnit::answerUpdateMode(const std::vector<std::string>& w, std::string* reply)
{
    static const char* const kMode = "IO:Current/Dev/QuillonFWUpdateMode";
    static const char* const kProgress[]
        = {"IO:Current/Dev/QuillonFWUpdateProgress", "IO:Current/Dev/QuillonDanteUpdateProgress"};
    if (w.size() < 4 || (!sameWord(w[0], "set") && !sameWord(w[0], "get")))
        return false;
    const bool set = sameWord(w[0], "set");
    const std::string head = w[1] + " " + w[2] + " " + w[3];
    if (sameWord(w[1], kMode)) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!set) {
            *reply = "OK get " + head + " " + (m_runmode == "update" ? "1" : "0") + "\n";
            return true;
        }
        if (w.size() < 5)
            return false;
        *reply = "OK set " + head + " " + w[4] + "\n";
        if (!m_fwModeSilent) {
            m_runmode = w[4] == "1" ? "update" : "normal";
            *reply += "NOTIFY devstatus runmode \"" + m_runmode + "\"\n";
        }
        return true;
    }
    for (const char* progress : kProgress) {
        if (set && w.size() >= 5 && sameWord(w[1], progress)) {
            *reply = "OK set " + head + " " + w[4] + "\n";
            return true;
        }
    }
    return false;
}

bool SimUnit::answerOwnWords(Connection& c, const std::string& line, std::string* reply)
{
    const std::vector<std::string> w = wordsOf(line);
    if (w.empty())
        return false;
    if (sameWord(w[0], "mtrstart"))
        c.metering = true; // the session answers; meters flow from now on
    else if (sameWord(w[0], "mtrstop"))
        c.metering = false;
    if (answerUpdateMode(w, reply))
        return true;
    if (m_log && w.size() >= 2 && SimDeviceLog::answers(w[1]))
        return answerLog(w, reply);
    if (sameWord(w[0], "LISTITEMNUM") && w.size() == 2) {
        const auto list = m_config.lists.find(w[1]);
        if (list == m_config.lists.end()) {
            *reply = "ERROR LISTITEMNUM " + w[1] + "\n";
        } else {
            const auto& n = list->second;
            *reply = "OK LISTITEMNUM " + w[1] + " " + std::to_string(n[0]) + " " + std::to_string(n[1]) + " "
                + std::to_string(n[2]) + "\n";
        }
        return true;
    }
    if (sameWord(w[0], "LISTITEM") && w.size() == 3) {
        if (m_config.lists.count(w[1]) == 0)
            *reply = "ERROR LISTITEM " + w[1] + " " + w[2] + "\n";
        else
            *reply = "OK LISTITEM " + w[1] + " " + w[2] + " "
                + quoteText(m_config.listItemText ? m_config.listItemText(w[1], std::atoi(w[2].c_str()))
                                               : w[1] + " item " + w[2])
                + "\n";
        return true;
    }
    return false;
}

bool SimUnit::answerLog(const std::vector<std::string>& w, std::string* reply)
{
    if (sameWord(w[0], "LISTITEMNUM") && w.size() == 2) {
        const auto n = m_log->count();
        *reply = "OK LISTITEMNUM " + w[1] + " " + std::to_string(n[0]) + " " + std::to_string(n[1]) + " "
            + std::to_string(n[2]) + "\n";
        return true;
    }
    std::string text;
    if (sameWord(w[0], "LISTITEM") && w.size() == 3) {
        if (m_log->item(w[1], std::atoi(w[2].c_str()), &text))
            *reply = "OK LISTITEM " + w[1] + " " + w[2] + " " + quoteText(text) + "\n";
        else
            *reply = "ERROR LISTITEM " + w[1] + " " + w[2] + "\n";
        return true;
    }
    return false;
}

namespace {

// A triangle from 80 to 124 (the upper part of the meters' scale), a second
// and a half per sweep, each item a little behind its neighbour.
uint8_t movingLevel(int64_t nowMs, size_t meter, uint32_t item)
{
    const int64_t phase = (nowMs / 50 + static_cast<int64_t>(meter * 11 + item * 5)) % 30;
    const int64_t triangle = phase < 15 ? phase : 30 - phase;
    return static_cast<uint8_t>(80 + triangle * 3);
}

} // namespace

void SimUnit::pushMeters()
{
    uint8_t level = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_silent)
            return;
        level = m_meterLevel;
    }
    const int64_t now = simNowMs();
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < m_connections.size();) {
        Connection& c = *m_connections[i];
        bool keep = true;
        if (c.metering && now >= c.nextMeterMs) {
            c.nextMeterMs = now + m_config.meterPeriodMs;
            for (size_t m = 0; keep && m < m_config.meters.size() && m < m_config.meterItems.size(); ++m) {
                if (m_config.meterItems[m] == 0)
                    continue;
                std::string line = "NOTIFY mtr " + m_config.meters[m] + " level";
                for (uint32_t k = 0; k < m_config.meterItems[m]; ++k) {
                    const uint8_t item = m_config.movingMeters ? movingLevel(now, m, k) : level;
                    line += ' ';
                    line += kHex[item >> 4];
                    line += kHex[item & 15];
                }
                keep = sendLine(c, line + "\n");
                std::lock_guard<std::mutex> guard(m_lock);
                ++m_stats.meterLines;
            }
        }
        if (keep)
            ++i;
        else
            m_connections.erase(m_connections.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

} // namespace simtest
