// The cache of parsed memory paths of one unit. The GUI thread and the
// unit's connection thread both fill it, so it has a lock of its own.
// Entries are never removed while the unit is mounted: a pointer from find
// or add stays valid until the cache goes.
#pragma once

#include "device/memory/dev_mempath.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <mutex>

namespace Quil {

class AddrArchiver : public QObject {
    Q_OBJECT

public:
    explicit AddrArchiver(QObject* parent = nullptr);
    ~AddrArchiver() override;

    const MemAddress* find(const QString& path) const;
    // Stores a copy; DEV_E_FAIL when the path is present.
    JResult add(const QString& path, const MemAddress& address);
    // The cached entry, or the path parsed and cached; null when it does not
    // parse (nothing is cached then).
    const MemAddress* resolve(const QString& path);
    size_t size() const;

private:
    mutable std::mutex m_lock;
    std::map<QString, std::unique_ptr<MemAddress>> m_entries;
};

} // namespace Quil
