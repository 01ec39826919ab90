// The firmware update window's form at every zoom code: names, kinds,
// geometry and texts, the fixed window size, the unit list's own font, and
// a row added at a zoom.
#include "tests/support/gui/gui_support.h"
#include "ui/fwupdate_ui/fw_deviceobject.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"
#include "ui/widgets/zscale.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <gtest/gtest.h>

namespace {

using namespace Quil;

struct Entry {
    const char* name;
    const char* kind;
    QRect geometry;
    const char* text; // null: no text to compare
};

const Entry kForm[] = {
    {"m_lblFilePath", "QLabel", {18, 18, 81, 20}, "File Path"},
    {"m_lblFileName", "QLineEdit", {20, 40, 491, 21}, ""},
    {"m_btnFileSelect", "QPushButton", {525, 35, 71, 35}, "Select"},
    {"m_lblInfo", "QLabel", {18, 70, 131, 41}, "Firmware Info"},
    {"m_FrameFirmInfo", "QFrame", {20, 104, 681, 101}, nullptr},
    {"m_lbltitle_type", "QLabel", {5, -1, 131, 30}, "Type"},
    {"m_lblInfo_type", "QLabel", {243, -1, 241, 30}, "----"},
    {"line_2", "QFrame", {2, 16, 681, 20}, nullptr},
    {"m_lbltitle_modelVersion", "QLabel", {5, 23, 221, 30}, "Model Firmware Version"},
    {"m_lblInfo_modelVersion", "QLabel", {243, 23, 91, 30}, "----"},
    {"m_lblInfo_modelVersion_msg", "QLabel", {330, 23, 350, 30}, ""},
    {"line_3", "QFrame", {2, 40, 681, 20}, nullptr},
    {"m_lbltitle_danteVersion", "QLabel", {5, 48, 211, 30}, "Dante Firmware Version"},
    {"m_lblInfo_danteVersion_BN2", "QLabel", {243, 47, 131, 30}, "----"},
    {"m_lblInfo_danteModel_BN2", "QLabel", {380, 47, 271, 30}, ""},
    {"line_11", "QFrame", {1, 67, 681, 20}, nullptr},
    {"m_lbltitle_danteVersion_2", "QLabel", {6, 73, 161, 30}, ""},
    {"m_lblInfo_danteVersion_BN3", "QLabel", {243, 73, 131, 30}, ""},
    {"m_lblInfo_danteModel_BN3", "QLabel", {380, 73, 271, 30}, ""},
    {"line", "QFrame", {224, 2, 30, 101}, nullptr},
    {"m_Devices", "QLabel", {18, 224, 131, 21}, "Updatable Devices"},
    {"line_4", "QFrame", {20, 240, 700, 20}, nullptr},
    {"label", "QLabel", {20, 250, 232, 21}, "Device Label"},
    {"label_4", "QLabel", {258, 250, 204, 21}, "Firmware Version"},
    {"label_5", "QLabel", {467, 250, 105, 21}, "Update Status"},
    {"label_6", "QLabel", {573, 250, 131, 21}, "Module / Progress"},
    {"line_5", "QFrame", {20, 249, 3, 22}, nullptr},
    {"line_6", "QFrame", {258, 249, 3, 22}, nullptr},
    {"line_7", "QFrame", {466, 249, 3, 22}, nullptr},
    {"line_8", "QFrame", {570, 249, 10, 22}, nullptr},
    {"line_9", "QFrame", {702, 249, 3, 22}, nullptr},
    {"line_10", "QFrame", {718, 248, 3, 23}, nullptr},
    {"m_scrollArea", "QScrollArea", {20, 270, 700, 261}, nullptr},
    {"scrollAreaWidgetContents", "QWidget", {0, 0, 529, 72}, nullptr},
    {"m_DeviceObjframe", "QFrame", {-1, -1, 671, 211}, nullptr},
    {"m_btnUpdate", "QPushButton", {490, 540, 91, 41}, "Update"},
    {"m_btnCancel", "QPushButton", {600, 540, 91, 41}, "Cancel"},
};

QString textOf(QWidget* w)
{
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* b = qobject_cast<QPushButton*>(w))
        return b->text();
    return QString();
}

