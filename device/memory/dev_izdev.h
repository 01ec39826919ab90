// IZDev: the one door to a mounted unit's memory. Rack slots, controllers,
// panels, dialogs, the setup-file code and the device link all reach a unit
// through it, from the GUI thread and from the unit's connection thread at
// once.
//
// Results are 0 (or a non-negative memory result) for success, DEV_E_FAIL
// for a missing memory object, accessor, meter store or an unparseable path,
// and the memory's own negative codes passed through. A source is a write
// source (SOURCE_UI 1, SOURCE_LINK 2); any other source is marked like a
// user-interface write but is not refused while the unit connects.
#pragma once

#include "device/memory/dev_mempath.h"
#include "device/memory/dev_result.h"

#include <QString>

#include <cstdint>
#include <vector>

class QObject;
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

class MemMeters;

// Write sources: a write is marked changed for every listener key but its
// own source, so the device link hears no echo of what the unit told it.
enum : uint8_t { SOURCE_UI = 1, SOURCE_LINK = 2 };
// The listener key of every subscription made through IZDev.
constexpr int SUBSCRIBE_KEY = 1;

// Fourteen texts about one unit, in this order.
struct DevInfoRecord {
    QString runmode;
    QString error;
    QString protocolver;
    QString paramsetver;
    QString version;
    QString productname;
    QString manufacturer;
    QString category;
    QString deviceid;
    QString devicename;
    QString inputport;
    QString outputport;
    QString ipAddress;
    QString port;
};

class IZDev {
public:
    virtual ~IZDev() = default;

    virtual JResult setDeviceId(int deviceId) = 0;
    virtual int deviceId() const = 0;
    // Through the family's value conversion.
    virtual JResult setValue(const QString& path, const JLIB::JVariant& value, uint8_t source) = 0;
    virtual JResult setRawValue(const QString& path, const JLIB::JVariant& value, uint8_t source) = 0;
    virtual JResult getValue(const QString& path, JLIB::JVariant* out) = 0;
    virtual JResult getMinimum(const QString& path, JLIB::JVariant* out) = 0;
    virtual JResult getMaximum(const QString& path, JLIB::JVariant* out) = 0;
    // The nominal value instead of the default when nominal is set.
    virtual JResult getDefault(const QString& path, JLIB::JVariant* out, bool nominal) = 0;
    // Refused while the link connects (ConnectionState 1).
    virtual JResult loadSetup(const FILECACHE::MBDFAbstractBlock* block) = 0;
    virtual JResult saveSetup(int index, const QString& name, MMSFUNC::MBDFMMSFieldBlock* block) = 0;
    // 1, or 0 without memory.
    virtual int setupBlockCount() const = 0;
    // paramChanged(QString) of (path, key) to the receiver's slot, queued.
    // The Qt layers use the typed subscribe() of device/memory/dev_subscribe.h.
    virtual JResult subscribe(const QString& path, const QObject* receiver, int key, const char* slot) = 0;
    virtual JResult unsubscribe(const QString& path, const QObject* receiver, int key, const char* slot) = 0;
    // notifyData(uint8_t,uint8_t) of one channel of a meter ("Dev/InputLevel").
    virtual JResult connectMeter(const QString& meter, uint32_t channel, const QObject* receiver, const char* slot) = 0;
    virtual JResult connectMeterData(const QString& meter, uint32_t channel, const QObject* receiver, const char* slot)
        = 0;
    virtual JResult getDeviceInfo(DevInfoRecord* out) = 0;
    virtual JResult setAddress(const QString& ipAddress, uint16_t port) = 0;
    virtual MemMeters* meters() const = 0;
    // Whether the element is marked changed for listener key `source`; the
    // mark is cleared.
    virtual JResult readChangeFlag(const QString& path, bool* changed, uint8_t source) = 0;
    // Whether any element of the function (its name without slashes) may be
    // marked for `source` (marks stay): false only when none is, so a
    // listener can skip its walk.
    virtual bool hasChangeMarks(const QString& function, uint8_t source) const
    {
        (void)function;
        (void)source;
        return true;
    }
    // The elements of the function marked for `source`, in memory order,
    // marks kept, so a listener can visit only those. DEV_E_FAIL when more
    // than max are marked or the memory cannot say: the listener then looks
    // element by element.
    virtual JResult changedElements(
        const QString& function, uint8_t source, size_t max, std::vector<MemAddress>* out) const
    {
        (void)function;
        (void)source;
        (void)max;
        (void)out;
        return DEV_E_FAIL;
    }
    // The cached parse of a path, or null (never parses). Stays valid while
    // the unit is mounted.
    virtual const MemAddress* findAddress(const QString& path) const = 0;
    // getValue and setValue of an address found once (findAddress), so a
    // binding pays no path text per value. The defaults go through the text.
    virtual JResult getValueAt(const MemAddress& address, JLIB::JVariant* out)
    {
        QString path;
        return buildMemPath(address, &path) < 0 ? DEV_E_FAIL : getValue(path, out);
    }
    virtual JResult setValueAt(const MemAddress& address, const JLIB::JVariant& value, uint8_t source)
    {
        QString path;
        return buildMemPath(address, &path) < 0 ? DEV_E_FAIL : setValue(path, value, source);
    }
};

} // namespace Quil
