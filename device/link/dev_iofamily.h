// What the Mavik and Sorn adapters share: a parameter adapter over static
// tables without conversions, association tables of whole rows, a reset list
// that restores every element of a row, and a negotiation check that looks
// at the error word alone.
#pragma once

#include "device/link/dev_scpadapter.h"
#include "device/link/dev_sequences.h"

#include <cstddef>
#include <vector>

namespace Quil {

// The rows, their path formats and the reset list of one family.
struct IoParamTables {
    const ScpParamRow* rows;
    const ScpPathFormat* formats;
    int32_t count;
    const int32_t* resetList;
    size_t resetCount;
};

// Values are copied both ways; the reset list writes every element of each
// listed row.
class ScpParameter_Io : public ScpParameter_Quil {
    Q_OBJECT

public:
    explicit ScpParameter_Io(const IoParamTables& tables, QObject* parent = nullptr);

    JResult getParameterCount(int32_t& count) override;
    bool isValidIndex(int32_t index) const override;
    const ScpParamRow* row(int32_t index) const override;
    const ScpPathFormat* pathFormat(int32_t index) const override;
    JResult applyResetList() override;

private:
    const IoParamTables m_tables;
};

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

// The negotiation is accepted when the unit's "error" reads "nothing" in
// any case, whatever its run mode.
class ScpDeviceReporter_Io : public ScpDeviceReporter_Quil {
public:
    bool acceptNegotiation() override;
};

} // namespace Quil
