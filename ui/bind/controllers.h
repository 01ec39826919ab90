// Controllers: one small object per widget that binds it to one parameter
// of a unit. A controller shows what the memory holds, writes what the user
// sets with source 1 (the user interface) and follows later changes through
// IZDev::subscribe. A write the memory refuses puts the widget back to the
// value that stands. The widget is held by a guarded pointer, so a
// controller whose widget is gone does nothing.
#pragma once

#include "device/dev_izdev.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>

class QPushButton;
class QDial;
class ZLabelDisplay;
class ZMeter;
class ZPopup;
class ZStateDisplay;
class IStringParamConverter;
class ParamConverterMeter41pix;

// Key under which controllers subscribe to their parameter.

class ControllerForQDial : public QObject {
    Q_OBJECT
public:
    explicit ControllerForQDial(QObject* parent);
    JResult attach(QDial* dial, Quil::IZDev* accessor, const QString& path, unsigned step = 1);

public slots:
    void valueChangedSlot(int val);
    void memParamChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Rounded up to the next multiple of the step, then into the dial's range.
    int roundToStep(int value) const;
    void writeDefault(bool nominal);

    Quil::IZDev* m_accessor = nullptr;
    QPointer<QDial> m_dial;
    QString m_path;
    unsigned m_step = 1;
    bool m_updating = false;
};

class ControllerForQPushButton : public QObject {
    Q_OBJECT
public:
    explicit ControllerForQPushButton(QObject* parent);
    JResult attach(QPushButton* button, Quil::IZDev* accessor, const QString& path);

public slots:
    void memParamChanged();
    void pressedSlot();
    void releasedSlot();
    void toggledSlot(bool checked);

private:
    Quil::IZDev* m_accessor = nullptr;
    QPointer<QPushButton> m_button;
    QString m_path;
    // Set while memParamChanged moves the button: that toggle writes nothing.
    bool m_updating = false;
};

class ControllerForZLabelDisplay : public QObject {
    Q_OBJECT
public:
    ControllerForZLabelDisplay(const IStringParamConverter* converter, QObject* parent);
    JResult attach(ZLabelDisplay* label, Quil::IZDev* accessor, const QString& path);
    bool isEditing() const { return m_editing; }

public slots:
    void memParamChanged();
    void startEditSlot();
    void abortEditSlot();
    void acceptEditSlot();

private:
    const IStringParamConverter* const m_converter;
    Quil::IZDev* m_accessor = nullptr;
    QPointer<ZLabelDisplay> m_label;
    QString m_path;
    bool m_editing = false;
    QString m_savedText;
};

class ControllerForZMeter : public QObject {
    Q_OBJECT
public:
    ControllerForZMeter(const ParamConverterMeter41pix* converter, QObject* parent);
    JResult attach(ZMeter* meter, Quil::IZDev* accessor, const QString& meterPath, uint32_t channel);

public slots:
    void meterChanged(uint8_t peak, uint8_t data);

private:
    const ParamConverterMeter41pix* const m_converter;
    Quil::IZDev* m_accessor = nullptr;
    QPointer<ZMeter> m_meter;
    QString m_path;
    uint32_t m_channel = 0;
};

class ControllerForZPopup : public QObject {
    Q_OBJECT
public:
    explicit ControllerForZPopup(QObject* parent);
    JResult attach(ZPopup* popup, Quil::IZDev* accessor, const QString& path);

public slots:
    void memParamChanged();
    void itemSelectedSlot(int id);

private:
    Quil::IZDev* m_accessor = nullptr;
    QPointer<ZPopup> m_popup;
    QString m_path;
};

class ControllerForZStateDisplay : public QObject {
    Q_OBJECT
public:
    explicit ControllerForZStateDisplay(QObject* parent);
    JResult attach(ZStateDisplay* display, Quil::IZDev* accessor, const QString& path);

public slots:
    void memParamChanged();

private:
    Quil::IZDev* m_accessor = nullptr;
    QPointer<ZStateDisplay> m_display;
    QString m_path;
};
