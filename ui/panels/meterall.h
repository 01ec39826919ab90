// MeterAll: the meter window, one strip per rack slot in one column of 24
// (one-line layout) or two columns of 12 (two-line layout). It has no timer
// of its own: the units' meter stores, driven by the 50 ms meter timer, feed
// the strips' controllers. It follows the rack's mount changes. GUI thread
// only.
#pragma once

#include "device/memory/dev_result.h"
#include "ui/widgets/zscaled.h"

#include <array>

class MeterStrip;
class QVBoxLayout;

namespace Quil {
class QuilObject;
}

class MeterAll : public ZScaledWidget {
    Q_OBJECT
public:
    enum LayoutMode { OneLine = 0, TwoLine = 1, NoLayout = 2 };

    // The main window makes it without a parent and with Qt::Dialog.
    MeterAll(QWidget* parent, Qt::WindowFlags flags, Quil::QuilObject* core);
    ~MeterAll() override;
    MeterAll(const MeterAll&) = delete;
    MeterAll& operator=(const MeterAll&) = delete;

    // Builds the 24 strips for layout 0 or 1; nothing for the current one.
    // DEV_E_FAIL for any other mode.
    JResult setLayoutMode(int mode);
    int layoutMode() const { return m_layoutMode; }

    ZScaledScrollArea* scrollArea() const { return m_scrollArea; }
    // Null before the first layout.
    MeterStrip* strip(int slot) const;

signals:
    void deleted();

public slots:
    // unitId is the slot index; DEV_E_FAIL above 23.
    JResult slotDeviceMountChanged(uint unitId, int modelType);

private:
    void buildForm();
    void placeStrips();

    Quil::QuilObject* const m_core;
    std::array<MeterStrip*, 24> m_strips{};
    int m_layoutMode = NoLayout;
    // A hidden strip keeps its place in the column.
    const bool m_countHidden = true;
    QVBoxLayout* m_layout = nullptr;
    ZScaledScrollArea* m_scrollArea = nullptr;
};
