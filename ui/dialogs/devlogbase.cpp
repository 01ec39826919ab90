#include "ui/dialogs/devlogbase.h"

#include "ui/dialogs/dlgzoom.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QResizeEvent>
#include <QStandardPaths>

namespace Quil {

namespace {

constexpr int kWidth = 283;
constexpr int kHeight = 121;
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

DevLogDlgBase::DevLogDlgBase(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledDialog(parent, flags)
    , m_handshake(this)
{
    setObjectName(QStringLiteral("DevLogDlg"));
    resize(kWidth, kHeight);
    setMaximumWidth(930);
    QFont base = font();
    base.setFamily(QStringLiteral("Arial"));
    setFont(base);
    setSizeGripEnabled(true);
    setWindowFlags(
        (windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::CustomizeWindowHint | Qt::WindowMaximizeButtonHint);

    m_messageLabel = new QLabel(this);
    m_messageLabel->setObjectName(QStringLiteral("m_messageLabel"));
    m_messageLabel->setAlignment(Qt::AlignCenter);
    m_messageLabel->setGeometry(0, 0, kWidth, kHeight);

    m_buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    m_buttonBox->setObjectName(QStringLiteral("m_buttonBox"));
    const QSize box = m_buttonBox->sizeHint();
    m_buttonBox->setGeometry(
        kWidth - box.width() - kButtonMargin, kHeight - box.height() - kButtonMargin, box.width(), box.height());
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    m_buttonBox->hide();

    connect(&m_handshake, &DevLogHandshake::timedOut, this, &DevLogDlgBase::slotTimeoutRecvData);
    connect(&m_handshake, &DevLogHandshake::sequenceFailed, this, [this] { setMessage(tr("Can't Get Log.")); });
}

bool DevLogDlgBase::applyScale(ZoomCode code)
{
    zoomDialogOnce(this, code);
    return setScale(code);
}

JResult DevLogDlgBase::setup(QuilObject* core, int slot)
{
    if (m_handshake.attach(core, slot) < 0)
        return DEV_E_FAIL;
    const SummaryPaths* lists[] = {&kCurSummaryPaths, &kEvtSummaryPaths};
    m_handshake.resetLists(lists, 2);
    JResult result
        = m_handshake.subscribe(kCurSummaryPaths.numReceived, this, &DevLogDlgBase::slotReceivedItemNum_CurSummary);
    result |= m_handshake.subscribe(kCurSummaryPaths.itemReceived, this, &DevLogDlgBase::slotReceivedItem_CurSummary);
    result |= m_handshake.subscribe(kEvtSummaryPaths.numReceived, this, &DevLogDlgBase::slotReceivedItemNum_LogSummary);
    result |= m_handshake.subscribe(kEvtSummaryPaths.itemReceived, this, &DevLogDlgBase::slotReceivedItem_LogSummary);
    result |= prepare();
    if (result < 0) {
        enterFailure();
        return result;
    }
    firstRequest();
    return result;
}

void DevLogDlgBase::slotReceivedItemNum_CurSummary()
{
    countReply(List::Current);
}

void DevLogDlgBase::slotReceivedItem_CurSummary()
{
    itemReply(List::Current);
}

void DevLogDlgBase::slotReceivedItemNum_LogSummary()
{
    countReply(List::Event);
}

void DevLogDlgBase::slotReceivedItem_LogSummary()
{
    itemReply(List::Event);
}

void DevLogDlgBase::slotTimeoutRecvData()
{
    enterFailure();
}

const SummaryPaths& DevLogDlgBase::pathsOf(List list)
{
    return list == List::Current ? kCurSummaryPaths : kEvtSummaryPaths;
}

void DevLogDlgBase::countReply(List list)
{
    if (!m_handshake.acceptReply(pathsOf(list).numReceived))
        return;
    ListState& s = state(list);
    if (m_handshake.readCount(pathsOf(list), countLimit(), &s.count) < 0) {
        enterFailure();
        return;
    }
    s.index = s.count.start;
    countArrived(list);
    if (s.count.count != 0)
        requestItem(list, s.index);
    else
        listDone(list);
}

void DevLogDlgBase::itemReply(List list)
{
    if (!m_handshake.acceptReply(pathsOf(list).itemReceived))
        return;
    QString text;
    m_handshake.readText(pathsOf(list).item, &text);
    itemArrived(list, text);
}

void DevLogDlgBase::requestItem(List list, int32_t index)
{
    request(pathsOf(list).itemReq, index);
}

void DevLogDlgBase::request(const char* path, int32_t value)
{
    if (m_handshake.requestInt(path, value) < 0)
        enterFailure();
}

void DevLogDlgBase::request(const char* path, const QString& text)
{
    if (m_handshake.requestText(path, text) < 0)
        enterFailure();
}

void DevLogDlgBase::enterFailure()
{
    m_handshake.fail();
}

void DevLogDlgBase::setMessage(const QString& text)
{
    m_messageLabel->setText(text);
}

QString DevLogDlgBase::message() const
{
    return m_messageLabel->text();
}

void DevLogDlgBase::resizeEvent(QResizeEvent* event)
{
    ZScaledDialog::resizeEvent(event);
    const QSize size = event->size();
    m_messageLabel->setGeometry(0, 0, size.width(), size.height());
    m_buttonBox->move(m_buttonBox->x(), size.height() - m_buttonBox->height() - kButtonMargin);
}

} // namespace Quil
