// Fans a change of one element out to whoever subscribed to its memory
// path: one proxy object per path and listener key, made on the first
// subscription and kept until the notifier goes.
#pragma once

#include "device/memory/dev_result.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <mutex>

namespace Quil {

class MemNotifierProxy : public QObject {
    Q_OBJECT

public:
    MemNotifierProxy() = default;

signals:
    void paramChanged(QString addr);
};

class MemNotifier : public QObject {
    Q_OBJECT

public:
    explicit MemNotifier(QObject* parent = nullptr);
    ~MemNotifier() override;

    // "path/key": the key under which a path's proxy is kept.
    static QString proxyKey(const QString& path, uint32_t key);

    // Connects the proxy's paramChanged(QString) to the receiver's slot
    // (signature text as SLOT() makes it, e.g. "1memParamChanged()").
    // DEV_E_FAIL when Qt refuses the connection.
    JResult subscribe(const QString& path, const QObject* receiver, uint32_t key, const char* slot,
        Qt::ConnectionType type = Qt::QueuedConnection);
    // Emits paramChanged(path) from the proxy of (path, key), if there is one.
    JResult notify(const QString& path, uint32_t key);
    // The proxy of a proxy key, or null; never makes one.
    MemNotifierProxy* proxy(const QString& proxyKey) const;

private:
    mutable std::recursive_mutex m_lock;
    std::map<QString, std::unique_ptr<MemNotifierProxy>> m_proxies;
};

} // namespace Quil
