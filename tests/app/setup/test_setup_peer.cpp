// Setup files against the independent peer: ours are read by it, and files
// it writes (good, foreign and damaged) are read by us.
#include "app/app_setupfile.h"
#include "mmsfield/mmsfield_block.h"
#include "tests/app/setup/setup_rack.h"
#include "tests/support/test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>

namespace {

using Quil::DEV_E_FAIL;
using setup_test::TestRack;

const char* const kPeerBroxDelay = "/Backup/OutCh:4/DelayTime:0";
const char* const kPeerSornPatch = "/Backup/Patch:3/UserPatchSrc:0";

struct PeerRead {
    int status = -1;
    QJsonObject json;
    std::string output;
};

class SetupFilePeer : public ::testing::Test {
protected:
    std::string file(const char* name) const { return dir.file(name); }
    QString path(const char* name) const { return QString::fromStdString(file(name)); }

    static std::string quote(const std::string& s) { return "'" + s + "'"; }

    PeerRead peerRead(const std::string& target) const
    {
        PeerRead r;
        r.status = qtest::runCommand(
            "python3 " + quote(qtest::peerPath("quil.py")) + " read " + quote(target) + " 2>&1", &r.output);
        if (r.status == 0)
            r.json = QJsonDocument::fromJson(QByteArray::fromStdString(r.output)).object();
        return r;
    }

    bool peerWrite(const std::string& target, const QJsonObject& spec) const
    {
        const std::string specFile = target + ".json";
        return qtest::writeFile(specFile, QJsonDocument(spec).toJson().toStdString())
            && qtest::runCommand("python3 " + quote(qtest::peerPath("quil.py")) + " write " + quote(target) + " "
                   + quote(specFile) + " 2>&1")
            == 0;
    }

    // BroxL-D3 in slot 0 (device id 33) and Sorn-D in slot 2 (id 44), with
    // changed stored values; saved by us.
    static void fillRack(TestRack& rack)
    {
        rack.slot(0).setDeviceId(33);
        rack.slot(2).setDeviceId(44);
        ASSERT_EQ(rack.mountModel(0, Quil::MODEL_BROXL_D3), 0);
        ASSERT_EQ(rack.mountModel(2, Quil::MODEL_SORN_D), 0);
        ASSERT_GE(rack.set(0, kPeerBroxDelay, 1234), 0);
        ASSERT_GE(rack.set(2, kPeerSornPatch, 17), 0);
    }

    // The stored images of our own file's unit blocks, in block order.
    std::vector<QString> unitImages(const std::string& target) const
    {
        MMSFUNC::mbdf_registerMMSFieldBlockFactory();
        FILECACHE::MBDF mbdf(4);
        std::vector<QString> out;
        if (mbdf.read(target.c_str(), true, nullptr, nullptr) < 0)
            return out;
        for (auto p = mbdf.begin(); p != mbdf.end(); p = mbdf.next(p)) {
            const auto& block = mbdf.blockAt(p);
            if (block.subName() != "ProjSetup")
                out.push_back(QString::fromStdString(qtest::hex(block.part2Data(), block.part2Size())));
        }
        return out;
    }

    // A peer spec of the rack above with units made from our images.
    QJsonObject goodSpec()
    {
        TestRack rack;
        fillRack(rack);
        QString error;
        EXPECT_EQ(Quil::saveProject(rack, path("source.quil"), &error), 0);
        const std::vector<QString> images = unitImages(file("source.quil"));
        EXPECT_EQ(images.size(), 2u);
        QJsonArray rows;
        for (int i = 0; i < Quil::kRackSlotCount; ++i)
            rows.append(QJsonArray{rack.slot(i).modelType(), i + 1, rack.slot(i).deviceId()});
        const auto unit = [](const char* family, const char* model, int unitId, const QString& image) {
            return QJsonObject{{"name", family},
                {"info",
                    QJsonObject{{"Version", 256}, {"ModelType", family}, {"UnitID", unitId}, {"ModelName", model},
                        {"MMSField", "Backup"}}},
                {"image_hex", image}};
        };
        return QJsonObject{{"rack", rows},
            {"units", QJsonArray{unit("Brox", "BroxL-D3", 1, images.at(0)), unit("Sorn", "Sorn-D", 3, images.at(1))}}};
    }

