// Matching a checked .dnt file against a module: check flags, filter
// information and the file information for one model id.
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

constexpr const char* kPlatforms[] = {"Bklyn2", "Bklyn3"};

bool validInfo(const DntFileInfo* info)
{
    return info != nullptr && info->info_exist == 1;
}

int modelCount(const DntFileInfo* info)
{
    return std::min<int>(info->md_count, DNT_MAX_DESCRIPTORS);
}

bool versionZero(const DfaVersion& v)
{
    return v.major == 0 && v.minor == 0 && v.bugfix == 0 && v.build == 0;
}

void takeVersion(DfaVersion* into, const DfaVersion& from)
{
    if (versionZero(*into))
        *into = from;
}

} // namespace

bool dfa_dntchk_id_zero(const uint8_t* id)
{
    return std::all_of(id, id + DFA_MODEL_ID_SIZE, [](uint8_t b) { return b == 0; });
}

bool dfa_dntchk_id_equal(const uint8_t* a, const uint8_t* b)
{
    return dfa_dntchk_id_zero(a) || dfa_dntchk_id_zero(b) || std::memcmp(a, b, DFA_MODEL_ID_SIZE) == 0;
}

void dfa_dntchk_count_models(const DntFileInfo* info, int* wildcard, int* individual)
{
    int zero = 0;
    int other = 0;
    for (int i = 0; info != nullptr && i < modelCount(info); ++i)
        (dfa_dntchk_id_zero(info->md[i].model_id) ? zero : other)++;
    if (wildcard != nullptr)
        *wildcard = zero;
    if (individual != nullptr)
        *individual = other;
}

int dfa_dntchk_find_model(const DntFileInfo* info, const uint8_t* model_id)
{
    for (int i = 0; i < modelCount(info); ++i) {
        const uint8_t* id = info->md[i].model_id;
        if (!dfa_dntchk_id_zero(id) && std::memcmp(id, model_id, DFA_MODEL_ID_SIZE) == 0)
            return i;
    }
    return -1;
}

const char* dfa_dntchk_id_text(const uint8_t* id, char* text)
{
    std::snprintf(text, 17, "%02X%02X%02X%02X%02X%02X%02X%02X", id[0], id[1], id[2], id[3], id[4], id[5], id[6], id[7]);
    return text;
}

DfaResult dfa_dntchk_model_id_of_type(uint32_t type, uint8_t* model_id)
{
    if (model_id == nullptr)
        return DFA_ERR_PARAM;
    if (type >= std::size(kPlatforms)) {
        dfa_print("[dntchk] Model Type [%08x] illegal.\n", type);
        return DFA_ERR_UNKNOWN;
    }
    std::memset(model_id, 0, DFA_MODEL_ID_SIZE);
    std::memcpy(model_id, kPlatforms[type], std::strlen(kPlatforms[type]));
    return DFA_ERR_NOERR;
}

DfaResult dfa_dntchk_type_of_model_id(const uint8_t* model_id, uint32_t* type)
{
    if (model_id == nullptr || type == nullptr)
        return DFA_ERR_PARAM;
    for (uint32_t t = 0; t < std::size(kPlatforms); ++t) {
        uint8_t id[DFA_MODEL_ID_SIZE];
        dfa_dntchk_model_id_of_type(t, id);
        if (std::memcmp(id, model_id, DFA_MODEL_ID_SIZE) == 0) {
            *type = t;
            return DFA_ERR_NOERR;
        }
    }
    dfa_print("[dntchk] Model Id illegal.\n");
    return DFA_ERR_UNKNOWN;
}

DfaResult dfa_dntchk_devinfo(const DfaOverride* override_record, const DntFileInfo* info, DfaDeviceInfo* device)
{
    if (override_record == nullptr || device == nullptr)
        return DFA_ERR_PARAM;
    device->check_flags = 0;
    const uint8_t* model = override_record->enabled == 1 ? override_record->model_id : device->manf_model_id;
    if (!validInfo(info)) {
        device->check_flags = DNT_FLAG_NO_INFO;
        return DFA_ERR_NOERR;
    }
    uint16_t flags = 0;
    if (std::memcmp(device->module_model_id, info->platform, DFA_MODEL_ID_SIZE) != 0)
        flags |= DNT_FLAG_PLATFORM;
    if (!dfa_dntchk_id_equal(device->manf_id, info->manf_id))
        flags |= DNT_FLAG_MANUFACTURER;
    int wildcard = 0;
    int individual = 0;
    dfa_dntchk_count_models(info, &wildcard, &individual);
    if (!dfa_dntchk_id_zero(model)) {
        if (individual > 0) {
            if (dfa_dntchk_find_model(info, model) < 0)
                flags |= DNT_FLAG_MODEL;
        } else if (wildcard == 0) {
            flags |= DNT_FLAG_MODEL;
        }
    } else if (individual >= 2) {
        flags |= DNT_FLAG_NEEDS_MODEL_ID;
    }
    device->check_flags = flags;
    return DFA_ERR_NOERR;
}

