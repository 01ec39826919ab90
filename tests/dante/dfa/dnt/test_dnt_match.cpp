// Matching checked file information against a module: check flags, the
// filter information of the device list and the information for one model
// id, as tables over small hand-made records.
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_internal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string BROX = "BROX24";
const std::string PELL = "PELL16";
const std::string SORN = "SORN08";
const std::string WILD = "";

void putId(uint8_t* target, const std::string& id)
{
    std::memset(target, 0, DFA_MODEL_ID_SIZE);
    std::memcpy(target, id.data(), id.size());
}

std::string idOf(const uint8_t* id)
{
    return std::string(reinterpret_cast<const char*>(id), strnlen(reinterpret_cast<const char*>(id), 8));
}

struct Md {
    std::string id;
    uint32_t parts;
    uint8_t fwMajor = 0;
};

std::unique_ptr<DntFileInfo> makeInfo(const std::vector<Md>& models, const std::string& manf = "Valdor")
{
    auto info = std::make_unique<DntFileInfo>();
    info->info_exist = 1;
    info->header_version = 3;
    putId(info->platform, "Bklyn2");
    putId(info->manf_id, manf);
    for (const Md& md : models) {
        DntModelDesc& d = info->md[info->md_count++];
        putId(d.model_id, md.id);
        d.parts = md.parts;
        d.fw.major = md.fwMajor;
    }
    return info;
}

DfaOverride overrideOf(uint8_t enabled, const std::string& id)
{
    DfaOverride record{};
    record.enabled = enabled;
    putId(record.model_id, id);
    return record;
}

class DntMatch : public ::testing::Test {
protected:
    void SetUp() override { dfa_set_print_level(0); }
    void TearDown() override { dfa_set_print_level(2); }
};

TEST_F(DntMatch, DeviceCheckFlags)
{
    const struct {
        const char* what;
        std::vector<Md> file;
        std::string deviceModel;
        std::string devicePlatform;
        std::string deviceManf;
        DfaOverride override_record;
        uint16_t flags;
    } cases[] = {
        {"matching device", {{BROX, 0x1F}}, BROX, "Bklyn2", "Valdor", {}, 0},
        {"other platform", {{BROX, 0x1F}}, BROX, "Bklyn3", "Valdor", {}, 0x10},
        {"other manufacturer", {{BROX, 0x1F}}, BROX, "Bklyn2", "Othrco", {}, 0x20},
        {"device of any manufacturer", {{BROX, 0x1F}}, BROX, "Bklyn2", "", {}, 0},
        {"model not in the file", {{BROX, 0x1F}}, PELL, "Bklyn2", "Valdor", {}, 0x40},
        {"wildcard file", {{WILD, 0x1F}}, PELL, "Bklyn2", "Valdor", {}, 0},
        {"wildcard and another model", {{WILD, 0x0F}, {SORN, 0x10}}, PELL, "Bklyn2", "Valdor", {}, 0x40},
        {"wildcard and the model", {{WILD, 0x0F}, {PELL, 0x10}}, PELL, "Bklyn2", "Valdor", {}, 0},
        {"no descriptors at all", {}, PELL, "Bklyn2", "Valdor", {}, 0x40},
        {"wildcard device, one model", {{BROX, 0x1F}}, WILD, "Bklyn2", "Valdor", {}, 0},
        {"wildcard device, two models", {{BROX, 0x1F}, {PELL, 0x1F}}, WILD, "Bklyn2", "Valdor", {}, 0x02},
        {"override names a model of the file", {{BROX, 0x1F}, {PELL, 0x1F}}, SORN, "Bklyn2", "Valdor",
            overrideOf(1, PELL), 0},
        {"override with a wildcard id", {{BROX, 0x1F}, {PELL, 0x1F}}, BROX, "Bklyn2", "Valdor", overrideOf(1, WILD),
            0x02},
        {"override not enabled", {{BROX, 0x1F}}, PELL, "Bklyn2", "Valdor", overrideOf(2, BROX), 0x40},
        {"everything differs", {{BROX, 0x1F}}, PELL, "Bklyn3", "Othrco", {}, 0x70},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto info = makeInfo(c.file);
        DfaDeviceInfo device{};
        device.check_flags = 0xFFFF;
        putId(device.manf_model_id, c.deviceModel);
        putId(device.module_model_id, c.devicePlatform);
        putId(device.manf_id, c.deviceManf);
        EXPECT_EQ(dfa_dntchk_devinfo(&c.override_record, info.get(), &device), DFA_ERR_NOERR);
        EXPECT_EQ(device.check_flags, c.flags);
    }
    DfaDeviceInfo device{};
    const DfaOverride none{};
    const auto invalid = makeInfo({{BROX, 0x1F}});
    invalid->info_exist = 0;
    EXPECT_EQ(dfa_dntchk_devinfo(&none, invalid.get(), &device), DFA_ERR_NOERR);
    EXPECT_EQ(device.check_flags, 0x01);
    EXPECT_EQ(dfa_dntchk_devinfo(&none, nullptr, &device), DFA_ERR_NOERR);
    EXPECT_EQ(device.check_flags, 0x01);
}

