// Engine records as the discovery engine hands them to its subscribers,
// and a spy that writes the recorder's signals down as short lines.
#pragma once

#include "device/discovery/dev_discovery.h"
#include "device/discovery/dev_recorder.h"
#include "pbd/jsdp/jsdp.h"

#include <QObject>
#include <QStringList>

#include <cstring>
#include <string>

namespace disctest {

struct Announcement {
    std::string unitId = "J001";
    std::string mac = "02:53:00:00:00:0a";
    std::string address = "198.18.0.2";
    std::string model = "BroxL-D";
    std::string maker = "Valdor";
    std::string type = JSDP_SERVICE_TYPE_SCP;
    uint8_t kind = JSDP_ADDRESS_KIND_IPV4;
    std::string block; // when set, the text block as is
    std::string sender; // where the datagram came from; empty: the announced address
};

inline std::string textBlock(const Announcement& a)
{
    if (!a.block.empty())
        return a.block;
    std::string b;
    for (const std::string* s : {&a.maker, &a.model, &a.unitId}) {
        b.push_back(static_cast<char>(s->size()));
        b += *s;
    }
    return b;
}

inline JsdpService serviceOf(const Announcement& a)
{
    JsdpService s{};
    std::memcpy(s.tag, "JSDP", 4);
    s.addressKind = a.kind;
    vsock_textToAddress(a.kind == JSDP_ADDRESS_KIND_IPV6 ? VSOCK_FAMILY_IPV6 : VSOCK_FAMILY_IPV4, a.address.c_str(),
        &s.announcedAddress);
    vsock_textToAddress(a.kind == JSDP_ADDRESS_KIND_IPV6 ? VSOCK_FAMILY_IPV6 : VSOCK_FAMILY_IPV4,
        (a.sender.empty() ? a.address : a.sender).c_str(), &s.senderAddress);
    unsigned m[6] = {};
    sscanf(a.mac.c_str(), "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]);
    for (int i = 0; i < 6; ++i)
        s.mac[i] = static_cast<uint8_t>(m[i]);
    s.serviceTypeLength = static_cast<uint8_t>(a.type.size());
    std::memcpy(s.serviceType, a.type.data(), a.type.size());
    const std::string block = textBlock(a);
    s.payloadLength = static_cast<uint16_t>(block.size());
    std::memcpy(s.payload, block.data(), block.size());
    s.alive = 1;
    s.inUse = 1;
    return s;
}

inline std::string keyOf(const Announcement& a)
{
    return a.unitId + "-" + a.mac;
}

// "found <key>", "lost <key>", "dup <new> <present> <ip>", in order.
class SignalLog : public QObject {
public:
    explicit SignalLog(Quil::ScpRecorder* r)
    {
        connect(r, &Quil::ScpRecorder::foundDev, this, [this](QString k) { lines << "found " + k; });
        connect(r, &Quil::ScpRecorder::lostDev, this, [this](QString k) { lines << "lost " + k; });
        connect(r, &Quil::ScpRecorder::foundDuplicateIPDev, this,
            [this](QString k, QString d, QString ip) { lines << "dup " + k + " " + d + " " + ip; });
    }
    explicit SignalLog(Quil::JsdpZDiscovery* d)
    {
        connect(d, &Quil::JsdpZDiscovery::foundServSignal, this, [this](QString k) { lines << "found " + k; });
        connect(d, &Quil::JsdpZDiscovery::lostServSignal, this, [this](QString k) { lines << "lost " + k; });
        connect(d, &Quil::JsdpZDiscovery::foundDeplicateIPDevSignal, this,
            [this](QString k, QString dup, QString ip) { lines << "dup " + k + " " + dup + " " + ip; });
    }
    bool has(const QString& line) const { return lines.contains(line); }
    QStringList lines;
};

} // namespace disctest
