#include "ui/dialogs/summarydlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>

namespace Quil {

namespace {

constexpr int kViewWidth = 920;
constexpr int kViewHeight = 200;
constexpr int kTextWidth = 990;
constexpr int kTextPixelSize = 12;
constexpr int kMargin = 2;

} // namespace

SummaryDlg::SummaryDlg(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
    , m_handshake(this)
{
    setObjectName(QStringLiteral("SummaryDlg"));
    resize(264, 117);
    QFont base = font();
    base.setFamily(QStringLiteral("Arial"));
    setFont(base);
    setWindowTitle(tr("Summary"));
    setSizeGripEnabled(true);
    setWindowFlags(
        (windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::CustomizeWindowHint | Qt::WindowMaximizeButtonHint);

    m_messageLabel = new QLabel(tr("Getting Summary ..."), this);
    m_messageLabel->setObjectName(QStringLiteral("m_messageLabel"));
    m_messageLabel->setAlignment(Qt::AlignCenter);
    m_messageLabel->setGeometry(0, 0, 264, 117 - 30);

    m_buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    m_buttonBox->setObjectName(QStringLiteral("m_buttonBox"));
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    m_buttonBox->hide();

    m_textView = new QScrollArea(this);
    m_textView->setObjectName(QStringLiteral("m_textView"));
    m_textView->setFrameShape(QFrame::Box);
    m_textView->setGeometry(kMargin, kMargin, kViewWidth, kViewHeight);
    m_textView->setAutoFillBackground(true);
    QPalette viewPalette = m_textView->palette();
    viewPalette.setColor(QPalette::Window, QColor(250, 250, 250));
    m_textView->setPalette(viewPalette);
    m_textView->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_textView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_textView->setMaximumWidth(kTextWidth + m_textView->verticalScrollBar()->sizeHint().width());

    m_textLabel = new QLabel;
    m_textLabel->setObjectName(QStringLiteral("m_textLabel"));
    m_textLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_textLabel->setAutoFillBackground(true);
    QPalette textPalette = m_textLabel->palette();
    textPalette.setColor(QPalette::Window, Qt::white);
    m_textLabel->setPalette(textPalette);
    QFont textFont = font();
    textFont.setPixelSize(kTextPixelSize);
    m_textLabel->setFont(textFont);
    m_textLabel->setGeometry(0, 0, kTextWidth, kViewHeight);
    m_textView->setWidget(m_textLabel);
    m_textView->hide();
    setMaximumWidth(m_textView->maximumWidth() + 4);

    connect(&m_handshake, &DevLogHandshake::timedOut, this, &SummaryDlg::slotTimeoutRecvData);
    connect(&m_handshake, &DevLogHandshake::sequenceFailed, this,
        [this] { m_messageLabel->setText(tr("Can't Get Summary.")); });
}

SummaryDlg::~SummaryDlg() = default;

JResult SummaryDlg::setup(QuilObject* core, int slot)
{
    if (m_handshake.attach(core, slot) < 0)
        return DEV_E_FAIL;
    const SummaryPaths& p = kCurSummaryPaths;
    m_handshake.writeInt(p.numReq, 0);
    m_handshake.writeInt(p.itemReq, -1);
    m_handshake.writeInt(p.numReceived, 0);
    m_handshake.writeInt(p.itemReceived, 0);
    const JResult subscribed = m_handshake.subscribe(p.numReceived, this, &SummaryDlg::slotReceivedItemNum)
        | m_handshake.subscribe(p.itemReceived, this, &SummaryDlg::slotReceivedItem);
    if (subscribed < 0) {
        enterFailure();
        return DEV_OK;
    }
    return m_handshake.requestInt(p.numReq, 1);
}

void SummaryDlg::slotReceivedItemNum()
{
    const SummaryPaths& p = kCurSummaryPaths;
    if (!m_handshake.acceptReply(p.numReceived))
        return;
    if (m_handshake.readCount(p, kSummaryLineLimit, &m_count) < 0) {
        enterFailure();
        return;
    }
    m_index = m_count.start;
    if (m_count.count != 0)
        requestLine(m_index);
    else
        showSummary();
}

void SummaryDlg::slotReceivedItem()
{
    const SummaryPaths& p = kCurSummaryPaths;
    if (!m_handshake.acceptReply(p.itemReceived))
        return;
    QString text;
    m_handshake.readText(p.item, &text);
    m_lines.append(text);
    m_messageLabel->setText(tr("Summary %1%").arg(handshakePercent(m_index, m_count.start, m_count.count)));
    if (m_index < 0) {
        enterFailure();
        return;
    }
    if (!handshakeIsLast(m_index, m_count.start, m_count.count))
        requestLine(m_index + 1);
    else
        showSummary();
}

void SummaryDlg::slotTimeoutRecvData()
{
    enterFailure();
}

void SummaryDlg::requestLine(int32_t index)
{
    m_index = index;
    m_handshake.requestInt(kCurSummaryPaths.itemReq, index);
}

void SummaryDlg::showSummary()
{
    QString text = m_textLabel->text();
    for (const QString& line : qAsConst(m_lines))
        text += line + QLatin1Char('\n');
    m_textLabel->setText(text);
    const int lineHeight = m_textLabel->font().pixelSize() + 3;
    m_textLabel->resize(m_textLabel->width(), lineHeight * m_count.count);
    m_textView->takeWidget();
    m_textView->setWidget(m_textLabel);
    m_textView->show();
    m_buttonBox->show();
    resize(900, 500);
}

void SummaryDlg::enterFailure()
{
    m_handshake.fail();
}

void SummaryDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    const QSize size = event->size();
    const QSize box = m_buttonBox->sizeHint();
    m_buttonBox->setGeometry(
        size.width() - box.width() - kMargin, size.height() - box.height() - kMargin, box.width(), box.height());
    m_textView->resize(size.width() - kMargin - m_textView->x(), m_buttonBox->y() - kMargin - m_textView->y());
    m_messageLabel->setGeometry(0, 0, size.width(), size.height());
}

} // namespace Quil
