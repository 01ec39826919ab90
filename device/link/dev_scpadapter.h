// The family SCP adapters: where SCP names meet memory paths. The SCP client
// knows nothing of memory; it talks to a parameter adapter (names and
// indices, values in and out, changed values to send), a device reporter
// (negotiation answers, summary lists, log requests) and a meter reporter
// (meter bytes into the unit's meter store). All values go through the
// unit's IZDev with the write source given at bind (2, the device link).
//
// Everything here runs on the unit's connection thread, or on the GUI
// thread under that thread's run mutex (bind, reset at detach).
#pragma once

#include "device/layouts/dev_modeltypes.h"
#include "device/memory/dev_izdev.h"
#include "mms/mms_change.h"
#include "scp/scp_client.h"
#include "scp/scp_contracts.h"

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace Quil {

class MemMeter;
class MemMeters;

constexpr JResult ADAPTER_E_FAIL = static_cast<JResult>(0x80000000u);
// Unknown SCP or meter name, or invalid index: the client drops the value.
constexpr JResult ADAPTER_E_INDEX = static_cast<JResult>(0x80000005u);

// Row flags: the low byte sends changes to the unit, the high byte stores
// what the unit reports.
constexpr uint16_t ROW_SEND = 0x001;
constexpr uint16_t ROW_RECEIVE = 0x100;
// Short forms for the families' row tables.
constexpr uint16_t RX = ROW_RECEIVE;
constexpr uint16_t RXTX = ROW_RECEIVE | ROW_SEND;

// Slots: which memory index the SCP x (or y) fills.
constexpr int32_t SLOT_COLLECTION = 0;
constexpr int32_t SLOT_ELEMENT = 1;
constexpr int32_t SLOT_UNUSED = -1;

// Indices a path format is filled from, in order of its "%d" places.
constexpr uint32_t PATH_INDEX_COUNT = 4;
using PathIndices = int32_t[PATH_INDEX_COUNT];

struct ScpParamRow {
    const char* function; // "Backup", "Current", "Event" (meters: "Meter")
    const char* namePath; // "InCh/48VOn"
    const char* scpName; // "IO:Current/InCh/48VOn"
    int32_t xSlot;
    int32_t ySlot;
    uint16_t flags;
};

struct ScpPathFormat {
    const char* format; // "/Backup/InCh:%d/48VOn:%d"
    int32_t collections;
    int32_t elements;
};

struct ScpInfoRow {
    const char* tag; // "runmode"
    const char* function; // "DevInfo"
    const char* path;
    int32_t reserved;
};

// Fills every "%d" of format, in order, from the four indices; "%%" is a
// percent sign. DEV_E_FAIL for a fifth "%d", any other directive or a null
// argument; *out is then left as it was.
JResult formatMemPath(const char* format, const PathIndices& indices, QString* out);

// The thirteen information rows every family shares.
const ScpInfoRow* infoRows(int32_t* count);

class ScpParameter_Quil : public QObject, public SCP::ScpParameter, public IMMSNotifier {
    Q_OBJECT

public:
    explicit ScpParameter_Quil(QObject* parent = nullptr);

    JResult bind(IZDev* device, uint8_t source);
    IZDev* device() const { return m_device; }
    uint8_t source() const { return m_source; }

    // Finds every element marked changed for the link and sends it.
    virtual JResult sendChanged();
    virtual JResult findIndex(const char* function, const char* namePath, int32_t* index) const;
    virtual JResult applyResetList();
    virtual bool needsPostAssociationFix();
    virtual JResult applyPostAssociationFix();
    virtual bool isValidIndex(int32_t index) const;
    virtual const ScpParamRow* row(int32_t index) const;
    virtual const ScpPathFormat* pathFormat(int32_t index) const;
    virtual JResult toDevice(JLIB::JVariant* out, int32_t index, const JLIB::JVariant& value) const;
    virtual JResult fromDevice(JLIB::JVariant* out, int32_t index, const JLIB::JVariant& value) const;

    // SCP::ScpParameter.
    JResult indexOf(int32_t& index, const SCP::ScpText& address) override;
    JResult nameOf(SCP::ScpText& address, int32_t index) override;
    JResult getParameterCount(int32_t& count) override;
    // 1 when the stored value changed, 0 when not, ADAPTER_E_FAIL when x or
    // y lies outside the row, the path does not format or the write is
    // refused.
    JResult storeValue(int32_t id, int32_t index, int32_t x, int32_t y, const JLIB::JVariant& value) override;
    JResult readValue(JLIB::JVariant& value, int32_t index, int32_t x, int32_t y) override;

    // The unit's client's callback (null until the client sets it).
    SCP::IScpParameterCallback* parameterCallback() const { return callback(); }

    // Asks the client to send the element: refused when an argument is
    // missing, the row does not send, or a used slot is at or above count.
    JResult notifyChanged(
        const char* function, const char* namePath, const int32_t* indices, uint32_t count, uint8_t source);
    // IMMSNotifier.
    JResult notify(const char* functionName, const char* namePath, const uint32_t* indexes, uint32_t indexCount,
        uint32_t key) override;

protected:
    // The row's path with x and y in their slots; ADAPTER_E_FAIL when a used
    // slot's value lies outside the row's counts.
    JResult pathOf(int32_t index, int32_t x, int32_t y, QString* out) const;

private:
    // One element of the change scan: its path and where it sits.
    struct ScanElement {
        QString path;
        int32_t row;
        int32_t collection;
        int32_t element;
    };
    const std::vector<ScanElement>& scanElements();
    // The scan positions of the marked elements, in scan order; false when
    // the memory cannot list them or too many are marked to be worth it.
    bool markedScanPositions(std::vector<size_t>* out) const;
    // notifyChanged for a row already found.
    JResult notifyRow(int32_t index, const int32_t* indices, uint32_t count);

    IZDev* m_device = nullptr;
    uint8_t m_source = 0;
    std::vector<ScanElement> m_scan;
    QStringList m_scanFunctions; // the functions of m_scan's rows
    // An element's key (function, name path, indexes) -> its first position
    // in m_scan.
    std::unordered_map<std::string, size_t> m_scanPositions;
};

class ScpDeviceReporter_Quil : public SCP::ScpDeviceReporter {
public:
    // Whether the client has finished its negotiation (requests before that
    // are dropped by the client without a word).
    using NegotiatedProbe = std::function<bool()>;

    // Forgets any request marks: the link is set up anew.
    virtual JResult bind(IZDev* device, uint8_t source, SCP::IScpClient* client, NegotiatedProbe negotiated);
    JResult bind(IZDev* device, uint8_t source, SCP::ScpClient* client);
    // The parameter adapter of the same unit, which an ERROR on a set
    // needs to read the unit's value back.
    void setParameterAdapter(ScpParameter_Quil* parameter) { m_parameter = parameter; }

    virtual JResult readInfo(const char* tag, JLIB::JVariant* out);
    // Writes every information row back to its default (empty text where
    // the layout has none).
    virtual JResult resetInfo();
    virtual bool acceptNegotiation();
    virtual JResult pollRequests();
    // The rows every family shares.
    virtual const ScpInfoRow* infoRow(int32_t index) const;
    virtual int32_t infoRowCount() const;

    // SCP::ScpDeviceReporter.
    JResult deviceInfo(int32_t id, SCP::ScpText& data, const SCP::ScpText& tag) override;
    JResult deviceStatus(int32_t id, SCP::ScpText& data, const SCP::ScpText& tag) override;
    JResult deviceMode(int32_t id, const SCP::ScpText& mode) override;
    JResult event(int32_t id, const SCP::ScpText& eventId, const SCP::ScpText& data) override;
    JResult listItemNumber(const SCP::ScpText& category, int32_t number, int32_t head, int32_t tail) override;
    JResult listItem(const SCP::ScpText& category, int32_t index, const JLIB::JVariant& data) override;
    // An ERROR on a set: the unit kept its own value, so read it back.
    JResult replyError(int32_t id, const SCP::ScpText& command, const SCP::ScpText& subject) override;

    JResult storeInfo(const SCP::ScpText& tag, const SCP::ScpText& value);
    JResult storeMode(const SCP::ScpText& mode);

protected:
    virtual JResult storeEvent(const SCP::ScpText& eventId, const SCP::ScpText& data);
    virtual JResult storeListCount(const SCP::ScpText& category, int32_t number, int32_t head, int32_t tail);
    virtual JResult storeListItem(const SCP::ScpText& category, int32_t index, const JLIB::JVariant& data);

    IZDev* device() const { return m_device; }
    uint8_t source() const { return m_source; }
    SCP::IScpClient* client() const { return m_client; }
    bool clientNegotiated() const { return m_negotiated ? m_negotiated() : true; }
    // Writes through IZDev with the reporter's source.
    JResult write(const char* path, const JLIB::JVariant& value);
    JResult writeInt(const char* path, int32_t value);
    // The path's value as an integer or text; false when it cannot be read.
    bool readInt(const char* path, int32_t* out);
    bool readText(const char* path, std::string* out);

private:
    JResult storeRowText(const char* tag, const SCP::ScpText& value);

    IZDev* m_device = nullptr;
    uint8_t m_source = 0;
    SCP::IScpClient* m_client = nullptr;
    NegotiatedProbe m_negotiated;
    ScpParameter_Quil* m_parameter = nullptr;
};

class ScpMeterReporter_Quil : public SCP::ScpMeterReporter {
public:
    void setRegistry(MemMeters* registry)
    {
        m_registry = registry;
        m_meters.clear();
    }
    MemMeters* registry() const { return m_registry; }
    JResult resetAllMeters();
    virtual const ScpParamRow* meterRow(int32_t index) const;
    virtual bool isValidMeter(int32_t index) const;

    // SCP::ScpMeterReporter.
    JResult indexOf(int32_t& meterIndex, const SCP::ScpText& address) override;
    JResult nameOf(SCP::ScpText& address, int32_t meterIndex) override;
    JResult getMeterCount(int32_t& count) override;
    JResult meterData(int32_t id, const uint8_t* values, int32_t count, int32_t meterIndex) override;

private:
    // The registry's meter of a meter index, looked up by its path on the
    // first line only: a meter line is stored without a path text.
    MemMeter* meterOf(int32_t index, const ScpParamRow* row);

    MemMeters* m_registry = nullptr;
    std::vector<MemMeter*> m_meters; // by meter index; null: not looked up yet
};

} // namespace Quil
