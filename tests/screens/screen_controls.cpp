// The skinned controls in their states, and the device-id pop-up open.
#include "tests/screens/screen_sheet.h"
#include "tests/screens/screens.h"

#include "ui/widgets/zbutton.h"
#include "ui/widgets/zdial.h"
#include "ui/widgets/zlabeldisplay.h"
#include "ui/widgets/zmeter.h"
#include "ui/widgets/zpopup.h"
#include "ui/widgets/zselectiondisplay.h"
#include "ui/widgets/zstatedisplay.h"

namespace screens {
namespace {

ZButton* switchButton(const char* path, int frames, bool on, bool down)
{
    auto* b = new ZButton;
    b->setCheckable(true);
    b->setnSubImages(frames);
    b->setCombinedImage(QPixmap(QString::fromUtf8(path)));
    b->setChecked(on);
    b->setDown(down);
    return b;
}

ZButton* tab(const QString& text, bool on)
{
    auto* b = switchButton(":brox/images/tab_edit.png", 3, on, false);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(14);
    f.setWeight(75);
    b->setFontScaled(f);
    b->setText(text);
    b->setTextEnable(true);
    b->setPressedTextColor(QColor(100, 100, 100));
    b->setReleasedTextColor(QColor(200, 200, 200));
    return b;
}

// A meter in its base, as the panels build it.
ZScaledWidget* meter(int value, int peak)
{
    auto* base = new ZScaledLabel;
    base->setPixmap(QPixmap(QStringLiteral(":brox/images/meter_base.png")));
    auto* m = new ZMeter(base);
    m->moveScaled(2, 2);
    m->setMeterImage(QPixmap(QStringLiteral(":brox/images/meter_value.png")));
    m->setValue(value);
    m->setPeakHold(peak, 1);
    auto* holder = new ZScaledWidget;
    base->setParent(holder);
    base->setGeometryScaled(0, 0, 9, 45);
    return holder;
}

std::unique_ptr<QWidget> controls(ZoomCode code)
{
    Sheet sheet(760);
    const char* looks[] = {"off", "off, pressed", "on", "on, pressed"};
    for (int i = 0; i < 4; ++i)
        sheet.place(switchButton(":brox/images/tbtn_+48V.png", 4, i >= 2, i % 2 == 1), QSize(56, 20),
            QString::fromLatin1(looks[i]));
    sheet.place(
        switchButton(":brox/images/tbtn_PEAKHOLD.png", 4, true, false), QSize(96, 20), QStringLiteral("PEAK HOLD on"));
    sheet.newRow();
    sheet.place(tab(QStringLiteral("1-8"), true), QSize(138, 30), QStringLiteral("tab, on"));
    sheet.place(tab(QStringLiteral("9-16"), false), QSize(138, 30), QStringLiteral("tab, off"));
    sheet.place(tab(QStringLiteral("AES/EBU 1-8"), false), QSize(138, 30), QStringLiteral("tab, off"));
    sheet.newRow();
    for (int v : {0, 25, 50, 75, 100}) {
        auto* d = new ZDial;
        d->setCombinedImage(QPixmap(QStringLiteral(":brox/images/knob_white.png")));
        d->setnSubImages(101);
        d->setRange(0, 100);
        d->setValue(v);
        sheet.place(d, QSize(42, 42), QStringLiteral("knob %1").arg(v));
    }
    auto* green = new ZDial;
    green->setCombinedImage(QPixmap(QStringLiteral(":brox/images/knob_green.png")));
    green->setnSubImages(101);
    green->setRange(-20, 20);
    green->setValue(8);
    sheet.place(green, QSize(42, 42), QStringLiteral("green +8"));
    sheet.newRow();
    const char* leds[] = {":common/images/ind_dev_led_circle_green", ":common/images/ind_dev_led_circle_yellow.png",
        ":common/images/ind_dev_led_circle_red.png"};
    for (const char* path : leds) {
        for (int frame = 0; frame < 2; ++frame) {
            auto* led = new ZStateDisplay;
            led->setCombinedImage(QPixmap(QString::fromUtf8(path)));
            led->setnSubImages(2);
            led->setCurrentImageIndex(frame);
            sheet.place(led, QSize(16, 16), frame ? QStringLiteral("lit") : QStringLiteral("dark"));
        }
    }
    auto* blink = new ZStateDisplayBlink;
    blink->setCombinedImage(QPixmap(QStringLiteral(":sorn/images/ind_dev_led_circle_green_red_x2.png")));
    blink->setnSubImages(5);
    blink->setCurrentImageIndex(4);
    blink->setBlink(true);
    sheet.place(blink, QSize(16, 16), QStringLiteral("blinking"));
    auto* plusV = new ZStateDisplay;
    plusV->setCombinedImage(QPixmap(QStringLiteral(":brox/images/ind_+48V.png")));
    plusV->setnSubImages(2);
    plusV->setCurrentImageIndex(1);
    sheet.place(plusV, QSize(28, 14), QStringLiteral("+48V on"));
    sheet.newRow();
    for (int v : {0, 12, 25, 36, 41})
        sheet.place(meter(v, v ? v + 3 : 0), QSize(9, 45), QStringLiteral("meter %1").arg(v));
    auto* value = new ZLabelDisplay;
    value->setBackgroundImage(QPixmap(QStringLiteral(":brox/images/bg_textbox.png")));
    QPalette p = value->palette();
    p.setColor(QPalette::Text, Qt::white);
    p.setColor(QPalette::WindowText, Qt::white);
    value->setPalette(p);
    value->setFontPixelSize(11);
    value->setText(QStringLiteral("-12.5"));
    sheet.place(value, QSize(52, 16), QStringLiteral("value"));
    sheet.newRow();
    auto* strip = new ZScaledWidget;
    auto* numbers = new ZSelectionDisplay(strip);
    numbers->setGeometryScaled(0, 0, 1940, 14);
    numbers->setPixmaps(QPixmap(QStringLiteral(":sorn/images/bg_InputPatchNo_default.png")),
        QPixmap(QStringLiteral(":sorn/images/bg_InputPatchNo_Sel.png")));
    numbers->setCellLayout(QSize(14, 14), 128, 16, 1, 4, false);
    numbers->setSelection(17);
    sheet.place(strip, QSize(560, 14), QStringLiteral("input numbers, 18 selected"));
    sheet.newRow();
    auto* pattern = new ZButton;
    pattern->setnSubImages(2);
    pattern->setCombinedImage(QPixmap(QStringLiteral(":sorn/images/cbtn_black.png")));
    pattern->setText(QStringLiteral("PATTERN #3"));
    pattern->setTextEnable(true);
    pattern->setReleasedTextColor(Qt::white);
    pattern->setPressedTextColor(Qt::white);
    sheet.place(pattern, QSize(165, 25), QStringLiteral("text button"));
    return sheet.finish(code);
}

std::unique_ptr<QWidget> deviceIdPopup(ZoomCode code)
{
    auto host = std::make_unique<ZScaledWidget>();
    auto* popup = new ZPopup(host.get());
    popup->setObjectName(QStringLiteral("popup"));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    popup->setFontScaled(font);
    popup->setnSubImages(2);
    popup->setCombinedImage(QPixmap(QStringLiteral(":sorn/images/cbtn_black.png")));
    popup->setTextEnable(true);
    popup->setReleasedTextColor(Qt::white);
    popup->setPressedTextColor(Qt::white);
    QStringList ids{QStringLiteral("NONE")};
    for (int i = 0; i < 128; ++i)
        ids << QStringLiteral("J%1").arg(i, 3, 16, QLatin1Char('0')).toUpper();
    popup->setMenuItemList(ids);
    popup->setGroupOverride(QStringLiteral("1;16;16;16;16;16;16;16;16"));
    popup->setSelectionID(18);
    popup->moveScaled(10, 10);
    host->setGeometryScaled(0, 0, 200, 50);
    host->applyScale(code);
    return host;
}

QWidget* openPopup(QWidget* shown)
{
    auto* popup = shown->findChild<ZPopup*>(QStringLiteral("popup"));
    popup->dynamicPopup();
    return popup->popupFrame();
}

const ScreenRegistrar kControls({QStringLiteral("controls"), controls, nullptr});
const ScreenRegistrar kPopup({QStringLiteral("popup-device-id"), deviceIdPopup, openPopup});

} // namespace
} // namespace screens
