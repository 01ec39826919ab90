// The output set-up block of the third-generation Brox panel against
// offline units: the delay scale every output column follows, the frame
// rate, the word-clock caption, the impedance switch and the headphone
// sources, and what each of them writes.
#include "tests/ui/panels/brox/brox_fixture.h"

#include "tests/support/gui/modal_driver.h"
#include "ui/bind/converters.h"
#include "ui/panels/brox_delayscaleunit.h"
#include "ui/panels/brox_mainchunit.h"
#include "ui/panels/brox_uimain.h"
#include "ui/widgets/zbutton.h"
#include "ui/widgets/zlabeldisplay.h"
#include "ui/widgets/zpopup.h"

#include <QButtonGroup>
#include <QMenu>

#include <memory>

namespace {

using broxtest::RecordingHost;

constexpr JResult kFail = static_cast<JResult>(0x80000000u);
const char* const kScale = "/Backup/OutputSetup:0/DelayScale:0";
const char* const kFrame = "/Backup/OutputSetup:0/DelayFrame:0";
const char* const kMono = "/Backup/Headphone:0/Mono:0";
const char* const kRightAssign = "/Backup/Headphone:1/Assign:0";

QString shown(const IStringParamConverter* converter, int value)
{
    QString text;
    converter->toDisplayString(value, &text);
    return text;
}

class BroxOutputBlock : public testing::Test {
protected:
    BroxOutputBlock()
        : rack({Quil::MODEL_BROXL_D3, Quil::MODEL_BROXM_D3})
        , dev(&rack.unit(0))
    {
    }

    void open(int slot = 0)
    {
        panel.reset(static_cast<Brox::UIMain*>(Quil::createUIMain(slot == 0 ? 11 : 12, nullptr)));
        ASSERT_EQ(panel->init(0, &dev, &host), 0);
        ASSERT_EQ(panel->onInputOutputClicked(1), 0);
        ASSERT_TRUE(qtest::showAndWait(panel.get()));
        block = panel->outputBlock();
    }
    void settle()
    {
        qtest::waitUntil([] { return false; }, 60);
    }
    std::vector<qtest::RecordingDev::Write> writesTo(const char* path) const
    {
        std::vector<qtest::RecordingDev::Write> found;
        for (const auto& write : dev.writes)
            if (write.path == path)
                found.push_back(write);
        return found;
    }

    qtest::OfflineRack rack;
    qtest::RecordingDev dev;
    RecordingHost host;
    std::unique_ptr<Brox::UIMain> panel;
    Brox::MainDelayScaleUnitOutput* block = nullptr;
};

TEST_F(BroxOutputBlock, ScaleButtonsSwitchEveryOutputColumn)
{
    rack.linkWrite(0, "/Current/Dev:0/WordclockFs:0", 96000);
    rack.linkWrite(0, "/Backup/OutCh:2/DelayTime:0", 4800);
    rack.linkWrite(0, "/Backup/OutChAES:5/DelayTime:0", 960);
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(qtest::waitUntil([&] { return block->frameRateButton()->isEnabled() == false; }));
    struct Row {
        int id;
        const char* unit;
        const IStringParamConverter* converter;
    };
    const Row rows[] = {
        {4, "frame", ParamConverterDelayFrame::instance(rack.read(0, kFrame))},
        {0, "m", ParamConverterDelayMeter::instance()},
        {1, "feet", ParamConverterDelayFeet::instance()},
        {2, "sample", ParamConverterDelaySample::instance(96000)},
        {3, "ms", ParamConverterDelayMs::instance()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.unit);
        QTest::mouseClick(block->scaleButton(row.id), Qt::LeftButton);
        EXPECT_EQ(rack.read(0, kScale), row.id);
        EXPECT_EQ(block->frameRateButton()->isEnabled(), row.id == 4);
        ASSERT_TRUE(qtest::waitUntil([&] {
            for (auto* column : panel->outputColumns())
                if (column->unitLabel()->text() != QLatin1String(row.unit))
                    return false;
            return true;
        }));
        EXPECT_EQ(panel->outputColumns()[2]->delayValue()->text(), shown(row.converter, 4800));
        EXPECT_EQ(panel->outputColumns()[21]->delayValue()->text(), shown(row.converter, 960));
        EXPECT_FALSE(panel->outputColumns()[2]->delayMs()->isVisible());
    }

    // The frame scale follows the chosen frame rate.
    QTest::mouseClick(block->scaleButton(4), Qt::LeftButton);
    qtest::ModalDriver driver;
    driver.chooseMenuItem(QStringLiteral("59.94"));
    QTest::mouseClick(block->frameRateButton(), Qt::LeftButton);
    ASSERT_TRUE(driver.waitAllAnswered());
    EXPECT_EQ(driver.seen().at(0).text, QStringLiteral("30\n29.97\n25\n24\n60\n59.94\n50"));
    EXPECT_EQ(rack.read(0, kFrame), 5);
    EXPECT_EQ(block->frameRateButton()->text(), QStringLiteral("59.94"));
    const auto frames = writesTo(kFrame);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().value, 5);
    EXPECT_EQ(frames.back().source, 1);
    EXPECT_TRUE(qtest::waitUntil([&] {
        return panel->outputColumns()[2]->delayValue()->text() == shown(ParamConverterDelayFrame::instance(5), 4800);
    }));
}

