#include "ui/legal/legaldlg.h"

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
    build();
    m_loadResult = load(QString());
}

LegalDlg::LegalDlg(const QString& programDirectory, QWidget* parent)
    : QDialog(parent)
{
    build();
    m_loadResult = load(programDirectory);
}

void LegalDlg::build()
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
}

LegalDlg::~LegalDlg() = default;

QString LegalDlg::legalTextPath(const QString& programDirectory)
{
    const QString directory = programDirectory.isEmpty() ? QCoreApplication::applicationDirPath() : programDirectory;
    return QDir(directory).absolutePath() + QStringLiteral("/Legal/legal.txt");
}

int LegalDlg::load(const QString& programDirectory)
{
    const QString path = legalTextPath(programDirectory);
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
