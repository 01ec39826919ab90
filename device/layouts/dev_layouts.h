// The memory layouts of the unit families: one XML definition text per
// memory function, carried in the program. Loaders are handed the text
// with its terminating NUL (strlen + 1 bytes).
#pragma once

#include <cstddef>

namespace Quil {

extern const char kLayoutBroxBackup[];
extern const char kLayoutBroxCurrent[];
extern const char kLayoutBroxListItem[];
extern const char kLayoutBroxLogEvent[];
// Shared by Brox, Pell and Mavik units.
extern const char kLayoutEvent[];
// Shared by every family.
extern const char kLayoutDevInfo[];
extern const char kLayoutDevState[];
extern const char kLayoutMavikCurrent[];
extern const char kLayoutSornBackup[];
extern const char kLayoutSornCurrent[];
extern const char kLayoutSornEvent[];

// One function of a family: its name and its layout text.
struct FamilyFunction {
    const char* name;
    const char* layout;
};

// A family's functions, in load order.
struct FamilyLayout {
    const FamilyFunction* functions;
    size_t count;
};

// Brox and Pell units: Backup, Current, Event, DevInfo, DevState, ListItem, LogEvent.
const FamilyLayout& broxFamilyLayout();
// Mavik units: Current, Event, DevInfo, DevState.
const FamilyLayout& mavikFamilyLayout();
// Sorn units: Backup, Current, Event, DevInfo, DevState.
const FamilyLayout& sornFamilyLayout();

} // namespace Quil
