// Helpers of the main-window tests: a rack owner whose network side the test
// decides, and answering the program's own modal dialogs with real input.
#pragma once

#include "app/app_quilobject.h"
#include "support/gui/gui_support.h"

#include <QApplication>
#include <QTimer>

#include <functional>
#include <vector>

namespace qtest {

inline Quil::HostInterface hostInterface(const QString& name, const QString& mac, const QString& address,
    bool up = true, bool running = true, bool multicast = true)
{
    Quil::HostInterface host;
    host.name = name;
    host.mac = mac;
    host.address = address;
    host.netmask = QStringLiteral("255.255.255.0");
    host.isUp = up;
    host.isRunning = running;
    host.canMulticast = multicast;
    return host;
}

// The real rack owner with the PC's interfaces replaced by a list of the
// test's; records the interface choices it is given.
class NetCore : public Quil::QuilObject {
public:
    struct Choice {
        QString mac;
        QString address;
        bool ask;
    };

    QList<Quil::HostInterface> interfaces;
    Quil::HostInterface current;
    std::vector<Choice> choices;

    QList<Quil::HostInterface> networkInterfaces() const override { return interfaces; }
    JResult currentNetworkInterface(Quil::HostInterface* out) const override
    {
        *out = current;
        return 0;
    }
    JResult setNetworkInterface(const QString& mac, const QString& address, bool ask) override
    {
        choices.push_back({mac, address, ask});
        return 0;
    }
};

// Runs `act` on the next modal dialog of type T once it is shown, from
// inside the event loop of its exec. Bounded: gives up after `ms`.
template <class T> void onNextModal(std::function<void(T*)> act, int ms = 5000)
{
    auto* timer = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act, started, ms] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible()) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        } else if (started->elapsed() > ms) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

} // namespace qtest
