// The update run's test bed without units: the window with a recording
// model updater from its factory argument, rows analysed in place, the real
// Dante front over the agent's fake glue calling the window, whose upgrade
// answers the tests feed, and the application log read back.
#pragma once

#include "tests/fwupdate/dfu/dfu_fixture.h"
#include "tests/fwupdate/package/fwpkg_fixture.h"
#include "tests/support/gui/gui_support.h"
#include "tests/support/gui/modal_driver.h"
#include "tests/ui/fwupdate_ui/run/firmrun_access.h"
#include "ui/fwupdate_ui/fw_modelupdater.h"

#include <QMetaObject>
#include <QPointer>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace firmrun {

using namespace Quil;

// What the recording updaters of one window share: the starts in order and
// the answers the test sets.
struct UpdaterScript {
    std::vector<uint32_t> starts;
    std::vector<uint32_t> prepares;
    std::map<uint32_t, int32_t> startResults; // missing: 0
    std::map<uint32_t, int32_t> versionErrors; // missing: 0
    int32_t transfer = 0;
    int32_t overall = 0;
};

class RecordingUpdater : public StubModelUpdater {
public:
    explicit RecordingUpdater(std::shared_ptr<UpdaterScript> script)
        : m_script(std::move(script))
    {
    }
    int32_t prepare(uint32_t index, const QString&) override
    {
        m_script->prepares.push_back(index);
        return 0;
    }
    int32_t startUpdate(uint32_t index) override
    {
        m_script->starts.push_back(index);
        const auto it = m_script->startResults.find(index);
        return it == m_script->startResults.end() ? 0 : it->second;
    }
    int32_t versionError(uint32_t index) override
    {
        const auto it = m_script->versionErrors.find(index);
        return it == m_script->versionErrors.end() ? 0 : it->second;
    }
    int32_t overallProgress(int32_t* value) override
    {
        m_overall = m_script->overall;
        return StubModelUpdater::overallProgress(value);
    }
    int32_t transferPercent(uint32_t index, int32_t* value) override
    {
        m_transfer = m_script->transfer;
        return StubModelUpdater::transferPercent(index, value);
    }

private:
    std::shared_ptr<UpdaterScript> m_script;
};

inline DfaUpgradeStatus statusOf(const QString& name, uint16_t phase, uint16_t percent = 0)
{
    DfaUpgradeStatus s{};
    const QByteArray bytes = name.toUtf8();
    std::memcpy(s.name, bytes.constData(), std::min(sizeof s.name, static_cast<size_t>(bytes.size())));
    s.phase = phase;
    s.percent = percent;
    return s;
}

class RunBed : public fwpkgtest::PackageSandbox {
protected:
    void SetUp() override
    {
        fwpkgtest::PackageSandbox::SetUp();
        dfatest::ensureOswrap();
        dfa_set_print_level(0);
        const DfaServiceProbe probe = m_probe.probe();
        dfa_set_service_probe(&probe);
        m_glue.interfaces[0] = dfutest::interfaceOf(u"eth-dante", dfutest::kWantedMac);
        m_glue.reasons[DFA_REQ_SET_DANTE_IF] = dfa_reason(DFA_REASON_RANGE);
        const DfaGlue glue = m_glue.glue();
        dfa_set_glue(&glue);
    }
    void TearDown() override
    {
        window.reset();
        ASSERT_TRUE(qtest::waitFor([] { return !dfa_main_active(); }, 6000));
        dfa_set_glue(nullptr);
        dfa_set_service_probe(nullptr);
        fwpkgtest::PackageSandbox::TearDown();
    }

