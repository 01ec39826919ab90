// The recovery updater: its window in program mode as it starts, after a
// connect to the simulated recovery unit and while it writes, in boot mode
// as it starts, and its about box. The program directory, the package and
// the unit live until the program ends.
#ifdef QUILLON_SCREENS_UPDATER

#include "tests/screens/screens.h"
#include "tests/support/gui/gui_support.h"
#include "tests/support/gui/modal_driver.h"
#include "tests/support/test_support.h"

#include "updater/ini_settings.h"
#include "updater/update_file.h"
#include "updater/updater.h"
#include "updater/window/about_dialog.h"
#include "updater/window/updater_dialog.h"

#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <cstdio>
#include <memory>
#include <string>

namespace screens {
namespace {

const std::vector<ZoomCode> kUnzoomed = {0};
const std::vector<std::string> kUnitOptions
    = {"--name", "Sorn-D", "--pver", "R1.050", "--bver", "B0.900", "--mac", "00-11-22-33-44-55"};
// Shown instead of the fixture's temporary folder and the unit's free port,
// so the pictures do not change from run to run (the window only shows
// them; the run uses what it read from the settings).
const QString kShownPath = QStringLiteral("/home/operator/Sorn-D_R1070.bin");
const QString kShownPort = QStringLiteral("12302");

// An image of `size` bytes with the model and version in its footer.
bool writeImage(const std::string& path, int64_t size, uint32_t footerAt, const char* version, const char* model)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(size))
        return false;
    const QByteArray name = QByteArray(model).leftJustified(UpdateFile::kModelSize, '\0', true);
    return file.seek(footerAt - UpdateFile::kVersionBack) && file.write(version, 5) == 5
        && file.seek(footerAt - UpdateFile::kModelBack) && file.write(name) == name.size();
}

struct Bed {
    qtest::TempDir dir;
    std::unique_ptr<qtest::ChildProcess> unit;
    QString package;
    QString boot;
    uint16_t port = 0;
};

// Made at the first use: a package of a Sorn-D image, a boot image, and
// the unit answering to the name of the image.
Bed& bed()
{
    // Goes at exit: the unit is stopped and the folder removed.
    static const std::unique_ptr<Bed> made = [] {
        auto b = std::make_unique<Bed>();
        const std::string image = b->dir.file("fw.img");
        // Used length 0x20F010: written in two segments, so the bar moves.
        if (!writeImage(image, 0x300000, 0x20F010, "r0107", "Sorn-D")
            || !writeImage(b->dir.file("boot.bin"), 0x100000, 0xE0000, "b0900", "Sorn-D"))
            std::fprintf(stderr, "screen_updater: cannot write the images\n");
        const std::string list = b->dir.file("packages.list");
        qtest::writeFile(
            list, b->dir.file("Sorn-D_R1070.bin") + "\t16\tQuilSorn-D\t56010700\tdata/\tdata/fw.BIN=" + image + "\n");
        if (qtest::runCommand("python3 '" + qtest::peerPath("mbdf_peer.py") + "' packages '" + list + "'") != 0)
            std::fprintf(stderr, "screen_updater: the container peer failed\n");
        b->package = QString::fromStdString(b->dir.file("Sorn-D_R1070.bin"));
        b->boot = QString::fromStdString(b->dir.file("boot.bin"));
        b->unit = std::make_unique<qtest::ChildProcess>(qtest::pythonPeer("recovery_unit.py",
                                                            [] {
                                                                std::vector<std::string> args = kUnitOptions;
                                                                args.insert(args.end(), {"--host", "127.0.0.1"});
                                                                return args;
                                                            }()),
            true);
        b->port = qtest::peerPort(*b->unit);
        qtest::writeFile(b->dir.file("update.ini"),
            "[UPDATE]\r\nIPaddress=127.0.0.1\r\nPortNumber=" + std::to_string(b->port)
                + "\r\nMACaddress=00-11-22-33-44-55\r\n");
        setApplicationDirectory(QString::fromStdString(b->dir.path()));
        return b;
    }();
    return *made;
}

// The unit's options for the connections that follow.
void configureUnit(std::vector<std::string> args)
{
    std::string line;
    for (const std::string& arg : args)
        line += " '" + arg + "'";
    if (!bed().unit->writeLine(line))
        return;
    for (int i = 0; i < 20 && line != "READY"; ++i)
        bed().unit->readLine(&line, 1000);
}

// The window as the program starts it, offering the package beside it.
std::unique_ptr<QWidget> programWindow()
{
    bed();
    auto window = std::make_unique<UpdaterDialog>(false);
    // A write left unanswered ends soon after the picture.
    window->updater()->setTimeouts({5000, 5000, 3000});
    window->fileNameEdit()->setText(kShownPath);
    window->portEdit()->setText(kShownPort);
    return window;
}

// The package chosen through "select" and the unit connected.
QWidget* connect(QWidget* shown)
{
    auto* window = static_cast<UpdaterDialog*>(shown);
    qtest::ModalDriver driver;
    driver.typeFileName(bed().package);
    QTest::mouseClick(window->selectButton(), Qt::LeftButton);
    driver.waitAllAnswered();
    window->fileNameEdit()->setText(kShownPath);
    QTest::mouseClick(window->connectButton(), Qt::LeftButton);
    qtest::waitUntil([&] { return !window->updater()->isRunning() && window->connectButton()->isEnabled(); }, 20000);
    return nullptr;
}

// Connected, then "update" against a unit that takes the first segment and
// never answers it: the bar stands at that segment's end.
QWidget* writing(QWidget* shown)
{
    configureUnit(kUnitOptions);
    connect(shown);
    std::vector<std::string> silent = kUnitOptions;
    silent.insert(silent.end(), {"--fault", "6:silent"});
    configureUnit(silent);
    auto* window = static_cast<UpdaterDialog*>(shown);
    QTest::mouseClick(window->updateButton(), Qt::LeftButton);
    qtest::waitUntil([&] { return window->progressBar()->value() >= 30; }, 20000);
    return nullptr;
}

const ScreenRegistrar updaterIdle(
    {QStringLiteral("updater_idle"), [](ZoomCode) { return programWindow(); }, nullptr, kUnzoomed});

const ScreenRegistrar updaterConnected({QStringLiteral("updater_connected"),
    [](ZoomCode) {
        configureUnit(kUnitOptions);
        return programWindow();
    },
    connect, kUnzoomed});

const ScreenRegistrar updaterWriting(
    {QStringLiteral("updater_writing"), [](ZoomCode) { return programWindow(); }, writing, kUnzoomed});

const ScreenRegistrar updaterBoot({QStringLiteral("updater_bootmode"),
    [](ZoomCode) -> std::unique_ptr<QWidget> {
        bed();
        return std::make_unique<UpdaterDialog>(true);
    },
    nullptr, kUnzoomed});

const ScreenRegistrar updaterAbout({QStringLiteral("updater_about"),
    [](ZoomCode) -> std::unique_ptr<QWidget> { return std::make_unique<AboutDialog>(); }, nullptr, kUnzoomed});

} // namespace
} // namespace screens

#endif
