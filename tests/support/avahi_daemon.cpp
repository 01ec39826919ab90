// See avahi_daemon.h.
#include "tests/support/avahi_daemon.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace qtest {

namespace {

std::string xmlEscape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string serviceFile(const AvahiDaemon::Service& s)
{
    std::string xml = "<?xml version=\"1.0\" standalone='no'?>\n"
                      "<!DOCTYPE service-group SYSTEM \"avahi-service.dtd\">\n"
                      "<service-group>\n  <name>"
        + xmlEscape(s.name) + "</name>\n  <service>\n    <type>" + xmlEscape(s.type) + "</type>\n    <port>"
        + std::to_string(s.port) + "</port>\n";
    for (const auto& t : s.txt)
        xml += "    <txt-record>" + xmlEscape(t) + "</txt-record>\n";
    return xml + "  </service>\n</service-group>\n";
}

std::string fileName(size_t i)
{
    return "services/s" + std::to_string(i) + ".service";
}

} // namespace

bool AvahiDaemon::installed()
{
    return access("/usr/sbin/avahi-daemon", X_OK) == 0;
}

AvahiDaemon::AvahiDaemon(const NetnsBed& bed, const std::vector<Service>& services)
    : m_host("qavahi" + std::to_string(getpid()))
    , m_services(services)
{
    const std::string conf = "[server]\nhost-name=" + m_host
        + "\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=" + NetnsBed::kPeerInterface
        + "\nenable-dbus=no\n[wide-area]\nenable-wide-area=no\n[publish]\npublish-hinfo=no\npublish-workstation=no\n";
    if (runCommand("mkdir -p " + m_dir.file("services")) != 0 || !writeFile(m_dir.file("avahi-daemon.conf"), conf)) {
        m_error = "cannot write the daemon's files";
        return;
    }
    for (size_t i = 0; i < services.size(); ++i)
        writeFile(m_dir.file(fileName(i)), serviceFile(services[i]));
    const std::string script = "mkdir -p /run/avahi-daemon && mount -t tmpfs none /run/avahi-daemon && "
                               "mount --bind "
        + m_dir.file("services") + " /etc/avahi/services && exec avahi-daemon -f " + m_dir.file("avahi-daemon.conf")
        + " --no-drop-root --no-chroot --no-rlimits 2>&1";
    m_process
        = std::make_unique<ChildProcess>(bed.inPeer({"unshare", "-m", "--propagation", "private", "sh", "-c", script}));
    bool started = false;
    size_t established = 0;
    std::string line;
    std::string seen;
    const size_t maxLines = 100 + 4 * services.size(); // a few lines per service file
    for (size_t i = 0; i < maxLines && !(started && established >= services.size()); ++i) {
        if (!m_process->readLine(&line, 15000))
            break;
        seen += line + "\n";
        started = started || line.find("Server startup complete") != std::string::npos;
        if (line.find("successfully established") != std::string::npos)
            ++established;
    }
    if (!started || established < services.size())
        m_error = "avahi-daemon did not start:\n" + seen;
}

AvahiDaemon::~AvahiDaemon() = default;

bool AvahiDaemon::withdraw(const std::string& name)
{
    for (size_t i = 0; i < m_services.size(); ++i) {
        if (m_services[i].name == name) {
            std::remove(m_dir.file(fileName(i)).c_str());
            return m_process && m_process->signal(SIGHUP);
        }
    }
    return false;
}

void AvahiDaemon::kill()
{
    if (m_process) {
        m_process->signal(SIGKILL);
        m_process->wait(2000);
    }
}

} // namespace qtest
