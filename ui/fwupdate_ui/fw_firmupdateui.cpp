#include "ui/fwupdate_ui/fw_firmupdateui.h"

#include "ui/fwupdate_ui/fw_deviceobject.h"
#include "ui/widgets/zscale.h"

#include <QCoreApplication>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>

#include <algorithm>
#include <utility>

namespace Quil {

namespace {

constexpr int kWidth = 741;
constexpr int kHeight = 600;
constexpr int kListFontPixels = 14;

template <class W> W* make(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* w = new W(parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(geometry);
    return w;
}

QFrame* frameOf(QWidget* parent, const char* name, const QRect& geometry, QFrame::Shape shape,
    QFrame::Shadow shadow = QFrame::Sunken)
{
    QFrame* f = make<QFrame>(parent, name, geometry);
    f->setFrameShape(shape);
    f->setFrameShadow(shadow);
    return f;
}

QLabel* centred(QWidget* parent, const char* name, const QRect& geometry)
{
    QLabel* l = make<QLabel>(parent, name, geometry);
    l->setAlignment(Qt::AlignCenter);
    return l;
}

} // namespace

void Ui_FirmUpdateUI::setupUi(QDialog* dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("FirmUpdateUI"));
    dialog->resize(kWidth, kHeight);
    dialog->setMinimumSize(kWidth, kHeight);
    dialog->setMaximumSize(kWidth, kHeight);
    QFont font;
    font.setFamily(QStringLiteral("Arial"));
    dialog->setFont(font);

    m_lblFilePath = make<QLabel>(dialog, "m_lblFilePath", QRect(18, 18, 81, 20));
    m_lblFilePath->setLineWidth(1);
    m_lblFilePath->setTextFormat(Qt::AutoText);
    m_lblFileName = make<QLineEdit>(dialog, "m_lblFileName", QRect(20, 40, 491, 21));
    m_lblFileName->setReadOnly(true);
    m_lblFileName->setFocusPolicy(Qt::NoFocus);
    m_btnFileSelect = make<QPushButton>(dialog, "m_btnFileSelect", QRect(525, 35, 71, 35));
    m_btnFileSelect->setFocusPolicy(Qt::NoFocus);
    m_lblInfo = make<QLabel>(dialog, "m_lblInfo", QRect(18, 70, 131, 41));

    m_FrameFirmInfo = frameOf(dialog, "m_FrameFirmInfo", QRect(20, 104, 681, 101), QFrame::Box, QFrame::Raised);
    QFrame* info = m_FrameFirmInfo;
    m_lbltitle_type = make<QLabel>(info, "m_lbltitle_type", QRect(5, -1, 131, 30));
    m_lblInfo_type = make<QLabel>(info, "m_lblInfo_type", QRect(243, -1, 241, 30));
    line_2 = frameOf(info, "line_2", QRect(2, 16, 681, 20), QFrame::HLine);
    m_lbltitle_modelVersion = make<QLabel>(info, "m_lbltitle_modelVersion", QRect(5, 23, 221, 30));
    m_lblInfo_modelVersion = make<QLabel>(info, "m_lblInfo_modelVersion", QRect(243, 23, 91, 30));
    m_lblInfo_modelVersion_msg = make<QLabel>(info, "m_lblInfo_modelVersion_msg", QRect(330, 23, 350, 30));
    line_3 = frameOf(info, "line_3", QRect(2, 40, 681, 20), QFrame::HLine);
    m_lbltitle_danteVersion = make<QLabel>(info, "m_lbltitle_danteVersion", QRect(5, 48, 211, 30));
    m_lblInfo_danteVersion_BN2 = make<QLabel>(info, "m_lblInfo_danteVersion_BN2", QRect(243, 47, 131, 30));
    m_lblInfo_danteModel_BN2 = make<QLabel>(info, "m_lblInfo_danteModel_BN2", QRect(380, 47, 271, 30));
    line_11 = frameOf(info, "line_11", QRect(1, 67, 681, 20), QFrame::HLine);
    m_lbltitle_danteVersion_2 = make<QLabel>(info, "m_lbltitle_danteVersion_2", QRect(6, 73, 161, 30));
    m_lblInfo_danteVersion_BN3 = make<QLabel>(info, "m_lblInfo_danteVersion_BN3", QRect(243, 73, 131, 30));
    m_lblInfo_danteModel_BN3 = make<QLabel>(info, "m_lblInfo_danteModel_BN3", QRect(380, 73, 271, 30));
    line = frameOf(info, "line", QRect(224, 2, 30, 101), QFrame::VLine);