    // The window for a package of this type; with `agent` the front's agent
    // runs on the fake glue, without it every request to it fails.
    void makeWindow(int32_t type = MODEL_BROXL_D, bool agent = true, int danteMs = 90000)
    {
        log.clear();
        FirmWindowTimings timings;
        timings.danteUpdateMs = danteMs;
        timings.rows.connectionMs = 200;
        auto shared = script;
        ModelFirmUpdaterFactory recording = [shared](int32_t) { return std::make_unique<RecordingUpdater>(shared); };
        window = std::make_unique<FirmUpdateUI>(nullptr, Qt::WindowFlags(), factory ? factory : recording, timings);
        ASSERT_TRUE(FirmRunAccess::setPackage(*window, type, true, false, packageFile, packageVersion));
        ASSERT_TRUE(qtest::showAndWait(window.get()));
        DanteFirmwareUpdateModule* dfu
            = FirmRunAccess::setFront(*window, std::make_unique<DanteFirmwareUpdateModule>());
        if (!agent)
            m_probe.state = DFA_SERVICE_STOPPED;
        const DfuResult rc = dfu->InitializeDfa(window.get(), dfutest::kWantedMac);
        if (agent) {
            ASSERT_EQ(rc, DFU_OK);
            ASSERT_TRUE(qtest::waitUntil([&] { return log.has("receiveDfuAppCallback [Type 6]"); }));
        }
    }
    DanteFirmwareUpdateModule* front() { return window->danteFront(); }

    // A row ticked for these sides; its Dante module is in the front's list.
    DeviceObject* addRow(const char* name, bool model = true, bool dante = true)
    {
        DeviceObject* row = FirmRunAccess::addRow(*window, QString::fromLatin1(name), model, dante);
        front()->addDfuDevice(dfutest::deviceNamed(name));
        return row;
    }

    DeviceObject* rowAt(int index) const
    {
        return index >= 0 && static_cast<size_t>(index) < window->rows().size()
            ? window->rows()[static_cast<size_t>(index)].get()
            : nullptr;
    }
    DeviceObject* runningRow() const { return rowAt(window->jobIndex()); }

    void start()
    {
        window->setUiState(FirmUpdateUI::UPDATE_UI_READY);
        ASSERT_TRUE(window->form().m_btnUpdate->isEnabled());
        QTest::mouseClick(window->form().m_btnUpdate, Qt::LeftButton);
    }

    // The target's status as the agent reports it.
    void feedStatus(DeviceObject* row, uint16_t phase, uint16_t percent = 0)
    {
        dfutest::feed(DFA_ERR_NOERR, DFA_CBACK_INF_UPDATE_STATUS, statusOf(row->deviceName(), phase, percent));
    }

    // Lets the running Dante job flash and finish.
    bool finishDanteJob(DeviceObject* row)
    {
        // The fake's own status answer to the start request comes first.
        QTest::qWait(30);
        feedStatus(row, DFA_PHASE_FLASH, 37);
        if (!qtest::waitUntil([&] { return row->danteUpdateState() == DeviceObject::Writing; }, 3000))
            return false;
        feedStatus(row, DFA_PHASE_FINISH, 100);
        return qtest::waitUntil([&] { return row->danteUpdateState() == DeviceObject::Finished; }, 3000);
    }

    // Ends every job as the test's `model` answer says, Dante jobs through
    // their status; bounded.
    void driveRun(uint32_t modelKind = MODEL_CB_FINISHED)
    {
        for (int step = 0; step < 40 && window->uiState() == FirmUpdateUI::UPDATE_UI_UPDATING; ++step) {
            DeviceObject* row = runningRow();
            ASSERT_NE(row, nullptr);
            if (window->runningSide() == FirmUpdateUI::RunSide::Model)
                window->modelCallback(modelKind, row->id());
            else
                ASSERT_TRUE(finishDanteJob(row));
        }
    }

    // The log's run lines: the starts and the end, in order.
    std::vector<std::string> runLines() const
    {
        std::vector<std::string> out;
        for (const std::string& line : log.lines())
            if (line.rfind("======= update", 0) == 0)
                out.push_back(line);
        return out;
    }

    static std::string messagesOf(const qtest::ModalDriver& driver)
    {
        std::string out;
        for (const auto& seen : driver.seen())
            out += (seen.title + "|" + seen.text + "\n").toStdString();
        return out;
    }

    dfatest::FakeProbe m_probe;
    dfatest::FakeGlue m_glue;
    dfutest::TempLog log;
    std::shared_ptr<UpdaterScript> script = std::make_shared<UpdaterScript>();
    // Empty: the recording updater; the units' suite takes the real one.
    ModelFirmUpdaterFactory factory;
    QString packageFile;
    QString packageVersion = QStringLiteral("v200a");
    std::unique_ptr<FirmUpdateUI> window;
};

} // namespace firmrun