TEST(FirmLayout, FormAtEveryZoom)
{
    for (ZoomCode code : {0u, 1u, 2u}) {
        SCOPED_TRACE("zoom " + std::to_string(code));
        FirmUpdateUI window;
        if (code)
            window.applyScale(code);
        EXPECT_EQ(window.scale(), code);
        EXPECT_EQ(window.objectName(), "FirmUpdateUI");
        EXPECT_EQ(window.windowTitle(), "Firmware Update");
        EXPECT_EQ(window.font().family(), "Arial");
        const QSize size = ZScale::scaleSize(code, QSize(741, 600));
        EXPECT_EQ(window.size(), size);
        EXPECT_EQ(window.minimumSize(), size);
        EXPECT_EQ(window.maximumSize(), size);
        for (const Entry& e : kForm) {
            SCOPED_TRACE(e.name);
            auto* w = window.findChild<QWidget*>(QString::fromLatin1(e.name));
            ASSERT_NE(w, nullptr);
            EXPECT_STREQ(w->metaObject()->className(), e.kind);
            EXPECT_EQ(w->geometry(), ZScale::scaleRect(code, e.geometry));
            if (e.text) {
                EXPECT_EQ(textOf(w), QString::fromLatin1(e.text));
            }
        }
        const Ui_FirmUpdateUI& ui = window.form();
        EXPECT_EQ(ui.m_DeviceObjframe->font().pixelSize(), 14);
        EXPECT_FALSE(ui.m_btnUpdate->isEnabled());
        EXPECT_FALSE(ui.m_btnCancel->isEnabled());
        EXPECT_TRUE(ui.m_lblFileName->isReadOnly());
        EXPECT_EQ(ui.m_btnFileSelect->focusPolicy(), Qt::NoFocus);
        EXPECT_EQ(ui.m_scrollArea->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_EQ(ui.m_scrollArea->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        EXPECT_EQ(ui.line_10->frameShadow(), QFrame::Raised);
        EXPECT_EQ(ui.line_9->frameShape(), QFrame::VLine);
        EXPECT_EQ(ui.line_4->frameShape(), QFrame::HLine);
        const Qt::WindowFlags flags = window.windowFlags();
        EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
        EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    }
}

TEST(FirmLayout, WindowCannotBeResized)
{
    FirmUpdateUI window;
    window.applyScale(1);
    ASSERT_TRUE(qtest::showAndWait(&window));
    EXPECT_EQ(window.size(), QSize(1112, 900));
    window.resize(1300, 1000);
    EXPECT_EQ(window.size(), QSize(1112, 900));
}

TEST(FirmLayout, RowsAddedAtAZoomAreScaled)
{
    for (ZoomCode code : {0u, 2u}) {
        SCOPED_TRACE("zoom " + std::to_string(code));
        FirmUpdateUI window;
        window.applyScale(code);
        DeviceObject first(0, 1);
        DeviceObject sixth(5, 1);
        window.addRowWidget(&first);
        window.addRowWidget(&sixth);
        const Ui_FirmUpdateUI& ui = window.form();
        EXPECT_EQ(ui.m_scrollArea->widget(), ui.m_DeviceObjframe);
        EXPECT_EQ(sixth.rowFrame()->parentWidget(), ui.m_DeviceObjframe);
        EXPECT_EQ(sixth.rowFrame()->geometry(), ZScale::scaleRect(code, QRect(0, 5 * 42, 681, 42)));
        auto* name = sixth.rowFrame()->findChild<QLabel*>(QStringLiteral("name"));
        EXPECT_EQ(name->geometry(), ZScale::scaleRect(code, QRect(-1, 0, 240, 40)));
        auto* status = sixth.rowFrame()->findChild<QLabel*>(QStringLiteral("danteStatus"));
        EXPECT_EQ(status->geometry(), ZScale::scaleRect(code, QRect(5, 2, 120, 17)));
        // The list holds every row at the zoom, and grows no further.
        EXPECT_EQ(ui.m_DeviceObjframe->size(), ZScale::scaleSize(code, QSize(681, 6 * 42)));
        window.addRowWidget(&first);
        EXPECT_EQ(ui.m_DeviceObjframe->size(), ZScale::scaleSize(code, QSize(681, 6 * 42)));
        EXPECT_EQ(ui.m_DeviceObjframe->font().pixelSize(), 14);
    }
}

} // namespace
