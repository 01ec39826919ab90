// Setup blocks: what a unit writes into a setup file and what it accepts
// back. Saved images are read by the independent image reader as well.
#include "tests/device/device_test.h"

#include "device/memory/dev_optiondata.h"
#include "mms/mms_lockedfield.h"
#include "mmsfield/mmsfield_block.h"

#include <functional>
#include <string>
#include <vector>

using namespace devtest;
using MMSFUNC::MBDFMMSFieldBlock;

namespace {

// Values written before a save, per family.
const std::vector<std::pair<const char*, int32_t>> kBroxValues = {
    {"/Backup/InCh:0/48VOn:0", 1},
    {"/Backup/InCh:31/HPFFreq:0", 40},
    {"/Backup/InCh:7/HAGain:0", 33},
    {"/Backup/OutCh:23/GainLevel:0", -1234},
    {"/Backup/OutChAES:2/DelayTime:0", 999999},
    {"/Backup/Headphone:1/Mono:0", 0},
    {"/Backup/OutputSetup:0/DelayFrame:0", 6},
};
const std::vector<std::pair<const char*, int32_t>> kSornValues = {
    {"/Backup/Patch:0/UserPatchSrc:0", 200},
    {"/Backup/Patch:127/UserPatchSrc:0", 7},
};

const std::vector<std::pair<const char*, int32_t>>& valuesOf(ModelType type)
{
    return type == MODEL_SORN_D ? kSornValues : kBroxValues;
}

// Every function's image, to show that a refused block changed nothing.
std::vector<uint8_t> snapshot(Unit& unit)
{
    std::vector<uint8_t> all;
    for (const char* function : {"Backup", "Current", "Event", "DevInfo", "DevState", "ListItem", "LogEvent"}) {
        MMS::Field* field = unit.archiver.field(function);
        if (!field)
            continue;
        uint32_t size = 0;
        EXPECT_GE(field->getImageSizeByName(&size, function, nullptr, 0), 0);
        std::vector<uint8_t> image(size);
        uint32_t length = 0;
        EXPECT_GE(field->exportImageByName(image.data(), &length, size, function, nullptr, 0, nullptr, 0, 1), 0);
        all.insert(all.end(), image.begin(), image.begin() + length);
    }
    return all;
}

// A DataInfo record as option data.
std::vector<uint8_t> dataInfo(const char* modelType, const char* modelName, const char* function)
{
    ZMBDFMMSOptionData info;
    EXPECT_TRUE(info.isValid());
    info.setValue("DataInfo/Version", JLIB::JVariant(uint32_t{256}));
    info.setValue("DataInfo/UnitID", JLIB::JVariant(uint32_t{1}));
    info.setValue("DataInfo/ModelType", JLIB::JVariant(modelType, 64));
    info.setValue("DataInfo/ModelName", JLIB::JVariant(modelName, 64));
    info.setValue("DataInfo/MMSField", JLIB::JVariant(function, 64));
    uint32_t size = 0;
    EXPECT_GE(info.dataSize(&size), 0);
    std::vector<uint8_t> bytes(size);
    EXPECT_GE(info.exportData(bytes.data(), size), 0);
    return bytes;
}

std::string peerDump(const std::string& file)
{
    std::string out;
    EXPECT_EQ(0, qtest::runCommand("python3 '" + qtest::peerPath("mms_image.py") + "' dump '" + file + "'", &out));
    return out;
}

} // namespace