    m_Devices = make<QLabel>(dialog, "m_Devices", QRect(18, 224, 131, 21));
    line_4 = frameOf(dialog, "line_4", QRect(20, 240, 700, 20), QFrame::HLine);
    label = centred(dialog, "label", QRect(20, 250, 232, 21));
    label_4 = centred(dialog, "label_4", QRect(258, 250, 204, 21));
    label_5 = centred(dialog, "label_5", QRect(467, 250, 105, 21));
    label_6 = centred(dialog, "label_6", QRect(573, 250, 131, 21));
    line_5 = frameOf(dialog, "line_5", QRect(20, 249, 3, 22), QFrame::VLine);
    line_6 = frameOf(dialog, "line_6", QRect(258, 249, 3, 22), QFrame::VLine);
    line_7 = frameOf(dialog, "line_7", QRect(466, 249, 3, 22), QFrame::VLine);
    line_8 = frameOf(dialog, "line_8", QRect(570, 249, 10, 22), QFrame::VLine);
    line_9 = frameOf(dialog, "line_9", QRect(702, 249, 3, 22), QFrame::VLine);
    line_10 = frameOf(dialog, "line_10", QRect(718, 248, 3, 23), QFrame::VLine, QFrame::Raised);

    m_scrollArea = make<QScrollArea>(dialog, "m_scrollArea", QRect(20, 270, 700, 261));
    m_scrollArea->setFocusPolicy(Qt::NoFocus);
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setWidgetResizable(false);
    scrollAreaWidgetContents = make<QWidget>(nullptr, "scrollAreaWidgetContents", QRect(0, 0, 529, 72));
    m_DeviceObjframe = frameOf(
        scrollAreaWidgetContents, "m_DeviceObjframe", QRect(-1, -1, 671, 211), QFrame::StyledPanel, QFrame::Raised);
    QFont listFont;
    listFont.setPixelSize(kListFontPixels);
    m_DeviceObjframe->setFont(listFont);
    m_scrollArea->setWidget(scrollAreaWidgetContents);

