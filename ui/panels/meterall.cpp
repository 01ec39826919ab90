#include "ui/panels/meterall.h"

#include "app/app_quilobject.h"
#include "ui/panels/meterstrip.h"
#include "ui/skins/zlook.h"

#include <QPalette>
#include <QScrollBar>
#include <QVBoxLayout>

using namespace Quil;

namespace {

constexpr int kStripsPerColumn = 12;

Qt::WindowFlags windowFlagsOf(Qt::WindowFlags flags)
{
    return (flags & ~Qt::WindowContextHelpButtonHint) | Qt::CustomizeWindowHint | Qt::WindowMinimizeButtonHint
        | Qt::WindowMaximizeButtonHint;
}

} // namespace

MeterAll::MeterAll(QWidget* parent, Qt::WindowFlags flags, QuilObject* core)
    : ZScaledWidget(parent, windowFlagsOf(flags))
    , m_core(core)
{
    buildForm();
    if (m_core)
        connect(m_core, &QuilObject::mountChanged, this, &MeterAll::slotDeviceMountChanged, Qt::QueuedConnection);
}

MeterAll::~MeterAll()
{
    // The main window forgets its pointer before anything of ours goes.
    emit deleted();
}

void MeterAll::buildForm()
{
    setObjectName(QStringLiteral("MeterAll"));
    resizeScaled(765, 820);
    const QColor window(53, 50, 47);
    QPalette palette = this->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::Window, window);
    }
    palette.setColor(QPalette::Disabled, QPalette::Base, window);
    palette.setColor(QPalette::Disabled, QPalette::Window, window);
    setPalette(palette);
    QFont arial = font();
    arial.setFamily(QStringLiteral("Arial"));
    setFontScaled(arial);

    m_layout = new QVBoxLayout(this);
    m_layout->setObjectName(QStringLiteral("verticalLayout"));
    m_layout->setContentsMargins(1, 1, 1, 1);
    m_scrollArea = new ZScaledScrollArea(this);
    m_scrollArea->setObjectName(QStringLiteral("m_scrollArea"));
    m_scrollArea->setWidgetResizable(false);
    m_scrollArea->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (QScrollBar* bar : {m_scrollArea->horizontalScrollBar(), m_scrollArea->verticalScrollBar()})
        bar->setPalette(ZLook::darkPalette());
    auto* contents = new ZScaledWidget();
    contents->setObjectName(QStringLiteral("scrollAreaWidgetContents"));
    contents->setGeometryScaled(0, 0, 628, 342);
    m_scrollArea->setWidget(contents);
    m_layout->addWidget(m_scrollArea);
    setWindowTitle(QStringLiteral("Meter"));
}

MeterStrip* MeterAll::strip(int slot) const
{
    return slot >= 0 && slot < kRackSlotCount ? m_strips[static_cast<size_t>(slot)] : nullptr;
}

JResult MeterAll::setLayoutMode(int mode)
{
    if (mode != OneLine && mode != TwoLine)
        return DEV_E_FAIL;
    if (mode == m_layoutMode)
        return 0;
    m_layoutMode = mode;

    auto* frame = new ZScaledFrame(this);
    frame->setAutoFillBackground(true);
    QPalette palette = frame->palette();
    palette.setColor(QPalette::Window, QColor(90, 90, 90));
    frame->setPalette(palette);
    // The previous frame goes with its strips and their controllers.
    m_scrollArea->setWidget(frame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    for (int i = 0; i < kRackSlotCount; ++i)
        m_strips[static_cast<size_t>(i)] = new MeterStrip(frame, m_core ? m_core->rackDevice(i) : nullptr, i + 1);
    placeStrips();

    const int h = MeterStrip::kHeight;
    const int w = MeterStrip::kWidth;
    // The bar's extent, and around the view the layout's margins and the
    // view's frame, so the strips are not cut at the window's edge.
    const int s = m_scrollArea->horizontalScrollBar()->sizeHint().height();
    const QMargins margins = m_layout->contentsMargins();
    const int frameWidth = 2 * m_scrollArea->frameWidth();
    const int cw = s + margins.left() + margins.right() + frameWidth;
    const int ch = s + margins.top() + margins.bottom() + frameWidth;
    // The window's 100 % size is the layout's, not the form's first size.
    setBaseSize(QSize(-1, -1));
    if (mode == OneLine) {
        frame->resizeScaled(w - 1, 24 * h - 23);
        setMaximumSizeScaled(QSize(w + cw, 24 * h - 23 + ch));
        resizeScaled(w + cw, (24 * h - 23 + ch) / 2);
    } else {
        frame->resizeScaled(2 * w - 2, 12 * h - 11);
        setMaximumSizeScaled(QSize(2 * w - 1 + cw, 12 * h - 11 + ch));
        resizeScaled(2 * w - 1 + cw, 12 * h - 11 + ch);
    }
    return 0;
}

void MeterAll::placeStrips()
{
    int x = 1;
    int y = 0;
    int k = 0;
    for (MeterStrip* strip : m_strips) {
        if (!strip)
            continue;
        strip->moveScaled(x, y);
        if (strip->isHidden() && !m_countHidden)
            continue;
        // Neighbours share their one-pixel border.
        y += MeterStrip::kHeight - 1;
        if (m_layoutMode == TwoLine && k == kStripsPerColumn - 1) {
            y = 0;
            x += MeterStrip::kWidth - 1;
        }
        ++k;
    }
}

JResult MeterAll::slotDeviceMountChanged(uint unitId, int)
{
    if (unitId >= static_cast<uint>(kRackSlotCount))
        return DEV_E_FAIL;
    MeterStrip* strip = m_strips[unitId];
    // A window not laid out yet has no strips to bind.
    if (!strip)
        return DEV_E_FAIL;
    strip->setAccessor(m_core ? m_core->rackDevice(static_cast<int>(unitId)) : nullptr);
    placeStrips();
    return 0;
}
