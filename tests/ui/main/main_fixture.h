// Helpers of the main-window tests: a rack owner whose network side the test
// decides, and answering the program's own modal dialogs with real input.
#pragma once

#include "app/app_quilobject.h"
#include "tests/support/gui/gui_support.h"

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

// Runs `act` once `find` gives a visible widget, from whatever event loop
// runs then (a dialog's exec, a menu's). Bounded: gives up after `ms`.
inline void whenShown(std::function<QWidget*()> find, std::function<void(QWidget*)> act, int ms)
{
    auto* timer = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, find, act, started, ms] {
        QWidget* shown = find();
        const bool found = shown && shown->isVisible();
        if (found || started->elapsed() > ms) {
            timer->stop();
            timer->deleteLater();
        }
        if (found)
            act(shown);
    });
    timer->start();
}

// Runs `act` on the next modal dialog of type T once it is shown.
template <class T> void onNextModal(std::function<void(T*)> act, int ms = 5000)
{
    whenShown([] { return qobject_cast<T*>(QApplication::activeModalWidget()); },
        [act](QWidget* dialog) { act(static_cast<T*>(dialog)); }, ms);
}

} // namespace qtest

#include "app/app_prefs.h"
#include "device/memory/dev_memthread.h"
#include "tests/support/recording_dev.h"
#include "ui/main/qlmainwindow.h"

#include <QMenu>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>

namespace qtest {

// A real rack owner (offline: nothing is started) whose slots the test can
// watch: every rack slot is handed out through a RecordingDev, and slot
// states can be forced per slot.
// A recording slot that also keeps, per subscriber and path, how many
// subscriptions are live. A typed subscription connects a relay object its
// subscriber owns.
class SubscriptionDev : public RecordingDev {
public:
    using RecordingDev::RecordingDev;
    std::map<std::pair<const QObject*, QString>, int> live;

    JResult subscribe(const QString& path, const QObject* receiver, int key, const char* slot) override
    {
        const JResult result = RecordingDev::subscribe(path, receiver, key, slot);
        if (result >= 0)
            ++live[{owner(receiver), path}];
        return result;
    }
    JResult unsubscribe(const QString& path, const QObject* receiver, int key, const char* slot) override
    {
        const JResult result = RecordingDev::unsubscribe(path, receiver, key, slot);
        // A disconnect drops every matching connection at once.
        if (result >= 0)
            live[{owner(receiver), path}] = 0;
        return result;
    }

private:
    static const QObject* owner(const QObject* receiver)
    {
        return receiver && receiver->parent() ? receiver->parent() : receiver;
    }
};

class WatchedCore : public Quil::QuilObject {
public:
    WatchedCore()
    {
        for (int slot = 0; slot < slotCount(); ++slot)
            recorders.push_back(std::make_unique<SubscriptionDev>(QuilObject::rackDevice(slot)));
    }

    struct Write {
        int slot;
        QString path;
        int32_t value;
        uint8_t source;
    };
    std::vector<Write> writes;
    std::vector<std::unique_ptr<SubscriptionDev>> recorders;
    // Forced per slot: model type, and state reads (nullopt: the read fails).
    std::map<int, Quil::ModelType> models;
    std::map<std::pair<int, QString>, std::optional<uint32_t>> states;

    Quil::IZDev* rackDevice(int slot) const override
    {
        return slot >= 0 && slot < static_cast<int>(recorders.size()) ? recorders[slot].get() : nullptr;
    }
    Quil::ModelType modelType(int slot) const override
    {
        const auto forced = models.find(slot);
        return forced != models.end() ? forced->second : QuilObject::modelType(slot);
    }
    JResult getValue(int slot, const QString& path, JLIB::JVariant* out) override
    {
        const auto forced = states.find({slot, path});
        if (forced == states.end())
            return QuilObject::getValue(slot, path, out);
        if (!forced->second)
            return Quil::DEV_E_FAIL;
        *out = static_cast<unsigned int>(*forced->second);
        return 0;
    }
    JResult setValue(int slot, const QString& path, const JLIB::JVariant& value, uint8_t source) override
    {
        writes.push_back({slot, path, static_cast<int32_t>(value.toInteger()), source});
        return QuilObject::setValue(slot, path, value, source);
    }
};

// The process's memory thread for tests that mount units without QLApp.
class MemThreadHolder {
public:
    MemThreadHolder()
        : m_owned(Quil::createMemThread() == 0)
    {
    }
    ~MemThreadHolder()
    {
        if (m_owned)
            Quil::destroyMemThread();
    }
    MemThreadHolder(const MemThreadHolder&) = delete;
    MemThreadHolder& operator=(const MemThreadHolder&) = delete;

private:
    bool m_owned;
};

// The suite's fixture: no stored window position, and the memory thread.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { Quil::QuilPrefs::instance().setValue(Quil::QuilPrefs::kGeometry, QVariant()); }
    MemThreadHolder memThread;
};

// The main window wired to a rack owner as the application object does it.
inline void wireAsTheProgram(QLMainWindow* window, Quil::QuilObject* core)
{
    window->attachCore(core);
    QObject::connect(
        core, &Quil::QuilObject::mountChanged, window, &QLMainWindow::mountChangedSlot, Qt::QueuedConnection);
    QObject::connect(core, &Quil::QuilObject::requestNetworkSetup, window,
        qOverload<bool>(&QLMainWindow::onNetworkSetup), Qt::QueuedConnection);
}

// Runs `act` on the next pop-up menu once it shows, then closes it.
inline void onNextPopup(std::function<void(QMenu*)> act, int ms = 5000)
{
    whenShown([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); },
        [act](QWidget* menu) {
            act(static_cast<QMenu*>(menu));
            menu->close();
        },
        ms);
}

} // namespace qtest
