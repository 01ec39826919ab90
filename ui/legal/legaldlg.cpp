#include "dialogs/legaldlg.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTextStream>
#include <QVBoxLayout>

namespace Quil {

namespace {

constexpr int kLoadFailed = static_cast<int>(0x80000000u);

} // namespace

LegalDlg::LegalDlg(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QStringLiteral("LegalDlg"));
    resize(551, 477);
    QFont base = font();
    base.setFamily(QStringLiteral("Arial"));
    setFont(base);
    setWindowTitle(tr("Legal"));
    setWindowFlags(
        (windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::CustomizeWindowHint | Qt::WindowMaximizeButtonHint);

    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout"));
    m_textArea = new QPlainTextEdit(this);
    m_textArea->setObjectName(QStringLiteral("m_textArea"));
    layout->addWidget(m_textArea);
    m_buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    m_buttonBox->setObjectName(QStringLiteral("buttonBox"));
    layout->addWidget(m_buttonBox);

    m_textArea->setReadOnly(true);
    setSizeGripEnabled(true);
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    QFont textFont(QStringLiteral("Arial"));
    textFont.setPixelSize(12);
    m_textArea->setFont(textFont);
    m_textArea->setTabStopDistance(48);
    m_loadResult = load();
}

LegalDlg::~LegalDlg() = default;

QString LegalDlg::legalTextPath()
{
    return QDir(QCoreApplication::applicationDirPath()).absolutePath() + QStringLiteral("/Legal/legal.txt");
}

int LegalDlg::load()
{
    const QString path = legalTextPath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QMessageBox::warning(this, QStringLiteral("Quillon"),
            QStringLiteral("Failed to load \"%1\"\n\n%2\n").arg(path, file.errorString()), QMessageBox::Ok);
        return kLoadFailed;
    }
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    m_textArea->setPlainText(stream.readAll());
    return 0;
}

} // namespace Quil
