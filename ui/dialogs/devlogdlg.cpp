#include "dialogs/devlogdlg.h"

#include "app/app_quilobject.h"
#include "device/dev_modeltypes.h"
#include "dialogs/dlgzoom.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QResizeEvent>
#include <QSaveFile>
#include <QStandardPaths>

namespace Quil {

namespace {

constexpr int kButtonMargin = 2;

} // namespace

QString chooseLogFolder()
{
    QString start = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (start.isEmpty())
        start = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    if (start.isEmpty())
        start = QDir::homePath();
    return QFileDialog::getExistingDirectory(nullptr, QString(), start, QFileDialog::ShowDirsOnly);
}

void DevLogForm::build(QDialog* dialog)
{
    dialog->setObjectName(QStringLiteral("DevLogDlg"));
    dialog->resize(283, 121);
    dialog->setMaximumWidth(930);
    QFont base = dialog->font();
    base.setFamily(QStringLiteral("Arial"));
    dialog->setFont(base);
    dialog->setSizeGripEnabled(true);
    dialog->setWindowFlags((dialog->windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::CustomizeWindowHint
        | Qt::WindowMaximizeButtonHint);

    messageLabel = new QLabel(dialog);
    messageLabel->setObjectName(QStringLiteral("m_messageLabel"));
    messageLabel->setAlignment(Qt::AlignCenter);
    messageLabel->setGeometry(0, 0, 283, 121);

    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok, dialog);
    buttonBox->setObjectName(QStringLiteral("m_buttonBox"));
    const QSize box = buttonBox->sizeHint();
    buttonBox->setGeometry(
        283 - box.width() - kButtonMargin, 121 - box.height() - kButtonMargin, box.width(), box.height());
    QObject::connect(buttonBox, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttonBox, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    buttonBox->hide();
}

void DevLogForm::place(const QSize& size)
{
    messageLabel->setGeometry(0, 0, size.width(), size.height());
    buttonBox->move(buttonBox->x(), size.height() - buttonBox->height() - kButtonMargin);
}

DevLogDlg::DevLogDlg(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledDialog(parent, flags)
    , m_handshake(this)
{
    m_form.build(this);
    setWindowTitle(tr("Device Log"));
    m_form.messageLabel->setText(tr("Getting Device Log ..."));
    connect(&m_handshake, &DevLogHandshake::timedOut, this, &DevLogDlg::slotTimeoutRecvData);
}

DevLogDlg::~DevLogDlg() = default;

bool DevLogDlg::applyScale(ZoomCode code)
{
    zoomDialogOnce(this, code);
    return setScale(code);
}

JResult DevLogDlg::setup(QuilObject* core, int slot)
{
    if (m_handshake.attach(core, slot) < 0)
        return DEV_E_FAIL;
    const SummaryPaths* lists[] = {&kCurSummaryPaths, &kEvtSummaryPaths};
    m_handshake.resetLists(lists, 2);
    JResult result = m_handshake.subscribe(kCurSummaryPaths.numReceived, this, SLOT(slotReceivedItemNum_CurSummary()));
    result |= m_handshake.subscribe(kCurSummaryPaths.itemReceived, this, SLOT(slotReceivedItem_CurSummary()));
    result |= m_handshake.subscribe(kEvtSummaryPaths.numReceived, this, SLOT(slotReceivedItemNum_LogSummary()));
    result |= m_handshake.subscribe(kEvtSummaryPaths.itemReceived, this, SLOT(slotReceivedItem_LogSummary()));
    if (result < 0) {
        enterFailure();
        return result;
    }
    m_handshake.requestInt(kCurSummaryPaths.numReq, 1);
    return result;
}

void DevLogDlg::slotReceivedItemNum_CurSummary()
{
    countReply(List::Current);
}

void DevLogDlg::slotReceivedItem_CurSummary()
{
    itemReply(List::Current);
}

void DevLogDlg::slotReceivedItemNum_LogSummary()
{
    countReply(List::Event);
}

void DevLogDlg::slotReceivedItem_LogSummary()
{
    itemReply(List::Event);
}

void DevLogDlg::slotTimeoutRecvData()
{
    m_handshake.stopTimer();
    enterFailure();
}

void DevLogDlg::countReply(List list)
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
    SummaryCount& count = countOf(list);
    if (m_handshake.readCount(paths, kSummaryLineLimit, &count) < 0) {
        enterFailure();
        return;
    }
    indexOf(list) = count.start;
    if (list == List::Event) {
        m_lines.append(QStringLiteral("[EVENT_LOGS]"));
        m_lines.append(QStringLiteral("TOTAL_LINES = ") + QString::number(count.count));
    }
    if (count.count != 0)
        m_handshake.requestInt(paths.itemReq, count.start);
    else if (list == List::Current)
        afterCurrent();
    else
        finish();
}

void DevLogDlg::itemReply(List list)
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
    m_lines.append(text);
    const SummaryCount& count = countOf(list);
    int32_t& index = indexOf(list);
    const uint32_t half = list == List::Current ? 0 : 50;
    m_form.messageLabel->setText(
        tr("Device Log %1%").arg(handshakePercent(index, count.start, count.count) / 2 + half));
    if (index < 0) {
        enterFailure();
        return;
    }
    if (!handshakeIsLast(index, count.start, count.count)) {
        ++index;
        m_handshake.requestInt(paths.itemReq, index);
    } else if (list == List::Current) {
        afterCurrent();
    } else {
        finish();
    }
}

void DevLogDlg::afterCurrent()
{
    m_lines.append(QString());
    m_lines.append(QString());
    if (!m_handshake.failed())
        m_handshake.requestInt(kEvtSummaryPaths.numReq, 1);
}

void DevLogDlg::finish()
{
    m_form.messageLabel->setText(tr("Device Log %1%").arg(100));
    if (saveLog() >= 0)
        hide();
}

JResult DevLogDlg::saveLog()
{
    const QString folder = chooseLogFolder();
    if (folder.isEmpty())
        return DEV_E_FAIL;
    const char* model = modelNameOf(m_handshake.core()->modelType(m_handshake.slot()));
    const QDateTime now = QDateTime::currentDateTime();
    const QString name = QString::fromLatin1(model ? model : "") + QLatin1Char('_')
        + now.toString(QStringLiteral("yyyyMMdd")) + now.toString(QStringLiteral("hhmm")) + QStringLiteral(".log");
    const QString path = folder + QLatin1Char('/') + name;

    // Written beside the target and renamed over it only when complete, so
    // a failed save never damages a log saved earlier.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        enterFailure();
        return DEV_E_FAIL;
    }
    QByteArray bytes;
    for (const QString& line : qAsConst(m_lines))
        bytes += line.toUtf8() + "\r\n";
    // commit() does not see a write that fails while the buffer is flushed
    // on close: flush first, so a short write never replaces the old file.
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        enterFailure();
        return DEV_E_FAIL;
    }
    m_savedPath = path;
    return DEV_OK;
}

void DevLogDlg::enterFailure()
{
    m_handshake.fail();
    m_form.messageLabel->setText(tr("Can't Get Log."));
}

void DevLogDlg::resizeEvent(QResizeEvent* event)
{
    ZScaledDialog::resizeEvent(event);
    if (m_form.buttonBox)
        m_form.place(event->size());
}

} // namespace Quil
