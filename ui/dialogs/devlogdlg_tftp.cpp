#include "ui/dialogs/devlogdlg_tftp.h"

#include "app/app_log.h"
#include "app/app_quilobject.h"

#include <QCoreApplication>

namespace Quil {

namespace {

constexpr char kLoggingStart[] = "start";

// A progress text as the unit sends it: a signed decimal, 0 when not a
// number.
int32_t percentOf(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

bool isItemDone(int32_t percent)
{
    // Read as unsigned, so a negative progress counts as done.
    return static_cast<uint32_t>(percent) >= 100u;
}

} // namespace

DevLogDlg_TFTP::DevLogDlg_TFTP(QWidget* parent, Qt::WindowFlags flags)
    : DevLogDlgBase(parent, flags)
    , m_self(this)
{
    setWindowTitle(tr("Device Log"));
    setMessage(tr("Getting Device Log ..."));
}

DevLogDlg_TFTP::~DevLogDlg_TFTP()
{
    stopServer();
}

void DevLogDlg_TFTP::stopServer()
{
    if (!m_server)
        return;
    // destroy() waits for a callback in progress, so after it none runs.
    m_server->destroy();
    m_serving = false;
    m_server.reset();
}

JResult DevLogDlg_TFTP::prepare()
{
    JResult result = handshake().subscribe(kLoggingSendPath, this, &DevLogDlg_TFTP::slotReceivedEvent_LoggingStart);
    result |= handshake().subscribe(kTftpUriSendPath, this, &DevLogDlg_TFTP::slotReceivedEvent_TftpURI);
    m_folder = chooseLogFolder();
    if (m_folder.isEmpty())
        result |= DEV_E_FAIL;
    return result;
}

void DevLogDlg_TFTP::firstRequest()
{
    m_awaiting = Awaiting::LoggingStart;
    request(kLoggingSendPath, QString::fromLatin1(kLoggingStart));
}

bool DevLogDlg_TFTP::takeAnswer(Awaiting step, const char* path)
{
    if (m_awaiting != step || !handshake().core() || handshake().failed())
        return false;
    // Notifications are queued and read the value as it is when they run:
    // our own write's notification may find the unit's answer already, and
    // the answer's own then comes too. Only the first one that finds the
    // path emptied takes the answer.
    QString text;
    if (handshake().readText(path, &text) < 0 || !text.isEmpty())
        return false;
    m_awaiting = Awaiting::Nothing;
    handshake().stopTimer();
    return true;
}

void DevLogDlg_TFTP::slotReceivedEvent_LoggingStart()
{
    if (takeAnswer(Awaiting::LoggingStart, kLoggingSendPath))
        request(kCurSummaryPaths.numReq, 1);
}

void DevLogDlg_TFTP::slotReceivedEvent_TftpURI()
{
    // Only the unit's taking of the address ends the wait: our own write of
    // it notifies this slot too, and must not cancel the time-out.
    if (takeAnswer(Awaiting::UriTaken, kTftpUriSendPath))
        request(kEvtSummaryPaths.numReq, 1);
}

void DevLogDlg_TFTP::itemArrived(List list, const QString& text)
{
    const int32_t percent = percentOf(text);
    ListState& s = state(list);
    if (list == List::Current)
        setMessage(tr("Logging %1/%2 %3%").arg(s.index + 1).arg(s.count.count).arg(percent));
    else
        setMessage(tr("Transffering"));
    if (s.index < 0) {
        enterFailure();
        return;
    }
    // An item is polled until the unit reports it done.
    if (isItemDone(percent))
        ++s.index;
    if (s.index < s.count.count)
        requestItem(list, s.index);
    else
        listDone(list);
}

void DevLogDlg_TFTP::listDone(List list)
{
    if (list == List::Current) {
        startUpload();
        return;
    }
    appendToLabel(QStringLiteral(" finished"));
    hide();
}

void DevLogDlg_TFTP::startUpload()
{
    HostInterface local;
    handshake().core()->currentNetworkInterface(&local);
    const QByteArray address = local.address.toLatin1();
    const QByteArray root = (m_folder + QLatin1Char('/')).toUtf8();
    m_server = std::make_unique<TFTPServer>();
    if (m_server->setup(address.constData(), kUploadPort, root.constData(), this) < 0) {
        stopServer();
        enterFailure();
        return;
    }
    m_serving = true;
    if (m_server->start() < 0) {
        stopServer();
        enterFailure();
        return;
    }
    m_awaiting = Awaiting::UriTaken;
    request(
        kTftpUriSendPath, QStringLiteral("tftp://") + local.address + QLatin1Char(':') + QString::number(kUploadPort));
}

int32_t DevLogDlg_TFTP::transferEvent(uint16_t, uint32_t event)
{
    if (!m_serving)
        return DEV_E_FAIL;
    if (event == TFTP_EVENT_FINISHED) {
        appLogWrite("!!!!TRANSFER_STATE_FINISHED #1");
        // The label belongs to the GUI thread; the dialog may be gone by
        // the time the call runs there.
        const QPointer<DevLogDlg_TFTP> self = m_self;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self)
                    self->appendToLabel(QStringLiteral(" .."));
            },
            Qt::QueuedConnection);
        return 0;
    }
    if (event == TFTP_EVENT_ABORTED) {
        appLogWrite("[ERROR] !!!!TRANSFER_STATE_ABORTED #1");
        return DEV_E_FAIL;
    }
    return 0;
}

void DevLogDlg_TFTP::appendToLabel(const QString& text)
{
    setMessage(message() + text);
}

} // namespace Quil
