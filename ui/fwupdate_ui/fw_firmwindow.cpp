// The firmware update window's behaviour: package choice, the unit list,
// the analysis of each unit and discovery while the window is open.
#include "app/app_log.h"
#include "app/app_quilobject.h"
#include "device/discovery/dev_discovery.h"
#include "device/layouts/dev_devstate.h"
#include "device/layouts/dev_modeltypes.h"
#include "ui/fwupdate_ui/fw_deviceobject.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <cstring>
#include <vector>

namespace Quil {

namespace {

constexpr int kLinkPollMs = 20;
constexpr size_t kDeviceNameMax = 32;

FirmMessage question(const char* title, const char* body)
{
    return {3, QString::fromLatin1(title), QString::fromLatin1(body)};
}

FirmMessage critical(const char* title, const char* body)
{
    return {2, QString::fromLatin1(title), QString::fromLatin1(body)};
}

const char* stateName(int state)
{
    switch (state) {
    case FirmUpdateUI::UPDATE_UI_NOFILE:
        return "UPDATE_UI_NOFILE";
    case FirmUpdateUI::UPDATE_UI_DEVICE_ANALYZING:
        return "UPDATE_UI_DEVICE_ANALYZING";
    case FirmUpdateUI::UPDATE_UI_READY:
        return "UPDATE_UI_READY";
    case FirmUpdateUI::UPDATE_UI_UPDATING:
        return "UPDATE_UI_UPDATING";
    default:
        return "UNKNOWN";
    }
}

bool isFailed(const DeviceObject& row)
{
    return row.modelUpdateState() == DeviceObject::Failed || row.modelUpdateState() == DeviceObject::SeeNote
        || row.danteUpdateState() == DeviceObject::Failed;
}

} // namespace

const FirmMessages& firmMessages()
{
    static const FirmMessages messages{
        question("CONFIRMATION", "Close ?\nOne or more devices have not been updated yet."),
        question("CONFIRMATION", "Select file ?\nOne or more devices have not been updated yet."),
        {1, QStringLiteral("WARNING"), QStringLiteral("Update in progress.\nWait until update is completed.")},
        critical("CAUTION", "Invalid Network.\nCheck Network Setup and select the proper network."),
        critical("FATAL ERROR",
            "Dante Control and Monitoring service not found.\nMake sure that the Dante Controller is installed\n"
            "and the service is running.\nThen restart Quillon software."),
        critical("CAUTION", "Dante Network Initialize Failed.\n"),
        critical("CAUTION", "Dante Network Setting Failed.\nCheck Dante Interfaces and try again."),
        critical("FILE READ ERROR",
            "Cannot unpack the file.\nFile path may be too long.\n"
            "Make sure that the file path is less than 260 characters."),
        critical("FILE READ ERROR",
            "Cannot unpack the file.\nUser directory cannot be edited.\n"
            "Make sure that edits to this directory are permitted."),
        critical("FILE READ ERROR", "Invalid file.\nSelect a valid file."),
        critical("FATAL ERROR", "Unexpected error occurred.\nPlease restart the Quillon software and try again."),
        {0, QStringLiteral("NEW DEVICE FOUND"), QStringLiteral("New updatable device found.")},
    };
    return messages;
}

int showMessage(QWidget* parent, const FirmMessage& message)
{
    QMessageBox box(parent);
    box.setWindowTitle(message.title);
    box.setText(message.body);
    switch (message.kind) {
    case 0:
        box.setIcon(QMessageBox::Information);
        break;
    case 1:
        box.setIcon(QMessageBox::Warning);
        break;
    case 2:
        box.setIcon(QMessageBox::Critical);
        break;
    default:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    }
    return box.exec();
}

const FirmMessage& packageErrorMessage(JResult code)
{
    const FirmMessages& m = firmMessages();
    switch (static_cast<uint32_t>(code) & 0x7fffffffu) {
    case 2:
        return m.pathTooLong;
    case 3:
    case 4:
    case 7:
    case 8:
    case 10:
        return m.invalidFile;
    case 9:
        return m.directoryReadOnly;
    default:
        return m.unexpectedError;
    }
}

QString formatModelVersion(const QString& text)
{
    if (text.isEmpty())
        return text;
    QString body = text;
    QString letter;
    if (!body.back().isDigit()) {
        const QChar last = body.back();
        body.chop(1);
        if (last != QLatin1Char('a'))
            letter = last;
    }
    if (body.size() >= 3 && body.at(body.size() - 3).isDigit())
        body.insert(body.size() - 2, QLatin1Char('.'));
    return body + letter;
}

int danteLineModuleType(const QString& line)
{
    static const QRegularExpression separators(QStringLiteral("[ ,.]+"));
    const QStringList fields = line.split(separators);
    if (fields.size() < 4)
        return -1;
    return fields.at(3).toInt() > 4 ? 1 : 0;
}

bool unitFitsPackage(int32_t packageType, int32_t unitType)
{
    if (packageType == 0)
        return false;
    if (unitType == packageType)
        return true;
    const ModelTraits* traits = modelTraits(packageType);
    return traits && traits->firmware.alsoFits != MODEL_NONE && traits->firmware.alsoFits == unitType;
}

// ---------------------------------------------------------------------------

void FirmUpdateUI::log(const QString& text) const
{
    appLogWrite(text.toUtf8().constData());
}

int32_t FirmUpdateUI::init(QuilObject* core)
{
    m_core = core;
    if (!core || core->currentNetworkInterface(&m_interface) < 0)
        m_interface = HostInterface();
    if (!m_dfu) {
        m_dfu = std::make_unique<DanteFirmwareUpdateModule>();
        m_dfuLive = m_dfu.get();
    }
    return initDanteAgent();
}

void FirmUpdateUI::onTimeoutDfuCallback_InitializeDfa()
{
    m_agentTimer.stop();
    log(QStringLiteral("[ERROR] Dfu Callback Timeout : initializeDfa"));
}

int32_t FirmUpdateUI::setUiState(int state)
{
    m_uiState = state;
    log(QStringLiteral("#### State Changed : ") + QLatin1String(stateName(state)));
    updateUpdateButton();
    updateCancelButton();
    ui.m_btnFileSelect->setEnabled(state == UPDATE_UI_NOFILE || state == UPDATE_UI_READY);
    return 0;
}

void FirmUpdateUI::updateUpdateButton()
{
    bool enable = false;
    if (m_uiState == UPDATE_UI_READY) {
        for (const auto& row : m_rows) {
            if (row->isSelectable(m_danteMode) && (row->modelChecked() || row->danteChecked())) {
                enable = true;
                break;
            }
        }
    }
    ui.m_btnUpdate->setEnabled(enable);
}

void FirmUpdateUI::updateCancelButton()
{
    ui.m_btnCancel->setEnabled(m_uiState == UPDATE_UI_UPDATING && !m_cancelRequested);
}

std::vector<uint> FirmUpdateUI::rowIds() const
{
    std::vector<uint> ids;
    for (const auto& row : m_rows)
        ids.push_back(row->id());
    return ids;
}

DeviceObject* FirmUpdateUI::rowById(uint id) const
{
    for (const auto& row : m_rows)
        if (row->id() == id)
            return row.get();
    return nullptr;
}

DeviceObject* FirmUpdateUI::rowByDeviceName(const QString& name) const
{
    for (const auto& row : m_rows)
        if (row->deviceName() == name)
            return row.get();
    return nullptr;
}

DeviceObject* FirmUpdateUI::rowByServiceName(const QString& name) const
{
    for (const auto& row : m_rows)
        if (row->serviceName() == name)
            return row.get();
    return nullptr;
}

bool FirmUpdateUI::anyUpdateFailed() const
{
    return std::any_of(m_rows.begin(), m_rows.end(), [](const auto& row) { return isFailed(*row); });
}

bool FirmUpdateUI::allRowsAnalyzed() const
{
    return std::all_of(m_rows.begin(), m_rows.end(),
        [this](const auto& row) { return !row->isAssociated() || row->isSelectable(m_danteMode); });
}

// IModelUICallback ----------------------------------------------------------

int32_t FirmUpdateUI::deviceName(uint32_t unitId, char* name)
{
    const DeviceObject* row = rowById(unitId);
    if (!row || !name)
        return FWUI_E_FAIL;
    const QByteArray bytes = row->deviceName().toUtf8().left(kDeviceNameMax);
    std::memcpy(name, bytes.constData(), static_cast<size_t>(bytes.size()));
    name[bytes.size()] = '\0';
    return 0;
}

bool FirmUpdateUI::unitIdOf(const char* name, uint32_t* unitId)
{
    if (!name)
        return false;
    const DeviceObject* row = rowByDeviceName(QString::fromUtf8(name));
    if (!row)
        return false;
    if (unitId)
        *unitId = row->id();
    return row->modelState() == DeviceObject::Analyzing;
}

void FirmUpdateUI::modelCallback(uint32_t kind, uint32_t unitId)
{
    DeviceObject* row = rowById(unitId);
    if (!row) {
        log(QString::asprintf("[ERROR] modelCallback : no device id %u", unitId));
        return;
    }
    if (kind == MODEL_CB_ERROR) {
        onModelError(row);
        return;
    }
    if (m_uiState == UPDATE_UI_UPDATING && kind != MODEL_CB_WAITING_START) {
        modelRunCallback(kind, row);
        return;
    }
    if (kind != MODEL_CB_WAITING_START || m_uiState != UPDATE_UI_DEVICE_ANALYZING) {
        log(QString::asprintf("[ERROR] modelCallback : kind %u in state %d", kind, m_uiState));
        return;
    }
    const QString version = formatModelVersion(m_updater->unitFirmwareVersion(unitId));
    row->setModelVersion(version, m_packageVersion, m_updater->versionRelation(unitId));
    row->modelAnalyzed(true);
    analysisSettled();
}

void FirmUpdateUI::analysisSettled()
{
    if (m_uiState != UPDATE_UI_DEVICE_ANALYZING || !allRowsAnalyzed())
        return;
    if (m_updater)
        m_updater->setupFinished();
    setUiState(UPDATE_UI_READY);
    processPendingLists();
}

// Choosing and reading a package --------------------------------------------

void FirmUpdateUI::openFileSelect()
{
    if (anyUpdateFailed() && showMessage(this, firmMessages().selectWithFailures) != QMessageBox::Yes)
        return;
    QString folder;
    if (m_reader.isUnpacked())
        folder = m_packageFolder;
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Choose a File to load"), folder, QStringLiteral("Firmware File(*.bin)"));
    if (path.isEmpty())
        return;
    loadPackage(path);
}

void FirmUpdateUI::leaveUpdateMode()
{
    // A unit still in update mode refuses the rack's normal link: the links
    // go, and the rack's are asked for, only once the units have switched.
    int pending = 0;
    std::vector<QMetaObject::Connection> watches;
    for (const auto& row : m_rows) {
        if (row->setUpdateMode(false) < 0 || !m_inUpdateMode.contains(row->id()))
            continue;
        ++pending;
        watches.push_back(
            connect(row.get(), &DeviceObject::receiveFWUpdatemodeChanged, this, [&pending](uint, bool isOn) {
                if (!isOn)
                    --pending;
            }));
    }
    QDeadlineTimer deadline(m_timings.leaveUpdateModeMs);
    while (pending > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, kLinkPollMs);
    for (const auto& watch : watches)
        disconnect(watch);
    m_inUpdateMode.clear();
}

void FirmUpdateUI::releaseRows()
{
    leaveUpdateMode();
    if (m_updater)
        m_updater->destroy();
    m_updater.reset();
    for (const auto& row : m_rows)
        row->disconnect();
    m_rows.clear();
    ui.m_DeviceObjframe->resize(ui.m_DeviceObjframe->width(), 0);
    ui.m_lblInfo_modelVersion_msg->clear();
}

int32_t FirmUpdateUI::loadPackage(const QString& path)
{
    releaseRows();
    if (readFile(path) < 0) {
        setUiState(UPDATE_UI_NOFILE);
        return FWUI_E_FAIL;
    }
    if (m_danteMode) {
        if (initDanteTftp() < 0) {
            setUiState(UPDATE_UI_NOFILE);
            return FWUI_E_FAIL;
        }
    } else {
        releaseDanteTftp();
    }
    int32_t type = 0;
    if (m_reader.getModelType(&type) < 0) {
        setUiState(UPDATE_UI_NOFILE);
        return FWUI_E_FAIL;
    }
    if (type != m_packageType)
        resumeSuspendedSlots();
    m_packageType = type;
    m_updater = m_factory ? m_factory(type) : nullptr;
    if (!m_updater) {
        log(QString::asprintf("[ERROR] no model updater for device type %d", type));
        setUiState(UPDATE_UI_NOFILE);
        return FWUI_E_FAIL;
    }
    if (setupDevices() < 0) {
        setUiState(UPDATE_UI_NOFILE);
        return FWUI_E_FAIL;
    }
    return 0;
}

int32_t FirmUpdateUI::readFile(QString filePath)
{
    ui.m_lblInfo_type->setText(QStringLiteral("----"));
    ui.m_lblInfo_modelVersion->setText(QStringLiteral("----"));
    for (QLabel* label : {ui.m_lblInfo_danteVersion_BN2, ui.m_lblInfo_danteModel_BN2, ui.m_lblInfo_danteVersion_BN3,
             ui.m_lblInfo_danteModel_BN3})
        label->clear();
    m_packagePath = filePath;
    FwPackageReader::splitPath(filePath, &m_packageFolder, &m_packageFileName);
    QString header;
    QStringList versions;
    const JResult rc = m_reader.openPackage(filePath, nullptr, nullptr, &header, &versions);
    if (rc < 0) {
        showMessage(this, packageErrorMessage(rc));
        if ((static_cast<uint32_t>(rc) & 0x7fffffffu) == 2)
            ui.m_lblInfo_type->setText(QStringLiteral("Illegal File"));
        ui.m_lblFileName->clear();
        return rc;
    }
    m_thirdGeneration = header == QLatin1String("Brox-D3");
    m_danteLines.clear();
    m_danteFiles.clear();
    m_progressMax = 0;
    if (m_thirdGeneration) {
        m_danteMode = false;
        m_modelPath = filePath;
        ui.m_lblFileName->setText(filePath);
        ui.m_lblInfo_type->setText(header);
        m_packageVersion = versions.value(0);
        QString shown = formatModelVersion(m_packageVersion);
        if (!shown.isEmpty())
            shown[0] = shown.at(0).toUpper();
        ui.m_lblInfo_modelVersion->setText(shown);
        return 0;
    }
    // The reader leaves the texts alone for a package without Dante files.
    m_packageVersion.clear();
    QString modelName, formatted, summary;
    QStringList danteLines;
    bool hasDante = false;
    m_reader.displayTexts(
        header, &modelName, versions, &m_packageVersion, &formatted, &danteLines, &summary, &hasDante);
    // Only a package that carries Dante files needs the Dante agent.
    m_danteMode = hasDante;
    if (m_danteMode && m_agentResult < 0) {
        const uint32_t code = static_cast<uint32_t>(m_agentResult) & 0x7fffffffu;
        showMessage(this, code == 1 ? firmMessages().danteServiceMissing : firmMessages().danteInitFailed);
        log(QString::asprintf("  -- Error Type [%u]", code));
        ui.m_lblFileName->clear();
        return FWUI_E_FAIL;
    }
    m_reader.getFirmwarePath(&m_modelPath);
    m_reader.getDanteFiles(&m_danteFiles);
    m_progressMax = m_danteFiles.isEmpty() ? 0 : FirmUpdateUIFileManager::getFileSize(m_danteFiles.first());
    ui.m_lblFileName->setText(filePath);
    ui.m_lblInfo_type->setText(modelName);
    if (m_packageVersion.isEmpty())
        m_packageVersion = versions.value(0);
    // The package's model version is shown beside its Dante files only; a
    // model-only package keeps "----".
    if (hasDante) {
        QString shown = formatted;
        if (shown.endsWith(QLatin1Char('a')))
            shown.chop(1);
        ui.m_lblInfo_modelVersion->setText(shown);
        showDanteFileInfo(danteLines);
        m_danteLines = danteLines;
    }
    return 0;
}

// The unit list ---------------------------------------------------------------

int32_t FirmUpdateUI::setupDevices()
{
    m_jobIndex = -1;
    if (m_danteMode && !m_danteReady)
        log(QStringLiteral("[ERROR] setupDevices : DFA TFTP has not initialized"));
    m_updater->init(this, m_interface.address, m_modelPath, m_packageType, m_packageVersion);
    if (createDeviceObjects(m_packageType) < 0)
        return FWUI_E_FAIL;
    const HostInterface adapter
        = m_core ? m_core->findNetworkInterface(m_interface.mac, m_interface.address) : HostInterface();
    if (m_rows.empty()) {
        setUiState(UPDATE_UI_READY);
    } else if (adapter.isUsable()) {
        startAnalyzing();
    } else {
        for (const auto& row : m_rows) {
            onModelError(row.get());
            onDanteError(row.get());
        }
    }
    connectDiscovery();
    return 0;
}

void FirmUpdateUI::connectDiscovery()
{
    disconnect(m_foundConnection);
    disconnect(m_lostConnection);
    JsdpZDiscovery* discovery = m_core ? m_core->discovery() : nullptr;
    if (!discovery)
        return;
    m_foundConnection = connect(
        discovery, &JsdpZDiscovery::foundServSignal, this, &FirmUpdateUI::onJsdpFoundDevice, Qt::QueuedConnection);
    m_lostConnection = connect(
        discovery, &JsdpZDiscovery::lostServSignal, this, &FirmUpdateUI::onJsdpLostDevice, Qt::QueuedConnection);
}

int32_t FirmUpdateUI::createDeviceObjects(int32_t packageType)
{
    QMap<QString, DeviceEntry> found;
    if (m_core)
        m_core->getFoundDevices(&found);
    for (const DeviceEntry& entry : found) {
        if (!unitFitsPackage(packageType, modelTypeFromName(entry.model.toUtf8().constData())))
            continue;
        if (createDeviceObject(entry) < 0)
            return FWUI_E_FAIL;
    }
    return 0;
}

uint FirmUpdateUI::freeUnitId() const
{
    // Ids stay unique after rows were deleted: lookups take the first match.
    uint id = 0;
    while (rowById(id))
        ++id;
    return id;
}

int32_t FirmUpdateUI::createDeviceObject(const DeviceEntry& entry)
{
    auto row = std::make_unique<DeviceObject>(freeUnitId(), m_packageType, m_timings.rows);
    row->setDiscoveryData(
        entry.key, entry.model, entry.id, static_cast<uint16_t>(entry.port), entry.address, m_interface.address);
    if (row->createConnection() < 0)
        return FWUI_E_FAIL;
    DeviceObject* r = row.get();
    connect(r, &DeviceObject::updateStateChanged, this, &FirmUpdateUI::updateUpdateButton);
    connect(r, &DeviceObject::connectedDeviceObj, this, &FirmUpdateUI::onConnectedDeviceObj);
    connect(r, &DeviceObject::disconnectedDeviceObj, this, &FirmUpdateUI::onDisconnectedDeviceObj);
    connect(r, &DeviceObject::receiveFWUpdatemode, this, &FirmUpdateUI::onReceiveFWUpdatemode);
    connect(r, &DeviceObject::receiveFWUpdatemodeChanged, this, &FirmUpdateUI::onReceiveFWUpdatemodeChanged);
    connect(r, &DeviceObject::timeoutFWUpdatemodeReceive, this, &FirmUpdateUI::onTimeoutFWUpdatemodeReceive);
    connect(r, &DeviceObject::danteUpdateFailedByDfa, this, &FirmUpdateUI::onTimerDanteUpdateFailed);
    m_rows.push_back(std::move(row));
    return 0;
}

void FirmUpdateUI::removeRow(DeviceObject* row, bool later)
{
    auto it = std::find_if(m_rows.begin(), m_rows.end(), [row](const auto& r) { return r.get() == row; });
    if (it == m_rows.end())
        return;
    std::unique_ptr<DeviceObject> owned = std::move(*it);
    m_rows.erase(it);
    if (later) {
        QObject::disconnect(owned.get(), nullptr, this, nullptr);
        owned.release()->deleteLater(); // its own signal is still running
    }
}

// The analysis ----------------------------------------------------------------

int32_t FirmUpdateUI::closeRackLink(DeviceObject* row)
{
    // The rack links are keyed by unit number, never by the row's index.
    int slot = -1;
    if (!m_core || m_core->findSlotByDeviceId(&slot, row->unitNumber()) < 0 || slot < 0)
        return 0;
    if (!m_core->isConnected(slot))
        return 0;
    if (m_core->disconnectSlot(slot) < 0)
        return FWUI_E_FAIL;
    // The unit keeps one link: wait until the rack's link is really down
    // (a link still closing takes no new request), asking again once in
    // case the first request was dropped.
    const auto linkDown = [&] {
        JLIB::JVariant state;
        return m_core->getValue(slot, QString::fromLatin1(kConnectionStatePath), &state) >= 0
            && state.toInteger() == stateValue(ConnectionState::Disconnected);
    };
    QDeadlineTimer deadline(m_timings.linkCloseMs);
    bool askedAgain = false;
    while (!linkDown() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, kLinkPollMs);
        if (!askedAgain && deadline.remainingTime() < m_timings.linkCloseMs / 2) {
            m_core->disconnectSlot(slot);
            askedAgain = true;
        }
    }
    if (!linkDown())
        return FWUI_E_FAIL;
    m_suspended.append(slot);
    return 0;
}

