#include "ui/panels/brox_uiedit.h"

#include "device/layouts/dev_modeltypes.h"
#include "pbd/jlib/jvariant.h"
#include "ui/bind/controllers.h"
#include "ui/panels/brox_editchstrip.h"
#include "ui/panels/imagepanel.h"
#include "ui/panels/panel_images.h"
#include "ui/widgets/zbutton.h"

#include <QAction>
#include <QButtonGroup>
#include <QCursor>
#include <QMenu>

namespace Brox {

namespace {

constexpr int kStripCount = 8;
constexpr int kWidth = 604;
constexpr int kHeight = 394;

enum class StripKind { Brox, Pell, Output };

struct WindowRow {
    StripKind kind;
    int channels;
    const char* background;
};

// The output view's window when asked for and the model has one.
bool opensOutputs(int type, bool option)
{
    const Quil::ModelTraits* traits = Quil::modelTraits(type);
    return option && traits && traits->outputView > 0;
}

WindowRow windowRow(int type, bool option)
{
    const Quil::ModelTraits* traits = Quil::modelTraits(type);
    if (opensOutputs(type, option))
        return {StripKind::Output, traits->outputView, "bg_edit_device_output.png"};
    if (!traits || traits->edit == Quil::EditWindow::None)
        return {StripKind::Brox, 0, "bg_edit_device.png"};
    const StripKind kind = traits->edit == Quil::EditWindow::Pell ? StripKind::Pell : StripKind::Brox;
    return {kind, traits->inputs, "bg_edit_device.png"};
}

QString tabText(int tab, bool output)
{
    const int first = 8 * tab + 1;
    if (output && first > 15)
        return QString::asprintf("AES/EBU %d-%d", first - 16, first - 9);
    return QString::asprintf("%d-%d", first, first + 7);
}

} // namespace

UIEdit::UIEdit(int deviceType, QWidget* parent, Qt::WindowFlags flags, bool option)
    : ZScaledWidget(parent, flags)
    , m_type(deviceType)
    , m_output(opensOutputs(deviceType, option))
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setFocusPolicy(Qt::ClickFocus);
    const WindowRow row = windowRow(deviceType, option);
    m_channelCount = row.channels;
    m_tabCount = row.channels / kStripCount;
    m_backgroundName = QString::fromLatin1(row.background);
    m_background = Panels::loadPicture(QStringLiteral(":brox/images/") + m_backgroundName);

    resizeScaled(kWidth, kHeight);
    setMinimumSizeScaled(QSize(kWidth, kHeight));
    setMaximumSizeScaled(QSize(kWidth, kHeight));

    m_panel = new ImagePanel(this);
    m_panel->setPixmap(m_background);
    m_panel->setGeometryScaled(0, 0, kWidth, kHeight);
    switch (row.kind) {
    case StripKind::Brox:
        buildStrips<EditChStrip>();
        break;
    case StripKind::Pell:
        buildStrips<Pell::EditChStrip>();
        break;
    case StripKind::Output:
        buildStrips<EditChStripOutput>();
        break;
    }

    if (deviceType != Quil::MODEL_BROXO_D) {
        m_peakHold = makeSwitchButton(m_panel, QRect(503, 9, 96, 20), QStringLiteral(":brox/images/tbtn_PEAKHOLD.png"));
    }
    m_allDefault = new QAction(QStringLiteral("All Default"), this);
    connect(m_allDefault, &QAction::triggered, this, &UIEdit::onAllDefultHaGain);
    m_all0dB = new QAction(QStringLiteral("All 0dB"), this);
    connect(m_all0dB, &QAction::triggered, this, &UIEdit::onAll0dBHaGain);
    buildTabs();
}

UIEdit::~UIEdit() = default;

template <class Strip> void UIEdit::buildStrips()
{
    std::vector<Strip*> strips;
    for (int k = 0; k < kStripCount; ++k) {
        auto* strip = new Strip(m_panel);
        strip->moveScaled(17 + 72 * k, 71);
        connect(strip, &Strip::haGainContextRequest, this, &UIEdit::haGainContextRequested);
        strip->setChannel(k);
        strips.push_back(strip);
        m_strips.push_back(strip);
    }
    chainTabOrder(strips);
}

void UIEdit::buildTabs()
{
    m_tabs = new QButtonGroup(this);
    const QPixmap image = Panels::loadPicture(QStringLiteral(":brox/images/tab_edit.png"));
    for (int t = 0; t < m_tabCount; ++t) {
        auto* tab = new ZButton(m_panel);
        tab->setCheckable(true);
        tab->setnSubImages(3);
        tab->setCombinedImage(image);
        tab->setFontScaled(arialFont(14, true));
        tab->setTextEnable(true);
        tab->setPressedTextColor(QColor(100, 100, 100));
        tab->setReleasedTextColor(QColor(200, 200, 200));
        tab->setText(tabText(t, m_output));
        tab->setGeometryScaled(17 + 144 * t, 34, 138, 30);
        m_tabs->addButton(tab, t);
    }
    if (QAbstractButton* first = m_tabs->button(m_page))
        first->setChecked(true);
    connect(m_tabs, &QButtonGroup::idClicked, this, &UIEdit::onTabClicked);
}

JResult UIEdit::init(uint32_t unitId, Quil::IZDev* accessor, IZMainUICallback* host)
{
    if (!accessor)
        return DEV_E_FAIL;
    m_accessor = accessor;
    m_host = host;
    m_unitId = unitId;
    Quil::DevInfoRecord info;
    showTitle(accessor->getDeviceInfo(&info) >= 0 ? info.devicename : QString());
    for (IEditChStrip* strip : m_strips)
        strip->setAccessor(accessor);
    m_peakHoldController = std::make_unique<ControllerForQPushButton>(nullptr);
    m_peakHoldController->attach(m_peakHold, accessor, QString::fromLatin1(kPeakHoldPath));
    return 0;
}

JResult UIEdit::setPage(const QVariant& page)
{
    return changePage(page.toInt());
}

JResult UIEdit::changePage(int page)
{
    if (page < 0 || page >= m_tabCount)
        return DEV_E_FAIL;
    if (page == m_page)
        return 0;
    m_page = page;
    for (int k = 0; k < static_cast<int>(m_strips.size()); ++k)
        m_strips[k]->setChannel(kStripCount * page + k);
    if (QAbstractButton* tab = m_tabs->button(page))
        tab->setChecked(true);
    return 0;
}

JResult UIEdit::onTabClicked(int)
{
    const int checked = m_tabs->checkedId();
    if (checked != m_page)
        changePage(checked);
    return 0;
}

JResult UIEdit::setDeviceName(const QString& name)
{
    showTitle(name);
    return 0;
}

void UIEdit::showTitle(const QString& name)
{
    setWindowTitle(QStringLiteral("%1 #%2: %3").arg(QString(), QString::number(m_unitId + 1), name));
}

JResult UIEdit::onAllDefultHaGain()
{
    return writeAllInputGains(m_accessor, m_channelCount, false);
}

JResult UIEdit::onAll0dBHaGain()
{
    return writeAllInputGains(m_accessor, m_channelCount, true);
}

JResult UIEdit::haGainContextRequested()
{
    // The window's own font, unscaled: the menu is not part of the zoom.
    QMenu menu(this);
    menu.addAction(m_allDefault);
    menu.addAction(m_all0dB);
    menu.exec(QCursor::pos());
    return 0;
}

} // namespace Brox
