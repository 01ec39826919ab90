// The main panel of the Brox and Pell units (device types 1-4, 7-12): a
// picture of the unit's front with one column per input and, on the
// third-generation types 11 and 12, an output view with one column per
// output and the output set-up block. GUI thread only.
#pragma once

#include "ui/panels/brox_columnstyle.h"
#include "ui/panels/uibase.h"
#include "ui/widgets/zscaled.h"

#include <QPixmap>

#include <memory>
#include <vector>

class QAction;
class QButtonGroup;
class ImagePanel;
class ZButton;
class ZStateDisplay;
class ControllerForQPushButton;
class ControllerForZStateDisplay;

namespace Quil {
class SysUnit;
class SyncUnit;
} // namespace Quil

namespace Brox {

class MainChUnit;
class MainChUnitOutput;
class MainDelayScaleUnitOutput;

class UIMain : public ZScaledWidget, public IZDevUI {
    Q_OBJECT
public:
    UIMain(int deviceType, QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~UIMain() override;

    JResult init(uint32_t unitId, Quil::IZDev* accessor, IZMainUICallback* host) override;
    JResult setPage(const QVariant& page) override;
    JResult setDeviceName(const QString& name) override;

    int deviceType() const { return m_type; }
    int inputCount() const { return m_inputCount; }
    int outputCount() const { return m_outputCount; }
    int blockCount() const { return m_blockCount; }
    int viewKind() const { return m_viewKind; }
    const QPixmap& background() const { return m_background; }
    QString backgroundName() const { return m_backgroundName; }
    QString phantomPath() const { return m_phantomPath; }
    const std::vector<MainChUnit*>& inputColumns() const { return m_inputs; }
    const std::vector<MainChUnitOutput*>& outputColumns() const { return m_outputs; }
    MainDelayScaleUnitOutput* outputBlock() const { return m_outputBlock; }
    ImagePanel* phantomCaption() const { return m_phantomCaption; }
    ZStateDisplay* phantomIndicator() const { return m_phantomIndicator; }
    ZButton* peakHoldButton() const { return m_peakHold; }
    ZButton* inputButton() const { return m_inputButton; }
    ZButton* outputButton() const { return m_outputButton; }
    Quil::SysUnit* sysUnit() const { return m_sysUnit; }
    Quil::SyncUnit* syncUnit() const { return m_syncUnit; }

public slots:
    JResult haGainContextRequested();
    // kept: callers and files use this name.
    JResult onAllDefultHaGain();
    JResult onAll0dBHaGain();
    JResult onOpenEditWindow();
    JResult onProperty();
    JResult onInputOutputClicked(int id);
    JResult onParamSetVerChanged();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void buildInputs();
    void buildOutputs();
    void buildDeviceWidgets(const QString& caption);
    void buildActions();
    void setBackground(const QString& name);
    void runMenu(const QList<QAction*>& actions);
    // The input row under y (100 % pixels), 0 outside the unit's rows.
    int pageAt(int y) const;

    const int m_type;
    int m_inputCount = 0;
    int m_outputCount = 0;
    int m_blockCount = 0;
    int m_viewKind = 2;
    bool m_hasOutputView = false;
    QPixmap m_background;
    QString m_backgroundName;
    QString m_phantomPath;
    Quil::IZDev* m_accessor = nullptr;
    Subscriptions m_paramSetVer;
    IZMainUICallback* m_host = nullptr;
    uint32_t m_unitId = 0;
    std::vector<MainChUnit*> m_inputs;
    std::vector<MainChUnitOutput*> m_outputs;
    MainDelayScaleUnitOutput* m_outputBlock = nullptr;
    Quil::SysUnit* m_sysUnit = nullptr;
    Quil::SyncUnit* m_syncUnit = nullptr;
    ImagePanel* m_phantomCaption = nullptr;
    ZStateDisplay* m_phantomIndicator = nullptr;
    ZButton* m_peakHold = nullptr;
    ZButton* m_inputButton = nullptr;
    ZButton* m_outputButton = nullptr;
    QButtonGroup* m_viewGroup = nullptr;
    QAction* m_allDefault = nullptr;
    QAction* m_all0dB = nullptr;
    QAction* m_openEdit = nullptr;
    QAction* m_properties = nullptr;
    std::unique_ptr<ControllerForZStateDisplay> m_phantomController;
    std::unique_ptr<ControllerForQPushButton> m_peakHoldController;
};

} // namespace Brox
