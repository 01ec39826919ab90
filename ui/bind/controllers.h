// Controllers: one small object per widget that binds it to one parameter
// of a unit. A controller shows what the memory holds, writes what the user
// sets with source 1 (the user interface) and follows later changes through
// IZDev::subscribe. A write the memory refuses puts the widget back to the
// value that stands. The widget is held by a guarded pointer, so a
// controller whose widget is gone does nothing.
#pragma once

#include "device/dev_izdev.h"
#include "jlib/jvariant.h"

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

// What every controller holds of its parameter: the unit, the path and the
// echo guard, raised while the controller moves its widget to the memory's
// value so that the widget's own signal writes nothing back.
class ParamBinding {
public:
    void set(Quil::IZDev* accessor, const QString& path)
    {
        m_accessor = accessor;
        m_path = path;
    }
    bool isBound() const { return m_accessor != nullptr; }
    Quil::IZDev* accessor() const { return m_accessor; }
    const QString& path() const { return m_path; }

    // The value as a signed 32-bit number.
    JResult read(int* value) const;
    // Written with the user interface's source.
    JResult write(int value) const;
    JResult write(const JLIB::JVariant& value) const;
    // Later changes call the receiver's memParamChanged().
    JResult subscribe(QObject* receiver) const;

    bool echoing() const { return m_echo; }
    // Runs show() with the echo guard raised.
    template <typename Fn> void showing(Fn&& show)
    {
        m_echo = true;
        show();
        m_echo = false;
    }

private:
    Quil::IZDev* m_accessor = nullptr;
    QString m_path;
    bool m_echo = false;
};

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

    ParamBinding m_binding;
    QPointer<QDial> m_dial;
    unsigned m_step = 1;
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
    ParamBinding m_binding;
    QPointer<QPushButton> m_button;
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
    ParamBinding m_binding;
    QPointer<ZLabelDisplay> m_label;
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
    ParamBinding m_binding;
    QPointer<ZMeter> m_meter;
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
    ParamBinding m_binding;
    QPointer<ZPopup> m_popup;
};

class ControllerForZStateDisplay : public QObject {
    Q_OBJECT
public:
    explicit ControllerForZStateDisplay(QObject* parent);
    JResult attach(ZStateDisplay* display, Quil::IZDev* accessor, const QString& path);

public slots:
    void memParamChanged();

private:
    ParamBinding m_binding;
    QPointer<ZStateDisplay> m_display;
};
