#include "ui/dialogs/devinfodlg.h"

#include "app/app_quilobject.h"
#include "device/layouts/dev_modeltypes.h"
#include "ui/dialogs/dlgzoom.h"

#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QSpacerItem>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace Quil {

namespace {

const DevInfoDlg::Column kColumns[] = {
    {"Rack ID", 80, true, true},
    {"Product", 100, true, true},
    {"Name", 200, true, false},
    {"Mode", 100, true, false},
    {"IP Address", 150, true, false},
    {"Port No", 100, false, false},
    {"Firmware", 100, true, false},
};

const QString kMavikIpFirmware = QStringLiteral("3.12.0");

// The dotted parts as numbers; empty when the text is not a dotted version.
std::vector<qulonglong> versionParts(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() < 2)
        return {};
    std::vector<qulonglong> numbers;
    for (const QString& part : parts) {
        bool ok = false;
        const qulonglong value = part.toULongLong(&ok, 10);
        if (!ok || part.isEmpty() || !part.at(0).isDigit())
            return {};
        numbers.push_back(value);
    }
    return numbers;
}

} // namespace

bool mavikTakesIpSetting(const QString& version)
{
    std::vector<qulonglong> have = versionParts(version);
    std::vector<qulonglong> need = versionParts(kMavikIpFirmware);
    if (have.empty())
        return false;
    const size_t n = std::max(have.size(), need.size());
    have.resize(n, 0);
    need.resize(n, 0);
    return have >= need;
}

