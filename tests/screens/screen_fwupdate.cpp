// The firmware update window as the operator meets it: empty, with a
// third-generation package chosen and its units analysed (one ticked), and
// during a run (transferring, writing, waiting and completed rows). The rows
// are set by hand; the package is a real one, read by the window itself.
#ifdef QUILLON_SCREENS_FWUPDATE

#include "tests/screens/screens.h"
#include "tests/support/test_support.h"

#include "ui/fwupdate_ui/fw_deviceobject.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>
#include <memory>

namespace screens {
namespace {

// A "Brox-D3" package of version V1.24 around a small image, made once by
// the container peer; the folder goes at exit.
const QString& brox3Package()
{
    static const std::unique_ptr<qtest::TempDir> dir = [] {
        auto made = std::make_unique<qtest::TempDir>();
        qtest::writeFile(made->file("fw.img"), std::string(4096, '\x5a'));
        // Field: V1.24 with its bytes swapped, as a bare "Brox-D3" package stores it.
        qtest::writeFile(made->file("packages.list"),
            made->file("BroxL-D3_V124.bin") + "\t16\tBrox-D3\t00180156\tfw=" + made->file("fw.img") + "\n");
        if (qtest::runCommand(
                "python3 '" + qtest::peerPath("mbdf_peer.py") + "' packages '" + made->file("packages.list") + "'")
            != 0)
            std::fprintf(stderr, "screen_fwupdate: the container peer failed\n");
        return made;
    }();
    static const QString path = QString::fromStdString(dir->file("BroxL-D3_V124.bin"));
    return path;
}

struct RowPlan {
    const char* name;
    Quil::ModelType type;
    const char* version;
    int relation; // to the package's version: 1 older, 0 equal, -1 newer
};

// The window at `code` with the package read and one analysed row per plan
// (put in `rows` when given).
std::unique_ptr<Quil::FirmUpdateUI> readyWindow(
    ZoomCode code, const std::vector<RowPlan>& plans, std::vector<Quil::DeviceObject*>* rows = nullptr)
{
    auto window = std::make_unique<Quil::FirmUpdateUI>();
    window->applyScale(code);
    window->readFile(brox3Package());
    uint id = 0;
    for (const RowPlan& plan : plans) {
        // Owned by the window; each deletes its row when it goes.
        auto* row = new Quil::DeviceObject(id++, plan.type);
        row->setParent(window.get());
        window->addRowWidget(row);
        // The name is learnt from the unit's link, which a picture has not.
        if (auto* name = row->rowFrame()->findChild<QLabel*>(QStringLiteral("name")))
            name->setText(QString::fromLatin1(plan.name));
        row->setModelVersion(QString::fromLatin1(plan.version), window->packageVersion(), plan.relation);
        row->modelAnalyzed(true);
        if (rows)
            rows->push_back(row);
    }
    window->setUiState(Quil::FirmUpdateUI::UPDATE_UI_READY);
    // The rows are drawn into the window but are not its own list, so the
    // button follows the ticks here as the window would with its own units.
    window->form().m_btnUpdate->setEnabled(true);
    // Shown instead of the fixture's temporary folder, so the pictures do
    // not change from run to run.
    window->form().m_lblFileName->setText(
        QStringLiteral("/home/operator/Documents/Quillon/Firmware/BroxL-D3_V124.bin"));
    return window;
}

const std::vector<RowPlan> kRack = {
    {"Stage Left", Quil::MODEL_BROXL_D3, "V1.20", 1},
    {"Stage Right", Quil::MODEL_BROXM_D3, "V1.24", 0},
    {"Side Fill", Quil::MODEL_BROXL_D3, "V1.10", 1},
    {"Drum Riser", Quil::MODEL_BROXM_D3, "V1.30", -1},
};

const ScreenRegistrar kEmpty({QStringLiteral("firmupdate_empty"), [](ZoomCode code) -> std::unique_ptr<QWidget> {
                                  auto window = std::make_unique<Quil::FirmUpdateUI>();
                                  window->applyScale(code);
                                  return window;
                              }});

const ScreenRegistrar kReady({QStringLiteral("firmupdate_ready"),
    [](ZoomCode code) -> std::unique_ptr<QWidget> { return readyWindow(code, kRack); }});

// A run under way: the first unit finished, the second writing, the third
// transferring and the last waiting.
std::unique_ptr<QWidget> updatingWindow(ZoomCode code)
{
    std::vector<Quil::DeviceObject*> rows;
    auto window = readyWindow(code,
        {{"Stage Left", Quil::MODEL_BROXL_D3, "V1.20", 1}, {"Stage Right", Quil::MODEL_BROXM_D3, "V1.20", 1},
            {"Side Fill", Quil::MODEL_BROXL_D3, "V1.10", 1}, {"Drum Riser", Quil::MODEL_BROXM_D3, "V1.22", 1}},
        &rows);
    for (Quil::DeviceObject* row : rows)
        row->prepareModelUpdate();
    window->setUiState(Quil::FirmUpdateUI::UPDATE_UI_UPDATING);
    rows[0]->setModelUpdateState(Quil::DeviceObject::Finished);
    rows[0]->endModelRun();
    rows[1]->showModelWriteProgress(35);
    rows[2]->showModelProgress(72);
    return window;
}

const ScreenRegistrar kUpdating({QStringLiteral("firmupdate_updating"), updatingWindow});

} // namespace
} // namespace screens

#endif