int32_t FirmUpdateUI::startAnalyzing(const QSet<uint>& modelAgain)
{
    setUiState(UPDATE_UI_DEVICE_ANALYZING);
    int counted = 0;
    // Rows may go while rack links close (events run), so walk by id.
    for (uint id : rowIds()) {
        DeviceObject* row = rowById(id);
        if (!row)
            continue;
        if (row->isAssociated()) {
            log(QStringLiteral("SCP connection is already established"));
            if (modelAgain.contains(id) && analyzeModelAgain(row))
                ++counted;
            continue;
        }
        if (closeRackLink(row) < 0 || !(row = rowById(id)) || row->connect() < 0) {
            if ((row = rowById(id))) {
                onModelError(row);
                onDanteError(row);
            }
            continue;
        }
        ++counted;
    }
    if (counted == 0 && m_uiState == UPDATE_UI_DEVICE_ANALYZING)
        setUiState(UPDATE_UI_READY);
    return 0;
}

void FirmUpdateUI::onConnectedDeviceObj(uint id)
{
    log(QString::asprintf("device is connected : deviceID = %u", id));
    DeviceObject* row = rowById(id);
    if (!row)
        return;
    addRowWidget(row);
    row->setDanteProgressMaximum(static_cast<int>(m_progressMax));
    if (m_danteMode) {
        startDanteSearch();
        return;
    }
    if (startModelAnalysis(row) >= 0 && row->modelState() != DeviceObject::Analyzed)
        row->setModelState(DeviceObject::Analyzing);
}