DevInfoDlg::DevInfoDlg(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledDialog(parent, flags)
    , m_columns(std::begin(kColumns), std::end(kColumns))
{
    setObjectName(QStringLiteral("DeviceInfoDlg"));
    resize(784, 300);
    QFont base = font();
    base.setFamily(QStringLiteral("Arial"));
    setFont(base);
    setWindowTitle(tr("Device Information"));
    setSizeGripEnabled(true);
    setWindowFlags(
        (windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::CustomizeWindowHint | Qt::WindowMaximizeButtonHint);

    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout"));
    m_treeWidget = new QTreeWidget(this);
    m_treeWidget->setObjectName(QStringLiteral("m_treeWidget"));
    m_treeWidget->setRootIsDecorated(false);
    layout->addWidget(m_treeWidget);

    auto* buttons = new QHBoxLayout;
    buttons->setObjectName(QStringLiteral("horizontalLayout"));
    m_btnIPAddr = new QPushButton(tr("Set IP Address"), this);
    m_btnIPAddr->setObjectName(QStringLiteral("m_btnIPAddr"));
    m_btnDetail = new QPushButton(tr("Properties"), this);
    m_btnDetail->setObjectName(QStringLiteral("m_btnDetail"));
    m_btnFirmUpdate = new QPushButton(tr("Firmware Update"), this);
    m_btnFirmUpdate->setObjectName(QStringLiteral("m_btnFirmUpdate"));
    buttons->addWidget(m_btnIPAddr);
    buttons->addSpacerItem(new QSpacerItem(20, 10, QSizePolicy::Fixed, QSizePolicy::Minimum));
    buttons->addWidget(m_btnDetail);
    buttons->addSpacerItem(new QSpacerItem(20, 10, QSizePolicy::Fixed, QSizePolicy::Minimum));
    buttons->addWidget(m_btnFirmUpdate);
    buttons->addSpacerItem(new QSpacerItem(40, 10, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    m_buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttons->addWidget(m_buttonBox);
    layout->addLayout(buttons);
    setTabOrder(m_treeWidget, m_btnIPAddr);
    setTabOrder(m_btnIPAddr, m_btnDetail);
    setTabOrder(m_btnDetail, m_btnFirmUpdate);

    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_btnIPAddr, &QPushButton::clicked, this, &DevInfoDlg::onSetIPAddr);
    connect(m_btnFirmUpdate, &QPushButton::clicked, this, &DevInfoDlg::onFirmUpdate);
    connect(m_btnDetail, &QPushButton::clicked, this, &DevInfoDlg::onDetail);
    connect(m_treeWidget, &QTreeWidget::itemSelectionChanged, this, &DevInfoDlg::onItemSelectionChanged);
    m_btnFirmUpdate->hide();
    m_treeWidget->header()->installEventFilter(this);
    m_treeWidget->installEventFilter(this);

    QStringList labels;
    for (const Column& column : m_columns)
        labels.append(tr(column.name));
    m_treeWidget->setHeaderLabels(labels);
    applyColumns();
}

DevInfoDlg::~DevInfoDlg() = default;

bool DevInfoDlg::applyScale(ZoomCode code)
{
    zoomDialogOnce(this, code);
    QHeaderView* header = m_treeWidget->header();
    for (int i = 0; i < header->count(); ++i)
        header->resizeSection(i, ZScale::scaleValue(code, header->sectionSize(i)));
    return setScale(code);
}

JResult DevInfoDlg::setup(QuilObject* core)
{
    if (m_core || !core)
        return DEV_E_FAIL;
    m_core = core;
    fill();
    return DEV_OK;
}

void DevInfoDlg::fill()
{
    m_treeWidget->clear();
    const int slotTotal = m_core->slotCount();
    for (int slot = 0; slot < slotTotal; ++slot) {
        auto* item = new QTreeWidgetItem;
        item->setText(0, QString::number(slot + 1));
        const ModelType type = m_core->modelType(slot);
        DevInfoRecord info;
        if (modelTraits(type) && m_core->getDeviceInfo(slot, &info) >= 0) {
            const QByteArray runmode = info.runmode.toUtf8();
            const QByteArray version = info.version.toUtf8();
            item->setText(1, info.productname);
            item->setText(2, info.devicename);
            item->setText(3, QString::fromUtf8(displayRunModeText(type, runmode.constData())));
            item->setText(4, info.ipAddress);
            item->setText(5, info.port);
            item->setText(6, QString::fromUtf8(displayVersionText(type, version.constData())));
        }
        m_treeWidget->addTopLevelItem(item);
        if (slot == 0)
            m_treeWidget->setCurrentItem(item);
    }
}

int DevInfoDlg::selectedSlot() const
{
    const QTreeWidgetItem* item = m_treeWidget->currentItem();
    if (!item)
        return -1;
    bool ok = false;
    const uint rackId = item->text(0).toUInt(&ok, 10);
    return ok && rackId != 0 ? static_cast<int>(rackId - 1) : -1;
}

void DevInfoDlg::onItemSelectionChanged()
{
    const int slot = selectedSlot();
    if (slot < 0 || !m_core)
        return;
    bool enable = m_core->isConnected(slot);
    if (enable && servedByKit(m_core->modelType(slot), ModelKit::Mavik)) {
        DevInfoRecord info;
        enable = m_core->getDeviceInfo(slot, &info) >= 0 && mavikTakesIpSetting(info.version);
    }
    m_btnIPAddr->setEnabled(enable);
}

void DevInfoDlg::onSetIPAddr()
{
    const int slot = selectedSlot();
    if (slot >= 0)
        emit requestSetIPAddress(static_cast<uint>(slot));
}

void DevInfoDlg::onDetail()
{
    const int slot = selectedSlot();
    if (slot >= 0)
        emit requestDetail(static_cast<uint>(slot));
}

void DevInfoDlg::onFirmUpdate()
{
    emit requestFirmareUpdate();
}

bool DevInfoDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ContextMenu) {
        const QPoint at = static_cast<QContextMenuEvent*>(event)->globalPos();
        if (watched == m_treeWidget->header()) {
            showColumnMenu(at);
            return true;
        }
        if (watched == m_treeWidget) {
            if (const QTreeWidgetItem* item = m_treeWidget->currentItem())
                showRowMenu(m_treeWidget->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item)), at);
            return true;
        }
    }
    return ZScaledDialog::eventFilter(watched, event);
}

void DevInfoDlg::showRowMenu(int row, const QPoint& at)
{
    QMenu menu;
    QAction* setIp = menu.addAction(tr("Set IP Address"));
    QAction* detail = menu.addAction(tr("Properties"));
    setIp->setEnabled(m_core && m_core->isConnected(row));
    const QAction* chosen = menu.exec(at);
    if (chosen == setIp)
        emit requestSetIPAddress(static_cast<uint>(row));
    else if (chosen == detail)
        emit requestDetail(static_cast<uint>(row));
}

void DevInfoDlg::showColumnMenu(const QPoint& at)
{
    QMenu menu;
    for (const Column& column : m_columns) {
        if (column.fixed)
            continue;
        QAction* entry = menu.addAction(tr(column.name));
        entry->setCheckable(true);
        entry->setChecked(column.visible);
    }
    if (const QAction* chosen = menu.exec(at)) {
        for (Column& column : m_columns)
            if (tr(column.name) == chosen->text())
                column.visible = chosen->isChecked();
    }
    applyColumns();
}

void DevInfoDlg::applyColumns()
{
    for (size_t i = 0; i < m_columns.size(); ++i) {
        const int index = static_cast<int>(i);
        m_treeWidget->setColumnWidth(index, m_columns[i].width);
        m_treeWidget->setColumnHidden(index, !m_columns[i].visible);
    }
}

} // namespace Quil
