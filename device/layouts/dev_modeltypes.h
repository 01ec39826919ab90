// Model types: the small integer by which every layer names a unit's model.
//
// Pure functions over constant tables, callable from any thread. Every text
// returned points into the module's own tables (or is the caller's text, for
// the display fix-ups); nothing is copied and nothing is ever freed.
#pragma once

#include <cstdint>

namespace Quil {

using ModelType = int32_t;

enum : ModelType {
    MODEL_NONE = 0, // an empty rack slot
    MODEL_BROXL_D = 1,
    MODEL_BROXM_D = 2,
    MODEL_BROXI_D = 3,
    MODEL_BROXO_D = 4,
    MODEL_SORN_D = 5,
    MODEL_MAVIK_D = 6,
    MODEL_PELLM_D = 7,
    MODEL_BROXL_D2 = 8,
    MODEL_BROXM_D2 = 9,
    MODEL_PELLM_D2 = 10,
    MODEL_BROXL_D3 = 11,
    MODEL_BROXM_D3 = 12,
    MODEL_LAST = MODEL_BROXM_D3,
};

// The code that serves a model: its adapters, its memory and its panel. The
// Pell models are served by the Brox kit.
enum class ModelKit { Brox, Sorn, Mavik };
// The edit window a model opens, if any, and its channel strips.
enum class EditWindow { None, Brox, Pell };
// How the unit's event log is fetched, if it keeps one.
enum class DeviceLog { None, Handshake, Tftp };

// Which model firmware updater a package of the model gets.
enum class FirmUpdater { None, Mfu, Mavik };
// The note added to the failure message when a unit refused the version.
// Rich shows it in red.
enum class FirmNote { None, Plain, Rich };

// How the firmware update window treats a package for the model and its units.
struct FirmwareTraits {
    int mfuModel; // model code the model firmware engine expects; 0: none
    FirmUpdater updater;
    ModelType alsoFits; // another model a package of this type updates; MODEL_NONE: none
    bool queryUpdateMode; // analysis first asks the unit's update mode
    FirmNote failedNote;
};

// What a model is. Every layer that behaves by model reads its row here
// rather than testing type numbers.
struct ModelTraits {
    ModelType type;
    const char* name; // what units announce and setup files store
    const char* family; // "Brox", "Brox2", "Pell" ...
    ModelKit kit;
    int generation; // 1, 2 or 3
    int inputs; // input channels: meters, panel columns and edit strips
    int outputs; // output channels with meters
    int phones; // phones meters
    int outputView; // channels of the panel's output view; 0: no such view
    EditWindow edit;
    bool summary; // offers the summary lists dialog
    // The unit keeps an event log; its reporter also carries the summary
    // lists and the TFTP address.
    DeviceLog log;
    FirmwareTraits firmware;
};

// The row of types 1 to 12; null for 0 and any other value.
const ModelTraits* modelTraits(ModelType type);
// True when `type` is a model served by `kit`.
inline bool servedByKit(ModelType type, ModelKit kit)
{
    const ModelTraits* traits = modelTraits(type);
    return traits && traits->kit == kit;
}
// The kit's models have meters on the rack's meter strip.
inline bool hasStripMeters(const ModelTraits* traits)
{
    return traits && traits->kit == ModelKit::Brox;
}

// One row of a display fix-up table: `scope` 1 applies to Sorn units only,
// scope 2 ends the table.
struct DisplayFixupRow {
    int scope;
    const char* from;
    const char* to;
};

enum : int { FIXUP_SCOPE_OTHER = 0, FIXUP_SCOPE_SORN = 1, FIXUP_SCOPE_END = 2 };

// The model name ("BroxL-D" ...) of types 1 to 12; null for any other value, 0 included.
const char* modelNameOf(ModelType type);
// "BLANK" for 0, the model name for 1 to 12, null otherwise.
const char* modelNameOrBlank(ModelType type);
// The type whose model name equals `name` exactly (case-sensitive); 0 when none
// does or `name` is null.
ModelType modelTypeFromName(const char* name);
// "Brox", "Sorn", "Mavik", "Pell", "Brox2", "Pell2" or "Brox3" for 1 to 12; null otherwise.
const char* familyNameOf(ModelType type);

// The text to show for a run mode or firmware version reported by a unit of
// `type`: Sorn units report placeholders that are shown under another name.
// Any other text comes back as the same pointer.
const char* displayRunModeText(ModelType type, const char* text);
const char* displayVersionText(ModelType type, const char* text);
// The walk behind both: the `to` text of the first row of `scope` whose `from`
// equals `text`, else `text` itself.
const char* displayTextFixup(int scope, const char* text, const DisplayFixupRow* rows);

} // namespace Quil
