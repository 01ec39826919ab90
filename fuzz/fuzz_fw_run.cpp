// The firmware update window's run under an arbitrary interleaving of what
// reaches it while it runs: model callbacks 1-5 for any unit (or none),
// Dante status events and send-data callbacks with and without a label,
// Dante errors for one row or every row, time-outs, cancel (answered Yes or
// No), lost units and failing starts. The run is over a fake model updater
// and a Dante front without its agent, whose starts fail.
//
// Properties: at most one job runs (a start never comes while another side
// is in progress, and never two sides are), and the run always ends: once
// the running jobs are answered, the window leaves UPDATE_UI_UPDATING
// through updateEnd, with no job index and no running job left.
//
// Input: byte 0 the row count (1-4) and the package type, byte 1 which
// sides are ticked and which starts fail; then two bytes per step, the
// first picking the operation.
#include "fuzz/fuzz_check.h"
#include "tests/ui/fwupdate_ui/run/firmrun_access.h"

#include "app/app_log.h"
#include "ui/fwupdate_ui/fw_deviceobject.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <vector>

// Qt's offscreen platform and its font caches are made once, on the first
// message box, and kept for the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libqoffscreen\nleak:libfreetype\nleak:libharfbuzz\nleak:libfontconfig\nleak:libQt5Gui\n";
}

