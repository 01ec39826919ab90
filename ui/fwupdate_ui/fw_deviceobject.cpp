#include "ui/fwupdate_ui/fw_deviceobject.h"

#include "app/app_log.h"

#include <QCheckBox>
#include <QFrame>
#include <QHostAddress>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

namespace Quil {

namespace {

const char* const kModelPrefix = "       Model : ";
const char* const kDantePrefix = "       Dante : ";
const char* const kDisconnected = "       Disconnected";
const char* const kStateLine = "###################################";
const char* const kRefusedLine = "!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!";

struct UpdateTexts {
    const char* update;
    const char* status;
    bool bar;
};

// By update state: the update label, the status label and whether the
// progress bar shows.
const UpdateTexts kUpdateTexts[] = {
    {"", "", false},
    {"Waiting", "", false},
    {"Cancelled", "", false},
    {"Updating", "Erasing", true},
    {"Updating", "Transferring", true},
    {"Updating", "Writing", true},
    {"Finished", "", false},
    {"Failed", "", false},
    {"Completed", "", false},
    {"See Note.", "", false},
};

QLabel* boxLabel(QWidget* parent, const QRect& geometry)
{
    auto* label = new QLabel(parent);
    label->setFrameShape(QFrame::Box);
    label->setFrameShadow(QFrame::Sunken);
    label->setGeometry(geometry);
    return label;
}

} // namespace

DeviceObject::DeviceObject(uint id, ModelType deviceType, const DeviceObjectTimings& timings)
    : m_id(id)
    , m_deviceType(deviceType)
    , m_timings(timings)
{
    m_connectionTimer.setInterval(m_timings.connectionMs);
    m_updateModeTimer.setInterval(m_timings.updateModeMs);
    m_model.blink.setInterval(m_timings.blinkMs);
    m_dante.blink.setInterval(m_timings.blinkMs);
    QObject::connect(&m_connectionTimer, &QTimer::timeout, this, &DeviceObject::OnScpConnectionTimer);
    QObject::connect(&m_updateModeTimer, &QTimer::timeout, this, &DeviceObject::OnReceivedFWUpdatemodeTimer);
    QObject::connect(&m_model.blink, &QTimer::timeout, this, &DeviceObject::OnTimerUpdateBlink_model);
    QObject::connect(&m_dante.blink, &QTimer::timeout, this, &DeviceObject::OnTimerUpdateBlink_dante);
    QObject::connect(&m_danteTimeout, &QTimer::timeout, this, &DeviceObject::OnTimerDfaCallbackTimeout);
}

DeviceObject::~DeviceObject()
{
    delete m_rowFrame.data();
    releaseConnection();
}

void DeviceObject::releaseConnection()
{
    if (!m_connection)
        return;
    // Its last disconnection, reported while it goes, is no news to us.
    QObject::disconnect(m_connection.get(), nullptr, this, nullptr);
    // Joins the connection's thread; its queued signals to us go with it.
    m_connection.reset();
}

void DeviceObject::log(const QString& text) const
{
    appLogWrite(text.toLatin1().constData());
}

// ---------------------------------------------------------------------------
// Discovery data and the connection.

JResult DeviceObject::setDiscoveryData(const QString& serviceName, const QString& modelName, uint16_t unitNumber,
    uint16_t port, const QString& ipAddress, const QString& interfaceAddress)
{
    m_serviceName = serviceName;
    m_modelName = modelName;
    m_unitNumber = unitNumber;
    m_port = port;
    m_ipAddress = ipAddress;
    m_interfaceAddress = interfaceAddress;
    return 0;
}

JResult DeviceObject::setIpAddress(const QString& text)
{
    QHostAddress address;
    if (!address.setAddress(text))
        return DEVOBJ_E_FAIL;
    m_ipAddress = text;
    return 0;
}

JResult DeviceObject::createConnection()
{
    if (m_connection)
        return DEVOBJ_E_FAIL;
    m_connection = std::make_unique<ScpClientThread_fwUpdate>(
        m_id, m_ipAddress, m_port, m_interfaceAddress, static_cast<int>(m_deviceType), this);
    ScpClientThread_fwUpdate* c = m_connection.get();
    QObject::connect(c, &ScpClientThread_fwUpdate::connected, this, &DeviceObject::OnConnectedScp);
    QObject::connect(c, &ScpClientThread_fwUpdate::disconnected, this, &DeviceObject::OnDisconnectedScp);
    QObject::connect(c, &ScpClientThread_fwUpdate::associated, this, &DeviceObject::OnConnectionAssociated);
    QObject::connect(
        c, &ScpClientThread_fwUpdate::receiveFWUpdateProgress, this, &DeviceObject::dispTransferProgress_model);
    QObject::connect(c, &ScpClientThread_fwUpdate::receiveFWUpdateMode, this, &DeviceObject::OnReceiveFWUpdatemode);
    QObject::connect(
        c, &ScpClientThread_fwUpdate::receiveFWUpdatemodeChanged, this, &DeviceObject::OnReceiveFWUpdatemodeChanged);
    QObject::connect(c, &ScpClientThread_fwUpdate::connectionTimeout, this, &DeviceObject::OnScpConnectionTimer);
    return 0;
}

JResult DeviceObject::connect()
{
    if (!m_connection)
        return DEVOBJ_E_FAIL;
    m_retries = DEVOBJ_CONNECT_RETRIES;
    m_connectionTimer.start(m_timings.connectionMs);
    const JResult rc = m_connection->connectNetwork();
    m_linkOpen = rc >= 0;
    if (rc < 0) {
        // The caller takes the failure; no retry follows it.
        m_connectionTimer.stop();
        m_retries = 0;
        log(QString::asprintf("!!! scpClientThread connectNetwork Error %d", static_cast<int>(m_id)));
    }
    return rc;
}

JResult DeviceObject::disconnect()
{
    m_retries = 0;
    return m_connection ? m_connection->disconnectNetwork() : DEVOBJ_E_FAIL;
}

JResult DeviceObject::dropConnection()
{
    if (!rowMade())
        return DEVOBJ_E_FAIL;
    m_associated = false;
    m_danteListed = false;
    m_modeQueryPending = false;
    m_connectionTimer.stop();
    releaseConnection();
    setModelState(Disconnected);
    setDanteState(Disconnected);
    return 0;
}

bool DeviceObject::connectionAssociated() const
{
    return m_connection && m_connection->isAssociated();
}

JResult DeviceObject::setUpdateMode(bool on)
{
    if (!connectionAssociated())
        return DEVOBJ_E_FAIL;
    const JResult rc = m_connection->setFWUpdateMode(on);
    if (on && rc >= 0)
        m_updateModeTimer.start(m_timings.updateModeMs);
    return rc;
}

JResult DeviceObject::queryUpdateMode()
{
    if (!connectionAssociated())
        return DEVOBJ_E_FAIL;
    m_modeQueryPending = true;
    const JResult rc = m_connection->requestFWUpdateMode();
    if (rc < 0)
        m_modeQueryPending = false;
    return rc;
}

JResult DeviceObject::sendDanteProgress(uint percent)
{
    if (!connectionAssociated())
        return DEVOBJ_E_FAIL;
    return m_connection->sendDanteUpdateProgress(percent);
}

void DeviceObject::OnConnectedScp()
{
    log(QString::asprintf("scpConnected %d", static_cast<int>(m_id)));
}

void DeviceObject::OnConnectionAssociated()
{
    log(QString::asprintf("scpAssociated %d", static_cast<int>(m_id)));
    m_connectionTimer.stop();
    m_associated = true;
    m_retries = 0;
    if (!m_connection)
        return;
    // A tag the unit never reported leaves the text empty.
    QString name;
    if (m_connection->getDeviceInfo(QStringLiteral("devicename"), name) < 0 || name.isEmpty()) {
        log(QString::asprintf("!!! devicename Err %d", static_cast<int>(m_id)));
        return;
    }
    m_deviceName = name;
    QString version;
    if (m_connection->getDeviceInfo(QStringLiteral("version"), version) < 0 || version.isEmpty()) {
        log(QString::asprintf("!!! version Err %d", static_cast<int>(m_id)));
        return;
    }
    // Read as the window shows it; the window reads it again when it needs it.
    displayVersionText(m_deviceType, version.toLatin1().constData());
    emit connectedDeviceObj(m_id);
}

void DeviceObject::OnDisconnectedScp()
{
    log(QString::asprintf("scpDisconnected %d", static_cast<int>(m_id)));
    if (m_retries > 0 && m_connection) {
        --m_retries;
        m_connectionTimer.start(m_timings.connectionMs);
        m_linkOpen = m_connection->connectNetwork() >= 0;
        return;
    }
    emit disconnectedDeviceObj(m_id);
}

void DeviceObject::OnScpConnectionTimer()
{
    m_connectionTimer.stop();
    if (m_retries > 0 && m_connection) {
        // The disconnection that follows takes the retry. A connect that
        // failed at once (no socket free) left nothing to close, so no
        // disconnection would ever come: the retry is taken here.
        if (m_linkOpen)
            m_connection->disconnectNetwork();
        else
            OnDisconnectedScp();
        return;
    }
    emit disconnectedDeviceObj(m_id);
}

void DeviceObject::OnReceiveFWUpdatemode(uint value)
{
    if (!m_associated || !m_modeQueryPending)
        return;
    m_modeQueryPending = false;
    emit receiveFWUpdatemode(m_id, value != 0);
}

void DeviceObject::OnReceiveFWUpdatemodeChanged(bool isOn)
{
    if (!m_associated)
        return;
    m_updateModeTimer.stop();
    emit receiveFWUpdatemodeChanged(m_id, isOn);
}

void DeviceObject::OnReceivedFWUpdatemodeTimer()
{
    m_updateModeTimer.stop();
    emit timeoutFWUpdatemodeReceive(m_id);
}

JResult DeviceObject::startDanteTimeout(int ms)
{
    m_danteTimeout.start(ms);
    return 0;
}

JResult DeviceObject::stopDanteTimeout()
{
    m_danteTimeout.stop();
    return 0;
}

void DeviceObject::OnTimerDfaCallbackTimeout()
{
    m_danteTimeout.stop();
    emit danteUpdateFailedByDfa(m_id);
}

// ---------------------------------------------------------------------------
// Blinking.

void DeviceObject::startBlink(Side& side)
{
    if (side.status && m_rowFrame)
        side.status->hide();
    side.blink.start(m_timings.blinkMs);
}

void DeviceObject::stopBlink(Side& side)
{
    side.blink.stop();
    if (side.status && m_rowFrame)
        side.status->hide();
}

void DeviceObject::toggleBlink(Side& side)
{
    if (side.status && m_rowFrame)
        side.status->setVisible(side.status->isHidden()); // isVisible() is false in a hidden window
}

void DeviceObject::OnTimerUpdateBlink_model()
{
    toggleBlink(m_model);
}

void DeviceObject::OnTimerUpdateBlink_dante()
{
    toggleBlink(m_dante);
}

// ---------------------------------------------------------------------------
// States.

JResult DeviceObject::setModelState(int state)
{
    return setState(false, state);
}

JResult DeviceObject::setDanteState(int state)
{
    return setState(true, state);
}

JResult DeviceObject::setState(bool dante, int state)
{
    if (!rowMade() || state < StateNone || state > Done)
        return DEVOBJ_E_FAIL;
    Side& side = sideOf(dante);
    const QString prefix = QString::fromLatin1(dante ? kDantePrefix : kModelPrefix);
    const QString& version = versionOf(dante);
    bool enable = false;
    switch (state) {
    case StateNone:
        side.stateLabel->setText(QString());
        stopBlink(side);
        break;
    case Disconnected:
        side.stateLabel->setText(QString::fromLatin1(kDisconnected));
        stopBlink(side);
        break;
    case Analyzing:
        side.stateLabel->setText(prefix + QStringLiteral("Analyzing"));
        if (!dante)
            startBlink(side);
        break;
    case Analyzed:
        side.stateLabel->setText(prefix + version);
        stopBlink(side);
        enable = m_updatable && (dante || !version.isEmpty());
        if (!m_updatable)
            side.check->setChecked(false);
        if (dante && !m_danteModule.isEmpty() && !side.status->text().isEmpty())
            side.status->show();
        break;
    case Updating:
        side.stateLabel->setText(prefix + version);
        startBlink(side);
        break;
    case Done:
        side.stateLabel->setText(prefix);
        side.check->setChecked(false);
        stopBlink(side);
        break;
    }
    side.check->setEnabled(enable);
    stateOf(dante) = state;
    emit updateStateChanged(m_unitNumber);
    log(QString::fromLatin1(kStateLine));
    log(QString::asprintf(
        "###### DEVICE OBJECT #%d  : %s STATE CHANGED : %d ######", m_unitNumber, dante ? "DANTE" : "MODEL", state));
    return 0;
}

JResult DeviceObject::setModelUpdateState(int state)
{
    return setUpdateState(false, state);
}

JResult DeviceObject::setDanteUpdateState(int state)
{
    return setUpdateState(true, state);
}

JResult DeviceObject::setUpdateState(bool dante, int state)
{
    if (!rowMade())
        return DEVOBJ_E_FAIL;
    const char* sideName = dante ? "DANTE" : "MODEL";
    Side& side = sideOf(dante);
    const int highest = dante ? Completed : SeeNote;
    if (state < UpdateNone || state > highest) {
        log(QString::asprintf(
            "[ERROR] ###### DEVICE OBJECT #%d  : %s UPDATE STATE UNKNOWN : %d ######", m_unitNumber, sideName, state));
        side.updateLabel->setText(QString());
        side.status->setText(QString());
        return DEVOBJ_E_FAIL;
    }
    const int current = updateStateOf(dante);
    bool allowed = true;
    if (state == Cancelled)
        allowed = current == Waiting;
    else if (!dante && state == Erasing)
        allowed = current == Waiting;
    else if (!dante && state == Writing)
        allowed = current == Waiting || current == Transferring;
    if (!allowed) {
        log(QString::fromLatin1(kRefusedLine));
        log(QString::asprintf(
            "[ERROR] ###### DEVICE OBJECT #%d  : %s UPDATE STATE CHANGE : %d ######", m_unitNumber, sideName, state));
        return DEVOBJ_E_FAIL;
    }
    const UpdateTexts& texts = kUpdateTexts[state];
    side.updateLabel->setText(QString::fromLatin1(texts.update));
    if (dante && state == UpdateNone)
        side.status->setText(m_danteModule);
    else
        side.status->setText(QString::fromLatin1(texts.status));
    side.bar->setVisible(texts.bar);
    updateStateOf(dante) = state;
    if (dante && state == Writing)
        side.bar->setMaximum(100);
    if (dante && state == Finished)
        sendDanteProgress(100);
    log(QString::fromLatin1(kStateLine));
    log(QString::asprintf(
        "###### DEVICE OBJECT #%d  : %s UPDATE STATE CHANGED : %d ######", m_unitNumber, sideName, state));
    return 0;
}

// ---------------------------------------------------------------------------
// Versions, analysis and runs.

JResult DeviceObject::setModelVersion(const QString& version, const QString& packageVersion, int relation)
{
    m_packageVersion = packageVersion;
    return setVersion(false, version == QLatin1String("ERROR!") ? QStringLiteral("----") : version, relation);
}

JResult DeviceObject::setDanteVersion(const QString& version, int relation)
{
    return setVersion(true, version, relation);
}

JResult DeviceObject::setVersion(bool dante, const QString& version, int relation)
{
    versionOf(dante) = version;
    int& update = updateStateOf(dante);
    bool tick = false;
    JResult rc = 0;
    switch (relation) {
    case 1:
        tick = update != Finished;
        break;
    case 0:
        if (update == Finished)
            update = Completed;
        break;
    case -1:
        break;
    default:
        log(QString::asprintf("[ERROR] ###### DEVICE OBJECT #%d  : %s VERSION RELATION : %d ######", m_unitNumber,
            dante ? "DANTE" : "MODEL", relation));
        rc = DEVOBJ_E_FAIL;
        break;
    }
    if (!rowMade())
        return rc;
    sideOf(dante).check->setChecked(tick);
    const JResult set = setUpdateState(dante, update);
    return rc < 0 ? rc : set;
}

JResult DeviceObject::setDanteModule(const QString& text)
{
    m_danteModule = text;
    return setDanteUpdateState(m_danteUpdateState);
}

JResult DeviceObject::modelAnalyzed(bool ok)
{
    return analyzed(false, ok);
}

JResult DeviceObject::danteAnalyzed(bool ok)
{
    return analyzed(true, ok);
}

JResult DeviceObject::analyzed(bool dante, bool ok)
{
    if (ok)
        return setState(dante, updateStateOf(dante) == Finished ? Done : Analyzed);
    versionOf(dante).clear();
    const JResult rc = setState(dante, Analyzed);
    if (rowMade()) {
        sideOf(dante).check->setChecked(false);
        sideOf(dante).check->setEnabled(false);
    }
    return rc;
}

JResult DeviceObject::markModelUnavailable()
{
    return markUnavailable(false);
}

JResult DeviceObject::markDanteUnavailable()
{
    return markUnavailable(true);
}

JResult DeviceObject::markUnavailable(bool dante)
{
    if (!rowMade())
        return DEVOBJ_E_FAIL;
    versionOf(dante).clear();
    sideOf(dante).check->setChecked(false);
    sideOf(dante).check->setEnabled(false);
    return 0;
}

JResult DeviceObject::prepareModelUpdate()
{
    return prepare(false);
}

JResult DeviceObject::prepareDanteUpdate()
{
    return prepare(true);
}

JResult DeviceObject::prepare(bool dante)
{
    if (!rowMade() || stateOf(dante) != Analyzed)
        return DEVOBJ_E_FAIL;
    if (!sideOf(dante).check->isChecked())
        return 0;
    setState(dante, Updating);
    return setUpdateState(dante, Waiting);
}

JResult DeviceObject::cancelModelWaiting()
{
    return m_modelUpdateState == Waiting ? setModelUpdateState(Cancelled) : DEVOBJ_E_FAIL;
}

JResult DeviceObject::cancelDanteWaiting()
{
    if (m_danteUpdateState != Waiting)
        return DEVOBJ_E_FAIL;
    log(QStringLiteral("dante update canceled"));
    return setDanteUpdateState(Cancelled);
}

JResult DeviceObject::endModelRun()
{
    return endRun(false);
}

JResult DeviceObject::endDanteRun()
{
    return endRun(true);
}

JResult DeviceObject::endRun(bool dante)
{
    if (stateOf(dante) != Updating)
        return DEVOBJ_E_FAIL;
    switch (updateStateOf(dante)) {
    case Cancelled:
    case Failed:
        return setState(dante, Analyzed);
    case SeeNote:
        return dante ? DEVOBJ_E_FAIL : setState(dante, Analyzed);
    case Finished:
        return setState(dante, Done);
    case Completed:
        return 0;
    default:
        log(QString::asprintf("[ERROR] ###### DEVICE OBJECT #%d  : %s RUN ENDED IN UPDATE STATE : %d ######",
            m_unitNumber, dante ? "DANTE" : "MODEL", updateStateOf(dante)));
        return DEVOBJ_E_FAIL;
    }
}

bool DeviceObject::isSelectable(bool danteMode) const
{
    const auto ready = [](int s) { return s == Analyzed || s == Done; };
    return ready(m_modelState) && (!danteMode || ready(m_danteState));
}

bool DeviceObject::modelChecked() const
{
    return rowMade() && m_model.check->isChecked();
}

bool DeviceObject::danteChecked() const
{
    return rowMade() && m_dante.check->isChecked();
}

// ---------------------------------------------------------------------------
// Progress.

void DeviceObject::dispTransferProgress_model(uint value)
{
    if (!rowMade())
        return;
    const int wanted = value < 50 ? Erasing : Transferring;
    if (m_modelUpdateState != wanted)
        setModelUpdateState(wanted);
    m_model.bar->setValue(static_cast<int>(std::min<uint>(value, INT32_MAX)));
}

JResult DeviceObject::showModelProgress(int value)
{
    if (!rowMade())
        return DEVOBJ_E_FAIL;
    if (m_modelUpdateState != Transferring)
        setModelUpdateState(Transferring);
    m_model.bar->setValue(value);
    return 0;
}

JResult DeviceObject::showModelWriteProgress(int value)
{
    if (!rowMade())
        return DEVOBJ_E_FAIL;
    if (m_modelUpdateState != Writing)
        setModelUpdateState(Writing);
    m_model.bar->setValue(value);
    return 0;
}

JResult DeviceObject::showDanteProgress(int value)
{
    if (!rowMade())
        return DEVOBJ_E_FAIL;
    QProgressBar* bar = m_dante.bar;
    if (m_danteUpdateState == Transferring) {
        // 64-bit: a Dante file of more than about 21 MB would overflow
        // value * 100; a bar without a maximum (no Dante file size) gives 0.
        const int64_t maximum = bar->maximum();
        const auto percent = [maximum](int64_t v) { return maximum > 0 ? v * 100 / maximum : 0; };
        const int64_t now = percent(value);
        if (now != percent(bar->value()))
            sendDanteProgress(static_cast<uint>(now / 2));
    } else if (m_danteUpdateState == Writing) {
        sendDanteProgress(static_cast<uint>(value / 2 + 50));
    }
    bar->setValue(value);
    return 0;
}

JResult DeviceObject::setDanteProgressMaximum(int value)
{
    if (!rowMade())
        return DEVOBJ_E_FAIL;
    m_dante.bar->setMaximum(value);
    return 0;
}

// ---------------------------------------------------------------------------
// The row.

QFrame* DeviceObject::makeRow(QWidget* parent)
{
    if (!parent)
        return nullptr;
    delete m_rowFrame.data();
    m_rowMade = false;
    auto* frame = new QFrame(parent);
    m_rowFrame = frame;
    frame->setFrameShape(QFrame::NoFrame);
    m_nameLabel = boxLabel(frame, QRect(-1, 0, 240, 40));
    m_nameLabel->setText(m_deviceName);
    m_nameLabel->setObjectName(QStringLiteral("name"));
    for (bool dante : {false, true}) {
        Side& side = sideOf(dante);
        const int y = dante ? 19 : 0;
        const QString key = QLatin1String(dante ? "dante" : "model");
        side.stateLabel = boxLabel(frame, QRect(237, y, 210, 21));
        side.check = new QCheckBox(side.stateLabel);
        side.check->move(6, 3);
        side.check->resize(side.check->sizeHint());
        side.check->setObjectName(key + QLatin1String("Check"));
        side.stateLabel->setObjectName(key + QLatin1String("State"));
        side.check->setEnabled(false);
        QObject::connect(side.check, &QCheckBox::stateChanged, this, &DeviceObject::updateStateChanged);
        side.updateLabel = boxLabel(frame, QRect(445, y, 110, 21));
        side.updateLabel->setObjectName(key + QLatin1String("Update"));
        QLabel* box = boxLabel(frame, QRect(553, y, 130, 21));
        side.bar = new QProgressBar(box);
        side.bar->setGeometry(3, 2, 120, 16);
        side.bar->setValue(0);
        side.bar->setTextVisible(false);
        side.bar->hide();
        side.bar->setObjectName(key + QLatin1String("Bar"));
        side.status = new QLabel(box);
        side.status->setObjectName(key + QLatin1String("Status"));
        side.status->setGeometry(5, 2, 120, 17);
        side.status->hide();
    }
    const int top = static_cast<int>(m_id) * DEVOBJ_ROW_HEIGHT;
    frame->move(0, top);
    frame->resize(DEVOBJ_ROW_WIDTH, DEVOBJ_ROW_HEIGHT);
    parent->resize(DEVOBJ_ROW_WIDTH, std::max(parent->height(), top + DEVOBJ_ROW_HEIGHT));
    frame->show();
    m_rowMade = true;
    setModelState(StateNone);
    setDanteState(StateNone);
    return frame;
}

} // namespace Quil
