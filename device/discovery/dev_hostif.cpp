#include "device/discovery/dev_hostif.h"

#include <QNetworkInterface>

namespace Quil {

namespace {

bool hasRealHardwareAddress(const QNetworkInterface& iface)
{
    const QString mac = iface.hardwareAddress();
    return !mac.isEmpty() && mac != QLatin1String("00:00:00:00:00:00");
}

HostInterface recordOf(const QNetworkInterface& iface, const QNetworkAddressEntry& entry)
{
    const QNetworkInterface::InterfaceFlags flags = iface.flags();
    HostInterface h;
    h.name = iface.humanReadableName();
    h.mac = iface.hardwareAddress();
    h.address = entry.ip().toString();
    h.netmask = entry.netmask().toString();
    h.isUp = flags.testFlag(QNetworkInterface::IsUp);
    h.isRunning = flags.testFlag(QNetworkInterface::IsRunning);
    h.canMulticast = flags.testFlag(QNetworkInterface::CanMulticast);
    h.index = iface.index();
    return h;
}

} // namespace

QList<HostInterface> listHostInterfaces()
{
    QList<HostInterface> result;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        if (!iface.isValid() || iface.flags().testFlag(QNetworkInterface::IsLoopBack) || !hasRealHardwareAddress(iface))
            continue;
        for (const QNetworkAddressEntry& entry : iface.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                result.append(recordOf(iface, entry));
    }
    return result;
}

HostInterface findHostInterface(const QString& mac, const QString& address)
{
    if (mac.isEmpty())
        return HostInterface();
    for (const HostInterface& h : listHostInterfaces())
        if (h.mac == mac && (address.isEmpty() || h.address == address))
            return h;
    return HostInterface();
}

} // namespace Quil
