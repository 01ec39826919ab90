// The connect sequences of the device link: the negotiation (what the unit
// is and how it runs, the same for every family) and the association (which
// parameters are read after it, and how many elements of each).
#pragma once

#include "scp/scp_client.h"

#include <cstdint>
#include <vector>

namespace Quil {

constexpr JResult SEQ_E_FAIL = static_cast<JResult>(0x80000000u);

class NegoSeq : public SCP::IScpConnectSequence {
public:
    static constexpr int32_t kSteps = 13;
    int32_t stepCount() override { return kSteps; }
    // {kind, tag} for devstatus and devinfo; {2, "keepalive", "10000"} last.
    JResult step(SCP::ScpConnectStep& out, int32_t index) override;
};

// One row of an association table: the request kind (3, get) and the
// parameter index.
struct AssoBlockRow {
    int32_t kind;
    int32_t address;
};

class AssoSeq : public SCP::IScpConnectSequence {
public:
    int32_t stepCount() override;
    // {row kind, row address, i - first, 0} of the block holding i.
    JResult step(SCP::ScpConnectStep& out, int32_t index) override;

    virtual const AssoBlockRow* blockRow(int32_t block) const;
    virtual int32_t blockCount() const;

protected:
    // Appends a range of flat step indices.
    JResult addRange(int32_t first, int32_t count);

private:
    struct Range {
        int32_t first;
        int32_t count;
    };
    std::vector<Range> m_ranges;
};

// The 33 rows of the Brox family: 359 gets.
class BroxAssoSeq final : public AssoSeq {
public:
    BroxAssoSeq();
    const AssoBlockRow* blockRow(int32_t block) const override;
    int32_t blockCount() const override;
};

} // namespace Quil
