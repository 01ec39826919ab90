// "USER PATTERN ROUTING": the editor of a Sorn-D's user routing pattern,
// which of 128 sources (columns) feeds each of 128 outputs (rows). The
// unit's memory holds one source per output ("/Backup/Patch:%d/UserPatchSrc:%d",
// 255 for none) and is the truth: a click writes the memory, and the grid
// is redrawn from it on the next tick. Also recalls seven fixed patterns and
// clears all. GUI thread only.
#pragma once

#include "device/memory/dev_izdev.h"
#include "ui/widgets/zgridview.h"
#include "ui/widgets/zscaled.h"

#include <QTimer>

#include <memory>

class QKeyEvent;
class QMenu;
class ZButton;
class ZSelectionDisplay;

namespace Sorn {

constexpr int kPatchSize = 128;
constexpr int kNoSource = 255;
// Sources and outputs from here on belong to no card slot: never routed
// to each other.
constexpr int kSlotlessFirst = 64;
constexpr int kFixedPatternCount = 7;

// The source a fixed pattern (0-6) gives an output; -1 outside the tables.
int fixedPatternSource(int pattern, int output);

class UserPatch : public ZScaledWidget {
    Q_OBJECT
public:
    explicit UserPatch(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~UserPatch() override;

    virtual JResult setAccessor(Quil::IZDev* accessor);
    virtual JResult createGrid();
    virtual JResult createInputNames();
    virtual JResult createOutputNames();
    virtual JResult recallPattern(int index);

    ZGridView* grid() const { return m_grid; }
    ZButton* presetButton() const { return m_presetButton; }
    ZButton* clearAllButton() const { return m_clearAllButton; }
    QMenu* patternMenu() const { return m_patternMenu.get(); }
    ZSelectionDisplay* inputNumbers() const { return m_inputNumbers; }
    ZSelectionDisplay* outputNumbers() const { return m_outputNumbers; }
    ZScaledScrollArea* inputStrip() const { return m_inputStrip; }
    ZScaledScrollArea* outputStrip() const { return m_outputStrip; }
    // The redraw tick (100 ms).
    QTimer* updateTimer() const { return m_timer.get(); }
    bool updatePending() const { return m_updatePending != 0; }

signals:
    void deleted();

public slots:
    JResult updatePatchFlagOn();
    JResult preUpdatePatch();
    JResult updatePatch();
    bool gridClicked(Utility::MatrixPos pos);
    JResult gridKeyPressed(QKeyEvent* evnt);
    JResult gridCurrentMatrixPosChanged(Utility::MatrixPos pos);
    JResult gridCursorLeft();
    JResult presetButtonClicked();
    JResult clearAllButtonClicked();
    JResult lockStatusChanged();

protected:
    void resizeEvent(QResizeEvent* evnt) override;
    // The strips follow the grid's viewport whenever it changes size.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct NameStrip {
        ZScaledScrollArea* area = nullptr;
        ZScaledWidget* content = nullptr;
        ZScaledLabel* names = nullptr;
        ZSelectionDisplay* numbers = nullptr;
    };
    JResult createNames(bool vertical);
    bool ask(const QString& question);
    JResult writeSource(int output, int source);
    void followGrid();

    Quil::IZDev* m_accessor = nullptr;
    ZGridView* m_grid = nullptr;
    ZButton* m_presetButton = nullptr;
    ZButton* m_clearAllButton = nullptr;
    ZScaledScrollArea* m_inputStrip = nullptr;
    ZScaledWidget* m_inputContent = nullptr;
    ZScaledLabel* m_inputNames = nullptr;
    ZSelectionDisplay* m_inputNumbers = nullptr;
    ZScaledScrollArea* m_outputStrip = nullptr;
    ZScaledWidget* m_outputContent = nullptr;
    ZScaledLabel* m_outputNames = nullptr;
    ZSelectionDisplay* m_outputNumbers = nullptr;
    std::unique_ptr<QMenu> m_patternMenu;
    std::unique_ptr<QTimer> m_timer;
    int m_updatePending = 0;
};

} // namespace Sorn
