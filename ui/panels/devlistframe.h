// The rack slot strip: DevListFrame holds one DevSelFrame per rack slot (slot
// number, model name, connection picture, alert icon and the device-id
// selector through which the user assigns a unit id); DevNameFrame is the
// bar that names the selected slot. GUI thread only.
#pragma once

#include "device/memory/dev_izdev.h"
#include "device/memory/dev_subscribe.h"
#include "ui/widgets/zscaled.h"

#include <QColor>
#include <QPixmap>
#include <QPointer>
#include <QStringList>

#include <vector>

class ZPopup;

// The connection pictures of a slot button.
enum SlotIndicatorState {
    SLOT_BLANK = 0,
    SLOT_VIRTUAL = 1,
    SLOT_DISCONNECTED = 2,
    SLOT_CONNECTING = 3,
    SLOT_CONNECTED = 4,
    SLOT_CONFLICT = 5,
    SLOT_DUPLICATED = 6,
};

// "J%03X" of a unit id.
QString unitIdText(int id);

class DevSelFrame : public ZScaledWidget {
    Q_OBJECT
public:
    explicit DevSelFrame(unsigned slot, QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    int setAccessor(Quil::IZDev* accessor);
    int setLabel(const QString& text);
    int setSelected(bool selected);
    int setMounted(bool mounted);
    // A selection the program makes: emits no deviceIdSelected.
    int setDeviceId(int id);
    int deviceId() const { return m_deviceId; }
    int setDeviceIdNames(const QStringList& names);
    int updateDeviceIdEnables(const std::vector<bool>& used);
    // Subscribes memParamChanged to the unit's state paths, once however
    // often it is called.
    int subscribeDevice();

    unsigned slot() const { return m_slot; }
    int indicator() const { return m_indicator; }
    const QString& label() const { return m_label; }
    bool isPressed() const { return m_pressed; }
    bool isSelected() const { return m_selected; }
    bool isMounted() const { return m_mounted; }
    bool hasAlert() const { return m_alertShown; }
    ZPopup* deviceIdPopup() const { return m_deviceIdPopup; }

signals:
    void selClicked(uint unitId);
    void selPressed(uint unitId);
    void selReleased(uint unitId);
    void contextMenuRequest(uint unitId);
    void deviceIdSelected(uint unitId, int deviceId);

public slots:
    int memParamChanged();
    void onDeviceIdMenuSelected(int selectedId);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    int deriveIndicator();
    int setIndicatorState(int state);
    int updateAlertIcon();
    // Moves the selector without it counting as the user's choice.
    void selectQuietly(int id);

    Quil::IZDev* m_accessor = nullptr;
    Quil::Subscriptions m_subscriptions;
    const unsigned m_slot;
    int m_indicator = SLOT_BLANK;
    QString m_label;
    QPixmap m_buttonPicture;
    QPixmap m_indicatorPicture;
    QColor m_normalPen;
    QColor m_pressedPen;
    QColor m_selectedPen;
    bool m_pressed = false;
    bool m_selected = false;
    bool m_mounted = false;
    int m_deviceId = -1;
    ZScaledLabel* m_alertIcon = nullptr;
    ZPopup* m_deviceIdPopup = nullptr;
    bool m_alertShown = false;
    bool m_quiet = false;
};

class DevListFrame : public ZScaledWidget {
    Q_OBJECT
public:
    explicit DevListFrame(int slotCount, QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    int setPixmap(const QPixmap& picture);
    int setSlotLabel(int index, const QString& text);
    int setAccessor(int index, Quil::IZDev* accessor);
    int setMounted(int index, bool mounted);
    int subscribeSlot(int index);
    int setSelected(int index);
    int setDeviceId(int index, int id);

    int slotCount() const { return m_slotCount; }
    DevSelFrame* button(int index) const;
    const QStringList& deviceIdNames() const { return m_deviceIdNames; }

signals:
    void selClicked(uint unitId);
    void selPressed(uint unitId);
    void selReleased(uint unitId);
    void contextMenuRequest(uint unitId);
    void deviceIdSelected(uint unitId, int deviceId);

public slots:
    void onDeviceIdSelected(uint unitId, int deviceId);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const int m_slotCount;
    QPixmap m_picture;
    QColor m_background;
    std::vector<QPointer<DevSelFrame>> m_buttons;
    QStringList m_deviceIdNames;
};

class DevNameFrame : public ZScaledWidget {
    Q_OBJECT
public:
    explicit DevNameFrame(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    int setName(int slot, const QString& name);
    int slot() const { return m_slot; }
    const QString& name() const { return m_name; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_slot = 0;
    QString m_name;
    QColor m_textColour;
    QPixmap m_picture;
    QColor m_background;
};
