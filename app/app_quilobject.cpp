#include "app/app_quilobject.h"

#include "app/app_fileloaderv1.h"
#include "app/app_prefs.h"
#include "app/app_rackobject.h"
#include "app/app_setupfile.h"
#include "device/layouts/dev_devstate.h"
#include "device/link/dev_comm.h"
#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"

#include <QCoreApplication>

#include <new>
#include <utility>

namespace Quil {

namespace {

// Unit ids from 127 on belong to no rack slot.
constexpr uint16_t kFirstForeignUnitId = 127;

} // namespace

QuilObject::QuilObject(QObject* parent, const DiscoveryOptions& discoveryOptions)
    : QObject(parent)
{
    for (int i = 0; i < kRackSlotCount; ++i)
        m_rack[i] = std::make_unique<RackObject>(i);
    m_discovery = new JsdpZDiscovery(this, discoveryOptions);
    connect(m_discovery, &JsdpZDiscovery::foundServSignal, this, &QuilObject::foundServSlot, Qt::QueuedConnection);
    connect(m_discovery, &JsdpZDiscovery::lostServSignal, this, &QuilObject::lostServSlot, Qt::QueuedConnection);
    connect(m_discovery, &JsdpZDiscovery::foundDeplicateIPDevSignal, this, &QuilObject::foundDuplicateIPDevSlot,
        Qt::QueuedConnection);
    m_pendingTimer.setSingleShot(true);
    m_pendingTimer.setInterval(m_pendingIntervalMs);
    connect(&m_pendingTimer, &QTimer::timeout, this, &QuilObject::onPendingTimerTimeout, Qt::DirectConnection);
}

QuilObject::~QuilObject()
{
    // The file dialogs read the rack; links must go before the device
    // objects they are attached to.
    m_questions.reset();
    if (m_discovery) {
        disconnect(m_discovery, &JsdpZDiscovery::foundServSignal, this, &QuilObject::foundServSlot);
        disconnect(m_discovery, &JsdpZDiscovery::lostServSignal, this, &QuilObject::lostServSlot);
        delete m_discovery;
        m_discovery = nullptr;
    }
    for (auto& connection : m_connections)
        connection.reset();
    for (auto& slot : m_rack)
        slot.reset();
    m_pendingTimer.stop();
}

// Network interface.

QList<HostInterface> QuilObject::networkInterfaces() const
{
    return listHostInterfaces();
}

HostInterface QuilObject::findNetworkInterface(const QString& mac, const QString& address) const
{
    return findHostInterface(mac, address);
}

JResult QuilObject::currentNetworkInterface(HostInterface* out) const
{
    if (!out)
        return DEV_E_FAIL;
    *out = m_interface;
    return 0;
}

void QuilObject::setQuestions(std::unique_ptr<RackQuestions> questions)
{
    m_questions = std::move(questions);
}

RackQuestions::Answer QuilObject::askToSave(const QString& text, bool withCancel)
{
    return m_questions ? m_questions->askToSave(text, withCancel) : RackQuestions::Answer::No;
}

// Yes saves first (a failed or cancelled save stops the caller), No goes on,
// Cancel stops.
JResult QuilObject::offerToSave(const QString& text)
{
    switch (askToSave(text, true)) {
    case RackQuestions::Answer::Yes: {
        const JResult saved = saveFileAs(nullptr);
        return saved < 0 ? saved : 0;
    }
    case RackQuestions::Answer::No:
        return 0;
    default:
        return DEV_E_FAIL;
    }
}

JResult QuilObject::setNetworkInterface(const QString& mac, const QString& address, bool ask)
{
    if (mac == m_interface.mac && address == m_interface.address)
        return 0;
    if (ask && !allSlotsEmpty()) {
        const JResult go = offerToSave(QStringLiteral("Changing network setup initializes current setting.\n"
                                                      " Will you save current setting?"));
        if (go < 0)
            return go;
    }
    m_interface = findNetworkInterface(mac, address);
    resetRack();
    return 0;
}

JResult QuilObject::setNetworkInterfaceRecord(const HostInterface& record, bool ask)
{
    return setNetworkInterface(record.mac, record.address, ask);
}

void QuilObject::resetRack()
{
    if (m_discovery)
        m_discovery->stop();
    m_pending.clear();
    for (auto& keys : m_slotDevices)
        keys.clear();
    for (int i = 0; i < kRackSlotCount; ++i)
        unmountSlot(i);
    for (auto& connection : m_connections)
        connection.reset();
    if (m_discovery && !m_interface.mac.isEmpty())
        m_discovery->start(m_interface.mac, m_interface.address, m_interface.netmask);
}

// Slots of the rack.

int QuilObject::slotCount() const
{
    return kRackSlotCount;
}

RackObject* QuilObject::rackSlot(int slot) const
{
    return isSlot(slot) ? m_rack[slot].get() : nullptr;
}

IZDev* QuilObject::rackDevice(int slot) const
{
    return rackSlot(slot);
}

DevComm* QuilObject::connection(int slot) const
{
    return isSlot(slot) ? m_connections[slot].get() : nullptr;
}

QStringList QuilObject::slotDevices(int slot) const
{
    return isSlot(slot) ? m_slotDevices[slot] : QStringList();
}

JResult QuilObject::findSlotByDeviceId(int* slot, int deviceId) const
{
    for (int i = 0; i < kRackSlotCount; ++i) {
        if (m_rack[i] && m_rack[i]->deviceId() == deviceId) {
            if (slot)
                *slot = i;
            return 0;
        }
    }
    return DEV_E_FAIL;
}

JResult QuilObject::mountModel(int slot, ModelType type)
{
    RackObject* rack = rackSlot(slot);
    if (!rack)
        return DEV_E_FAIL;
    const uint unitId = static_cast<uint>(slot);
    if (m_connections[slot]) {
        emit mountChanged(unitId, rack->modelType());
        updateSlotState(slot);
        return DEV_E_FAIL;
    }
    if (rack->modelType() != MODEL_NONE) {
        rack->setModel(MODEL_NONE);
        emit mountChanged(unitId, MODEL_NONE);
    }
    const JResult result = rack->setModel(type);
    emit mountChanged(unitId, rack->modelType());
    updateSlotState(slot);
    return result;
}

ModelType QuilObject::modelType(int slot) const
{
    const RackObject* rack = rackSlot(slot);
    return rack ? rack->modelType() : MODEL_NONE;
}

bool QuilObject::isConnected(int slot) const
{
    DevComm* comm = connection(slot);
    return comm && comm->isConnected();
}

bool QuilObject::hasConnection(int slot) const
{
    return connection(slot) != nullptr;
}

JResult QuilObject::writeState(int slot, const char* path, uint32_t value)
{
    RackObject* rack = rackSlot(slot);
    if (!rack)
        return DEV_E_FAIL;
    return rack->setValue(QString::fromLatin1(path), JLIB::JVariant(value), SOURCE_UI);
}

JResult QuilObject::updateSlotState(int slot)
{
    return writeState(slot, kSlotStatePath,
        static_cast<uint32_t>(stateValue(hasConnection(slot) ? SlotState::Attached : SlotState::Virtual)));
}

JResult QuilObject::updateDeviceNum(int slot)
{
    if (!isSlot(slot))
        return DEV_E_FAIL;
    return writeState(slot, kDeviceNumPath, static_cast<uint32_t>(m_slotDevices[slot].size()));
}

JResult QuilObject::connectSlot(int slot, bool ask)
{
    if (ask) {
        const JResult go = offerToSave(QStringLiteral("Connecting device changes current setting.\n"
                                                      " Will you save current setting?"));
        if (go < 0)
            return go;
    }
    // Down first, so that the request changes even when it already was 1.
    writeState(slot, kConnectReqPath, 0);
    return writeState(slot, kConnectReqPath, 1);
}

JResult QuilObject::disconnectSlot(int slot)
{
    return writeState(slot, kDisconnectReqPath, 1);
}

JResult QuilObject::getDeviceInfo(int slot, DevInfoRecord* out)
{
    RackObject* rack = rackSlot(slot);
    return rack ? rack->getDeviceInfo(out) : DEV_E_FAIL;
}

JResult QuilObject::setValue(int slot, const QString& path, const JLIB::JVariant& value, uint8_t source)
{
    RackObject* rack = rackSlot(slot);
    return rack ? rack->setValue(path, value, source) : DEV_E_FAIL;
}

JResult QuilObject::setRawValue(int slot, const QString& path, const JLIB::JVariant& value, uint8_t source)
{
    RackObject* rack = rackSlot(slot);
    return rack ? rack->setRawValue(path, value, source) : DEV_E_FAIL;
}

JResult QuilObject::getValue(int slot, const QString& path, JLIB::JVariant* out)
{
    RackObject* rack = rackSlot(slot);
    return rack ? rack->getValue(path, out) : DEV_E_FAIL;
}

bool QuilObject::allSlotsEmpty() const
{
    for (const auto& slot : m_rack)
        if (slot && slot->modelType() != MODEL_NONE)
            return false;
    return true;
}

void QuilObject::unmountUnconnected()
{
    for (int i = 0; i < kRackSlotCount; ++i)
        if (!m_connections[i])
            mountModel(i, MODEL_NONE);
}

bool QuilObject::isKnownFamilyName(const QString& name)
{
    return Quil::isKnownFamilyName(name);
}

void QuilObject::reportDeviceId(int slot, int deviceId)
{
    if (isSlot(slot))
        emit deviceIdChanged(static_cast<uint>(slot), deviceId);
}

void QuilObject::getFoundDevices(QMap<QString, DeviceEntry>* out) const
{
    if (out && m_discovery)
        m_discovery->devices(out);
}

// Setup files and leaving.

void QuilObject::markDirtyByRack()
{
    if (m_questions)
        m_questions->setDirty(!allSlotsEmpty());
}

JResult QuilObject::openFile(QWidget* parent)
{
    if (!m_questions)
        return DEV_E_FAIL;
    markDirtyByRack();
    return m_questions->openFile(parent);
}

JResult QuilObject::saveFileAs(QWidget* parent)
{
    return m_questions ? m_questions->saveFileAs(parent) : DEV_E_FAIL;
}

JResult QuilObject::saveSettings(QWidget* parent)
{
    // Nobody to ask answers No: leaving goes on without saving.
    bool goOn = true;
    QuilPrefs& prefs = QuilPrefs::instance();
    if (m_questions) {
        markDirtyByRack();
        goOn = m_questions->saveIfWanted(parent);
        prefs.setValue(QString::fromLatin1(QuilPrefs::kDefaultDir), m_questions->defaultDir());
    }
    prefs.setValue(QString::fromLatin1(QuilPrefs::kMacAddr), m_interface.mac);
    return goOn ? 0 : DEV_E_FAIL;
}

bool QuilObject::canQuit()
{
    return saveSettings(nullptr) >= 0;
}

JResult QuilObject::quit()
{
    if (!canQuit())
        return DEV_E_FAIL;
    QCoreApplication::exit(0);
    return 0;
}

JResult QuilObject::loadProject(const QString& path, QString* errorText)
{
    return Quil::loadProject(*this, path, errorText);
}

JResult QuilObject::loadProjectV1(const QString& path, QString* errorText)
{
    return FileLoaderV1(*this).load(path, errorText);
}

JResult QuilObject::saveProject(const QString& path, QString* errorText) const
{
    return Quil::saveProject(*this, path, errorText);
}

// Start-up and discovery.

JResult QuilObject::start()
{
    QuilPrefs& prefs = QuilPrefs::instance();
    const QString defaultDir = prefs.value(QString::fromLatin1(QuilPrefs::kDefaultDir)).toString();
    const QString mac = prefs.value(QString::fromLatin1(QuilPrefs::kMacAddr)).toString();
    if (m_questions)
        m_questions->setDefaultDir(defaultDir);
    m_interface = findNetworkInterface(mac, QString());
    if (!m_interface.isUsable())
        m_interface.mac.clear();
    if (m_interface.mac.isEmpty())
        emit requestNetworkSetup(false);
    else if (m_discovery)
        m_discovery->start(m_interface.mac, m_interface.address, m_interface.netmask);
    return 0;
}

void QuilObject::setPendingInterval(int ms)
{
    m_pendingIntervalMs = ms;
    m_pendingTimer.setInterval(ms);
}

void QuilObject::restartPendingTimer()
{
    m_pendingTimer.stop();
    m_pendingTimer.start(m_pendingIntervalMs);
}

void QuilObject::foundServSlot(QString servName)
{
    restartPendingTimer();
    m_pending.append(servName);
}

void QuilObject::onPendingTimerTimeout()
{
    if (m_pending.isEmpty())
        return;
    if (m_questions && m_questions->modalOpen()) {
        m_pendingTimer.start(m_pendingIntervalMs);
        return;
    }
    doPendingDevices();
}

JResult QuilObject::doPendingDevices()
{
    if (!m_discovery)
        return DEV_E_FAIL;
    const QStringList taken = std::exchange(m_pending, QStringList());

    bool saveDue = false;
    for (const QString& key : taken) {
        DeviceEntry entry;
        if (m_discovery->findDevice(key, &entry) < 0 || entry.id >= kFirstForeignUnitId)
            continue;
        int slot = 0;
        if (findSlotByDeviceId(&slot, entry.id) >= 0 && modelType(slot) != MODEL_NONE) {
            saveDue = true;
            break;
        }
    }
    if (saveDue) {
        // Placing a unit replaces the slot's device object and with it the
        // stored parameters: keep asking until they are saved or given up.
        while (askToSave(QStringLiteral("New devices has been discovered.\n Will you save current setting?"), false)
                == RackQuestions::Answer::Yes
            && saveFileAs(nullptr) < 0) { }
    }
    for (const QString& key : taken)
        placeDevice(key);
    return 0;
}

JResult QuilObject::placeDevice(const QString& key)
{
    DeviceEntry entry;
    // The save question is only asked for rack unit ids; placing a foreign
    // id could replace a mounted slot's parameters unasked.
    if (!m_discovery || m_discovery->findDevice(key, &entry) < 0 || entry.id >= kFirstForeignUnitId)
        return DEV_E_FAIL;
    int slot = 0;
    if (findSlotByDeviceId(&slot, entry.id) < 0) {
        m_pending.append(key);
        return DEV_E_FAIL;
    }
    QStringList& keys = m_slotDevices[slot];
    if (!keys.isEmpty()) {
        if (!keys.contains(key))
            keys.append(key);
        updateDeviceNum(slot);
        updateSlotState(slot);
        return DEV_E_FAIL;
    }
    if (m_connections[slot])
        return DEV_E_FAIL;
    for (const auto& comm : m_connections)
        if (comm && comm->deviceKey() == key)
            return DEV_E_FAIL;

    const JResult result = connectUnit(slot, entry);
    if (result >= 0)
        keys.prepend(key);
    updateDeviceNum(slot);
    updateSlotState(slot);
    return result;
}

JResult QuilObject::connectUnit(int slot, const DeviceEntry& entry)
{
    const QByteArray model = entry.model.toLatin1();
    const ModelType type = modelTypeFromName(model.constData());
    if (mountModel(slot, type) < 0)
        return DEV_E_FAIL;
    auto comm = std::unique_ptr<DevComm>(new (std::nothrow) DevComm(nullptr, entry.key, entry.address,
        static_cast<uint16_t>(entry.port), entry.model, type, slot, m_interface.address, m_commTimings));
    if (!comm || !comm->clientThread())
        return DEV_E_FAIL;
    RackObject* rack = m_rack[slot].get();
    rack->setAddress(entry.address, static_cast<uint16_t>(entry.port));
    if (comm->attachMemory(rack, SOURCE_LINK) < 0)
        return DEV_E_FAIL;
    writeState(slot, kConnectReqPath, 1);
    m_connections[slot] = std::move(comm);
    updateSlotState(slot);
    return 0;
}

void QuilObject::lostServSlot(QString servName)
{
    handleLostDevice(servName);
    m_pending.removeAll(servName);
}

void QuilObject::handleLostDevice(const QString& key)
{
    for (int slot = 0; slot < kRackSlotCount; ++slot) {
        QStringList& keys = m_slotDevices[slot];
        const int at = keys.indexOf(key);
        if (at < 0)
            continue;
        if (at > 0) {
            keys.removeAt(at);
        } else {
            QStringList others = std::exchange(keys, QStringList());
            if (unmountSlot(slot) >= 0) {
                others.removeAll(key);
                // The next unit with this id takes the slot after the quiet time.
                for (const QString& other : others)
                    foundServSlot(other);
            }
        }
        updateDeviceNum(slot);
        updateSlotState(slot);
        return;
    }
}

JResult QuilObject::unmountSlot(int slot)
{
    disconnectSlot(slot);
    if (auto comm = std::move(m_connections[slot]))
        comm->detachMemory();
    updateSlotState(slot);
    RackObject* rack = m_rack[slot].get();
    const JResult result = rack->setModel(MODEL_NONE);
    emit mountChanged(static_cast<uint>(slot), rack->modelType());
    return result;
}

void QuilObject::refreshMountDevice(uint unitId, int)
{
    if (unitId >= static_cast<uint>(kRackSlotCount) || m_slotDevices[unitId].isEmpty()) {
        doPendingDevices();
        return;
    }
    const QString key = m_slotDevices[unitId].first();
    handleLostDevice(key);
    foundServSlot(key);
}

JResult QuilObject::foundDuplicateIPDevSlot(QString servName, QString duplicateDevName, QString ipAddr)
{
    // One pass over the template, so a name holding "%1" is shown as it is.
    const QString text = QStringLiteral("Duplicate IP address!\n\n%1 \n has the same IP address as \n%2 . \n\n"
                                        "The IP address is %3.\n\nCorrect IP address of the device. ")
                             .arg(servName, duplicateDevName, ipAddr);
    // Two units on one address clash again every announcement period: while
    // the box for that address is open, later reports add none.
    if (m_duplicateBoxes.contains(ipAddr))
        return 0;
    m_duplicateBoxes.insert(ipAddr);
    if (m_questions)
        m_questions->warn(text);
    m_duplicateBoxes.remove(ipAddr);
    return 0;
}

} // namespace Quil
