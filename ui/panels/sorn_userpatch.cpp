#include "ui/panels/sorn_userpatch.h"

#include "device/memory/dev_subscribe.h"
#include "pbd/jlib/jvariant.h"
#include "ui/panels/mavik_sorn_common.h"
#include "ui/panels/panel_images.h"
#include "ui/skins/zlook.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zselectiondisplay.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPalette>
#include <QScrollBar>

namespace Sorn {

namespace {

using IoPanels::path;
using Utility::MatrixPos;

const char* const kPatchSrc = "/Backup/Patch:%d/UserPatchSrc:%d";
const char* const kPatchSlotLockStatus = "/Current/Slot:%d/SLOTLockStatus:%d";
const QString kConfirmation = QStringLiteral("Confirmation");

constexpr int kCell = 14;
constexpr int kGroup = 16;
constexpr int kGroupGap = 4;
constexpr int kSlots = 4;
constexpr int kUpdateIntervalMs = 100;
const QColor kBackground(59, 59, 59);

// First source of each block of 16 outputs (0-63); outputs 64 + k always
// take source k.
constexpr int kBlockSources[kFixedPatternCount][4] = {
    {64, 80, 96, 112},
    {64, 0, 0, 0},
    {64, 0, 80, 32},
    {16, 0, 48, 32},
    {64, 64, 64, 64},
    {64, 64, 80, 80},
    {64, 80, 48, 32},
};

ZButton* toolButton(QWidget* parent, const char* image, int x, int y)
{
    auto* button = new ZButton(parent);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCombinedImage(Panels::loadPicture(image));
    button->setnSubImages(2);
    button->moveScaled(x, y);
    return button;
}

void tie(QScrollBar* a, QScrollBar* b)
{
    QObject::connect(a, &QScrollBar::valueChanged, b, &QScrollBar::setValue);
    QObject::connect(b, &QScrollBar::valueChanged, a, &QScrollBar::setValue);
}

bool isSpaceOrEnter(int key)
{
    return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

int fixedPatternSource(int pattern, int output)
{
    if (pattern < 0 || pattern >= kFixedPatternCount || output < 0 || output >= kPatchSize)
        return -1;
    if (output >= kSlotlessFirst)
        return output - kSlotlessFirst;
    return kBlockSources[pattern][output / kGroup] + output % kGroup;
}

UserPatch::UserPatch(QWidget* parent, Qt::WindowFlags flags)
    : ZScaledWidget(parent, flags)
    , m_timer(std::make_unique<QTimer>())
{
    setWindowTitle(QStringLiteral("USER PATTERN ROUTING"));
    setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowMaximizeButtonHint)
        & ~(Qt::WindowMinimizeButtonHint | Qt::WindowContextHelpButtonHint));
    resizeScaled(800, 600);
    setMaximumSizeScaled(QSize(2080, 2078));
    setMinimumSizeScaled(QSize(550, 300));
    QPalette palette = this->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setBrush(group, QPalette::Window, QBrush(kBackground));
    setPalette(palette);
    setAutoFillBackground(true);
}

UserPatch::~UserPatch()
{
    // The panel forgets this window before anything of it goes.
    emit deleted();
    m_timer->stop();
    m_timer.reset();
}

JResult UserPatch::setAccessor(Quil::IZDev* accessor)
{
    if (!accessor)
        return Quil::DEV_E_FAIL;
    m_accessor = accessor;

    m_presetButton = toolButton(this, ":sorn/images/tbtn_PRESET.png", 25, 14);
    connect(m_presetButton, &QPushButton::clicked, this, &UserPatch::presetButtonClicked);
    m_clearAllButton = toolButton(this, ":sorn/images/tbtn_CLEARALL.png", 118, 14);
    connect(m_clearAllButton, &QPushButton::clicked, this, &UserPatch::clearAllButtonClicked);

    m_patternMenu = std::make_unique<QMenu>();
    for (int i = 0; i < kFixedPatternCount; ++i)
        m_patternMenu->addAction(QString::asprintf("Pattern #%d", i + 1))->setData(i);

    auto* input = new ZScaledLabel(this);
    input->setPixmap(Panels::loadPicture(":sorn/images/txt_input.png"));
    input->setGeometryScaled(101, 57, 44, 16);
    auto* output = new ZScaledLabel(this);
    output->setPixmap(Panels::loadPicture(":sorn/images/txt_output.png"));
    output->setGeometryScaled(25, 89, 58, 16);

    createGrid();
    createInputNames();
    const JResult result = createOutputNames();

    if (m_grid && m_inputStrip && m_outputStrip) {
        tie(m_grid->horizontalScrollBar(), m_inputStrip->horizontalScrollBar());
        tie(m_grid->verticalScrollBar(), m_outputStrip->verticalScrollBar());
    }
    if (m_grid) {
        connect(m_grid, &ZGridView::currentMatrixPosChanged, this,
            [this](MatrixPos pos, bool) { gridCurrentMatrixPosChanged(pos); });
        connect(m_grid, &ZGridView::cursorLeft, this, &UserPatch::gridCursorLeft);
    }
    for (int s = 0; s < kSlots; ++s)
        Quil::subscribe(accessor, path(kPatchSlotLockStatus, s), this, &UserPatch::lockStatusChanged);
    lockStatusChanged();
    return result;
}

JResult UserPatch::createGrid()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    m_grid = new ZGridView(this);
    m_grid->setFrameShape(QFrame::NoFrame);
    m_grid->setToggleDisabled(true);
    auto* painter = new GridPainter;
    const QPixmap ball = Panels::loadPicture(":sorn/images/bg_patch_ball.png");
    painter->setOnPixmap(ball);
    painter->setDisabledOnPixmap(ball);
    painter->setBackgroundColor(kBackground);
    painter->setCurrentColor(QColor(200, 237, 247));
    painter->setNormalColor(QColor(255, 255, 255));
    painter->setDisabledColor(QColor(200, 200, 200));
    painter->setMarkedColor(QColor(117, 117, 117));
    m_grid->setup(kPatchSize, kPatchSize, kCell, 1, 1, painter);
    connect(m_grid, &ZGridView::clicked, this, &UserPatch::gridClicked);
    connect(m_grid, &ZGridView::keyPressed, this, &UserPatch::gridKeyPressed);
    for (int i = 0; i < kPatchSize; ++i)
        if (Quil::subscribe(m_accessor, path(kPatchSrc, i), this, &UserPatch::updatePatchFlagOn) < 0)
            return Quil::DEV_E_FAIL;
    m_updatePending = 1;
    connect(m_timer.get(), &QTimer::timeout, this, &UserPatch::preUpdatePatch);
    m_timer->start(kUpdateIntervalMs);
    for (int i = kGroup - 1; i < kPatchSize; i += kGroup) {
        m_grid->setRowGap(i, kGroupGap);
        m_grid->setColumnGap(i, kGroupGap);
    }
    m_grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    for (QScrollBar* bar : {m_grid->horizontalScrollBar(), m_grid->verticalScrollBar()})
        bar->setPalette(ZLook::darkPalette());
    m_grid->setGeometryScaled(101, 105, 500, 300);
    m_grid->viewport()->installEventFilter(this);
    m_grid->show();
    return 0;
}

