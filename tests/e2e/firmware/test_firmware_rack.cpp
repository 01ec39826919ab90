// A full rack of 24 units placed and connected while the firmware update
// window runs a package on nine of them: the rack's links, the units'
// command links, the TFTP server and its children share the socket
// service's 32 system sockets, and run out. Running out fails the rows it
// hits, each clearly, and nothing else: the run ends, the failed rows update
// in a second run, and the rack gets every link back once the window closes.
#include "tests/e2e/firmware/firmware_e2e_fixture.h"

#include <QCheckBox>
#include <QLabel>

namespace {

using namespace fwe2e;

constexpr int kRackUnits = 24;
// Third-generation units the package fits. The rack's links at rest take
// most of the 32 sockets; these units' command links and pulls take the
// rest and more.
constexpr int kPackageUnits = 9;
constexpr int kFirstHost = 11;

// The other families, cycled through by the units that only connect.
const Quil::ModelType kOtherModels[]
    = {Quil::MODEL_BROXL_D, Quil::MODEL_BROXM_D, Quil::MODEL_BROXI_D, Quil::MODEL_BROXO_D, Quil::MODEL_SORN_D,
        Quil::MODEL_PELLM_D, Quil::MODEL_BROXL_D2, Quil::MODEL_BROXM_D2, Quil::MODEL_PELLM_D2};

// A label of the row by its object name ("modelUpdate").
QString rowText(const DeviceObject* row, const char* name)
{
    const auto* label = row->rowFrame() ? row->rowFrame()->findChild<QLabel*>(QLatin1String(name)) : nullptr;
    return label ? label->text() : QString();
}

bool tickable(const DeviceObject* row)
{
    const auto* check
        = row->rowFrame() ? row->rowFrame()->findChild<QCheckBox*>(QStringLiteral("modelCheck")) : nullptr;
    return check && check->isEnabled();
}

int hostOf(const DeviceObject* row)
{
    const QString name = row->deviceName();
    return name.mid(name.indexOf(' ') + 1).toInt();
}

TEST_F(FirmwareE2E, FullRackOfTwentyFourUnitsRunsOutOfSocketsClearly)
{
    QTEST_IN_NETNS();
    std::vector<std::string> names;
    std::vector<FirmUnit> rack;
    for (int i = 0; i < kRackUnits; ++i)
        names.push_back((i < kPackageUnits ? "Stage " : "Rack ") + std::to_string(kFirstHost + i));
    for (int i = 0; i < kRackUnits; ++i) {
        const int host = kFirstHost + i;
        if (i < kPackageUnits) {
            const bool large = i % 2 == 0;
            rack.push_back({large ? Quil::MODEL_BROXL_D3 : Quil::MODEL_BROXM_D3, host, names[i].c_str(),
                large ? "BroxL-D3" : "BroxM-D3", "V2.04", "V2.10", "tftp"});
        } else {
            rack.push_back(
                {kOtherModels[i % std::size(kOtherModels)], host, names[i].c_str(), "", "V1.00", "", "", "", false});
        }
    }
    ASSERT_NO_FATAL_FAILURE(bringUp(rack));
    brox3.rows.clear();
    for (int i = 0; i < kPackageUnits; ++i)
        brox3.rows.insert(QString::fromStdString(names[i]));
    const std::string image = qtest::readFile(brox3.path);

    runWindow([&](FirmUpdateUI* window) {
        selectPackage(window, brox3.path);
        // Every row analysed, or given up on when its command link found no
        // socket: such a row shows no version and cannot be ticked.
        ASSERT_TRUE(qtest::waitUntil(
            [&] {
                const auto& rows = window->rows();
                return window->uiState() == FirmUpdateUI::UPDATE_UI_READY && rows.size() == brox3.rows.size()
                    && std::all_of(rows.begin(), rows.end(),
                        [](const auto& row) { return row->modelState() == DeviceObject::Analyzed; });
            },
            kWaitMs))
            << describe(window);
        EXPECT_EQ(rowNames(window), brox3.rows);
        // The listed units' rack links were handed over; the others' stay.
        for (int i = 0; i < kRackUnits; ++i) {
            EXPECT_EQ(program->core->isConnected(i), i >= kPackageUnits) << names[i];
        }
        std::set<int> ticked;
        for (const auto& row : window->rows()) {
            if (row->modelChecked()) {
                EXPECT_EQ(row->modelVersion(), "V2.04") << row->deviceName().toStdString();
                ticked.insert(hostOf(row.get()));
            } else {
                EXPECT_TRUE(row->modelVersion().isEmpty()) << row->deviceName().toStdString();
                EXPECT_FALSE(tickable(row.get())) << row->deviceName().toStdString();
            }
        }
        ASSERT_FALSE(ticked.empty()) << describe(window);

        // The run: every ticked row finishes with the package's bytes
        // stored or fails and says so; the end message tells which.
        QString end = update(window);
        std::set<int> failed;
        for (const auto& row : window->rows()) {
            const std::string name = row->deviceName().toStdString();
            const int host = hostOf(row.get());
            if (!ticked.count(host)) {
                EXPECT_EQ(row->modelUpdateState(), DeviceObject::UpdateNone) << name;
                continue;
            }
            const int state = row->modelUpdateState();
            ASSERT_TRUE(state == DeviceObject::Finished || state == DeviceObject::Failed) << name << ": " << state;
            EXPECT_EQ(rowText(row.get(), "modelUpdate"), state == DeviceObject::Finished ? "Finished" : "Failed")
                << name;
            if (state == DeviceObject::Finished) {
                EXPECT_TRUE(stored(host) == image) << name;
            } else {
                failed.insert(host);
            }
        }
        EXPECT_EQ(end,
            failed.empty() ? "UPDATE COMPLETED|Firmware update successfully completed."
                           : "CAUTION|Firmware Update failed for device(s) .\nCheck network connection and try again.");

        // The failed rows are analysed again and still ticked; with the
        // sockets of the first run given back, a second run updates them.
        if (!failed.empty()) {
            ASSERT_TRUE(qtest::waitUntil(
                [&] {
                    for (const auto& row : window->rows()) {
                        if (failed.count(hostOf(row.get()))
                            && (row->modelState() != DeviceObject::Analyzed || !row->modelChecked()))
                            return false;
                    }
                    return window->uiState() == FirmUpdateUI::UPDATE_UI_READY;
                },
                kWaitMs))
                << describe(window);
            end = update(window);
            EXPECT_EQ(end, "UPDATE COMPLETED|Firmware update successfully completed.") << describe(window);
            for (int host : failed) {
                EXPECT_TRUE(stored(host) == image) << host;
            }
        }
        qtest::ModalDriver closing(2000);
        closing.pressButton(QStringLiteral("Yes"));
        window->close();
    });
}

} // namespace