bool FirmUpdateUI::analyzeModelAgain(DeviceObject* row)
{
    // The engine's job for the unit has ended: left as it is, the row would
    // stay ticked while every later run failed to start it.
    row->setModelState(DeviceObject::StateNone);
    if (startModelAnalysis(row) < 0)
        return false;
    if (row->modelState() != DeviceObject::Analyzed)
        row->setModelState(DeviceObject::Analyzing);
    return true;
}

int32_t FirmUpdateUI::startModelAnalysis(DeviceObject* row)
{
    if (row->modelState() == DeviceObject::Analyzed)
        return 0;
    const ModelTraits* traits = modelTraits(m_packageType);
    if (traits && traits->firmware.queryUpdateMode)
        return row->queryUpdateMode();
    return requestModelSetup(row);
}

int32_t FirmUpdateUI::requestModelSetup(DeviceObject* row)
{
    if (!m_updater || m_updater->prepare(row->id(), row->ipAddress()) < 0) {
        log(QString::asprintf("[ERROR] Mfu startSetup failed: id = %u", row->id()));
        onModelError(row);
        return FWUI_E_FAIL;
    }
    return 0;
}

void FirmUpdateUI::onReceiveFWUpdatemode(uint id, bool isOn)
{
    DeviceObject* row = rowById(id);
    if (!row)
        return;
    log(isOn ? QStringLiteral("FirmUpdateUI : onReceiveUpdatemode : ON")
             : QStringLiteral("FirmUpdateUI : onReceiveUpdatemode : OFF"));
    // A unit already in update mode is switched off and on again.
    row->setUpdateMode(!isOn);
}

