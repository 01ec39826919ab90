#include "device/layouts/dev_modeltypes.h"

#include <cstring>

namespace Quil {
namespace {

using K = ModelKit;
using E = EditWindow;
using L = DeviceLog;
using U = FirmUpdater;
using N = FirmNote;

// Names are exactly what units announce and setup files store. Sorn and
// Mavik panels count their own channels. BroxM-D3 units take BroxL-D3
// packages; a package typed BroxM-D3 gets no updater.
constexpr ModelTraits kModels[] = {
    // type, name, family, kit, generation, inputs, outputs, phones, outputView, edit, summary, log,
    // {firmware: mfuModel, updater, alsoFits, queryUpdateMode, failedNote}
    {MODEL_BROXL_D, "BroxL-D", "Brox", K::Brox, 1, 32, 24, 0, 0, E::Brox, false, L::None,
        {1, U::Mfu, MODEL_NONE, true, N::None}},
    {MODEL_BROXM_D, "BroxM-D", "Brox", K::Brox, 1, 16, 8, 0, 0, E::Brox, false, L::None,
        {1, U::Mfu, MODEL_NONE, true, N::None}},
    {MODEL_BROXI_D, "BroxI-D", "Brox", K::Brox, 1, 8, 0, 0, 0, E::Brox, false, L::None,
        {1, U::Mfu, MODEL_NONE, true, N::None}},
    {MODEL_BROXO_D, "BroxO-D", "Brox", K::Brox, 1, 0, 8, 0, 0, E::None, false, L::None,
        {1, U::Mfu, MODEL_NONE, true, N::None}},
    {MODEL_SORN_D, "Sorn-D", "Sorn", K::Sorn, 1, 0, 0, 0, 0, E::None, false, L::None,
        {3, U::Mfu, MODEL_NONE, true, N::None}},
    {MODEL_MAVIK_D, "Mavik-D", "Mavik", K::Mavik, 1, 0, 0, 0, 0, E::None, false, L::None,
        {0, U::Mavik, MODEL_NONE, true, N::None}},
    {MODEL_PELLM_D, "PellM-D", "Pell", K::Brox, 1, 16, 0, 0, 0, E::Pell, false, L::None,
        {4, U::Mfu, MODEL_PELLM_D2, true, N::Plain}},
    {MODEL_BROXL_D2, "BroxL-D2", "Brox2", K::Brox, 2, 32, 24, 0, 0, E::Brox, true, L::Handshake,
        {7, U::Mfu, MODEL_NONE, true, N::Rich}},
    {MODEL_BROXM_D2, "BroxM-D2", "Brox2", K::Brox, 2, 16, 8, 0, 0, E::Brox, true, L::Handshake,
        {7, U::Mfu, MODEL_NONE, true, N::Rich}},
    {MODEL_PELLM_D2, "PellM-D2", "Pell2", K::Brox, 2, 16, 0, 0, 0, E::Pell, false, L::None,
        {4, U::None, MODEL_NONE, false, N::Plain}},
    {MODEL_BROXL_D3, "BroxL-D3", "Brox3", K::Brox, 3, 32, 24, 2, 24, E::Brox, false, L::Tftp,
        {8, U::Mfu, MODEL_BROXM_D3, false, N::None}},
    {MODEL_BROXM_D3, "BroxM-D3", "Brox3", K::Brox, 3, 16, 8, 2, 8, E::Brox, false, L::Tftp,
        {8, U::None, MODEL_BROXL_D3, false, N::None}},
};
static_assert(sizeof(kModels) / sizeof(kModels[0]) == MODEL_LAST, "one row per model type");

constexpr bool rowsInTypeOrder()
{
    for (ModelType i = 0; i < MODEL_LAST; ++i)
        if (kModels[i].type != i + 1)
            return false;
    return true;
}
static_assert(rowsInTypeOrder(), "row N - 1 describes type N");

constexpr DisplayFixupRow kRunModeFixups[] = {
    {FIXUP_SCOPE_SORN, "booting", "initialize"},
    {FIXUP_SCOPE_END, "", ""},
};
constexpr DisplayFixupRow kVersionFixups[] = {
    {FIXUP_SCOPE_SORN, "0.0.0", "1.0.0"},
    {FIXUP_SCOPE_END, "", ""},
};

int scopeOf(ModelType type)
{
    // Only the low byte decides, as the tables have always been applied.
    return (type & 0xFF) == MODEL_SORN_D ? FIXUP_SCOPE_SORN : FIXUP_SCOPE_OTHER;
}

} // namespace

const ModelTraits* modelTraits(ModelType type)
{
    if (type < MODEL_BROXL_D || type > MODEL_LAST)
        return nullptr;
    return &kModels[type - 1];
}

const char* modelNameOf(ModelType type)
{
    const ModelTraits* row = modelTraits(type);
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
    for (const ModelTraits& row : kModels) {
        if (std::strcmp(row.name, name) == 0)
            return row.type;
    }
    return MODEL_NONE;
}

const char* familyNameOf(ModelType type)
{
    const ModelTraits* row = modelTraits(type);
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
