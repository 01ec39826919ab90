#include "device/dev_modeltypes.h"

#include <cstring>

namespace Quil {
namespace {

struct ModelRow {
    const char* name;
    const char* family;
    ModelType type;
};

// Names are exactly what units announce and setup files store.
constexpr ModelRow kModels[] = {
    {"BroxL-D", "Brox", MODEL_BROXL_D},
    {"BroxM-D", "Brox", MODEL_BROXM_D},
    {"BroxI-D", "Brox", MODEL_BROXI_D},
    {"BroxO-D", "Brox", MODEL_BROXO_D},
    {"Sorn-D", "Sorn", MODEL_SORN_D},
    {"Mavik-D", "Mavik", MODEL_MAVIK_D},
    {"PellM-D", "Pell", MODEL_PELLM_D},
    {"BroxL-D2", "Brox2", MODEL_BROXL_D2},
    {"BroxM-D2", "Brox2", MODEL_BROXM_D2},
    {"PellM-D2", "Pell2", MODEL_PELLM_D2},
    {"BroxL-D3", "Brox3", MODEL_BROXL_D3},
    {"BroxM-D3", "Brox3", MODEL_BROXM_D3},
};
static_assert(sizeof(kModels) / sizeof(kModels[0]) == MODEL_LAST, "one row per model type");

constexpr DisplayFixupRow kRunModeFixups[] = {
    {FIXUP_SCOPE_SORN, "booting", "initialize"},
    {FIXUP_SCOPE_END, "", ""},
};
constexpr DisplayFixupRow kVersionFixups[] = {
    {FIXUP_SCOPE_SORN, "0.0.0", "1.0.0"},
    {FIXUP_SCOPE_END, "", ""},
};

const ModelRow* rowOf(ModelType type)
{
    if (type < MODEL_BROXL_D || type > MODEL_LAST)
        return nullptr;
    return &kModels[type - 1];
}

int scopeOf(ModelType type)
{
    // Only the low byte decides, as the tables have always been applied.
    return (type & 0xFF) == MODEL_SORN_D ? FIXUP_SCOPE_SORN : FIXUP_SCOPE_OTHER;
}

} // namespace

const char* modelNameOf(ModelType type)
{
    const ModelRow* row = rowOf(type);
    return row ? row->name : nullptr;
}

const char* modelNameOrBlank(ModelType type)
{
    return type == MODEL_NONE ? "BLANK" : modelNameOf(type);
}

ModelType modelTypeFromName(const char* name)
{
    if (!name)
        return MODEL_NONE;
    for (const ModelRow& row : kModels) {
        if (std::strcmp(row.name, name) == 0)
            return row.type;
    }
    return MODEL_NONE;
}

const char* familyNameOf(ModelType type)
{
    const ModelRow* row = rowOf(type);
    return row ? row->family : nullptr;
}

const char* displayTextFixup(int scope, const char* text, const DisplayFixupRow* rows)
{
    if (!text || !rows)
        return text;
    for (const DisplayFixupRow* row = rows; row->scope != FIXUP_SCOPE_END; ++row) {
        if (row->scope == scope && std::strcmp(row->from, text) == 0)
            return row->to;
    }
    return text;
}

const char* displayRunModeText(ModelType type, const char* text)
{
    return displayTextFixup(scopeOf(type), text, kRunModeFixups);
}

const char* displayVersionText(ModelType type, const char* text)
{
    return displayTextFixup(scopeOf(type), text, kVersionFixups);
}

} // namespace Quil