TEST(DeviceMemorySetup, RoundTripForEveryTypeThatSaves)
{
    qtest::TempDir dir;
    for (ModelType type = MODEL_BROXL_D; type <= MODEL_LAST; ++type) {
        if (type == MODEL_MAVIK_D)
            continue;
        SCOPED_TRACE(modelNameOf(type));
        Unit source(type, 4);
        for (const auto& value : valuesOf(type))
            ASSERT_GE(source.write(value.first, value.second, SOURCE_UI), 0);
        MBDFMMSFieldBlock block;
        ASSERT_EQ(1, source.object->setupBlockCount());
        ASSERT_GE(source.object->saveSetup(0, familyNameOf(type), &block), 0);
        EXPECT_EQ(familyNameOf(type), block.subName());

        // The record names the family of the memory layout, not the model's
        // own family: types 7-12 say "Brox" too.
        ZMBDFMMSOptionData info;
        ASSERT_GE(info.importData(block.part1Data(), static_cast<uint32_t>(block.part1Size())), 0);
        JLIB::JVariant v;
        ASSERT_GE(info.getValue("DataInfo/ModelType", &v), 0);
        EXPECT_STREQ(type == MODEL_SORN_D ? "Sorn" : "Brox", v.getString());
        ASSERT_GE(info.getValue("DataInfo/ModelName", &v), 0);
        EXPECT_STREQ(modelNameOf(type), v.getString());
        ASSERT_GE(info.getValue("DataInfo/UnitID", &v), 0);
        EXPECT_EQ(5u, v.toInteger());
        ASSERT_GE(info.getValue("DataInfo/MMSField", &v), 0);
        EXPECT_STREQ("Backup", v.getString());

        Unit target(type, 9);
        for (const auto& value : valuesOf(type)) {
            target.marked(value.first, SOURCE_UI);
            target.marked(value.first, SOURCE_LINK);
        }
        ASSERT_GE(target.object->loadSetup(&block), 0);
        for (const auto& value : valuesOf(type)) {
            EXPECT_EQ(std::to_string(value.second), target.read(value.first)) << value.first;
            EXPECT_TRUE(target.marked(value.first, SOURCE_UI)) << value.first;
            EXPECT_TRUE(target.marked(value.first, SOURCE_LINK)) << value.first;
        }

        // The independent reader sees the same values and record.
        if (type == MODEL_BROXL_D || type == MODEL_PELLM_D2 || type == MODEL_SORN_D) {
            const std::string image = dir.file("image.bin");
            const std::string record = dir.file("record.bin");
            ASSERT_TRUE(qtest::writeFile(
                image, std::string(reinterpret_cast<const char*>(block.image()), block.imageLength())));
            ASSERT_TRUE(qtest::writeFile(record,
                std::string(reinterpret_cast<const char*>(block.part1Data()), static_cast<size_t>(block.part1Size()))));
            const std::string dump = peerDump(image);
            EXPECT_NE(std::string::npos, dump.find("name=Backup\n"));
            if (type == MODEL_SORN_D) {
                EXPECT_NE(std::string::npos, dump.find("/Patch[0]/UserPatchSrc[0]=200\n")) << dump;
                EXPECT_NE(std::string::npos, dump.find("/Patch[64]/UserPatchSrc[0]=0\n"));
            } else {
                EXPECT_NE(std::string::npos, dump.find("/OutCh[23]/GainLevel[0]=-1234\n")) << dump;
                EXPECT_NE(std::string::npos, dump.find("/InCh[31]/HPFFreq[0]=40\n"));
            }
            const std::string fields = peerDump(record);
            EXPECT_NE(std::string::npos, fields.find("name=DataInfo\n")) << fields;
            EXPECT_NE(std::string::npos,
                fields.find(std::string("/ModelType[0]=") + (type == MODEL_SORN_D ? "Sorn" : "Brox")));
            EXPECT_NE(std::string::npos, fields.find(std::string("/ModelName[0]=") + modelNameOf(type)));
            EXPECT_NE(std::string::npos, fields.find("/Version[0]=256\n"));
            EXPECT_NE(std::string::npos, fields.find("/MMSField[0]=Backup\n"));
        }
    }
}

TEST(DeviceMemorySetup, MavikSavesCurrentAndLoadsNothing)
{
    Unit mavik(MODEL_MAVIK_D);
    ASSERT_GE(mavik.write("/Current/InputRate:0/FsRate:0", 2, SOURCE_LINK), 0);
    MBDFMMSFieldBlock block;
    ASSERT_GE(mavik.object->saveSetup(0, "Mavik", &block), 0);
    EXPECT_EQ(0u, block.part1Size());
    qtest::TempDir dir;
    ASSERT_TRUE(qtest::writeFile(
        dir.file("current.bin"), std::string(reinterpret_cast<const char*>(block.image()), block.imageLength())));
    const std::string dump = peerDump(dir.file("current.bin"));
    EXPECT_NE(std::string::npos, dump.find("name=Current\n"));
    EXPECT_NE(std::string::npos, dump.find("/InputRate[0]/FsRate[0]=2\n")) << dump;

    Unit other(MODEL_MAVIK_D);
    const std::vector<uint8_t> before = snapshot(other);
    EXPECT_EQ(0, other.object->loadSetup(&block));
    EXPECT_EQ(before, snapshot(other));
}

TEST(DeviceMemorySetup, SaveRefusesBadIndexAndMissingBackup)
{
    Unit unit(MODEL_BROXL_D);
    MBDFMMSFieldBlock block;
    EXPECT_EQ(DEV_E_FAIL, unit.object->saveSetup(1, "Brox", &block));
    EXPECT_EQ(DEV_E_FAIL, unit.object->saveSetup(-1, "Brox", &block));
    EXPECT_EQ(DEV_E_FAIL, unit.object->saveSetup(0, "Brox", nullptr));
    MMSArchiver bare;
    BroxMemObject noBackup(0, MODEL_BROXL_D, nullptr, &bare);
    EXPECT_EQ(DEV_E_FAIL, noBackup.saveSetup(0, "Brox", &block));
    EXPECT_EQ(DEV_E_FAIL, noBackup.loadSetup(&block));
}

