// The base of the per-family memory objects: one accessor per memory
// function, dispatch by the function of a memory path, and the change walk
// that turns marked elements into paramChanged of their subscribers.
#pragma once

#include "device/memory/dev_mempath.h"
#include "device/memory/dev_mmsaccessor.h"
#include "mms/mms_change.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace JLIB {
class JVariant;
}
namespace FILECACHE {
class MBDFAbstractBlock;
}
namespace MMSFUNC {
class MBDFMMSFieldBlock;
}

namespace Quil {

class MMSArchiver;
class MemNotifier;

// Lock order: this object's lock, then the unit's MMS locks (taken and
// released inside each field call), then the notifier's lock. The lock is
// held for the whole change walk and is not recursive, so paramChanged
// receivers must be queued.
class ZMemObject : public QObject, public IMMSNotifier {
    Q_OBJECT

public:
    ZMemObject(QObject* parent, MMSArchiver* archiver);
    ~ZMemObject() override;

    void setNotifier(MemNotifier* notifier);
    MMSAccessor* accessor(const QString& functionName) const;

    // The family's rules sit in front of these (see the subclasses).
    virtual JResult setValue(const MemAddress& address, const JLIB::JVariant& value, uint8_t source);
    virtual JResult setRawValue(const MemAddress& address, const JLIB::JVariant& value, uint8_t source);
    virtual JResult loadSetup(const FILECACHE::MBDFAbstractBlock* block);
    virtual JResult saveSetup(int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block);
    virtual int setupBlockCount() const { return 1; }
    virtual JResult getNominal(const MemAddress& address, JLIB::JVariant* out);
    // One accessor per function the archiver holds, listener keys registered.
    virtual JResult initAccessors(MMSArchiver* archiver);

    JResult getValue(const MemAddress& address, JLIB::JVariant* out) const;
    JResult getMinimum(const MemAddress& address, JLIB::JVariant* out) const;
    JResult getMaximum(const MemAddress& address, JLIB::JVariant* out) const;
    // With nominal set, the nominal value (getNominal) instead of the default.
    JResult getDefault(const MemAddress& address, JLIB::JVariant* out, bool nominal);
    // Whether the element is marked for listener key `source`; clears the mark.
    JResult readChangeFlag(const MemAddress& address, uint8_t* changed, uint8_t source) const;
    // Whether the function holds an element marked for `source`; marks stay.
    bool hasChangeMarks(const QString& functionName, uint8_t source) const;
    JResult changedElements(
        const QString& functionName, uint8_t source, size_t max, std::vector<MemAddress>* out) const;

    // IMMSNotifier: builds the element's path and hands it to the notifier.
    JResult notify(const char* functionName, const char* namePath, const uint32_t* indexes, uint32_t indexCount,
        uint32_t key) override;

public slots:
    // Walks every accessor, in function-name order, under the lock.
    void slotMemChanged();

protected:
    MMSArchiver* archiver() const { return m_archiver; }
    // Stores an accessor made by initAccessors.
    void addAccessor(const QString& functionName, std::unique_ptr<MMSAccessor> accessor);
    // The accessor of the address's function, looked up under the lock.
    MMSAccessor* accessorOf(const MemAddress& address) const;

private:
    MMSArchiver* m_archiver;
    std::map<QString, std::unique_ptr<MMSAccessor>> m_accessors;
    // The same accessors by the function's own bytes: an address finds its
    // accessor without a text conversion.
    std::map<std::string, MMSAccessor*, std::less<>> m_byFunction;
    MemNotifier* m_notifier = nullptr;
    mutable std::mutex m_lock;
};

} // namespace Quil
