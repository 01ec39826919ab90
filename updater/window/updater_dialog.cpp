#include "updater/window/updater_dialog.h"

#include "updater/ini_settings.h"
#include "updater/updater.h"
#include "updater/window/about_dialog.h"
#include "updater/window/updater_texts.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char* const kStyleSheet = "QWidget{font-size:12px}";
const char* const kBootImage = "boot.bin";
const char* const kUpdating = " updating firmware.... ";

QLineEdit* readOnlyField(QWidget* parent, const char* name)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setReadOnly(true);
    return field;
}

QPushButton* button(QWidget* parent, const char* text)
{
    auto* made = new QPushButton(QLatin1String(text), parent);
    made->setObjectName(QLatin1String(text));
    made->setAutoDefault(false);
    return made;
}

} // namespace

UpdaterDialog::UpdaterDialog(bool bootMode, QWidget* parent)
    : QDialog(parent)
    , m_bootMode(bootMode)
    , m_updater(std::make_unique<Updater>(bootMode))
{
    buildWidgets();

    const IniSettings& settings = IniSettings::instance();
    const QString host = settings.ipAddress();
    const uint16_t port = settings.portNumber();
    m_address->setText(host);
    m_port->setText(QString::number(port));
    m_updater->setTarget(host, port, settings.macAddress());
    m_updater->setUpdateFile(&m_file);

    connect(m_updater.get(), &Updater::sendMessage, this, &UpdaterDialog::onRcvMsgCode, Qt::QueuedConnection);
    connect(m_updater.get(), &Updater::progress, this, &UpdaterDialog::onRcvProgress, Qt::QueuedConnection);
    connect(
        m_updater.get(), &Updater::commandCompleted, this, &UpdaterDialog::onCommandCompleted, Qt::QueuedConnection);
    connect(m_select, &QPushButton::clicked, this, &UpdaterDialog::onButtonClickedSelectFile);
    connect(m_connect, &QPushButton::clicked, this, &UpdaterDialog::onButtonClickedConnectTarget);
    connect(m_update, &QPushButton::clicked, this, &UpdaterDialog::onButtonClickedUpdate);

    setImageFile(offeredImage());

    // The offered image is only shown: connecting waits for a choice.
    m_connect->setEnabled(false);
    m_update->setEnabled(false);
    clearUnitAndMessage();
    showImageInfo();
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
}

UpdaterDialog::~UpdaterDialog()
{
    m_updater.reset();
}

void UpdaterDialog::buildWidgets()
{
    setObjectName(QStringLiteral("UpdaterDialog"));
    setWindowTitle(QStringLiteral("Update Program V%2%3")
                       .arg(QLatin1String(kVersion), m_bootMode ? QStringLiteral(" BootMode") : QString()));
    setStyleSheet(QLatin1String(kStyleSheet));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint);

    auto* layout = new QVBoxLayout(this);
    // The entry that sits in the window's system menu elsewhere.
    m_menuBar = new QMenuBar(this);
    m_about = m_menuBar->addAction(QStringLiteral("About(&A)..."));
    connect(m_about, &QAction::triggered, this, &UpdaterDialog::onMenuAbout);
    layout->setMenuBar(m_menuBar);

    auto* fileGroup = new QGroupBox(QStringLiteral("File"), this);
    auto* fileLayout = new QVBoxLayout(fileGroup);
    m_select = button(fileGroup, "select");
    auto* selectRow = new QHBoxLayout;
    selectRow->addWidget(m_select);
    selectRow->addStretch();
    fileLayout->addLayout(selectRow);
    auto* fileForm = new QFormLayout;
    m_imageName = readOnlyField(fileGroup, "imageName");
    m_imageVersion = readOnlyField(fileGroup, "imageVersion");
    m_fileName = readOnlyField(fileGroup, "fileName");
    fileForm->addRow(QStringLiteral("product name:"), m_imageName);
    fileForm->addRow(QStringLiteral("version:"), m_imageVersion);
    fileForm->addRow(QStringLiteral("filename:"), m_fileName);
    fileLayout->addLayout(fileForm);
    layout->addWidget(fileGroup);

    auto* unitGroup = new QGroupBox(QStringLiteral("Connect and Update"), this);
    auto* unitLayout = new QVBoxLayout(unitGroup);
    m_progress = new QProgressBar(unitGroup);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    unitLayout->addWidget(m_progress);
    m_message = new QTextEdit(unitGroup);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setReadOnly(true);
    m_message->setFixedHeight(m_message->fontMetrics().lineSpacing() * 4 + 12);
    unitLayout->addWidget(m_message);
    m_connect = button(unitGroup, "connect");
    m_update = button(unitGroup, "update");
    auto* runRow = new QHBoxLayout;
    runRow->addWidget(m_connect);
    runRow->addWidget(m_update);
    runRow->addStretch();
    unitLayout->addLayout(runRow);
    auto* unitForm = new QFormLayout;
    m_unitName = readOnlyField(unitGroup, "unitName");
    m_unitVersion = readOnlyField(unitGroup, "unitVersion");
    m_port = readOnlyField(unitGroup, "port");
    m_address = readOnlyField(unitGroup, "address");
    unitForm->addRow(QStringLiteral("product name:"), m_unitName);
    unitForm->addRow(QStringLiteral("version:"), m_unitVersion);
    unitForm->addRow(QStringLiteral("TCP Port:"), m_port);
    unitForm->addRow(QStringLiteral("IP Address:"), m_address);
    unitLayout->addLayout(unitForm);
    layout->addWidget(unitGroup);

    m_fileName->setMinimumWidth(360);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString UpdaterDialog::offeredImage() const
{
    const QString directory = applicationFilePath();
    if (m_bootMode)
        return directory + QLatin1String(kBootImage);
    const QString program = IniSettings::instance().program();
    if (!program.isEmpty())
        return program;
    const QStringList images
        = QDir(directory).entryList(QStringList{QStringLiteral("*.bin")}, QDir::Files, QDir::Unsorted);
    return images.isEmpty() ? QString() : directory + images.first();
}

