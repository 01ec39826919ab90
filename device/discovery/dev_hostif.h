// The host's network interfaces as the discovery front offers them: one
// record per IPv4 address of every interface that has a real hardware
// address and is not a loopback interface.
#pragma once

#include <QList>
#include <QString>

#include <cstdint>

namespace Quil {

struct HostInterface {
    QString name; // human-readable name
    QString mac; // hardware address as the platform gives it
    QString address; // IPv4 address text
    QString netmask; // IPv4 netmask text
    bool isUp = false;
    bool isRunning = false;
    bool canMulticast = false;
    int32_t index = 0;

    // Discovery needs the interface up, running and able to multicast.
    bool isUsable() const { return isUp && isRunning && canMulticast; }
    // True for the record that findHostInterface returns when nothing matches.
    bool isEmpty() const { return mac.isEmpty(); }
};

// Every valid, non-loopback interface with a non-zero hardware address, one
// record per IPv4 address entry, in the platform's order.
QList<HostInterface> listHostInterfaces();

// The first record whose MAC text equals `mac` and, when `address` is not
// empty, whose address equals it too. An empty record for an empty `mac` or
// when none matches.
HostInterface findHostInterface(const QString& mac, const QString& address = QString());

} // namespace Quil
