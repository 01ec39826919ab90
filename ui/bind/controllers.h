// Controllers: one small object per widget that binds it to one parameter
// of a unit. A controller shows what the memory holds, writes what the user
// sets with source 1 (the user interface) and follows later changes through
// a typed subscription. A write the memory refuses puts the widget back to the
// value that stands. The widget is held by a guarded pointer, so a
// controller whose widget is gone does nothing.
#pragma once

#include "device/memory/dev_izdev.h"
#include "device/memory/dev_subscribe.h"
#include "pbd/jlib/jvariant.h"

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

// What every controller holds of its parameter: the unit, the path, the
// address (parsed once, when bound, and used for every value), the change
// subscription, the text converter (labels only) and the echo guard, raised
// while the controller moves its widget to the memory's value so that the
// widget's own signal writes nothing back.
class ParamBinding {
public:
    // Binds to a parameter; the subscriptions of an earlier binding end.
    void set(Quil::IZDev* accessor, const QString& path);
    void setConverter(const IStringParamConverter* converter) { m_converter = converter; }
    bool isBound() const { return m_accessor != nullptr; }
    Quil::IZDev* accessor() const { return m_accessor; }
    const QString& path() const { return m_path; }
    // The path parsed once, when bound; null when it does not parse.
    const Quil::MemAddress* address() const { return m_hasAddress ? &m_address : nullptr; }
    const IStringParamConverter* converter() const { return m_converter; }

    // The value as a signed 32-bit number.
    JResult read(int* value) const;
    // Written with the user interface's source.
    JResult write(int value) const;
    JResult write(const JLIB::JVariant& value) const;
    // Later changes call changed() in the owner's thread.
    template <class Owner> JResult follow(Owner* owner, void (Owner::*changed)())
    {
        return m_accessor ? m_subscription.add(m_accessor, m_path, owner, changed) : Quil::DEV_E_FAIL;
    }
    // New data of one channel of the bound meter calls data(peak, data).
    template <class Owner> JResult followMeter(Owner* owner, uint32_t channel, void (Owner::*data)(uint8_t, uint8_t))
    {
        return m_accessor ? m_subscription.addMeter(m_accessor, m_path, channel, owner, data) : Quil::DEV_E_FAIL;
    }

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
    // Held by value: an address inside the unit's own cache would not
    // outlive a unit mounted again behind the same accessor.
    Quil::MemAddress m_address;
    bool m_hasAddress = false;
    const IStringParamConverter* m_converter = nullptr;
    Quil::Subscriptions m_subscription;
    bool m_echo = false;
};

// The part every controller of one value shares: a change of the memory,
// or a write the memory refused, reads the value again and hands it to the
// widget kind's show().
class ParamController : public QObject {
    Q_OBJECT
public:
    // Reads the memory again and shows it.
    void memParamChanged() { refresh(); }

protected:
    explicit ParamController(QObject* parent);
    // Shows the value read; the read's result (DEV_E_FAIL once the widget
    // is gone).
    JResult refresh();
    // Later changes of the value are shown.
    JResult follow() { return m_binding.follow(this, &ParamController::memParamChanged); }
    virtual bool hasWidget() const = 0;
    virtual void show(int value) = 0;

    ParamBinding m_binding;
};

class ControllerForQDial : public ParamController {
    Q_OBJECT
public:
    explicit ControllerForQDial(QObject* parent);
    JResult attach(QDial* dial, Quil::IZDev* accessor, const QString& path, unsigned step = 1);

public slots:
    void valueChangedSlot(int val);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool hasWidget() const override { return !m_dial.isNull(); }
    void show(int value) override;
    // Rounded up to the next multiple of the step, then into the dial's range.
    int roundToStep(int value) const;
    void writeDefault(bool nominal);

    QPointer<QDial> m_dial;
    unsigned m_step = 1;
};

class ControllerForQPushButton : public ParamController {
    Q_OBJECT
public:
    explicit ControllerForQPushButton(QObject* parent);
    JResult attach(QPushButton* button, Quil::IZDev* accessor, const QString& path);

public slots:
    void pressedSlot();
    void releasedSlot();
    void toggledSlot(bool checked);

private:
    bool hasWidget() const override { return !m_button.isNull(); }
    void show(int value) override;

    QPointer<QPushButton> m_button;
};

class ControllerForZLabelDisplay : public ParamController {
    Q_OBJECT
public:
    ControllerForZLabelDisplay(const IStringParamConverter* converter, QObject* parent);
    JResult attach(ZLabelDisplay* label, Quil::IZDev* accessor, const QString& path);
    bool isEditing() const { return m_editing; }

public slots:
    void startEditSlot();
    void abortEditSlot();
    void acceptEditSlot();

private:
    bool hasWidget() const override { return !m_label.isNull(); }
    void show(int value) override;

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
    // The shown bytes (over bits dropped): every 50 ms tick brings every
    // channel's level, mostly the one on screen, and a repeat is answered
    // here without reaching into the meter widget.
    bool m_shown = false;
    uint8_t m_shownPeak = 0;
    uint8_t m_shownData = 0;
};

class ControllerForZPopup : public ParamController {
    Q_OBJECT
public:
    explicit ControllerForZPopup(QObject* parent);
    JResult attach(ZPopup* popup, Quil::IZDev* accessor, const QString& path);

public slots:
    void itemSelectedSlot(int id);

private:
    bool hasWidget() const override { return !m_popup.isNull(); }
    void show(int value) override;

    QPointer<ZPopup> m_popup;
};

class ControllerForZStateDisplay : public ParamController {
    Q_OBJECT
public:
    explicit ControllerForZStateDisplay(QObject* parent);
    JResult attach(ZStateDisplay* display, Quil::IZDev* accessor, const QString& path);

private:
    bool hasWidget() const override { return !m_display.isNull(); }
    void show(int value) override;

    QPointer<ZStateDisplay> m_display;
};