void FirmUpdateUI::onReceiveFWUpdatemodeChanged(uint id, bool isOn)
{
    if (isOn)
        m_inUpdateMode.insert(id);
    else
        m_inUpdateMode.remove(id);
    DeviceObject* row = rowById(id);
    if (!row || m_uiState != UPDATE_UI_DEVICE_ANALYZING)
        return;
    log(QString::asprintf("received  updatemode(runmode) changed %d", isOn ? 1 : 0));
    if (isOn)
        requestModelSetup(row);
    else
        row->setUpdateMode(true);
}

void FirmUpdateUI::onTimeoutFWUpdatemodeReceive(uint id)
{
    log(QStringLiteral("!!! Timeout : receive updateMode On"));
    if (DeviceObject* row = rowById(id))
        onModelError(row);
}

void FirmUpdateUI::onModelError(DeviceObject* row)
{
    log(QStringLiteral("[ERROR] Device Error : MODEL"));
    // The running job ends even when its unit's link dropped meanwhile.
    if (isRunning(row, RunSide::Model)) {
        runSideError(row, RunSide::Model);
        return;
    }
    switch (row->modelState()) {
    case DeviceObject::StateNone:
    case DeviceObject::Analyzed:
    case DeviceObject::Done:
        row->markModelUnavailable();
        break;
    case DeviceObject::Analyzing:
        row->modelAnalyzed(false);
        analysisSettled();
        break;
    case DeviceObject::Updating:
        runSideError(row, RunSide::Model);
        break;
    default:
        break;
    }
}

