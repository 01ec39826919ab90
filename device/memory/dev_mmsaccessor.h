// Reads and writes one memory function of a unit with the right change
// marking, and walks the elements marked changed for its listener key.
#pragma once

#include "device/memory/dev_izdev.h"
#include "device/memory/dev_result.h"
#include "mms/mms_change.h"

#include <QObject>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace JLIB {
class JVariant;
}
namespace MMS {
class Field;
}

namespace Quil {

// How a write marks a changed element: for every listener key, or for every
// key but the writer's own source (so the device link hears no echo).
enum MarkingMode : uint8_t { MARK_OTHERS = 0, MARK_ALL = 1 };

// Every operation answers DEV_E_FAIL without a field; otherwise the memory's
// own result.
class MMSAccessor : public QObject {
    Q_OBJECT

public:
    MMSAccessor(QObject* parent, MMS::Field* field, const char* function, uint32_t key);

    JResult setNotifier(IMMSNotifier* notifier);
    // A source not set here writes with MARK_ALL.
    JResult setSourceMode(uint8_t source, uint8_t mode);
    uint8_t sourceMode(uint8_t source) const;

    const std::string& function() const { return m_function; }
    uint32_t key() const { return m_key; }
    MMS::Field* field() const { return m_field; }

    // Out-of-range values are clamped (result with 0x200, still a success).
    JResult write(const JLIB::JVariant& value, const char* namePath, const uint32_t* indexes, uint32_t count,
        uint8_t source) const;
    // The current value; change marks stay as they are.
    JResult read(JLIB::JVariant* out, const char* namePath, const uint32_t* indexes, uint32_t count) const;
    // Whether the element is marked for listener key `source`; clears the mark.
    JResult readChangeFlag(
        uint8_t* changed, const char* namePath, const uint32_t* indexes, uint32_t count, uint8_t source) const;
    // Whether any element is marked for listener key `source`; marks stay.
    // Costs one bit test when none is.
    bool hasChangeMarks(uint8_t source) const;
    // The elements marked for listener key `source`, in memory order, marks
    // kept. DEV_E_FAIL (out unspecified) when more than max are marked.
    JResult changedElements(uint8_t source, size_t max, std::vector<MemAddress>* out) const;
    // The definition's values of a parameter (no element index needed).
    JResult getMinimum(JLIB::JVariant* out, const char* namePath) const;
    JResult getMaximum(JLIB::JVariant* out, const char* namePath) const;
    JResult getDefault(JLIB::JVariant* out, const char* namePath) const;
    JResult getNominal(JLIB::JVariant* out, const char* namePath) const;
    // Imports a whole image of the function (the bytes are copied first),
    // marking as a user-interface write does.
    JResult importImage(const uint8_t* data, uint32_t length) const;

    virtual JResult notifyChange(
        const char* function, const char* namePath, const uint32_t* indexes, uint32_t count, uint32_t key);

public slots:
    // Hands every element marked for the key to notifyChange, clearing the marks.
    void update();

private:
    JResult writerMarks(uint8_t source, bool* own) const;

    uint32_t m_key;
    std::map<uint8_t, uint8_t> m_sourceModes;
    std::string m_function;
    MMS::Field* m_field;
    IMMSNotifier* m_notifier = nullptr;
};

} // namespace Quil