TEST(DeviceMemorySetup, RefusedBlocksChangeNothing)
{
    // Blocks made from other units' memories.
    Unit sorn(MODEL_SORN_D);
    MBDFMMSFieldBlock sornBlock;
    ASSERT_GE(sorn.object->saveSetup(0, "Sorn", &sornBlock), 0);
    Unit brox(MODEL_BROXL_D);
    ASSERT_GE(brox.write("/Backup/InCh:0/48VOn:0", 1, SOURCE_UI), 0);
    MBDFMMSFieldBlock broxBlock;
    ASSERT_GE(brox.object->saveSetup(0, "Brox", &broxBlock), 0);
    // A crafted memory: a connect request, unit-owned values and an event.
    Unit crafted(MODEL_BROXL_D);
    ASSERT_GE(crafted.write("/DevState/devstate:0/ConnectReq:0", 1, SOURCE_UI), 0);
    ASSERT_GE(crafted.write("/Current/Dev:0/MuteOn:0", 1, SOURCE_LINK), 0);
    ASSERT_GE(crafted.write("/Event/Dev:0/Identify:0", 1, SOURCE_UI), 0);

    using Make = std::function<void(MBDFMMSFieldBlock*)>;
    auto withFunction = [&](const char* function, std::vector<uint8_t> info) {
        return Make([&crafted, function, info](MBDFMMSFieldBlock* block) {
            ASSERT_GE(block->setField("Brox", crafted.archiver.field(function), function), 0);
            ASSERT_GE(block->setPart1(info.data(), static_cast<uint32_t>(info.size())), 0);
        });
    };
    auto fromBrox = [&](std::vector<uint8_t> info) {
        return Make([&broxBlock, info](MBDFMMSFieldBlock* block) {
            ASSERT_GE(block->copyFrom(broxBlock, true), 0);
            if (info.empty())
                block->setPart1(nullptr, 0);
            else
                ASSERT_GE(block->setPart1(info.data(), static_cast<uint32_t>(info.size())), 0);
        });
    };
    // A byte flipped at `at`, or the image cut to `keep` bytes.
    auto corruptImage = [&](size_t at, size_t keep) {
        return Make([&broxBlock, at, keep](MBDFMMSFieldBlock* block) {
            ASSERT_GE(block->copyFrom(broxBlock, true), 0);
            std::vector<uint8_t> image(broxBlock.image(), broxBlock.image() + broxBlock.imageLength());
            if (keep)
                image.resize(keep);
            else
                image[at] ^= 0x5A;
            ASSERT_GE(block->setPart2(image.data(), static_cast<uint32_t>(image.size())), 0);
        });
    };
    struct RefusedCase {
        const char* what;
        ModelType target;
        Make make;
    };
    const RefusedCase cases[] = {
        {"Sorn block into Brox", MODEL_BROXL_D, [&](MBDFMMSFieldBlock* b) { b->copyFrom(sornBlock, true); }},
        {"Brox block into Sorn", MODEL_SORN_D, [&](MBDFMMSFieldBlock* b) { b->copyFrom(broxBlock, true); }},
        {"family text of the model", MODEL_BROXL_D2, fromBrox(dataInfo("Brox2", "BroxL-D2", "Backup"))},
        {"unknown model", MODEL_BROXL_D, fromBrox(dataInfo("Brox", "BroxX-D", "Backup"))},
        {"Sorn model under Brox", MODEL_BROXL_D, fromBrox(dataInfo("Brox", "Sorn-D", "Backup"))},
        {"Brox model under Sorn", MODEL_SORN_D, fromBrox(dataInfo("Sorn", "BroxL-D", "Backup"))},
        {"no DataInfo", MODEL_BROXL_D, fromBrox({})},
        {"DataInfo garbage", MODEL_BROXL_D, fromBrox(std::vector<uint8_t>(80, 0xA5))},
        {"MMSField DevState", MODEL_BROXL_D, withFunction("DevState", dataInfo("Brox", "BroxL-D", "DevState"))},
        {"MMSField Current", MODEL_BROXL_D, withFunction("Current", dataInfo("Brox", "BroxL-D", "Current"))},
        {"MMSField Event", MODEL_BROXL_D, withFunction("Event", dataInfo("Brox", "BroxL-D", "Event"))},
        {"MMSField DevState of Sorn", MODEL_SORN_D, withFunction("DevState", dataInfo("Sorn", "Sorn-D", "DevState"))},
        {"MMSField unknown", MODEL_BROXL_D, fromBrox(dataInfo("Brox", "BroxL-D", "Nothing"))},
        {"image without its mark", MODEL_BROXL_D, corruptImage(2, 0)},
        {"image of no byte order", MODEL_BROXL_D, corruptImage(4, 0)},
        {"image cut short", MODEL_BROXL_D, corruptImage(0, 200)},
        {"image header only", MODEL_BROXL_D, corruptImage(0, 88)},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.what);
        MBDFMMSFieldBlock block;
        c.make(&block);
        Unit target(c.target);
        int triggers = 0;
        QObject::connect(&target.archiver, &MMSArchiver::update, [&] { ++triggers; });
        const std::vector<uint8_t> before = snapshot(target);
        EXPECT_LT(target.object->loadSetup(&block), 0);
        EXPECT_EQ(before, snapshot(target));
        EXPECT_EQ(0, triggers);
    }
    EXPECT_EQ(DEV_E_FAIL, brox.object->loadSetup(nullptr));
}