DfaResult dfa_dntchk_filter_info(const DfaOverride* override_record, const DntFileInfo* info, DfaFilterInfo* out)
{
    if (override_record == nullptr || out == nullptr)
        return DFA_ERR_PARAM;
    if (!validInfo(info)) {
        dfa_print("[dntchk] No valid dnt file is specified.\n");
        return DFA_ERR_DNT_NOT_FOUND;
    }
    *out = DfaFilterInfo{};
    std::memcpy(out->platform, info->platform, DFA_MODEL_ID_SIZE);
    std::memcpy(out->manf_id, info->manf_id, DFA_MODEL_ID_SIZE);
    out->override_flag = override_record->enabled;
    int individual = 0;
    dfa_dntchk_count_models(info, nullptr, &individual);
    if (override_record->enabled == 1) {
        char text[17];
        if (!dfa_dntchk_id_zero(override_record->model_id)) {
            if (individual > 0 && dfa_dntchk_find_model(info, override_record->model_id) < 0) {
                dfa_print("[dntchk] No model descriptors for manf_model_id [%s] is exist.\n",
                    dfa_dntchk_id_text(override_record->model_id, text));
                return DFA_ERR_FILTER_COND;
            }
        } else if (individual > 1) {
            dfa_print("[dntchk] Target manf_model_id is WILDCARD, but %d individual model descriptors are exist.\n",
                individual);
            return DFA_ERR_FILTER_COND;
        }
        // The module is named by the override: one all-zero id.
        out->model_id_count = 1;
        return DFA_ERR_NOERR;
    }
    if (individual == 0) {
        out->model_id_count = 1;
        return DFA_ERR_NOERR;
    }
    for (int i = 0; i < modelCount(info); ++i) {
        if (!dfa_dntchk_id_zero(info->md[i].model_id))
            std::memcpy(out->model_ids[out->model_id_count++], info->md[i].model_id, DFA_MODEL_ID_SIZE);
    }
    return DFA_ERR_NOERR;
}

DfaResult dfa_dntchk_model_info(const uint8_t* model_id, const DntFileInfo* info, DntFileInfo* out)
{
    if (model_id == nullptr || out == nullptr)
        return DFA_ERR_PARAM;
    if (!validInfo(info)) {
        dfa_print("[dntchk] No valid information is set to dntFileInfo.\n");
        return DFA_ERR_DNT_NOT_FOUND;
    }
    const bool wildcardId = dfa_dntchk_id_zero(model_id);
    if (wildcardId) {
        int individual = 0;
        dfa_dntchk_count_models(info, nullptr, &individual);
        if (individual > 1) {
            dfa_print("[dntchk] Multiple (%d) individual model descriptors are exist for WILDCARD manf_model_id.\n",
                individual);
            return DFA_ERR_FILTER_COND;
        }
    }
    DntModelDesc merged{};
    std::memcpy(merged.model_id, model_id, DFA_MODEL_ID_SIZE);
    for (int i = 0; i < modelCount(info); ++i) {
        const DntModelDesc& md = info->md[i];
        if (!wildcardId && !dfa_dntchk_id_equal(md.model_id, model_id))
            continue;
        if ((merged.parts & md.parts) != 0) {
            if (wildcardId)
                dfa_print("[dntchk] Duplicate part bit [%04x] is exist for WILDCARD manf_model_id.\n",
                    merged.parts & md.parts);
            else
                dfa_print(
                    "[dntchk] duplicated parts exist. grepInfo.parts:[%04x] md.parts:[%04x]\n", merged.parts, md.parts);
            return DFA_ERR_FILTER_COND;
        }
        merged.parts |= md.parts;
        takeVersion(&merged.part12, md.part12);
        takeVersion(&merged.part1, md.part1);
        takeVersion(&merged.fw, md.fw);
        takeVersion(&merged.sw, md.sw);
    }
    if (merged.parts == 0) {
        char text[17];
        dfa_print("[dntchk] No matched model descriptor is exist for manf_model_id:[%s]\n",
            dfa_dntchk_id_text(model_id, text));
        return DFA_ERR_FILTER_COND;
    }
    if (out != info)
        *out = *info;
    std::fill(std::begin(out->md), std::end(out->md), DntModelDesc{});
    out->md[0] = merged;
    out->md_count = 1;
    return DFA_ERR_NOERR;
}