    qtest::TempDir dir;
};

TEST_F(SetupFilePeer, OurFileIsReadByThePeer)
{
    TestRack rack;
    fillRack(rack);
    ASSERT_EQ(rack.mountModel(4, Quil::MODEL_MAVIK_D), 0);
    QString error;
    ASSERT_EQ(Quil::saveProject(rack, path("ours.quil"), &error), 0);

    const PeerRead read = peerRead(file("ours.quil"));
    ASSERT_EQ(read.status, 0) << read.output;
    EXPECT_EQ(read.json["product"].toString(), "Quillon");
    EXPECT_EQ(read.json["version"].toString(), "d6060000");
    EXPECT_TRUE(read.json["ids_valid"].toBool());
    EXPECT_EQ(read.json["uuid_version"].toInt(), 4);
    const QJsonArray rows = read.json["rack"].toArray();
    ASSERT_EQ(rows.size(), 24);
    for (int i = 0; i < 24; ++i) {
        const QJsonArray row = rows[i].toArray();
        EXPECT_EQ(row[0].toInt(), rack.slot(i).modelType()) << i;
        EXPECT_EQ(row[1].toInt(), i + 1) << i;
        EXPECT_EQ(row[2].toInt(), rack.slot(i).deviceId()) << i;
    }
    EXPECT_EQ(read.json["blocks"].toArray(),
        (QJsonArray{"#MMS FIELD/ProjSetup", "#MMS FIELD/Brox3", "#MMS FIELD/Sorn", "#MMS FIELD/Mavik", "#END/"}));
    const QJsonArray units = read.json["units"].toArray();
    ASSERT_EQ(units.size(), 3);
    const QJsonObject brox = units[0].toObject()["info"].toObject();
    EXPECT_EQ(brox["ModelType"].toString(), "Brox");
    EXPECT_EQ(brox["ModelName"].toString(), "BroxL-D3");
    EXPECT_EQ(brox["UnitID"].toInt(), 1);
    EXPECT_EQ(units[1].toObject()["info"].toObject()["UnitID"].toInt(), 3);
    EXPECT_TRUE(units[2].toObject()["info"].isNull()) << "Mavik blocks carry no DataInfo";
}

TEST_F(SetupFilePeer, TwoSavesDifferOnlyInTheUuid)
{
    TestRack rack;
    fillRack(rack);
    QString error;
    ASSERT_EQ(Quil::saveProject(rack, path("a.quil"), &error), 0);
    ASSERT_EQ(Quil::saveProject(rack, path("b.quil"), &error), 0);
    const std::string a = qtest::readFile(file("a.quil"));
    const std::string b = qtest::readFile(file("b.quil"));
    ASSERT_EQ(a.size(), b.size());
    const std::string uuidA = peerRead(file("a.quil")).json["uuid"].toString().remove('-').toStdString();
    const size_t at = qtest::hex(a).find(uuidA);
    ASSERT_NE(at, std::string::npos);
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) {
            EXPECT_TRUE(i >= at / 2 && i < at / 2 + 16) << "byte " << i << " outside the UUID";
        }
    EXPECT_NE(a.substr(at / 2, 16), b.substr(at / 2, 16));
}