void FirmUpdateUI::onDanteError(DeviceObject* row)
{
    log(QStringLiteral("[ERROR] Device Error : DANTE"));
    // The running job ends even when its unit's link dropped meanwhile.
    if (isRunning(row, RunSide::Dante)) {
        runSideError(row, RunSide::Dante);
        return;
    }
    switch (row->danteState()) {
    case DeviceObject::StateNone:
    case DeviceObject::Analyzed:
    case DeviceObject::Done:
        row->markDanteUnavailable();
        break;
    case DeviceObject::Analyzing:
        row->danteAnalyzed(false);
        break;
    case DeviceObject::Updating:
        runSideError(row, RunSide::Dante);
        break;
    default:
        break;
    }
}

// Discovery -------------------------------------------------------------------

int32_t FirmUpdateUI::processPendingLists()
{
    if (m_uiState != UPDATE_UI_READY)
        return FWUI_E_FAIL;
    const QStringList lost = m_lostWhileBusy;
    m_lostWhileBusy.clear();
    for (const QString& name : lost)
        handleLostDevice(name);
    QSet<uint> modelFailed;
    for (const QString& name : m_modelFailed) {
        if (const DeviceObject* row = rowByServiceName(name))
            modelFailed.insert(row->id());
    }
    m_modelFailed.clear();
    int danteFailed = 0;
    for (const QString& name : m_danteFailed) {
        if (DeviceObject* row = rowByServiceName(name)) {
            row->setDanteListed(false);
            ++danteFailed;
        }
    }
    m_danteFailed.clear();
    int wanted = 0;
    const QStringList found = m_foundWhileBusy;
    m_foundWhileBusy.clear();
    for (const QString& name : found) {
        log(QStringLiteral("/////////////  try Ready foundDevice : %1  /////////////////").arg(name));
        wanted += handleFoundDevice(name) ? 1 : 0;
    }
    if (wanted > 0 || !modelFailed.isEmpty()) {
        startAnalyzing(modelFailed);
    } else if (danteFailed > 0 && m_danteMode) {
        // Only Dante jobs failed: the list is asked again in the analysing
        // state, so its answer is taken and those Dante sides analysed anew.
        setUiState(UPDATE_UI_DEVICE_ANALYZING);
        log(QStringLiteral("NO Model. So start from DANTE search"));
        if (requestDanteDeviceList() < 0)
            danteListFailed();
    }
    return 0;
}