JResult UserPatch::createNames(bool vertical)
{
    if (!m_grid)
        return Quil::DEV_E_FAIL;
    const QPixmap names
        = Panels::loadPicture(vertical ? ":sorn/images/bg_OutputName.png" : ":sorn/images/bg_InputName.png");
    const QPixmap selected = Panels::loadPicture(
        vertical ? ":sorn/images/bg_OutputPatchNo_Sel.png" : ":sorn/images/bg_InputPatchNo_Sel.png");
    const QPixmap numbers = Panels::loadPicture(
        vertical ? ":sorn/images/bg_OutputPatchNo_default.png" : ":sorn/images/bg_InputPatchNo_default.png");

    auto* area = new ZScaledScrollArea(this);
    area->setFocusPolicy(Qt::NoFocus);
    area->setFrameShape(QFrame::NoFrame);
    if (vertical)
        area->setGeometryScaled(25, 105, 75, 283);
    else
        area->setGeometryScaled(101, 73, 617, 30);
    auto* content = new ZScaledWidget;
    auto* label = new ZScaledLabel(content);
    label->setPixmap(names);
    label->setGeometryScaled(0, 0, names.width(), names.height());
    auto* display = new ZSelectionDisplay(content);
    display->setPixmaps(numbers, selected);
    const QSize matrix = m_grid->matrixSize();
    display->setCellLayout(
        QSize(kCell, kCell), vertical ? matrix.height() : matrix.width(), kGroup, 1, kGroupGap, vertical);
    if (vertical) {
        display->setGeometryScaled(names.width() + 1, 0, numbers.width(), numbers.height());
        content->setGeometryScaled(0, 0, names.width() + 1 + numbers.width(), names.height());
    } else {
        display->setGeometryScaled(0, names.height() + 1, numbers.width(), numbers.height());
        content->setGeometryScaled(0, 0, names.width(), names.height() + 1 + numbers.height());
    }
    area->setWidget(content);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->show();
    if (vertical) {
        m_outputStrip = area;
        m_outputContent = content;
        m_outputNames = label;
        m_outputNumbers = display;
    } else {
        m_inputStrip = area;
        m_inputContent = content;
        m_inputNames = label;
        m_inputNumbers = display;
    }
    return 0;
}

