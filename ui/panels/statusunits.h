// The SYNC and SYSTEM indicators of the unit panels: two LEDs that blink in
// step with every other LED (the global blink timer), a tooltip and an info
// or alert icon, all taken from one status value of the unit's memory.
#pragma once

#include "device/memory/dev_izdev.h"
#include "device/memory/dev_subscribe.h"
#include "ui/widgets/zscaled.h"

#include <QPointer>

#include <cstdint>

class ImagePanel;
class ZStateDisplay;

namespace Quil {

constexpr int STATUS_LEVEL_NONE = 0;
constexpr int STATUS_LEVEL_INFO = 2;
constexpr int STATUS_LEVEL_ALERT = 3;

int syncStatusLevel(int value);
int systemStatusLevel(int value);

// One status value: the blink pattern of each LED and the tooltip.
struct StatusRow {
    int first;
    int second;
    const char* tooltip;
};

// Common to both indicators; the kind supplies the path, pictures, table
// and level.
class StatusUnit : public ZScaledWidget {
    Q_OBJECT
public:
    struct Kind {
        const char* statusPath;
        const char* background;
        const char* secondLed;
        int firstLedX;
        int secondLedX;
        const StatusRow* table; // 14 rows
        int (*level)(int value);
    };

    StatusUnit(const Kind& kind, QWidget* parent, Qt::WindowFlags flags);

    virtual int setAccessor(IZDev* accessor);

    int firstPattern() const { return m_firstPattern; }
    int secondPattern() const { return m_secondPattern; }
    ZStateDisplay* firstLed() const { return m_firstLed; }
    ZStateDisplay* secondLed() const { return m_secondLed; }
    // The shown icon's resource, empty when none.
    const QString& iconName() const { return m_iconName; }

public slots:
    void onStateChanged(uint32_t stateNo);
    int memParamChanged();

private:
    int refresh();
    void clear();
    void setIcon(const QString& name);

    const Kind& m_kind;
    IZDev* m_accessor = nullptr;
    Quil::Subscriptions m_subscription;
    int m_firstPattern = 0;
    int m_secondPattern = 0;
    ImagePanel* m_background = nullptr;
    ZStateDisplay* m_firstLed = nullptr;
    ZStateDisplay* m_secondLed = nullptr;
    ZScaledLabel* m_icon = nullptr;
    QString m_iconName;
    bool m_blinkConnected = false;
};

class SyncUnit : public StatusUnit {
    Q_OBJECT
public:
    explicit SyncUnit(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
};

class SysUnit : public StatusUnit {
    Q_OBJECT
public:
    explicit SysUnit(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
};

} // namespace Quil
