// The memory of one unit: one MMS field per memory function, all sharing
// the unit's two locks, and the trigger that turns every changing write into
// the Qt signal update().
#pragma once

#include "device/memory/dev_result.h"
#include "mms/mms_change.h"
#include "mms/mms_lockedfield.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>

namespace Quil {

// The two locks every field of one unit shares (lock A values and change
// marks, lock B definitions; both recursive). A try answers 0, or DEV_E_FAIL
// while another thread holds the lock.
class MMSMutex final : public MMS::IMutex {
public:
    JResult lockA() override { return m_locks.lockA(); }
    JResult unlockA() override { return m_locks.unlockA(); }
    JResult tryLockA() override { return m_locks.tryLockA(); }
    JResult lockB() override { return m_locks.lockB(); }
    JResult unlockB() override { return m_locks.unlockB(); }
    JResult tryLockB() override { return m_locks.tryLockB(); }

private:
    MMS::RecursiveMutex m_locks;
};

// Owns the fields of one unit. The fields are loaded while the unit's device
// object is made, before any other thread sees the archiver; afterwards the
// map only is read.
class MMSArchiver : public QObject, public MMS::IEventFlagTrigger {
    Q_OBJECT

public:
    explicit MMSArchiver(QObject* parent = nullptr);
    ~MMSArchiver() override;

    // Loads the layout in directory + "/" + file, or the text (length bytes,
    // read up to its first NUL), into a new field under functionName and
    // activates it (every element holds its default). DEV_E_FAIL for a null
    // argument, an empty text or a name already held; the loader's code when
    // the layout is refused, and the archiver stays as it was.
    JResult loadDefinitionFile(const char* directory, const char* file, const char* functionName);
    JResult loadDefinitionText(const char* text, uint32_t length, const char* functionName);

    // The function's field, or null.
    MMS::Field* field(const QString& functionName) const;
    MMSMutex* mutex() const { return m_mutex.get(); }

    // Called by a field after a change, in the writer's thread.
    JResult trigger(uint32_t own, uint32_t key, const MMS::TaskListIdentity& identity) override;

signals:
    void update();

private:
    template <class Load> JResult load(const char* functionName, Load loadInto);

    // Declared first: the fields lock it until they are gone.
    std::unique_ptr<MMSMutex> m_mutex;
    std::map<QString, std::unique_ptr<MMS::Field>> m_fields;
};

} // namespace Quil