JResult UserPatch::createInputNames()
{
    return createNames(false);
}

JResult UserPatch::createOutputNames()
{
    return createNames(true);
}

JResult UserPatch::updatePatchFlagOn()
{
    m_updatePending = 1;
    return 0;
}

JResult UserPatch::preUpdatePatch()
{
    if (m_updatePending != 1)
        return 0;
    m_updatePending = 0;
    return updatePatch();
}

JResult UserPatch::updatePatch()
{
    if (!m_accessor || !m_grid)
        return Quil::DEV_E_FAIL;
    for (int r = 0; r < kPatchSize; ++r) {
        int source = 0;
        if (IoPanels::readInt(m_accessor, path(kPatchSrc, r), &source) < 0)
            continue;
        for (int c = 0; c < kPatchSize; ++c)
            m_grid->setValue({r, c}, false);
        // 255 (none), a source past the matrix, or a slotless pair: dark row.
        if (source >= 0 && source < kPatchSize && (r < kSlotlessFirst || source < kSlotlessFirst))
            m_grid->setValue({r, source}, true);
    }
    return 0;
}

JResult UserPatch::writeSource(int output, int source)
{
    return m_accessor->setValue(path(kPatchSrc, output), JLIB::JVariant(static_cast<int32_t>(source)), Quil::SOURCE_UI);
}

bool UserPatch::gridClicked(MatrixPos pos)
{
    if (!m_accessor || !m_grid)
        return false;
    if (pos.row < kSlotlessFirst || pos.column < kSlotlessFirst) {
        const int source = m_grid->value(pos) ? pos.column : kNoSource;
        const bool written = writeSource(pos.row, source) >= 0;
        // A refused write changes no memory, so no redraw would come: ask for
        // one, or the grid would show a route the unit does not have.
        if (!written)
            updatePatchFlagOn();
        return written;
    }
    updatePatch();
    QMessageBox::information(this, kConfirmation, QStringLiteral("Not Supported."));
    return false;
}

JResult UserPatch::gridKeyPressed(QKeyEvent* evnt)
{
    if (!m_accessor || !m_grid)
        return Quil::DEV_E_FAIL;
    MatrixPos pos;
    if (evnt && isSpaceOrEnter(evnt->key()) && m_grid->currentMatrixPos(&pos))
        gridClicked(pos);
    return 0;
}