void FirmUpdateUI::onJsdpFoundDevice(QString serviceName)
{
    if (m_uiState == UPDATE_UI_DEVICE_ANALYZING || m_uiState == UPDATE_UI_UPDATING) {
        if (!m_foundWhileBusy.contains(serviceName))
            m_foundWhileBusy.append(serviceName);
    } else if (m_uiState == UPDATE_UI_READY && handleFoundDevice(serviceName)) {
        startAnalyzing();
    }
    if (DeviceObject* row = rowByServiceName(serviceName))
        row->setFound(true);
}

bool FirmUpdateUI::handleFoundDevice(const QString& serviceName)
{
    QMap<QString, DeviceEntry> found;
    if (m_core)
        m_core->getFoundDevices(&found);
    const auto entry = found.constFind(serviceName);
    if (DeviceObject* row = rowByServiceName(serviceName)) {
        log(QStringLiteral("Device Re-Found : %1").arg(serviceName));
        row->setModelState(DeviceObject::StateNone);
        row->setDanteState(DeviceObject::StateNone);
        return entry != found.constEnd() && row->setIpAddress(entry->address) >= 0 && row->createConnection() >= 0;
    }
    log(QStringLiteral("Device Found New : %1").arg(serviceName));
    if (entry == found.constEnd()
        || !unitFitsPackage(m_packageType, modelTypeFromName(entry->model.toUtf8().constData())))
        return false;
    showMessage(this, firmMessages().newDeviceFound);
    return createDeviceObject(*entry) >= 0;
}