TEST_F(BroxOutputBlock, FrameRateAndScaleGuards)
{
    ASSERT_NO_FATAL_FAILURE(open());
    EXPECT_EQ(block->setDelayFrame(7), kFail);
    EXPECT_EQ(block->setDelayFrame(-1), kFail);
    dev.writes.clear();
    EXPECT_EQ(block->onScaleBtnClicked(5), 0);
    EXPECT_TRUE(dev.writes.empty());
    Brox::MainDelayScaleUnitOutput unbound(11, 32, 24);
    EXPECT_EQ(unbound.onScaleBtnClicked(1), kFail);
    EXPECT_EQ(unbound.setDelayFrame(1), kFail);
    EXPECT_EQ(unbound.onFsChanged(), kFail);
    EXPECT_EQ(unbound.setAccessor(nullptr), kFail);
}

TEST_F(BroxOutputBlock, WordClockCaption)
{
    ASSERT_NO_FATAL_FAILURE(open());
    struct Row {
        int rate;
        const char* text;
        JResult result;
    };
    const Row rows[]
        = {{44100, "Fs=\n44.1kHz", 0}, {48000, "Fs=\n48kHz", 0}, {88200, "Fs=\n88.2kHz", 0}, {96000, "Fs=\n96kHz", 0},
            {176400, "Fs=\n176.4kHz", 0}, {192000, "Fs=\n192kHz", 0}, {0, "Fs=\n", 0}, {32000, "Fs=\n", kFail}};
    for (const Row& row : rows) {
        rack.linkWrite(0, "/Current/Dev:0/WordclockFs:0", row.rate);
        EXPECT_EQ(block->onFsChanged(), row.result) << row.rate;
        EXPECT_EQ(block->fsLabel()->text(), QString::fromLatin1(row.text)) << row.rate;
    }
}

TEST_F(BroxOutputBlock, ImpedanceToggles)
{
    const char* path = "/Current/Dev:0/OutputImpedance:0";
    ASSERT_GE(broxtest::writeText(rack.unit(0), path, "600"), 0);
    ASSERT_NO_FATAL_FAILURE(open());
    EXPECT_EQ(block->impedanceButton()->text(), QStringLiteral("600"));
    QTest::mouseClick(block->impedanceButton(), Qt::LeftButton);
    EXPECT_EQ(broxtest::readText(rack.unit(0), path), QStringLiteral("10k"));
    EXPECT_TRUE(qtest::waitUntil([&] { return block->impedanceButton()->text() == QLatin1String("10k"); }));
    QTest::mouseClick(block->impedanceButton(), Qt::LeftButton);
    EXPECT_EQ(broxtest::readText(rack.unit(0), path), QStringLiteral("600"));
    EXPECT_TRUE(qtest::waitUntil([&] { return block->impedanceButton()->text() == QLatin1String("600"); }));
    // A text the unit should not report shows as 10k, and a click writes 10k.
    ASSERT_GE(broxtest::writeText(rack.unit(0), path, "Lo"), 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return block->impedanceButton()->text() == QLatin1String("10k"); }));
    QTest::mouseClick(block->impedanceButton(), Qt::LeftButton);
    EXPECT_EQ(broxtest::readText(rack.unit(0), path), QStringLiteral("10k"));
}

TEST_F(BroxOutputBlock, RightPhonesShowsMonoAndWritesOnlyTheUsersChoice)
{
    rack.linkWrite(0, kMono, 1);
    rack.linkWrite(0, kRightAssign, 7);
    ASSERT_NO_FATAL_FAILURE(open());
    ZPopup* right = block->rightPhones();
    EXPECT_EQ(right->text(), QStringLiteral("MONO"));

    // The unit turns Mono off, then reports right source 0: the pop-up
    // shows INPUT 7, then MONO, and writes nothing back.
    dev.writes.clear();
    rack.linkWrite(0, kMono, 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return right->text() == QLatin1String("INPUT 7"); }));
    rack.linkWrite(0, kRightAssign, 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return right->text() == QLatin1String("MONO"); }));
    settle();
    EXPECT_EQ(rack.read(0, kMono), 0);
    EXPECT_TRUE(dev.writes.empty());
    rack.linkWrite(0, kRightAssign, 12);
    EXPECT_TRUE(qtest::waitUntil([&] { return right->text() == QLatin1String("INPUT 12"); }));
    EXPECT_TRUE(dev.writes.empty());

    // The user picks INPUT 3: Mono off, then the source, both with source 0.
    QTest::mouseClick(right, Qt::LeftButton);
    ASSERT_TRUE(qtest::waitUntil([&] { return right->popupFrame() && right->popupFrame()->isVisible(); }));
    ZPopupItem* cell = right->cells().at(3);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(), QStringLiteral("INPUT 3"));
    QTest::mouseClick(cell, Qt::LeftButton);
    ASSERT_EQ(dev.writes.size(), 2u);
    EXPECT_EQ(dev.writes[0].path, kMono);
    EXPECT_EQ(dev.writes[0].value, 0);
    EXPECT_EQ(dev.writes[0].source, 0);
    EXPECT_EQ(dev.writes[1].path, kRightAssign);
    EXPECT_EQ(dev.writes[1].value, 3);
    EXPECT_EQ(dev.writes[1].source, 0);
    EXPECT_EQ(rack.read(0, kRightAssign), 3);
    settle();
    EXPECT_EQ(right->text(), QStringLiteral("INPUT 3"));
    EXPECT_EQ(dev.writes.size(), 2u);

    // Picking MONO sets Mono only.
    dev.writes.clear();
    QTest::mouseClick(right, Qt::LeftButton);
    ASSERT_TRUE(qtest::waitUntil([&] { return right->popupFrame() && right->popupFrame()->isVisible(); }));
    QTest::mouseClick(right->cells().at(0), Qt::LeftButton);
    ASSERT_EQ(dev.writes.size(), 1u);
    EXPECT_EQ(dev.writes[0].path, kMono);
    EXPECT_EQ(dev.writes[0].value, 1);
    EXPECT_EQ(rack.read(0, kRightAssign), 3);
}