JResult UserPatch::gridCurrentMatrixPosChanged(MatrixPos pos)
{
    if (m_outputNumbers)
        m_outputNumbers->setSelection(pos.row);
    if (m_inputNumbers)
        m_inputNumbers->setSelection(pos.column);
    return 0;
}

JResult UserPatch::gridCursorLeft()
{
    if (m_outputNumbers)
        m_outputNumbers->setSelection(-1);
    if (m_inputNumbers)
        m_inputNumbers->setSelection(-1);
    return 0;
}

JResult UserPatch::presetButtonClicked()
{
    if (!m_patternMenu)
        return Quil::DEV_E_FAIL;
    const QFont font = m_patternMenu->font();
    m_patternMenu->setFont(ZScale::scaleFont(scale(), 0, font));
    QAction* chosen = m_patternMenu->exec(QCursor::pos());
    m_patternMenu->setFont(font);
    if (!chosen)
        return Quil::DEV_E_FAIL;
    return recallPattern(chosen->data().toInt());
}

bool UserPatch::ask(const QString& question)
{
    QMessageBox box(QMessageBox::Question, kConfirmation, question, QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

JResult UserPatch::recallPattern(int index)
{
    if (!m_accessor || index < 0 || index >= kFixedPatternCount)
        return Quil::DEV_E_FAIL;
    if (!ask(QString::asprintf("Recall Pattern #%d?", index + 1)))
        return 0;
    for (int output = 0; output < kPatchSize; ++output)
        if (writeSource(output, fixedPatternSource(index, output)) < 0)
            return Quil::DEV_E_FAIL;
    return 0;
}

JResult UserPatch::clearAllButtonClicked()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    if (!ask(QStringLiteral("Clear All Patches?")))
        return 0;
    for (int output = 0; output < kPatchSize; ++output)
        if (writeSource(output, kNoSource) < 0)
            return Quil::DEV_E_FAIL;
    return 0;
}

JResult UserPatch::lockStatusChanged()
{
    if (!m_accessor)
        return Quil::DEV_E_FAIL;
    std::vector<GridView::Area> disabled;
    for (int s = 0; s < kSlots; ++s) {
        int lock = 0;
        if (IoPanels::readInt(m_accessor, path(kPatchSlotLockStatus, s), &lock) < 0 || lock != 0)
            continue;
        disabled.push_back({0, kGroup * s, kPatchSize, kGroup});
        disabled.push_back({kGroup * s, 0, kGroup, kPatchSize});
    }
    if (m_grid) {
        m_grid->setDisabledAreas(disabled);
        m_grid->setMarkedAreas({{kSlotlessFirst, kSlotlessFirst, kSlotlessFirst, kSlotlessFirst}});
    }
    return 0;
}

bool UserPatch::eventFilter(QObject* watched, QEvent* event)
{
    if (m_grid && watched == m_grid->viewport() && event->type() == QEvent::Resize)
        followGrid();
    return ZScaledWidget::eventFilter(watched, event);
}

void UserPatch::followGrid()
{
    const int width = m_grid->viewport()->width();
    const int height = m_grid->viewport()->height();
    if (m_inputStrip)
        m_inputStrip->resize(width, m_inputStrip->height());
    if (m_outputStrip)
        m_outputStrip->resize(m_outputStrip->width(), height);
    if (m_inputStrip)
        m_inputStrip->horizontalScrollBar()->setValue(m_grid->horizontalScrollBar()->value());
    if (m_outputStrip)
        m_outputStrip->verticalScrollBar()->setValue(m_grid->verticalScrollBar()->value());
}

void UserPatch::resizeEvent(QResizeEvent* evnt)
{
    ZScaledWidget::resizeEvent(evnt);
    if (!m_grid)
        return;
    m_grid->resizeScaled(unscaledWidth() - 122, unscaledHeight() - 120);
    followGrid();
}

} // namespace Sorn
