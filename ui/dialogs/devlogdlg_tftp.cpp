#include "dialogs/devlogdlg_tftp.h"

#include "app/app_log.h"
#include "app/app_quilobject.h"
#include "dialogs/dlgzoom.h"

#include <QCoreApplication>
#include <QLabel>
#include <QResizeEvent>

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
    : ZScaledDialog(parent, flags)
    , m_handshake(this)
    , m_self(this)
{
    m_form.build(this);
    setWindowTitle(tr("Device Log"));
    m_form.messageLabel->setText(tr("Getting Device Log ..."));
    connect(&m_handshake, &DevLogHandshake::timedOut, this, &DevLogDlg_TFTP::slotTimeoutRecvData);
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

bool DevLogDlg_TFTP::applyScale(ZoomCode code)
{
    zoomDialogOnce(this, code);
    return setScale(code);
}

JResult DevLogDlg_TFTP::setup(QuilObject* core, int slot)
{
    if (m_handshake.attach(core, slot) < 0)
        return DEV_E_FAIL;
    const SummaryPaths* lists[] = {&kCurSummaryPaths, &kEvtSummaryPaths};
    m_handshake.resetLists(lists, 2);
    JResult result = m_handshake.subscribe(kCurSummaryPaths.numReceived, this, SLOT(slotReceivedItemNum_CurSummary()));
    result |= m_handshake.subscribe(kCurSummaryPaths.itemReceived, this, SLOT(slotReceivedItem_CurSummary()));
    result |= m_handshake.subscribe(kEvtSummaryPaths.numReceived, this, SLOT(slotReceivedItemNum_LogSummary()));
    result |= m_handshake.subscribe(kEvtSummaryPaths.itemReceived, this, SLOT(slotReceivedItem_LogSummary()));
    result |= m_handshake.subscribe(kLoggingSendPath, this, SLOT(slotReceivedEvent_LoggingStart()));
    result |= m_handshake.subscribe(kTftpUriSendPath, this, SLOT(slotReceivedEvent_TftpURI()));
    m_folder = chooseLogFolder();
    if (m_folder.isEmpty())
        result |= DEV_E_FAIL;
    if (result < 0) {
        enterFailure();
        return result;
    }
    m_handshake.requestText(kLoggingSendPath, QString::fromLatin1(kLoggingStart));
    return result;
}

void DevLogDlg_TFTP::slotReceivedEvent_LoggingStart()
{
    if (!m_handshake.core() || m_handshake.failed())
        return;
    QString text;
    if (m_handshake.readText(kLoggingSendPath, &text) < 0 || !text.isEmpty())
        return;
    m_handshake.stopTimer();
    m_handshake.requestInt(kCurSummaryPaths.numReq, 1);
}

void DevLogDlg_TFTP::slotReceivedEvent_TftpURI()
{
    if (!m_handshake.core() || m_handshake.failed())
        return;
    QString text;
    if (m_handshake.readText(kTftpUriSendPath, &text) < 0 || !text.isEmpty())
        return;
    // Only the unit's taking of the address ends the wait: our own write of
    // it notifies this slot too, and must not cancel the time-out.
    m_handshake.stopTimer();
    m_handshake.requestInt(kEvtSummaryPaths.numReq, 1);
}

void DevLogDlg_TFTP::slotReceivedItemNum_CurSummary()
{
    countReply(List::Current);
}

void DevLogDlg_TFTP::slotReceivedItem_CurSummary()
{
    itemReply(List::Current);
}

void DevLogDlg_TFTP::slotReceivedItemNum_LogSummary()
{
    countReply(List::Event);
}

void DevLogDlg_TFTP::slotReceivedItem_LogSummary()
{
    itemReply(List::Event);
}

void DevLogDlg_TFTP::slotTimeoutRecvData()
{
    m_handshake.stopTimer();
    enterFailure();
}

void DevLogDlg_TFTP::countReply(List list)
{
    if (!m_handshake.core() || m_handshake.failed())
        return;
    const SummaryPaths& paths = list == List::Current ? kCurSummaryPaths : kEvtSummaryPaths;
    const HandshakeReply reply = m_handshake.takeReply(paths.numReceived);
    if (reply == HandshakeReply::Failed) {
        enterFailure();
        return;
    }
    if (reply != HandshakeReply::Reply)
        return;
    SummaryCount& count = list == List::Current ? m_cur : m_evt;
    if (m_handshake.readCount(paths, 0, &count) < 0) {
        enterFailure();
        return;
    }
    int32_t& index = list == List::Current ? m_curIndex : m_evtIndex;
    index = count.start;
    if (count.count != 0)
        m_handshake.requestInt(paths.itemReq, index);
    else if (list == List::Current)
        startUpload();
    else
        finish();
}

void DevLogDlg_TFTP::itemReply(List list)
{
    if (!m_handshake.core() || m_handshake.failed())
        return;
    const SummaryPaths& paths = list == List::Current ? kCurSummaryPaths : kEvtSummaryPaths;
    const HandshakeReply reply = m_handshake.takeReply(paths.itemReceived);
    if (reply == HandshakeReply::Failed) {
        enterFailure();
        return;
    }
    if (reply != HandshakeReply::Reply)
        return;
    QString text;
    m_handshake.readText(paths.item, &text);
    const int32_t percent = percentOf(text);
    const SummaryCount& count = list == List::Current ? m_cur : m_evt;
    int32_t& index = list == List::Current ? m_curIndex : m_evtIndex;
    if (list == List::Current)
        m_form.messageLabel->setText(tr("Logging %1/%2 %3%").arg(index + 1).arg(count.count).arg(percent));
    else
        m_form.messageLabel->setText(tr("Transffering"));
    if (index < 0) {
        enterFailure();
        return;
    }
    if (isItemDone(percent))
        ++index;
    if (index < count.count)
        m_handshake.requestInt(paths.itemReq, index);
    else if (list == List::Current)
        startUpload();
    else
        finish();
}

void DevLogDlg_TFTP::startUpload()
{
    HostInterface local;
    m_handshake.core()->currentNetworkInterface(&local);
    const QByteArray address = local.address.toLatin1();
    const QByteArray root = (m_folder + QLatin1Char('/')).toUtf8();
    m_server = std::make_unique<TFTPServer>();
    if (m_server->setup(address.constData(), kUploadPort, root.constData(), this) < 0)
        return;
    m_serving = true;
    if (m_server->start() < 0) {
        stopServer();
        return;
    }
    m_handshake.requestText(
        kTftpUriSendPath, QStringLiteral("tftp://") + local.address + QLatin1Char(':') + QString::number(kUploadPort));
}

void DevLogDlg_TFTP::finish()
{
    appendToLabel(QStringLiteral(" finished"));
    hide();
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
    m_form.messageLabel->setText(m_form.messageLabel->text() + text);
}

void DevLogDlg_TFTP::enterFailure()
{
    m_handshake.fail();
    m_form.messageLabel->setText(tr("Can't Get Log."));
}

void DevLogDlg_TFTP::resizeEvent(QResizeEvent* event)
{
    ZScaledDialog::resizeEvent(event);
    if (m_form.buttonBox)
        m_form.place(event->size());
}

} // namespace Quil