// Every peer file is loaded into a rack that already holds units; a refused
// file leaves it exactly as it was.
TEST_F(SetupFilePeer, PeerWrittenFiles)
{
    struct Case {
        const char* name;
        std::function<void(QJsonObject&)> change;
        JResult result;
        const char* text;
        std::function<void(const TestRack&)> check;
    };
    const auto setRow = [](QJsonObject& spec, int slot, const QJsonArray& row) {
        QJsonArray rows = spec["rack"].toArray();
        rows[slot] = row;
        spec["rack"] = rows;
    };
    const auto setUnitId = [](QJsonObject& spec, int unit, int unitId) {
        QJsonArray units = spec["units"].toArray();
        QJsonObject u = units[unit].toObject();
        QJsonObject info = u["info"].toObject();
        info["UnitID"] = unitId;
        u["info"] = info;
        units[unit] = u;
        spec["units"] = units;
    };
    const auto damageImage = [](QJsonObject& spec, int unit) {
        QJsonArray units = spec["units"].toArray();
        QJsonObject u = units[unit].toObject();
        QString image = u["image_hex"].toString();
        u["image_hex"] = image.left(image.size() / 2) + QString(image.size() / 2, 'f');
        units[unit] = u;
        spec["units"] = units;
    };
    const Case cases[] = {
        {"good", [](QJsonObject&) {}, 0, "",
            [](const TestRack& r) {
                EXPECT_EQ(r.slot(0).modelType(), Quil::MODEL_BROXL_D3);
                EXPECT_EQ(r.slot(0).deviceId(), 33);
                EXPECT_EQ(r.value(0, kPeerBroxDelay), 1234);
                EXPECT_EQ(r.value(2, kPeerSornPatch), 17);
                EXPECT_EQ(r.slot(9).modelType(), Quil::MODEL_NONE);
            }},
        {"old version", [](QJsonObject& s) { s["version"] = "000006d6"; }, 0, "",
            [](const TestRack& r) {
                for (int i = 0; i < 24; ++i)
                    EXPECT_EQ(r.slot(i).deviceId(), i + 1) << i;
                EXPECT_EQ(r.slot(0).modelType(), Quil::MODEL_BROXL_D3);
            }},
        {"unit id not index + 1",
            [&](QJsonObject& s) {
                setRow(s, 2, QJsonArray{5, 9, 44});
                s["units"] = QJsonArray{s["units"].toArray()[0]};
            },
            0, "",
            [](const TestRack& r) {
                EXPECT_EQ(r.slot(2).modelType(), Quil::MODEL_NONE);
                EXPECT_EQ(r.slot(2).deviceId(), 44);
            }},
        {"DataInfo unit ids 0 and 25",
            [&](QJsonObject& s) {
                setUnitId(s, 0, 0);
                setUnitId(s, 1, 25);
            },
            0, "",
            [](const TestRack& r) {
                EXPECT_EQ(r.slot(0).modelType(), Quil::MODEL_BROXL_D3);
                EXPECT_EQ(r.value(0, kPeerBroxDelay), 0);
                EXPECT_NE(r.value(2, kPeerSornPatch), 17);
            }},
        {"damaged Backup image", [&](QJsonObject& s) { damageImage(s, 0); }, DEV_E_FAIL, "Invalid data structure.",
            [](const TestRack& r) {
                EXPECT_EQ(r.slot(0).modelType(), Quil::MODEL_BROXL_D3);
                EXPECT_EQ(r.value(0, kPeerBroxDelay), 0);
                EXPECT_EQ(r.value(2, kPeerSornPatch), 17) << "the next unit still loads";
            }},
        {"product with a blank", [](QJsonObject& s) { s["product"] = "Quillon "; }, DEV_E_FAIL,
            "Different kind of data.", nullptr},
        {"short product", [](QJsonObject& s) { s["product"] = "Quillo"; }, DEV_E_FAIL, "Different kind of data.",
            nullptr},
        {"other kind", [](QJsonObject& s) { s["kind"] = "Library"; }, DEV_E_FAIL, "Different kind of data.", nullptr},
        {"no end block", [](QJsonObject& s) { s["end"] = false; }, DEV_E_FAIL, "", nullptr},
        {"cut in the top block", [](QJsonObject& s) { s["truncate"] = 40; }, DEV_E_FAIL, "", nullptr},
        {"cut in a unit block", [](QJsonObject& s) { s["truncate"] = 400; }, DEV_E_FAIL, "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QJsonObject spec = goodSpec();
        c.change(spec);
        ASSERT_TRUE(peerWrite(file("peer.quil"), spec));
        const PeerRead verdict = peerRead(file("peer.quil"));

        TestRack rack;
        ASSERT_EQ(rack.mountModel(9, Quil::MODEL_BROXM_D), 0);
        ASSERT_GE(rack.set(9, kPeerBroxDelay, 77), 0);
        rack.slot(9).setDeviceId(12);
        const auto before = rack.layout();
        QString error;
        EXPECT_EQ(Quil::loadProject(rack, path("peer.quil"), &error), c.result);
        EXPECT_EQ(error.toStdString(), c.text);
        if (c.check) {
            c.check(rack);
        } else {
            EXPECT_EQ(verdict.status, 2) << verdict.output;
            EXPECT_EQ(rack.layout(), before);
            EXPECT_EQ(rack.value(9, kPeerBroxDelay), 77);
        }
    }
}

} // namespace
