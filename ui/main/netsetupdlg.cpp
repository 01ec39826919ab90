#include "ui/main/netsetupdlg.h"

#include "app/app_quilobject.h"
#include "ui/main/dialogscale.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kColumnWidths[] = {200, 150, 150, 200};

Qt::WindowFlags netSetupFlags(Qt::WindowFlags flags)
{
    return (flags & ~Qt::WindowContextHelpButtonHint) | Qt::CustomizeWindowHint | Qt::WindowMaximizeButtonHint;
}

} // namespace

NetSetupDlg::NetSetupDlg(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledDialog(parent, flags)
{
    setObjectName(QStringLiteral("NetSetupDlg"));
    resize(628, 276);
    QFont font;
    font.setFamily(QStringLiteral("Arial"));
    setFont(font);

    m_verticalLayout = new QVBoxLayout(this);
    m_verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    m_treeWidget = new QTreeWidget(this);
    m_treeWidget->setObjectName(QStringLiteral("m_treeWidget"));
    m_verticalLayout->addWidget(m_treeWidget);
    m_buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    m_buttonBox->setObjectName(QStringLiteral("buttonBox"));
    m_verticalLayout->addWidget(m_buttonBox);
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &NetSetupDlg::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    setWindowTitle(tr("Network Setup"));

    setWindowFlags(netSetupFlags(windowFlags()));
    setSizeGripEnabled(true);

    m_treeWidget->setHeaderLabels({tr("Name"), tr("IP Address"), tr("Subnet Mask"), tr("MAC Address")});
    for (int column = 0; column < 4; ++column)
        m_treeWidget->setColumnWidth(column, kColumnWidths[column]);
    m_treeWidget->setColumnHidden(ColMac, true);
    connect(m_treeWidget, &QTreeWidget::itemDoubleClicked, this, &NetSetupDlg::itemDoubleClickedSlot);
}

JResult NetSetupDlg::setup(Quil::QuilObject* core, bool withSaveConfirm)
{
    if (m_core)
        return Quil::DEV_E_FAIL;
    m_core = core;
    m_withSaveConfirm = withSaveConfirm;
    return fillList();
}

JResult NetSetupDlg::fillList()
{
    m_treeWidget->clear();
    if (!m_core)
        return Quil::DEV_E_FAIL;
    Quil::HostInterface current;
    if (m_core->currentNetworkInterface(&current) < 0)
        current = Quil::HostInterface();

    auto* offline = new QTreeWidgetItem(m_treeWidget);
    QTreeWidgetItem* match = nullptr;
    for (const Quil::HostInterface& host : m_core->networkInterfaces()) {
        if (!host.isUsable())
            continue;
        auto* item = new QTreeWidgetItem(m_treeWidget, {host.name, host.address, host.netmask, host.mac});
        // An interface whose address moved since it was chosen is not the
        // current one any more.
        if (!current.isEmpty() && host.mac == current.mac && host.address == current.address)
            match = item;
    }
    m_treeWidget->sortItems(ColName, Qt::AscendingOrder);
    offline->setText(ColName, tr("Offline"));
    m_treeWidget->setCurrentItem(match ? match : offline);
    return 0;
}

void NetSetupDlg::accept()
{
    QTreeWidgetItem* item = m_treeWidget->currentItem();
    if (item && m_core)
        m_core->setNetworkInterface(item->text(ColMac), item->text(ColAddress), m_withSaveConfirm);
    QDialog::accept();
}

void NetSetupDlg::itemDoubleClickedSlot(QTreeWidgetItem* item, int column)
{
    Q_UNUSED(item);
    Q_UNUSED(column);
    accept();
}

bool NetSetupDlg::applyScale(ZoomCode code)
{
    QuilMain::scaleDialogOnce(this, code);
    QHeaderView* header = m_treeWidget->header();
    for (int section = 0; section < header->count(); ++section) {
        // A hidden section reports no size; its width still counts once shown.
        const bool hidden = header->isSectionHidden(section);
        if (hidden)
            header->showSection(section);
        header->resizeSection(section, ZScale::scaleValue(code, header->sectionSize(section)));
        if (hidden)
            header->hideSection(section);
    }
    return setScale(code);
}
