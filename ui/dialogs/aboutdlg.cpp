#include "ui/dialogs/aboutdlg.h"

#include "ui/legal/legaldlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace Quil {

AboutDlg::AboutDlg(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QStringLiteral("AboutDlg"));
    resize(488, 127);
    QFont base = font();
    base.setFamily(QStringLiteral("Arial"));
    setFont(base);
    setWindowTitle(tr("About Quillon"));
    setWindowFlags(
        (windowFlags()
            & ~(Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint))
        | Qt::CustomizeWindowHint);

    auto* layout = new QVBoxLayout(this);
    m_lblVersion = new QLabel(QStringLiteral("Version"), this);
    m_lblVersion->setObjectName(QStringLiteral("m_lblVersion"));
    m_lblNotice = new QLabel(QStringLiteral("Notice"), this);
    m_lblNotice->setObjectName(QStringLiteral("m_lblNotice"));
    layout->addWidget(m_lblVersion);
    layout->addWidget(m_lblNotice);
    layout->addStretch();
    auto* buttons = new QHBoxLayout;
    m_btnLegal = new QPushButton(tr("Legal"), this);
    m_btnLegal->setObjectName(QStringLiteral("m_btnLegal"));
    m_btnOk = new QPushButton(tr("OK"), this);
    m_btnOk->setObjectName(QStringLiteral("m_btnOk"));
    buttons->addWidget(m_btnLegal);
    buttons->addStretch();
    buttons->addWidget(m_btnOk);
    layout->addLayout(buttons);

    m_lblVersion->setText(QStringLiteral("Quillon V6.0.0.1"));
    m_lblNotice->setText(tr("Copyright (C) The Quillon developers. All rights reserved."));

    connect(m_btnOk, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_btnLegal, &QPushButton::clicked, this, &AboutDlg::openLegal);
}

AboutDlg::~AboutDlg() = default;

int AboutDlg::openLegal()
{
    LegalDlg legal(this);
    legal.exec();
    return 0;
}

} // namespace Quil