TEST_F(DntMatch, FilterInformation)
{
    const struct {
        const char* what;
        std::vector<Md> file;
        DfaOverride override_record;
        DfaResult code;
        std::vector<std::string> ids;
    } cases[] = {
        {"models in file order", {{BROX, 1}, {PELL, 2}}, {}, DFA_ERR_NOERR, {BROX, PELL}},
        {"wildcard only", {{WILD, 1}}, {}, DFA_ERR_NOERR, {WILD}},
        {"individual after wildcard", {{WILD, 1}, {SORN, 2}}, {}, DFA_ERR_NOERR, {SORN}},
        {"override found", {{BROX, 1}, {PELL, 2}}, overrideOf(1, PELL), DFA_ERR_NOERR, {WILD}},
        {"override not found", {{BROX, 1}, {PELL, 2}}, overrideOf(1, SORN), DFA_ERR_FILTER_COND, {}},
        {"override on a wildcard file", {{WILD, 1}}, overrideOf(1, SORN), DFA_ERR_NOERR, {WILD}},
        {"wildcard override, two models", {{BROX, 1}, {PELL, 2}}, overrideOf(1, WILD), DFA_ERR_FILTER_COND, {}},
        {"wildcard override, one model", {{BROX, 1}}, overrideOf(1, WILD), DFA_ERR_NOERR, {WILD}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto info = makeInfo(c.file);
        DfaFilterInfo out{};
        ASSERT_EQ(dfa_dntchk_filter_info(&c.override_record, info.get(), &out), c.code);
        if (c.code != DFA_ERR_NOERR)
            continue;
        EXPECT_EQ(idOf(out.platform), "Bklyn2");
        EXPECT_EQ(idOf(out.manf_id), "Valdor");
        EXPECT_EQ(out.override_flag, c.override_record.enabled);
        ASSERT_EQ(out.model_id_count, c.ids.size());
        for (size_t i = 0; i < c.ids.size(); ++i)
            EXPECT_EQ(idOf(out.model_ids[i]), c.ids[i]);
    }
    const DfaOverride none{};
    DfaFilterInfo out{};
    const auto invalid = makeInfo({{BROX, 1}});
    invalid->info_exist = 0;
    EXPECT_EQ(dfa_dntchk_filter_info(&none, invalid.get(), &out), DFA_ERR_DNT_NOT_FOUND);
}

TEST_F(DntMatch, InformationForOneModelId)
{
    const struct {
        const char* what;
        std::vector<Md> file;
        std::string model;
        DfaResult code;
        uint32_t parts;
        uint8_t fwMajor;
    } cases[] = {
        {"one model", {{BROX, 0x1F, 4}}, BROX, DFA_ERR_NOERR, 0x1F, 4},
        {"wildcard merged in", {{WILD, 0x0F}, {SORN, 0x10, 5}}, SORN, DFA_ERR_NOERR, 0x1F, 5},
        {"first non-zero version", {{WILD, 0x0F, 3}, {SORN, 0x10, 5}}, SORN, DFA_ERR_NOERR, 0x1F, 3},
        {"wildcard id over one model", {{WILD, 0x0F}, {SORN, 0x10, 5}}, WILD, DFA_ERR_NOERR, 0x1F, 5},
        {"wildcard id over two models", {{BROX, 0x0F}, {PELL, 0x10}}, WILD, DFA_ERR_FILTER_COND, 0, 0},
        {"a part twice", {{WILD, 0x0F}, {SORN, 0x01}}, SORN, DFA_ERR_FILTER_COND, 0, 0},
        {"a part twice, wildcard id", {{WILD, 0x0F}, {SORN, 0x01}}, WILD, DFA_ERR_FILTER_COND, 0, 0},
        {"no such model", {{BROX, 0x1F}}, PELL, DFA_ERR_FILTER_COND, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto info = makeInfo(c.file);
        uint8_t model[8];
        putId(model, c.model);
        const auto out = std::make_unique<DntFileInfo>();
        ASSERT_EQ(dfa_dntchk_model_info(model, info.get(), out.get()), c.code);
        if (c.code != DFA_ERR_NOERR)
            continue;
        EXPECT_EQ(out->md_count, 1);
        EXPECT_EQ(idOf(out->md[0].model_id), c.model);
        EXPECT_EQ(out->md[0].parts, c.parts);
        EXPECT_EQ(out->md[0].fw.major, c.fwMajor);
        EXPECT_EQ(idOf(out->md[1].model_id), "");
        EXPECT_EQ(out->info_exist, 1);
    }
    const auto invalid = makeInfo({{BROX, 1}});
    invalid->info_exist = 0;
    const auto out = std::make_unique<DntFileInfo>();
    EXPECT_EQ(dfa_dntchk_model_info(invalid->md[0].model_id, invalid.get(), out.get()), DFA_ERR_DNT_NOT_FOUND);
}

TEST_F(DntMatch, ModelIdsAndModuleTypes)
{
    uint8_t a[8];
    uint8_t b[8];
    uint8_t zero[8] = {};
    putId(a, BROX);
    putId(b, PELL);
    EXPECT_TRUE(dfa_dntchk_id_equal(a, a));
    EXPECT_FALSE(dfa_dntchk_id_equal(a, b));
    EXPECT_TRUE(dfa_dntchk_id_equal(a, zero));
    EXPECT_TRUE(dfa_dntchk_id_equal(zero, b));
    EXPECT_EQ(dfa_model_id_equal(a, b), 0);
    EXPECT_NE(dfa_model_id_equal(zero, b), 0);

    char text[17];
    EXPECT_STREQ(dfa_dntchk_id_text(a, text), "42524F5832340000");

    uint8_t id[8];
    uint32_t type = 99;
    for (uint32_t t : {0u, 1u}) {
        ASSERT_EQ(dfa_get_model_id_of_type(id, t), DFA_ERR_NOERR);
        EXPECT_EQ(idOf(id), t == 0 ? "Bklyn2" : "Bklyn3");
        ASSERT_EQ(dfa_get_type_of_model_id(&type, id), DFA_ERR_NOERR);
        EXPECT_EQ(type, t);
    }
    EXPECT_EQ(dfa_get_model_id_of_type(id, 2), DFA_ERR_UNKNOWN);
    putId(id, "Bklyn4");
    EXPECT_EQ(dfa_get_type_of_model_id(&type, id), DFA_ERR_UNKNOWN);

    int wildcard = -1;
    int individual = -1;
    const auto info = makeInfo({{WILD, 1}, {BROX, 2}, {PELL, 4}});
    dfa_dntchk_count_models(info.get(), &wildcard, &individual);
    EXPECT_EQ(wildcard, 1);
    EXPECT_EQ(individual, 2);
    EXPECT_EQ(dfa_dntchk_find_model(info.get(), b), 2);
    EXPECT_EQ(dfa_dntchk_find_model(info.get(), zero), -1);
}

TEST(DntNames, CodeNamesBySortedSearch)
{
    EXPECT_STREQ(dfa_error_name(DFA_ERR_NOERR), "ERR_NOERR");
    EXPECT_STREQ(dfa_error_name(DFA_ERR_DNT_FORMAT), "ERR_DNT_FORMAT");
    EXPECT_STREQ(dfa_error_name(DFA_ERR_DAPI_UNKNOWN), "ERR_DAPI_UNKNOWN");
    EXPECT_STREQ(dfa_error_name(DFA_ERR_NOT_IMPREMENTED), "ERR_NOT_IMPREMENTED");
    EXPECT_STREQ(dfa_error_name(0x4000), "ERR_BIT_DAPI");
    EXPECT_STREQ(dfa_error_name(0x8000), "ERR_BIT_ERROR");
    EXPECT_STREQ(dfa_error_name(0x1234), "unknown");
}

} // namespace
