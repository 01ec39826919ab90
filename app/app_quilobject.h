// The rack owner: the one object through which windows and dialogs reach the
// units. It owns the 24 rack slots, one connection per connected slot, the
// discovery front and whoever answers its questions (RackQuestions), and
// places every announced unit, after a quiet time, into the slot whose
// device id is its unit id.
//
// Lives on the GUI thread; discovery reports reach it queued. Slot
// operations check the index and answer DEV_E_FAIL (or the empty-slot
// answer of IZDev) for one outside the rack.
#pragma once

#include "app/app_rackquestions.h"
#include "app/app_setuprack.h"
#include "device/discovery/dev_discovery.h"
#include "device/discovery/dev_hostif.h"
#include "device/link/dev_scpdevice.h"
#include "device/memory/dev_izdev.h"
#include "device/memory/dev_result.h"
#include "pbd/jlib/jvariant.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <memory>

class QWidget;

namespace Quil {

class DevComm;
class RackObject;

class QuilObject : public QObject, public SetupRack {
    Q_OBJECT

public:
    // The quiet time after the last found unit before pending units are placed.
    static constexpr int kPendingIntervalMs = 1000;

    explicit QuilObject(QObject* parent = nullptr, const DiscoveryOptions& discoveryOptions = DiscoveryOptions());
    ~QuilObject() override;
    QuilObject(const QuilObject&) = delete;
    QuilObject& operator=(const QuilObject&) = delete;

    // Network interface.
    virtual QList<HostInterface> networkInterfaces() const;
    // The first interface with this MAC text and, when `address` is not
    // empty, this address; an empty record when none.
    virtual HostInterface findNetworkInterface(const QString& mac, const QString& address) const;
    virtual JResult currentNetworkInterface(HostInterface* out) const;
    // Resets the rack onto another interface, after asking to save when
    // `ask` is set and the rack is not empty. DEV_E_FAIL on Cancel, the
    // save's result when it failed; 0 and nothing done for the current one.
    virtual JResult setNetworkInterface(const QString& mac, const QString& address, bool ask);
    virtual JResult setNetworkInterfaceRecord(const HostInterface& record, bool ask);

    // Slots of the rack.
    virtual int slotCount() const;
    // The lowest slot whose device id is `deviceId`.
    virtual JResult findSlotByDeviceId(int* slot, int deviceId) const;
    // Mounts a fresh device object of `type` (0 empties the slot); a
    // connected slot keeps its model and gives DEV_E_FAIL.
    JResult mountModel(int slot, ModelType type) override;
    ModelType modelType(int slot) const override;
    virtual bool isConnected(int slot) const;
    // SlotState 2 with a connection object, else 1.
    virtual JResult updateSlotState(int slot);
    // DeviceNum: the number of units that announce the slot's device id.
    virtual JResult updateDeviceNum(int slot);
    bool hasConnection(int slot) const override;
    // Asks the slot's link to connect anew, after the save question when
    // `ask` is set.
    virtual JResult connectSlot(int slot, bool ask);
    virtual JResult disconnectSlot(int slot);
    virtual JResult getDeviceInfo(int slot, DevInfoRecord* out);
    virtual JResult setValue(int slot, const QString& path, const JLIB::JVariant& value, uint8_t source);
    virtual JResult setRawValue(int slot, const QString& path, const JLIB::JVariant& value, uint8_t source);
    virtual JResult getValue(int slot, const QString& path, JLIB::JVariant* out);

    // Setup files and leaving.
    virtual JResult openFile(QWidget* parent);
    virtual JResult saveFileAs(QWidget* parent);
    // Asks whether to save a rack that is not empty and stores the
    // preferences; 0 when the caller may go on.
    virtual JResult saveSettings(QWidget* parent);
    virtual bool canQuit();
    virtual JResult quit();

    // Reads the preferences and starts discovery on the stored interface, or
    // asks for a network setup when it is not usable.
    JResult start();
    // The slot's IZDev whether or not a unit is mounted; null outside the rack.
    IZDev* rackDevice(int slot) const override;
    RackObject* rackSlot(int slot) const;
    void getFoundDevices(QMap<QString, DeviceEntry>* out) const;
    bool allSlotsEmpty() const;
    void unmountUnconnected() override;
    static bool isKnownFamilyName(const QString& name);
    // A setup file named the slot's device id: reported through deviceIdChanged.
    void reportDeviceId(int slot, int deviceId) override;

    // The setup files themselves, without dialogs.
    JResult loadProject(const QString& path, QString* errorText);
    JResult loadProjectV1(const QString& path, QString* errorText);
    JResult saveProject(const QString& path, QString* errorText) const;

    // Who answers the rack's questions and runs its file dialogs; none
    // (the default) answers every question No.
    void setQuestions(std::unique_ptr<RackQuestions> questions);
    RackQuestions* questions() const { return m_questions.get(); }
    JsdpZDiscovery* discovery() const { return m_discovery; }
    // The slot's connection object; null when not connected or outside the rack.
    DevComm* connection(int slot) const;
    // The keys of the units announcing the slot's device id, the connected first.
    QStringList slotDevices(int slot) const;
    QStringList pendingDevices() const { return m_pending; }

    // Tests shorten the quiet time and the links' waits.
    void setPendingInterval(int ms);
    int pendingInterval() const { return m_pendingIntervalMs; }
    void setCommTimings(const DevCommTimings& timings) { m_commTimings = timings; }

signals:
    // unitId is the slot index 0 to 23 in every signal.
    void deviceIdChanged(uint unitId, int deviceId);
    void mountChanged(uint unitId, int modelType);
    void connectStateChanged(uint unitId);
    void requestNetworkSetup(bool withSaveConfirm);

public slots:
    void foundServSlot(QString servName);
    void lostServSlot(QString servName);
    JResult foundDuplicateIPDevSlot(QString servName, QString duplicateDevName, QString ipAddr);
    void onPendingTimerTimeout();
    JResult doPendingDevices();
    void refreshMountDevice(uint unitId, int deviceId);

private:
    RackQuestions::Answer askToSave(const QString& text, bool withCancel);
    JResult offerToSave(const QString& text);
    static bool isSlot(int slot) { return slot >= 0 && slot < kRackSlotCount; }
    JResult writeState(int slot, const char* path, uint32_t value);
    JResult placeDevice(const QString& key);
    JResult connectUnit(int slot, const DeviceEntry& entry);
    void handleLostDevice(const QString& key);
    JResult unmountSlot(int slot);
    void resetRack();
    void markDirtyByRack();
    void restartPendingTimer();

    std::array<std::unique_ptr<RackObject>, kRackSlotCount> m_rack;
    std::array<std::unique_ptr<DevComm>, kRackSlotCount> m_connections;
    std::array<QStringList, kRackSlotCount> m_slotDevices;
    QSet<QString> m_duplicateBoxes; // addresses whose duplicate warning is open
    JsdpZDiscovery* m_discovery = nullptr; // child; deleted in the destructor's order
    std::unique_ptr<RackQuestions> m_questions;
    HostInterface m_interface;
    QStringList m_pending;
    QTimer m_pendingTimer;
    int m_pendingIntervalMs = kPendingIntervalMs;
    DevCommTimings m_commTimings;
};

} // namespace Quil
