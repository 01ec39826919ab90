#include "updater/window/about_dialog.h"

#include "ui/legal/legaldlg.h"
#include "updater/ini_settings.h"
#include "updater/window/updater_dialog.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

// The loader is declared at file scope by the macro: it may not sit in a
// namespace. A static library's resources are registered only when asked.
static void initUpdaterResources()
{
    Q_INIT_RESOURCE(updater_window);
}

QIcon updaterIcon()
{
    static const bool loaded = (initUpdaterResources(), true);
    (void)loaded;
    return QIcon(QStringLiteral(":/icon/res/quillon_updater.png"));
}

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutDialog"));
    setWindowTitle(QStringLiteral("About Update Program"));
    setStyleSheet(QStringLiteral("QWidget{font-size:12px}"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    const QIcon icon = updaterIcon();
    setWindowIcon(icon);

    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("icon"));
    m_icon->setPixmap(icon.pixmap(48, 48));
    m_version = new QLabel(QStringLiteral("Update Program V%2").arg(QLatin1String(UpdaterDialog::kVersion)), this);
    m_version->setObjectName(QStringLiteral("version"));
    m_notice = new QLabel(QStringLiteral("Copyright (C) The Quillon developers. All rights reserved."), this);
    m_notice->setObjectName(QStringLiteral("notice"));
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("pushButtonOK"));
    m_legal = new QPushButton(QStringLiteral("Legal"), this);
    m_legal->setObjectName(QStringLiteral("pushButtonLegal"));
    m_legal->setAutoDefault(false);

    auto* texts = new QVBoxLayout;
    texts->addWidget(m_version);
    texts->addWidget(m_notice);
    texts->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(m_icon, 0, Qt::AlignTop);
    top->addSpacing(8);
    top->addLayout(texts);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_legal);
    buttons->addStretch();
    buttons->addWidget(m_ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_ok, &QPushButton::clicked, this, &AboutDialog::on_pushButtonOK_clicked);
    connect(m_legal, &QPushButton::clicked, this, &AboutDialog::on_pushButtonLegal_clicked);
}

AboutDialog::~AboutDialog() = default;

void AboutDialog::on_pushButtonOK_clicked()
{
    accept();
}

void AboutDialog::on_pushButtonLegal_clicked()
{
    Quil::LegalDlg legal(applicationFilePath(), this);
    legal.exec();
}