bool UpdaterDialog::setImageFile(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QString absolute = QDir(applicationFilePath()).absoluteFilePath(path);
    m_fileName->setText(QDir::toNativeSeparators(absolute));
    m_file.clear();
    if (!QFileInfo(absolute).isFile())
        return false;
    QString image = absolute;
    if (!m_bootMode) {
        if (checkPackage(absolute) != 0)
            return false;
        m_fileManager.getFirmwarePath(&image);
    }
    return m_file.load(image, m_bootMode);
}

int32_t UpdaterDialog::checkPackage(const QString& path)
{
    const JResult result = m_fileManager.openPackage(path, nullptr, nullptr, nullptr, nullptr);
    if (const MessageBoxRecord* box = packageBoxFor(result))
        QMessageBox::critical(this, box->title, box->text);
    return result;
}

void UpdaterDialog::showImageInfo()
{
    QString name = m_file.modelName();
    if (!m_bootMode && (m_fileManager.isBroxModel() || m_fileManager.isPellModel()))
        m_fileManager.modelName(&name);
    m_imageName->setText(name);
    m_imageVersion->setText(m_file.versionText());
}

bool UpdaterDialog::isDeviceMatched() const
{
    if (!m_updater)
        return false;
    const QString unit = m_updater->deviceName().trimmed();
    return unit != QLatin1String("Mavik-D") && unit == m_file.modelName().trimmed();
}

void UpdaterDialog::clearUnitAndMessage()
{
    m_unitName->clear();
    m_unitVersion->clear();
    m_message->clear();
}

void UpdaterDialog::setButtons(bool select, bool connect, bool update)
{
    m_select->setEnabled(select);
    m_connect->setEnabled(connect);
    m_update->setEnabled(update);
}

void UpdaterDialog::onButtonClickedSelectFile()
{
    const QString chosen = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open"), applicationFilePath(), QStringLiteral("binary files (*.bin);;All Files (*.*)"));
    setImageFile(chosen);
    m_connect->setEnabled(true);
    m_update->setEnabled(false);
    clearUnitAndMessage();
    showImageInfo();
}

void UpdaterDialog::onButtonClickedConnectTarget()
{
    m_progress->setValue(0);
    m_matched = false;
    clearUnitAndMessage();
    setButtons(false, false, false);
    m_updater->startCommand(Updater::RunConnect);
}

void UpdaterDialog::onButtonClickedUpdate()
{
    m_progress->setValue(0);
    m_message->setPlainText(QLatin1String(kUpdating));
    setButtons(false, false, false);
    m_updater->startCommand(Updater::RunUpdate);
}

void UpdaterDialog::onRcvMsgCode(uint16_t msgCode)
{
    if (msgCode == Updater::kCodeConnected)
        m_matched = isDeviceMatched();
    const QString text = updaterMessageText(msgCode, m_matched);
    if (!text.isNull())
        m_message->setPlainText(text);
    if (msgCode == Updater::kCodeConnected) {
        m_unitName->setText(m_updater->deviceName());
        m_unitVersion->setText(m_updater->deviceVersion());
    } else if (msgCode == Updater::kCodeUpdated) {
        m_file.setUpdated(true);
    }
}

void UpdaterDialog::onRcvProgress(uint32_t pos)
{
    if (pos > static_cast<uint32_t>(m_progress->value()))
        m_progress->setValue(static_cast<int>(std::min<uint32_t>(pos, 100)));
}

void UpdaterDialog::onCommandCompleted()
{
    m_update->setEnabled(m_matched && !m_file.isUpdated() && !m_file.modelName().isEmpty());
    m_connect->setEnabled(true);
    m_select->setEnabled(!m_bootMode);
    activateWindow();
}

void UpdaterDialog::onMenuAbout()
{
    AboutDialog about(this);
    about.exec();
}

bool UpdaterDialog::mayClose()
{
    m_fileManager.removeUnpackFolder();
    return !m_updater->isRunning();
}

void UpdaterDialog::reject()
{
    if (mayClose())
        QDialog::reject();
}

void UpdaterDialog::closeEvent(QCloseEvent* event)
{
    if (!mayClose()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
