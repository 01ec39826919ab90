// What the Mavik and Sorn adapters share: association tables of whole rows,
// a reset list that restores every element of a row, and a negotiation
// check that looks at the error word alone.
#pragma once

#include "device/dev_scpadapter.h"
#include "device/dev_sequences.h"

#include <cstddef>
#include <vector>

namespace Quil {

// One association row: the parameter read and how many x it is read for.
struct IoAssoRow {
    int32_t index;
    int32_t elements;
};

// "get" for x = 0 .. elements - 1 of every row, in table order.
class IoAssoSeq : public AssoSeq {
public:
    IoAssoSeq(const IoAssoRow* rows, size_t count);
    const AssoBlockRow* blockRow(int32_t block) const override;
    int32_t blockCount() const override;

private:
    std::vector<AssoBlockRow> m_blocks;
};

// Writes each listed row's default to every (collection, element) of the
// row; a row without a default or without collections is skipped.
JResult resetRowsToDefaults(
    IZDev* device, uint8_t source, const ScpPathFormat* formats, const int32_t* indices, size_t count);

// Accepted when the unit's "error" reads "nothing" in any case; the run
// mode is not looked at.
bool errorIsNothing(ScpDeviceReporter_Quil& reporter);

} // namespace Quil
