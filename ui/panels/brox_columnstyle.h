// The look shared by the Brox and Pell channel columns, the output set-up
// block and the edit-window strips, and the memory paths of one channel.
// Every widget is placed and given its font in 100 % pixels.
#pragma once

#include "device/memory/dev_izdev.h"
#include "device/memory/dev_subscribe.h"

#include <QFont>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

#include <map>
#include <memory>
#include <vector>

class IStringParamConverter;
class QDial;
class QObject;
class QPushButton;
class ZButton;
class ZDial;
class ZLabelDisplay;
class ZMeter;
class ZScaledLabel;

namespace Brox {

using Quil::DEV_E_FAIL;
using Quil::SOURCE_UI;
// First output channel that is an AES/EBU output.
constexpr int kFirstAesChannel = 16;

// Arial bold, 11 pixels.
QFont panelFont();
QFont arialFont(int pixelSize, bool bold);

// Text of a channel's identify button: "5", or "AES 1" for output 16.
QString channelLabel(int channel, bool output);

ZButton* makeIdentifyButton(QWidget* parent, const QRect& geometry);
ZButton* makeSwitchButton(QWidget* parent, const QRect& geometry, const QString& image, int subImages = 4);
ZDial* makeKnob(QWidget* parent, const QRect& geometry, bool green = false);
ZLabelDisplay* makeValueDisplay(QWidget* parent, const QRect& geometry, bool withValidator = true);
ZScaledLabel* makeUnitLabel(QWidget* parent, const QRect& geometry);
// The meter frame at `frameAt` holding its meter; returns the meter.
ZMeter* makeMeter(QWidget* parent, const QPoint& frameAt);

// "/Backup/InCh:<n>/<name>:0".
QString inputPath(int channel, const char* name);
// "/Backup/OutCh:<n>/<name>:0", or OutChAES with n - 16 for the AES outputs.
QString outputPath(int channel, const char* name);
QString identifyPath(int channel, bool output);

extern const char* const kDelayScalePath;
extern const char* const kDelayFramePath;
extern const char* const kWordclockFsPath;
extern const char* const kPeakHoldPath;

// Writes 1 or 0 to the channel's identify element.
JResult writeIdentify(Quil::IZDev* accessor, int channel, bool output, int value);
// The default (or nominal) gain of input 0 written to inputs 0..count-1;
// nothing when that value cannot be read or there is no accessor.
JResult writeAllInputGains(Quil::IZDev* accessor, int count, bool nominal);

// Each widget's j-th focus widget before the next one's j-th.
template <class Widget> void chainTabOrder(const std::vector<Widget*>& widgets)
{
    for (size_t i = 0; i + 1 < widgets.size(); ++i) {
        QList<QWidget*> here;
        QList<QWidget*> next;
        widgets[i]->tabWidgets(&here);
        widgets[i + 1]->tabWidgets(&next);
        for (int j = 0; j < here.size() && j < next.size(); ++j)
            QWidget::setTabOrder(here.at(j), next.at(j));
    }
}

// A parameter as a signed 32-bit value; the read's result.
JResult readInt(Quil::IZDev* accessor, const QString& path, int* value);

// The converter and unit name of a delay scale, with the unit's sample rate
// or frame rate as the scale needs; null and an empty name for an unknown
// scale. A rate that cannot be read gives rate 0 or frame index -1.
const IStringParamConverter* delayConverterFor(Quil::IZDev* accessor, int scale, QString* unitName);

// The change subscriptions a widget made itself, so a rebinding drops the
// old ones before it makes new ones and handlers never multiply.
using Quil::Subscriptions;

// The controllers of one column or strip, one per bound widget: binding a
// widget again deletes its old controller first.
class Bindings {
public:
    JResult button(QPushButton* button, Quil::IZDev* accessor, const QString& path);
    JResult dial(QDial* dial, Quil::IZDev* accessor, const QString& path, unsigned step);
    JResult display(
        ZLabelDisplay* display, Quil::IZDev* accessor, const QString& path, const IStringParamConverter* converter);
    JResult meter(ZMeter* meter, Quil::IZDev* accessor, const char* meterPath, int channel);
    // Deletes the widget's controller, if any.
    void drop(const QWidget* widget);
    bool has(const QWidget* widget) const { return m_controllers.count(widget) != 0; }

private:
    std::map<const QWidget*, std::unique_ptr<QObject>> m_controllers;
};

} // namespace Brox