TEST_F(BroxOutputBlock, HeadphoneListsFollowTheChannelCounts)
{
    struct Row {
        int slot;
        int inputs;
        int outputs;
        const char* dante;
    };
    for (const Row& row : {Row{0, 32, 24, "DANTE 25"}, Row{1, 16, 8, "DANTE 9"}}) {
        SCOPED_TRACE(row.slot);
        Brox::MainDelayScaleUnitOutput unit(row.slot == 0 ? 11 : 12, row.inputs, row.outputs);
        for (ZPopup* popup : {unit.leftPhones(), unit.rightPhones()}) {
            const auto& entries = popup->menuItems();
            ASSERT_EQ(entries.size(), 59u);
            EXPECT_EQ(popup->groupOverride(), QStringLiteral("1;8;8;8;8;8;8;8;2"));
            EXPECT_EQ(popup->menuItemSize(), QSize(65, 16));
            for (const ZPopupEntry& entry : entries) {
                bool visible = true;
                if (entry.id >= 1 && entry.id <= 32)
                    visible = entry.id - 1 < row.inputs;
                else if (entry.id >= 33 && entry.id <= 56)
                    visible = entry.id - 33 < row.outputs;
                EXPECT_EQ(entry.visible, visible) << entry.text.toStdString();
            }
            EXPECT_EQ(entries[17].text, QStringLiteral("INPUT 17"));
            EXPECT_EQ(entries[41].text, QStringLiteral("OUTPUT 9"));
            EXPECT_EQ(entries[49].text, QStringLiteral("AES 1"));
            EXPECT_EQ(entries[57].text, QString::fromLatin1(row.dante));
        }
        EXPECT_EQ(unit.leftPhones()->menuItems()[0].text, QStringLiteral("NONE"));
        EXPECT_EQ(unit.rightPhones()->menuItems()[0].text, QStringLiteral("MONO"));
    }
}

TEST_F(BroxOutputBlock, ScaleAndFrameSetElsewhereMoveTheButtonsWithoutWriting)
{
    ASSERT_NO_FATAL_FAILURE(open());
    dev.writes.clear();
    // A setup file or the unit's side changes the scale and frame rate.
    rack.linkWrite(0, kFrame, 2);
    rack.linkWrite(0, kScale, 4);
    ASSERT_TRUE(qtest::waitUntil([&] { return block->scaleButton(4)->isChecked(); }));
    EXPECT_TRUE(block->frameRateButton()->isEnabled());
    EXPECT_TRUE(qtest::waitUntil([&] { return block->frameRateButton()->text() == QLatin1String("25"); }));
    rack.linkWrite(0, kScale, 1);
    ASSERT_TRUE(qtest::waitUntil([&] { return block->scaleButton(1)->isChecked(); }));
    EXPECT_FALSE(block->scaleButton(4)->isChecked());
    EXPECT_FALSE(block->frameRateButton()->isEnabled());
    EXPECT_TRUE(qtest::waitUntil([&] { return panel->outputColumns()[0]->unitLabel()->text() == "feet"; }));
    EXPECT_TRUE(dev.writes.empty());
}

TEST_F(BroxOutputBlock, HandlersRunOncePerChangeAfterRebinding)
{
    ASSERT_NO_FATAL_FAILURE(open());
    // Bind everything a second time, as a new init would.
    ASSERT_EQ(panel->init(0, &dev, &host), 0);
    settle();
    const int followsBefore = block->scaleFollows();
    std::vector<int> before;
    for (auto* column : panel->outputColumns())
        before.push_back(column->rebindCount());
    for (int change = 0; change < 10; ++change) {
        QTest::mouseClick(block->scaleButton((change + 1) % 5), Qt::LeftButton);
        settle();
    }
    EXPECT_EQ(block->scaleFollows() - followsBefore, 10);
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(panel->outputColumns()[i]->rebindCount() - before[i], 10) << "output " << i;
}

} // namespace
