// The firmware update window's fixed form: the package path, the framed
// firmware information, the headed unit list in a scroll area and the two
// buttons, built at 100 % and scaled once by the window's zoom code. The
// window's behaviour (package choice, discovery, analysis, runs) builds on
// this form.
#pragma once

#include "widgets/zscaled.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QWidget;

namespace Quil {

class DeviceObject;

// The form's widgets, made by setupUi and named as the window's code and
// style sheets address them.
struct Ui_FirmUpdateUI {
    QLabel* m_lblFilePath = nullptr;
    QLineEdit* m_lblFileName = nullptr;
    QPushButton* m_btnFileSelect = nullptr;
    QLabel* m_lblInfo = nullptr;
    QFrame* m_FrameFirmInfo = nullptr;
    QLabel* m_lbltitle_type = nullptr;
    QLabel* m_lblInfo_type = nullptr;
    QFrame* line_2 = nullptr;
    QLabel* m_lbltitle_modelVersion = nullptr;
    QLabel* m_lblInfo_modelVersion = nullptr;
    QLabel* m_lblInfo_modelVersion_msg = nullptr;
    QFrame* line_3 = nullptr;
    QLabel* m_lbltitle_danteVersion = nullptr;
    QLabel* m_lblInfo_danteVersion_BN2 = nullptr;
    QLabel* m_lblInfo_danteModel_BN2 = nullptr;
    QFrame* line_11 = nullptr;
    QLabel* m_lbltitle_danteVersion_2 = nullptr;
    QLabel* m_lblInfo_danteVersion_BN3 = nullptr;
    QLabel* m_lblInfo_danteModel_BN3 = nullptr;
    QFrame* line = nullptr;
    QLabel* m_Devices = nullptr;
    QFrame* line_4 = nullptr;
    QLabel* label = nullptr;
    QLabel* label_4 = nullptr;
    QLabel* label_5 = nullptr;
    QLabel* label_6 = nullptr;
    QFrame* line_5 = nullptr;
    QFrame* line_6 = nullptr;
    QFrame* line_7 = nullptr;
    QFrame* line_8 = nullptr;
    QFrame* line_9 = nullptr;
    QFrame* line_10 = nullptr;
    QScrollArea* m_scrollArea = nullptr;
    QWidget* scrollAreaWidgetContents = nullptr;
    QFrame* m_DeviceObjframe = nullptr;
    QPushButton* m_btnUpdate = nullptr;
    QPushButton* m_btnCancel = nullptr;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};

class FirmUpdateUI : public ZScaledDialog {
    Q_OBJECT

public:
    explicit FirmUpdateUI(QWidget* parent = nullptr);

    // Scales the form once from 100 %; the unit list frame keeps its font.
    bool applyScale(ZoomCode code) override;
    // Draws the row into the unit list frame and scales it to the zoom.
    void addRowWidget(DeviceObject* row);

    const Ui_FirmUpdateUI& form() const { return ui; }

protected:
    Ui_FirmUpdateUI ui;
};

} // namespace Quil