    m_btnUpdate = make<QPushButton>(dialog, "m_btnUpdate", QRect(490, 540, 91, 41));
    m_btnUpdate->setFocusPolicy(Qt::NoFocus);
    m_btnUpdate->setEnabled(false);
    m_btnCancel = make<QPushButton>(dialog, "m_btnCancel", QRect(600, 540, 91, 41));
    m_btnCancel->setFocusPolicy(Qt::NoFocus);
    m_btnCancel->setEnabled(false);

    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_FirmUpdateUI::retranslateUi(QDialog* dialog)
{
    const auto tr = [](const char* text) { return QCoreApplication::translate("FirmUpdateUI", text); };
    dialog->setWindowTitle(tr("Firmware Update"));
    m_lblFilePath->setText(tr("File Path"));
    m_btnFileSelect->setText(tr("Select"));
    m_lblInfo->setText(tr("Firmware Info"));
    m_lbltitle_type->setText(tr("Type"));
    m_lblInfo_type->setText(tr("----"));
    m_lbltitle_modelVersion->setText(tr("Model Firmware Version"));
    m_lblInfo_modelVersion->setText(tr("----"));
    m_lblInfo_modelVersion_msg->setText(QString());
    m_lbltitle_danteVersion->setText(tr("Dante Firmware Version"));
    m_lblInfo_danteVersion_BN2->setText(tr("----"));
    m_lblInfo_danteModel_BN2->setText(QString());
    m_lbltitle_danteVersion_2->setText(QString());
    m_lblInfo_danteVersion_BN3->setText(QString());
    m_lblInfo_danteModel_BN3->setText(QString());
    m_Devices->setText(tr("Updatable Devices"));
    label->setText(tr("Device Label"));
    label_4->setText(tr("Firmware Version"));
    label_5->setText(tr("Update Status"));
    label_6->setText(tr("Module / Progress"));
    m_btnUpdate->setText(tr("Update"));
    m_btnCancel->setText(tr("Cancel"));
}

// ---------------------------------------------------------------------------

FirmWindowTimings& firmWindowDefaultTimings()
{
    static FirmWindowTimings timings;
    return timings;
}

FirmUpdateUI::FirmUpdateUI(
    QWidget* parent, Qt::WindowFlags flags, ModelFirmUpdaterFactory factory, const FirmWindowTimings& timings)
    : ZScaledDialog(parent,
        flags | Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
    , m_factory(std::move(factory))
    , m_timings(timings)
{
    ui.setupUi(this);
    connect(ui.m_btnFileSelect, &QPushButton::clicked, this, &FirmUpdateUI::openFileSelect);
    connect(ui.m_btnUpdate, &QPushButton::clicked, this, &FirmUpdateUI::startFirmUpdate);
    connect(ui.m_btnCancel, &QPushButton::clicked, this, &FirmUpdateUI::cancelUpdate);
    connect(
        this, &FirmUpdateUI::signalDanteTransferProgressValue, this, &FirmUpdateUI::danteTransferProgressValueChanged);
    m_agentTimer.setSingleShot(true);
    m_agentTimer.setInterval(m_timings.agentMs);
    connect(&m_agentTimer, &QTimer::timeout, this, &FirmUpdateUI::onTimeoutDfuCallback_InitializeDfa);
    // The Dante front calls on its own tasks; the window handles on its own.
    connect(
        this, &FirmUpdateUI::signalDfuAppCallback, this, &FirmUpdateUI::receiveDfuAppCallback, Qt::QueuedConnection);
    connect(this, &FirmUpdateUI::signalDfuAppErrorCallback, this, &FirmUpdateUI::receiveDfuAppErrorCallback,
        Qt::QueuedConnection);
    connect(this, &FirmUpdateUI::signalDfuSendDataCallback, this, &FirmUpdateUI::receiveDfuSendDataCallback,
        Qt::QueuedConnection);
    ui.m_btnUpdate->setEnabled(false);
    ui.m_btnCancel->setEnabled(false);
}

bool FirmUpdateUI::applyScale(ZoomCode code)
{
    const QSize minimum = ZScale::scaleSize(code, minimumSize());
    const QSize maximum = ZScale::scaleSize(code, maximumSize());
    // The maximum first: a minimum above the old maximum would raise it.
    setMaximumSize(maximum);
    setMinimumSize(minimum);
    resize(ZScale::scaleSize(code, size()));
    const QFont listFont = ui.m_DeviceObjframe->font();
    ZScale::scaleChildWidgets(this, code);
    ui.m_DeviceObjframe->setFont(listFont);
    return setScale(code);
}

void FirmUpdateUI::addRowWidget(DeviceObject* row)
{
    if (!row)
        return;
    const ZoomCode code = scale();
    QFrame* list = ui.m_DeviceObjframe;
    const int heightBefore = list->height();
    QFrame* frame = row->makeRow(list);
    if (!frame)
        return;
    ZScale::scaleChildWidgets(frame, code);
    frame->resize(ZScale::scaleSize(code, frame->size()));
    frame->move(frame->x(), ZScale::scaleValue(code, frame->y()));
    // The row grew the list to its own bottom at 100 %; the list's height
    // is kept at the zoom already, so only the row's bottom is scaled.
    const int bottom = frame->y() + frame->height();
    list->resize(ZScale::scaleValue(code, DEVOBJ_ROW_WIDTH), std::max(heightBefore, bottom));
    // The scroll area takes the list as its content, replacing the empty
    // contents widget, and then follows its size. The list is moved out of
    // the old contents before those go.
    if (ui.m_scrollArea->widget() != list) {
        QWidget* old = ui.m_scrollArea->takeWidget();
        ui.m_scrollArea->setWidget(list);
        if (old != list)
            delete old;
        ui.scrollAreaWidgetContents = nullptr;
    }
}

} // namespace Quil
