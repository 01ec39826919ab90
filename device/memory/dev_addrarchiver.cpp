#include "device/memory/dev_addrarchiver.h"

namespace Quil {

AddrArchiver::AddrArchiver(QObject* parent)
    : QObject(parent)
{
}

AddrArchiver::~AddrArchiver() = default;

const MemAddress* AddrArchiver::find(const QString& path) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    const auto it = m_entries.find(path);
    return it == m_entries.end() ? nullptr : it->second.get();
}

JResult AddrArchiver::add(const QString& path, const MemAddress& address)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_entries.count(path) != 0)
        return DEV_E_FAIL;
    m_entries.emplace(path, std::make_unique<MemAddress>(address));
    return DEV_OK;
}

const MemAddress* AddrArchiver::resolve(const QString& path)
{
    if (const MemAddress* hit = find(path))
        return hit;
    // Parsed outside the lock; a thread that lost the race uses the winner's.
    MemAddress parsed;
    if (parseMemPath(path, &parsed) < 0)
        return nullptr;
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_entries.find(path);
    if (it == m_entries.end())
        it = m_entries.emplace(path, std::make_unique<MemAddress>(std::move(parsed))).first;
    return it->second.get();
}

size_t AddrArchiver::size() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_entries.size();
}

} // namespace Quil
