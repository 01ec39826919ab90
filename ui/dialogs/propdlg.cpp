#include "ui/dialogs/propdlg.h"

#include "app/app_quilobject.h"
#include "device/layouts/dev_modeltypes.h"
#include "ui/dialogs/dlgzoom.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLayout>
#include <QTableWidget>
#include <QVBoxLayout>

namespace Quil {

namespace {

constexpr const char* kRowLabels[PropDlg::kRowCount] = {"Device Name", "Manufacturer", "Product", "Category", "Input",
    "Output", "Firmware", "Protocol", "Parameter", "", "Unit ID", "IP Address", "Port No", "", "Run Mode", "Error"};

constexpr int kLineHeight = 18;
constexpr int kRowPadding = 20;

} // namespace

PropDlg::PropDlg(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledDialog(parent, flags)
{
    setObjectName(QStringLiteral("PropDlg"));
    resize(490, 556);
    QFont base = font();
    base.setFamily(QStringLiteral("Arial"));
    setFont(base);
    setWindowTitle(tr("Properties"));
    setSizeGripEnabled(true);
    setWindowFlags(
        (windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::CustomizeWindowHint | Qt::WindowMaximizeButtonHint);

    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout"));
    m_infoArea = new QTableWidget(this);
    m_infoArea->setObjectName(QStringLiteral("m_infoArea"));
    m_infoArea->setColumnCount(1);
    m_infoArea->horizontalHeader()->setVisible(false);
    m_infoArea->horizontalHeader()->setStretchLastSection(true);
    m_infoArea->verticalHeader()->setVisible(true);
    m_infoArea->verticalHeader()->setStretchLastSection(false);
    layout->addWidget(m_infoArea);
    m_buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Horizontal, this);
    m_buttonBox->setObjectName(QStringLiteral("buttonBox"));
    layout->addWidget(m_buttonBox);
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    m_infoArea->clear();
    m_infoArea->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_infoArea->setRowCount(kRowCount);
    QStringList labels;
    for (const char* label : kRowLabels)
        labels.append(tr(label));
    m_infoArea->setVerticalHeaderLabels(labels);
    for (int row = 0; row < kRowCount; ++row)
        m_infoArea->setItem(row, 0, new QTableWidgetItem);
    fitRows();
}

PropDlg::~PropDlg() = default;

bool PropDlg::applyScale(ZoomCode code)
{
    // Read first: the zoomed style makes the header measure its rows afresh.
    QHeaderView* rows = m_infoArea->verticalHeader();
    const int rowHeight = rows->defaultSectionSize();
    zoomDialogOnce(this, code);
    rows->setDefaultSectionSize(ZScale::scaleValue(code, rowHeight));
    // A new default size resets every row: the parameter row keeps its lines.
    if (m_parameterRowHeight > 0)
        m_infoArea->setRowHeight(kParameterRow, ZScale::scaleValue(code, m_parameterRowHeight));
    fitRows();
    return setScale(code);
}

void PropDlg::fitRows()
{
    // Every row, the table's frame, the buttons and the layout around them.
    const QLayout* box = layout();
    const QMargins margins = box->contentsMargins();
    const int table = m_infoArea->verticalHeader()->length() + 2 * m_infoArea->frameWidth();
    const int needed = margins.top() + table + box->spacing() + m_buttonBox->sizeHint().height() + margins.bottom();
    if (height() < needed)
        resize(width(), needed);
}

JResult PropDlg::setup(QuilObject* core, int slot)
{
    if (m_core || !core)
        return DEV_E_FAIL;
    m_core = core;
    m_slot = slot;
    return fill();
}

JResult PropDlg::fill()
{
    setWindowTitle(tr("Properties ") + QLatin1Char('#') + QString::number(m_slot + 1));
    DevInfoRecord info;
    if (m_core->getDeviceInfo(m_slot, &info) < 0)
        return DEV_OK;

    QString parameter = info.paramsetver;
    const int commas = parameter.count(QLatin1Char(','));
    if (commas > 0) {
        m_parameterRowHeight = commas * kLineHeight + kRowPadding;
        m_infoArea->setRowHeight(kParameterRow, m_parameterRowHeight);
    }
    parameter.replace(QLatin1Char(','), QLatin1Char('\n'));

    const ModelType type = m_core->modelType(m_slot);
    const QByteArray version = info.version.toUtf8();
    const QByteArray runmode = info.runmode.toUtf8();
    const QString values[kRowCount] = {info.devicename, info.manufacturer, info.productname, info.category,
        info.inputport, info.outputport, QString::fromUtf8(displayVersionText(type, version.constData())),
        info.protocolver, parameter, QString(), info.deviceid, info.ipAddress, info.port, QString(),
        QString::fromUtf8(displayRunModeText(type, runmode.constData())), info.error};
    for (int row = 0; row < kRowCount; ++row)
        m_infoArea->item(row, 0)->setText(values[row]);
    fitRows();
    return DEV_OK;
}

} // namespace Quil
