#include "device/memory/dev_notifier.h"

namespace Quil {

MemNotifier::MemNotifier(QObject* parent)
    : QObject(parent)
{
}

MemNotifier::~MemNotifier() = default;

QString MemNotifier::proxyKey(const QString& path, uint32_t key)
{
    return path + QLatin1Char('/') + QString::number(key);
}

JResult MemNotifier::subscribe(
    const QString& path, const QObject* receiver, uint32_t key, const char* slot, Qt::ConnectionType type)
{
    if (!receiver || !slot)
        return DEV_E_FAIL;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    std::unique_ptr<MemNotifierProxy>& proxy = m_proxies[proxyKey(path, key)];
    if (!proxy)
        proxy = std::make_unique<MemNotifierProxy>();
    const bool connected = QObject::connect(proxy.get(), SIGNAL(paramChanged(QString)), receiver, slot, type);
    return connected ? DEV_OK : DEV_E_FAIL;
}

JResult MemNotifier::notify(const QString& path, uint32_t key)
{
    // A path that could not be built reaches nobody.
    if (path.isEmpty())
        return DEV_OK;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    const auto it = m_proxies.find(proxyKey(path, key));
    if (it != m_proxies.end())
        emit it->second->paramChanged(path);
    return DEV_OK;
}

MemNotifierProxy* MemNotifier::proxy(const QString& proxyKey) const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    const auto it = m_proxies.find(proxyKey);
    return it == m_proxies.end() ? nullptr : it->second.get();
}

} // namespace Quil