void FirmUpdateUI::onJsdpLostDevice(QString serviceName)
{
    if (m_uiState == UPDATE_UI_DEVICE_ANALYZING || m_uiState == UPDATE_UI_UPDATING) {
        if (!m_lostWhileBusy.contains(serviceName))
            m_lostWhileBusy.append(serviceName);
    } else if (m_uiState == UPDATE_UI_READY) {
        handleLostDevice(serviceName);
    }
    if (DeviceObject* row = rowByServiceName(serviceName))
        row->setFound(false);
}

void FirmUpdateUI::handleLostDevice(const QString& serviceName)
{
    if (DeviceObject* row = rowByServiceName(serviceName)) {
        log(QStringLiteral("Device Lost : %1").arg(serviceName));
        if (row->isAssociated())
            row->dropConnection();
        else
            removeRow(row, false);
    }
    m_modelFailed.removeAll(serviceName);
    m_danteFailed.removeAll(serviceName);
}

void FirmUpdateUI::onDisconnectedDeviceObj(uint id)
{
    DeviceObject* row = rowById(id);
    if (!row)
        return;
    if (row->isAssociated()) {
        row->dropConnection();
        return;
    }
    removeRow(row, true);
    if (m_danteMode)
        startDanteSearch();
    analysisSettled();
}