namespace {

using namespace Quil;

FirmUpdateUI* g_window = nullptr;
bool g_answerYes = false;
uint32_t g_failingStarts = 0;

bool inProgress(int updateState)
{
    return updateState == DeviceObject::Erasing || updateState == DeviceObject::Transferring
        || updateState == DeviceObject::Writing;
}

// At most one side in progress, and it belongs to the running job.
void checkOneJob()
{
    int busy = 0;
    for (const auto& row : g_window->rows()) {
        for (const bool dante : {false, true}) {
            const int state = dante ? row->danteUpdateState() : row->modelUpdateState();
            if (!inProgress(state))
                continue;
            ++busy;
            const auto side = dante ? FirmUpdateUI::RunSide::Dante : FirmUpdateUI::RunSide::Model;
            const int index = g_window->jobIndex();
            fuzzCheck(g_window->runningSide() == side && index >= 0
                && static_cast<size_t>(index) < g_window->rows().size()
                && g_window->rows()[static_cast<size_t>(index)].get() == row.get());
        }
    }
    fuzzCheck(busy <= 1);
}

class FakeUpdater : public StubModelUpdater {
public:
    int32_t startUpdate(uint32_t index) override
    {
        // A start only as the job the window has just made the running one,
        // with nothing else in progress.
        fuzzCheck(g_window->runningSide() == FirmUpdateUI::RunSide::Model);
        checkOneJob();
        return (g_failingStarts >> (index % 32)) & 1 ? static_cast<int32_t>(0x80000000u) : 0;
    }
    int32_t versionError(uint32_t index) override { return static_cast<int32_t>(index & 1); }
};

QApplication& application()
{
    static int argc = 1;
    static char name[] = "fuzz_fw_run";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    // Every message box is answered as soon as it is open.
    static QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(box->button(QMessageBox::Yes) && g_answerYes ? QMessageBox::Yes : QMessageBox::No);
    });
    answer.start(0);
    return app;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QApplication& app = application();
    (void)app;
    if (size < 2)
        return 0;
    static const int32_t kTypes[] = {MODEL_BROXL_D, MODEL_PELLM_D, MODEL_BROXL_D2, MODEL_MAVIK_D};
    const size_t rowCount = 1 + (data[0] & 3);
    const int32_t type = kTypes[(data[0] >> 2) & 3];
    const bool thirdGeneration = (data[0] & 0x10) != 0;
    g_failingStarts = (data[1] >> 4) & 0xF;

    FirmWindowTimings timings;
    timings.danteUpdateMs = 60000; // time-outs come from the input
    FirmUpdateUI window(
        nullptr, {}, [](int32_t) { return std::make_unique<FakeUpdater>(); }, timings);
    g_window = &window;
    FirmRunAccess::setPackage(window, type, true, thirdGeneration);
    DanteFirmwareUpdateModule* dfu = FirmRunAccess::setFront(window, std::make_unique<DanteFirmwareUpdateModule>());
    std::vector<QString> names;
    for (size_t i = 0; i < rowCount; ++i) {
        const QString name = QStringLiteral("unit%1").arg(i);
        const bool model = (data[1] >> (2 * i)) & 1;
        const bool dante = (data[1] >> (2 * i + 1)) & 1;
        FirmRunAccess::addRow(window, name, model, dante);
        // A unit whose module is not listed fails its Dante job's start
        // at the target.
        if (i != 2) {
            DfaDeviceInfo info{};
            const QByteArray bytes = name.toUtf8();
            std::memcpy(info.name, bytes.constData(), static_cast<size_t>(bytes.size()));
            dfu->addDfuDevice(info);
        }
        names.push_back(name);
    }
    window.setUiState(FirmUpdateUI::UPDATE_UI_READY);
    window.startFirmUpdate();
    checkOneJob();

    const auto rowId = [&](uint8_t pick) -> uint32_t {
        const size_t n = window.rows().size();
        return pick % (n + 1) < n ? window.rows()[pick % (n + 1)]->id() : 1000u;
    };
    const auto label = [&](uint8_t pick) {
        const size_t n = names.size() + 2;
        return pick % n < names.size() ? names[pick % n] : (pick % n == names.size() ? QString() : "nobody");
    };
    for (size_t i = 2; i + 1 < size; i += 2) {
        const uint8_t arg = data[i + 1];
        switch (data[i] % 9) {
        case 0:
            window.modelCallback(1 + arg % 5, rowId(arg / 5));
            break;
        case 1: // the running job's own answers are the common case
            if (window.runningSide() == FirmUpdateUI::RunSide::Model && window.jobIndex() >= 0)
                window.modelCallback(arg & 1 ? MODEL_CB_FINISHED : MODEL_CB_ERROR,
                    window.rows()[static_cast<size_t>(window.jobIndex())]->id());
            break;
        case 2:
            window.receiveDfuAppCallback(DFU_EVENT_UPDATE_STATUS, label(arg));
            break;
        case 3:
            window.receiveDfuSendDataCallback(arg % 7, 1 + (arg >> 3) % 6, label(arg >> 5));
            break;
        case 4:
            window.receiveDfuAppErrorCallback(1 + arg % 14, label(arg >> 4));
            break;
        case 5:
            window.onTimerDanteUpdateFailed(rowId(arg));
            break;
        case 6:
            g_answerYes = arg & 1;
            window.cancelUpdate();
            break;
        case 7:
            FirmRunAccess::lost(window, QStringLiteral("svc-") + label(arg));
            break;
        default:
            window.danteTransferProgressValueChanged(arg);
            break;
        }
        checkOneJob();
        QCoreApplication::processEvents();
    }

    // Answer whatever runs; the run must end, bounded by the job count.
    for (size_t step = 0; step <= 2 * rowCount + 1 && window.uiState() == FirmUpdateUI::UPDATE_UI_UPDATING; ++step) {
        const int index = window.jobIndex();
        fuzzCheck(index >= 0 && static_cast<size_t>(index) < window.rows().size());
        const uint32_t id = window.rows()[static_cast<size_t>(index)]->id();
        if (window.runningSide() == FirmUpdateUI::RunSide::Model)
            window.modelCallback(MODEL_CB_FINISHED, id);
        else
            window.onTimerDanteUpdateFailed(id);
        checkOneJob();
    }
    fuzzCheck(window.uiState() != FirmUpdateUI::UPDATE_UI_UPDATING);
    fuzzCheck(window.jobIndex() == -1 && window.runningSide() == FirmUpdateUI::RunSide::None);
    g_window = nullptr;
    return 0;
}
