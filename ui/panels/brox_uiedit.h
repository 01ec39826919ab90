// The edit window of the Brox and Pell units: eight channel strips at a
// time, one tab per group of eight channels, a peak-hold switch and a title
// of unit number and device name. On types 11 and 12 the option selects the
// output window. GUI thread only.
#pragma once

#include "ui/panels/brox_columnstyle.h"
#include "ui/panels/uibase.h"
#include "ui/widgets/zscaled.h"

#include <QPixmap>

#include <memory>
#include <vector>

class QAction;
class QButtonGroup;
class IEditChStrip;
class ImagePanel;
class ZButton;
class ControllerForQPushButton;

namespace Brox {

class UIEdit : public ZScaledWidget, public IZDevUI {
    Q_OBJECT
public:
    UIEdit(int deviceType, QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags(), bool option = false);
    ~UIEdit() override;

    JResult init(uint32_t unitId, Quil::IZDev* accessor, IZMainUICallback* host) override;
    JResult setPage(const QVariant& page) override;
    JResult setDeviceName(const QString& name) override;

    int deviceType() const { return m_type; }
    bool isOutputWindow() const { return m_output; }
    int currentPage() const { return m_page; }
    int channelCount() const { return m_channelCount; }
    int tabCount() const { return m_tabCount; }
    QString backgroundName() const { return m_backgroundName; }
    ImagePanel* backgroundPanel() const { return m_panel; }
    QButtonGroup* tabGroup() const { return m_tabs; }
    const std::vector<IEditChStrip*>& strips() const { return m_strips; }
    ZButton* peakHoldButton() const { return m_peakHold; }

public slots:
    JResult haGainContextRequested();
    JResult onTabClicked(int id);
    // kept: callers and files use this name.
    JResult onAllDefultHaGain();
    JResult onAll0dBHaGain();

private:
    template <class Strip> void buildStrips();
    void buildTabs();
    JResult changePage(int page);
    void showTitle(const QString& name);

    const int m_type;
    const bool m_output;
    int m_page = 0;
    int m_channelCount = 0;
    int m_tabCount = 0;
    QPixmap m_background;
    QString m_backgroundName;
    Quil::IZDev* m_accessor = nullptr;
    IZMainUICallback* m_host = nullptr;
    uint32_t m_unitId = 0;
    ImagePanel* m_panel = nullptr;
    QButtonGroup* m_tabs = nullptr;
    std::vector<IEditChStrip*> m_strips;
    ZButton* m_peakHold = nullptr;
    std::unique_ptr<ControllerForQPushButton> m_peakHoldController;
    QAction* m_allDefault = nullptr;
    QAction* m_all0dB = nullptr;
};

} // namespace Brox