int32_t FirmUpdateUI::resumeSuspendedSlots()
{
    while (!m_suspended.isEmpty()) {
        if (!m_core || m_core->connectSlot(m_suspended.first(), false) < 0) {
            log(QString::asprintf("[ERROR] connectSlot failed : slot %d", m_suspended.first()));
            return FWUI_E_FAIL;
        }
        m_suspended.removeFirst();
    }
    return 0;
}

// Closing -----------------------------------------------------------------------

void FirmUpdateUI::closeEvent(QCloseEvent* event)
{
    if (m_uiState == UPDATE_UI_UPDATING) {
        showMessage(this, firmMessages().updateInProgress);
        event->ignore();
        return;
    }
    if (anyUpdateFailed() && showMessage(this, firmMessages().closeWithFailures) != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    event->accept();
}

void FirmUpdateUI::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        if (m_uiState == UPDATE_UI_UPDATING) {
            showMessage(this, firmMessages().updateInProgress);
            return;
        }
        if (anyUpdateFailed() && showMessage(this, firmMessages().closeWithFailures) != QMessageBox::Yes)
            return;
    }
    ZScaledDialog::keyPressEvent(event);
}

FirmUpdateUI::~FirmUpdateUI()
{
    disconnect(m_foundConnection);
    disconnect(m_lostConnection);
    leaveUpdateMode();
    for (const auto& row : m_rows)
        row->disconnect();
    resumeSuspendedSlots();
    if (m_updater)
        m_updater->destroy();
    m_updater.reset();
    // Stops the agent and its server first: no callback runs after.
    m_dfu.reset();
    m_dfuLive = nullptr;
    m_rows.clear();
}

} // namespace Quil
