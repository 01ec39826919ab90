// The thin layer between the main window and the family panels: what a panel
// is to its host, what the host is to a panel, and the per-unit module that
// knows which family classes a device type takes. The main window never
// names a family class. GUI thread only.
#pragma once

#include "device/memory/dev_izdev.h"

#include <QObject>
#include <QVariant>
#include <QWidget>

#include <cstdint>

class IZMainUICallback;

// Every family main panel and the edit window, as a second base beside the
// widget.
class IZDevUI {
public:
    virtual ~IZDevUI() = default;
    // Null accessor or host: DEV_E_FAIL and nothing else happens. Otherwise
    // binds every control to the unit's memory and brings it up to date.
    virtual JResult init(uint32_t unitId, Quil::IZDev* accessor, IZMainUICallback* host) = 0;
    virtual JResult setPage(const QVariant& page) = 0;
    virtual JResult setDeviceName(const QString& name) = 0;
};

// The per-unit module the main window keeps for the unit it shows.
class IZDevUIBase {
public:
    virtual ~IZDevUIBase() = default;
    virtual JResult init(uint32_t unitId, Quil::IZDev* accessor) = 0;
    virtual bool hasEditWindow() const = 0;
    virtual QWidget* createEditWindow(
        int kind, const QVariant& page, QWidget* parent, Qt::WindowFlags flags, bool option)
        = 0;
    virtual IZDevUI* asDevUI(QWidget* widget) const = 0;
};

// The main window, as the panels see it.
class IZMainUICallback {
public:
    virtual ~IZMainUICallback() = default;
    virtual int openEditWindow(uint32_t unitId, int kind, const QVariant& page, bool option) = 0;
    // Closes and deletes every open edit window of the unit; returns 0.
    virtual int closeEditWindows(uint32_t unitId) = 0;
    virtual int showProperties(uint32_t unitId) = 0;
};

namespace Quil {

class UIBase : public QObject, public IZDevUIBase {
    Q_OBJECT
public:
    explicit UIBase(uint32_t type, QObject* parent = nullptr);

    JResult init(uint32_t unitId, IZDev* accessor) override;
    bool hasEditWindow() const override;
    // Kind and page are the host's business: it hands the page to the new
    // window through setPage.
    QWidget* createEditWindow(
        int kind, const QVariant& page, QWidget* parent, Qt::WindowFlags flags, bool option) override;
    IZDevUI* asDevUI(QWidget* widget) const override;

    uint32_t unitId() const { return m_unitId; }
    IZDev* accessor() const { return m_accessor; }
    uint32_t deviceType() const { return m_type; }

private:
    IZDev* m_accessor = nullptr;
    uint32_t m_unitId = 0;
    const uint32_t m_type;
};

// Types 1-12 give a module owned by the caller; any other type null.
IZDevUIBase* createUIBase(uint32_t type, QObject* parent = nullptr);

// The family's main panel, owned by the caller (its Qt parent and
// delete-on-close in practice); null for a type without a panel.
QWidget* createUIMain(uint32_t type, QWidget* parent, Qt::WindowFlags flags = {});

} // namespace Quil
