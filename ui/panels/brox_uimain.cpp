#include "ui/panels/brox_uimain.h"

#include "device/layouts/dev_modeltypes.h"
#include "pbd/jlib/jvariant.h"
#include "ui/bind/controllers.h"
#include "ui/panels/brox_delayscaleunit.h"
#include "ui/panels/brox_mainchunit.h"
#include "ui/panels/imagepanel.h"
#include "ui/panels/panel_images.h"
#include "ui/panels/statusunits.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zstatedisplay.h"

#include <QAction>
#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>

namespace Brox {

namespace {

constexpr int kColumnsPerRow = 8;
constexpr int kColumnX = 57;
constexpr int kColumnDx = 68;
constexpr int kRowY = 14;
constexpr int kRowDy = 132;
constexpr int kMaxRows = 4;
constexpr const char* kMasterPath = "/Current/Dev:0/48VMasterOn:0";
constexpr const char* kLeaderPath = "/Current/Dev:0/48VLeaderOn:0";
constexpr const char* kActivePath = "/Current/Dev:0/48VActiveOn:0";
constexpr const char* kParamSetVerPath = "/DevInfo/devinfo:0/paramsetver:0";
// Parameter sets from 1.1.1 on carry the active +48V state.
constexpr int kFirstActiveParamSet = 111;

// The panel's look per model; its channel counts come from the model's row.
struct LookRow {
    Quil::ModelType type;
    const char* background;
    const char* outputBackground; // null: no output view
    const char* caption; // null: none shown
    const char* phantomPath; // null: set from the parameter set
};

constexpr LookRow kLooks[] = {
    {Quil::MODEL_BROXL_D, "bg_dev_BroxLD.png", nullptr, "bg_dev_Brox_txt_+48V.png", kMasterPath},
    {Quil::MODEL_BROXL_D2, "bg_dev_BroxLD.png", nullptr, "bg_dev_Brox_txt_+48V.png", kMasterPath},
    {Quil::MODEL_BROXM_D, "bg_dev_BroxMD.png", nullptr, "bg_dev_Brox_txt_+48V.png", kMasterPath},
    {Quil::MODEL_PELLM_D, "bg_dev_BroxMD.png", nullptr, "bg_dev_Brox_txt_+48V.png", kMasterPath},
    {Quil::MODEL_BROXM_D2, "bg_dev_BroxMD.png", nullptr, "bg_dev_Brox_txt_+48V.png", kMasterPath},
    {Quil::MODEL_BROXI_D, "bg_dev_BroxID.png", nullptr, "bg_dev_Brox_txt_+48V.png", kMasterPath},
    {Quil::MODEL_BROXO_D, "bg_dev_BroxOD.png", nullptr, nullptr, kMasterPath},
    {Quil::MODEL_PELLM_D2, "bg_dev_BroxMD.png", nullptr, "bg_dev_Brox_txt_+48V_active.png", kMasterPath},
    {Quil::MODEL_BROXL_D3, "bg_dev_BroxLD.png", "bg_dev_BroxLD3Output.png", "bg_dev_Brox_txt_+48V_active.png", nullptr},
    {Quil::MODEL_BROXM_D3, "bg_dev_BroxMD.png", "bg_dev_BroxID.png", "bg_dev_Brox_txt_+48V_active.png", kLeaderPath},
};

const LookRow* lookRow(int type)
{
    for (const LookRow& row : kLooks)
        if (row.type == type)
            return &row;
    return nullptr;
}

QString image(const QString& name)
{
    return QStringLiteral(":brox/images/") + name;
}

QString image(const char* name)
{
    return image(QString::fromLatin1(name));
}

QPoint columnPlace(int index)
{
    return QPoint(kColumnX + kColumnDx * (index % kColumnsPerRow), kRowY + kRowDy * (index / kColumnsPerRow));
}

// The decimal digits of a parameter-set text as one number; 0 when there
// are none or they do not fit.
int paramSetNumber(const QString& text)
{
    QString digits;
    for (const QChar c : text)
        if (c.isDigit())
            digits.append(c);
    bool ok = false;
    const int value = digits.toInt(&ok, 10);
    return ok ? value : 0;
}

} // namespace

UIMain::UIMain(int deviceType, QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
    , m_type(deviceType)
{
    setFocusPolicy(Qt::ClickFocus);
    const Quil::ModelTraits* traits = Quil::modelTraits(deviceType);
    const LookRow* row = lookRow(deviceType);
    if (traits && row) {
        m_inputCount = traits->inputs;
        m_outputCount = traits->outputView;
        m_blockCount = traits->inputs / kColumnsPerRow;
        m_phantomPath = row->phantomPath ? QString::fromLatin1(row->phantomPath) : QString();
        setBackground(QString::fromLatin1(row->background));
    }
    m_hasOutputView = row && row->outputBackground;
    resizeScaled(752, 543);
    buildInputs();
    if (m_hasOutputView)
        buildOutputs();
    buildDeviceWidgets(row && row->caption ? image(row->caption) : QString());
    buildActions();
}

UIMain::~UIMain() = default;

void UIMain::buildInputs()
{
    for (int i = 0; i < m_inputCount; ++i) {
        auto* column = new MainChUnit(this);
        column->setChannel(i);
        column->moveScaled(columnPlace(i));
        connect(column, &MainChUnit::haGainContextRequest, this, &UIMain::haGainContextRequested);
        m_inputs.push_back(column);
    }
    chainTabOrder(m_inputs);
}

void UIMain::buildOutputs()
{
    for (int i = 0; i < m_outputCount; ++i) {
        auto* column = new MainChUnitOutput(this);
        column->setChannel(i);
        column->moveScaled(columnPlace(i));
        connect(column, &MainChUnitOutput::haGainContextRequest, this, &UIMain::haGainContextRequested);
        m_outputs.push_back(column);
    }
    chainTabOrder(m_outputs);
    m_outputBlock = new MainDelayScaleUnitOutput(m_type, m_inputCount, m_outputCount, this);
    m_outputBlock->moveScaled(47, 405);
    m_outputBlock->raise();
    m_inputButton = makeSwitchButton(this, QRect(614, 180, 90, 18), image("tbtn_input.png"));
    m_outputButton = makeSwitchButton(this, QRect(614, 205, 90, 18), image("tbtn_output.png"));
    m_viewGroup = new QButtonGroup(this);
    m_viewGroup->addButton(m_inputButton, 0);
    m_viewGroup->addButton(m_outputButton, 1);
    connect(m_viewGroup, &QButtonGroup::idClicked, this, &UIMain::onInputOutputClicked);
    m_inputButton->setChecked(true);
    onInputOutputClicked(0);
}

void UIMain::buildDeviceWidgets(const QString& caption)
{
    const bool hasInputs = m_inputCount > 0;
    if (hasInputs)
        m_peakHold = makeSwitchButton(this, QRect(611, 111, 96, 20), image("tbtn_PEAKHOLD.png"));
    m_sysUnit = new Quil::SysUnit(this);
    m_sysUnit->setGeometryScaled(611, 49, 49, 42);
    m_syncUnit = new Quil::SyncUnit(this);
    m_syncUnit->setGeometryScaled(659, 49, 49, 42);
    if (hasInputs) {
        m_phantomCaption = new ImagePanel(this);
        m_phantomCaption->setPixmap(Panels::loadPicture(caption));
        m_phantomCaption->setGeometryScaled(610, 13, 98, 10);
        m_phantomIndicator = new ZStateDisplay(this);
        m_phantomIndicator->setCombinedImage(Panels::loadPicture(image("ind_+48V.png")));
        m_phantomIndicator->setnSubImages(2);
        m_phantomIndicator->setCurrentImageIndex(0);
        m_phantomIndicator->setGeometryScaled(643, 23, 28, 14);
    }
}

void UIMain::buildActions()
{
    m_allDefault = new QAction(QStringLiteral("All Default"), this);
    connect(m_allDefault, &QAction::triggered, this, &UIMain::onAllDefultHaGain);
    m_all0dB = new QAction(QStringLiteral("All 0dB"), this);
    connect(m_all0dB, &QAction::triggered, this, &UIMain::onAll0dBHaGain);
    const Quil::ModelTraits* traits = Quil::modelTraits(m_type);
    if (!traits || traits->edit != Quil::EditWindow::None) {
        m_openEdit = new QAction(QStringLiteral("Open Edit Window"), this);
        connect(m_openEdit, &QAction::triggered, this, &UIMain::onOpenEditWindow);
    }
    m_properties = new QAction(QStringLiteral("Properties"), this);
    connect(m_properties, &QAction::triggered, this, &UIMain::onProperty);
}

void UIMain::setBackground(const QString& name)
{
    m_backgroundName = name;
    m_background = Panels::loadPicture(image(name));
}

JResult UIMain::init(uint32_t unitId, Quil::IZDev* accessor, IZMainUICallback* host)
{
    if (!accessor || !host)
        return DEV_E_FAIL;
    m_accessor = accessor;
    m_unitId = unitId;
    m_host = host;
    for (MainChUnit* column : m_inputs)
        column->setAccessor(accessor);
    if (m_hasOutputView) {
        for (MainChUnitOutput* column : m_outputs)
            column->setAccessor(accessor);
        m_outputBlock->setAccessor(accessor);
    }
    m_sysUnit->setAccessor(accessor);
    m_syncUnit->setAccessor(accessor);
    m_phantomController.reset();
    if (m_hasOutputView) {
        // A second init must not leave two subscriptions behind.
        m_paramSetVer.clear();
        m_paramSetVer.add(accessor, QString::fromLatin1(kParamSetVerPath), this, &UIMain::onParamSetVerChanged);
        onParamSetVerChanged();
    } else {
        m_phantomController = std::make_unique<ControllerForZStateDisplay>(nullptr);
        m_phantomController->attach(m_phantomIndicator, accessor, m_phantomPath);
    }
    m_peakHoldController = std::make_unique<ControllerForQPushButton>(nullptr);
    m_peakHoldController->attach(m_peakHold, accessor, QString::fromLatin1(kPeakHoldPath));
    return 0;
}

JResult UIMain::setPage(const QVariant&)
{
    return 0;
}

JResult UIMain::setDeviceName(const QString&)
{
    return 0;
}

JResult UIMain::onInputOutputClicked(int id)
{
    if (!m_hasOutputView)
        return DEV_E_FAIL;
    if (id == m_viewKind)
        return 0;
    m_viewKind = id;
    const bool outputView = id == 1;
    for (MainChUnit* column : m_inputs)
        column->setVisible(!outputView);
    for (MainChUnitOutput* column : m_outputs)
        column->setVisible(outputView);
    m_outputBlock->setVisible(outputView);
    const LookRow* row = lookRow(m_type);
    setBackground(QString::fromLatin1(outputView ? row->outputBackground : row->background));
    update();
    return 0;
}

JResult UIMain::onAllDefultHaGain()
{
    return writeAllInputGains(m_accessor, m_inputCount, false);
}

JResult UIMain::onAll0dBHaGain()
{
    return writeAllInputGains(m_accessor, m_inputCount, true);
}

JResult UIMain::onParamSetVerChanged()
{
    if (!m_hasOutputView)
        return 0;
    Quil::DevInfoRecord info;
    if (m_accessor && m_accessor->getDeviceInfo(&info) >= 0) {
        const int number = paramSetNumber(info.paramsetver);
        m_phantomPath = QString::fromLatin1(number >= kFirstActiveParamSet ? kActivePath : kLeaderPath);
    }
    m_phantomController = std::make_unique<ControllerForZStateDisplay>(nullptr);
    m_phantomController->attach(m_phantomIndicator, m_accessor, m_phantomPath);
    return 0;
}

void UIMain::runMenu(const QList<QAction*>& actions)
{
    QMenu menu(this);
    menu.setFont(ZScale::scaleFont(scale(), 0, menu.font()));
    for (QAction* action : actions) {
        if (action)
            menu.addAction(action);
        else
            menu.addSeparator();
    }
    menu.exec(QCursor::pos());
}

JResult UIMain::haGainContextRequested()
{
    runMenu({m_allDefault, m_all0dB});
    return 0;
}

void UIMain::contextMenuEvent(QContextMenuEvent* event)
{
    if (m_openEdit)
        runMenu({m_openEdit, nullptr, m_properties});
    else
        runMenu({nullptr, m_properties});
    event->accept();
}

JResult UIMain::onOpenEditWindow()
{
    if (!m_host)
        return DEV_E_FAIL;
    return m_host->openEditWindow(m_unitId, m_viewKind, QVariant(0), m_viewKind == 1);
}

JResult UIMain::onProperty()
{
    if (!m_host)
        return DEV_E_FAIL;
    return m_host->showProperties(m_unitId);
}

int UIMain::pageAt(int y) const
{
    for (int row = 0; row < kMaxRows; ++row) {
        if (y >= kRowY + kRowDy * row && y < kRowY + kRowDy * (row + 1))
            return row < m_blockCount ? row : 0;
    }
    return 0;
}

void UIMain::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!m_host)
        return;
    // Rows are laid out in 100 % pixels; the event comes zoomed.
    const int page = pageAt(ZScale::unscaleValue(scale(), event->pos().y()));
    m_host->openEditWindow(m_unitId, m_viewKind, QVariant(page), m_viewKind == 1);
}

void UIMain::paintEvent(QPaintEvent*)
{
    Panels::paintBackground(this, m_background, QColor());
}

} // namespace Brox
