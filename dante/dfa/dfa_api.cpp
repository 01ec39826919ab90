// Settings and file functions: the holder and the .dnt check for the
// firmware update front.
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_holder.h"

#include <cstring>
#include <memory>

namespace {

DfaResult settingsResult(DfaStatus status)
{
    return status == DFA_OK ? DFA_ERR_NOERR : DFA_ERR_PARAM;
}

// Checks the file of a slot into *info.
DfaResult checkSlotFile(uint8_t slot, DntFileInfo* info)
{
    char16_t path[DNT_PATH_CHARS];
    if (dfa_holder_get_dnt_path(path, DNT_PATH_CHARS, slot) != DFA_OK)
        return DFA_ERR_PARAM;
    return dfa_dntchk_dntfile(path, info);
}

} // namespace

DfaResult dfa_set_dnt_dir(const DfaSettings* settings)
{
    if (settings == nullptr)
        return DFA_ERR_PARAM;
    return settingsResult(dfa_holder_set_settings(settings));
}

DfaResult dfa_set_dnt_file(const char16_t* file_name, uint8_t slot)
{
    if (file_name == nullptr || slot >= DFA_DNT_SLOTS)
        return DFA_ERR_PARAM;
    uint8_t model_id[DFA_MODEL_ID_SIZE];
    dfa_dntchk_model_id_of_type(slot, model_id);
    const DfaStatus r = dfa_holder_set_file_name(slot, file_name);
    return settingsResult(r == DFA_OK ? dfa_holder_set_model_id(slot, model_id) : r);
}

DfaResult dfa_set_override(const DfaOverride* record)
{
    if (record == nullptr)
        return DFA_ERR_PARAM;
    return settingsResult(dfa_holder_set_override(record));
}

DfaResult dfa_check_dnt_override(DfaFilterInfo* out)
{
    if (out == nullptr)
        return DFA_ERR_PARAM;
    DfaOverride record{};
    if (dfa_holder_get_override(&record) != DFA_OK)
        return DFA_ERR_PARAM;
    // The record is large: it stays off the agent's stack.
    const auto info = std::make_unique<DntFileInfo>();
    if (const DfaResult r = checkSlotFile(0, info.get()); r != DFA_ERR_NOERR)
        return r;
    return dfa_dntchk_filter_info(&record, info.get(), out);
}

DfaResult dfa_get_dnt_file_info(const uint8_t* model_id, DntFileInfo* out, uint8_t slot)
{
    if (model_id == nullptr || out == nullptr || slot >= DFA_DNT_SLOTS)
        return DFA_ERR_PARAM;
    const auto info = std::make_unique<DntFileInfo>();
    if (const DfaResult r = checkSlotFile(slot, info.get()); r != DFA_ERR_NOERR) {
        *out = *info;
        return r;
    }
    return dfa_dntchk_model_info(model_id, info.get(), out);
}

DfaResult dfa_get_dnt_path_for_model(char16_t* path, size_t capacity, const uint8_t* module_model_id)
{
    if (path == nullptr || module_model_id == nullptr)
        return DFA_ERR_PARAM;
    for (uint8_t slot = 0; slot < DFA_DNT_SLOTS; ++slot) {
        uint8_t id[DFA_MODEL_ID_SIZE];
        if (dfa_holder_get_model_id(slot, id) != DFA_OK)
            return DFA_ERR_PARAM;
        if (std::memcmp(id, module_model_id, DFA_MODEL_ID_SIZE) == 0)
            return settingsResult(dfa_holder_get_dnt_path(path, capacity, slot));
    }
    return DFA_ERR_PARAM;
}

DfaResult dfa_get_model_id_of_type(uint8_t* model_id, uint32_t type)
{
    return dfa_dntchk_model_id_of_type(type, model_id);
}

DfaResult dfa_get_type_of_model_id(uint32_t* type, const uint8_t* model_id)
{
    return dfa_dntchk_type_of_model_id(model_id, type);
}

int dfa_model_id_equal(const uint8_t* a, const uint8_t* b)
{
    if (a == nullptr || b == nullptr)
        return 0;
    return dfa_dntchk_id_equal(a, b) ? 1 : 0;
}
