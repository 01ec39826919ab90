#include "device/link/dev_sequences.h"

#include <array>
#include <iterator>
#include <new>

namespace Quil {

namespace {

struct NegoRow {
    int32_t kind;
    const char* tag;
};

constexpr NegoRow kNegoRows[NegoSeq::kSteps] = {
    {SCP::SCP_STEP_DEVSTATUS, "runmode"},
    {SCP::SCP_STEP_DEVSTATUS, "error"},
    {SCP::SCP_STEP_DEVINFO, "protocolver"},
    {SCP::SCP_STEP_DEVINFO, "paramsetver"},
    {SCP::SCP_STEP_DEVINFO, "version"},
    {SCP::SCP_STEP_DEVINFO, "productname"},
    {SCP::SCP_STEP_DEVINFO, "manufacturer"},
    {SCP::SCP_STEP_DEVINFO, "category"},
    {SCP::SCP_STEP_DEVINFO, "deviceid"},
    {SCP::SCP_STEP_DEVINFO, "devicename"},
    {SCP::SCP_STEP_DEVINFO, "inputport"},
    {SCP::SCP_STEP_DEVINFO, "outputport"},
    {SCP::SCP_STEP_SCPMODE, "keepalive"},
};

constexpr char kKeepAliveOption[] = "keepalive";
constexpr char kKeepAliveValue[] = "10000";

// Association rows: {kind, parameter index, element count, 0, channel kind}.
struct BroxAssoRow {
    int32_t kind;
    int32_t index;
    int32_t elements;
    int32_t reserved;
    int32_t channelKind; // 1: 32 inputs, 2: 24 outputs, 3: 8 AES outputs, 0: the row's count
};

constexpr BroxAssoRow kBroxAsso[] = {
    {3, 0, 0, 0, 1},
    {3, 1, 0, 0, 1},
    {3, 2, 0, 0, 1},
    {3, 3, 0, 0, 1},
    {3, 4, 0, 0, 1},
    {3, 5, 0, 0, 1},
    {3, 6, 0, 0, 2},
    {3, 7, 0, 0, 2},
    {3, 8, 0, 0, 2},
    {3, 9, 0, 0, 2},
    {3, 10, 0, 0, 3},
    {3, 11, 0, 0, 3},
    {3, 12, 0, 0, 3},
    {3, 13, 0, 0, 3},
    {3, 14, 2, 0, 0},
    {3, 15, 2, 0, 0},
    {3, 16, 1, 0, 0},
    {3, 17, 1, 0, 0},
    {3, 18, 1, 0, 0},
    {3, 19, 1, 0, 0},
    {3, 20, 1, 0, 0},
    {3, 21, 1, 0, 0},
    {3, 22, 1, 0, 0},
    {3, 23, 4, 0, 0},
    {3, 24, 4, 0, 0},
    {3, 25, 4, 0, 0},
    {3, 26, 1, 0, 0},
    {3, 27, 4, 0, 0},
    {3, 28, 4, 0, 0},
    {3, 29, 4, 0, 0},
    {3, 30, 1, 0, 0},
    {3, 31, 1, 0, 0},
    {3, 32, 1, 0, 0},
};

// The block rows the association steps hand out: {kind, parameter index}.
constexpr std::array<AssoBlockRow, std::size(kBroxAsso)> makeBlocks()
{
    std::array<AssoBlockRow, std::size(kBroxAsso)> blocks{};
    for (size_t i = 0; i < blocks.size(); ++i)
        blocks[i] = AssoBlockRow{kBroxAsso[i].kind, kBroxAsso[i].index};
    return blocks;
}
constexpr auto kBroxBlocks = makeBlocks();

int32_t channelElements(const BroxAssoRow& row)
{
    switch (row.channelKind) {
    case 1:
        return 32;
    case 2:
        return 24;
    case 3:
        return 8;
    default:
        return row.elements;
    }
}

} // namespace

JResult NegoSeq::step(SCP::ScpConnectStep& out, int32_t index)
{
    if (index < 0 || index >= kSteps)
        return SEQ_E_FAIL;
    const NegoRow& row = kNegoRows[index];
    out = SCP::ScpConnectStep{};
    out.kind = row.kind;
    out.values[0] = reinterpret_cast<intptr_t>(row.tag);
    if (row.kind == SCP::SCP_STEP_SCPMODE) {
        // The unit's keep-alive answer reaches the client's session only, so
        // "/DevInfo/scpmode:0/keepalive:0" keeps its default of 10000.
        out.values[0] = reinterpret_cast<intptr_t>(kKeepAliveOption);
        out.values[1] = reinterpret_cast<intptr_t>(kKeepAliveValue);
    } else if (row.kind != SCP::SCP_STEP_DEVSTATUS && row.kind != SCP::SCP_STEP_DEVINFO) {
        return SEQ_E_FAIL;
    }
    return 0;
}

int32_t AssoSeq::stepCount()
{
    if (m_ranges.empty())
        return 0;
    return m_ranges.back().first + m_ranges.back().count;
}

JResult AssoSeq::step(SCP::ScpConnectStep& out, int32_t index)
{
    const int32_t blocks = blockCount();
    if (blocks == 0)
        return SEQ_E_FAIL;
    for (size_t b = 0; b < m_ranges.size() && static_cast<int32_t>(b) < blocks; ++b) {
        const Range& range = m_ranges[b];
        if (index < range.first || index - range.first >= range.count)
            continue;
        const AssoBlockRow* row = blockRow(static_cast<int32_t>(b));
        if (!row)
            return SEQ_E_FAIL;
        out = SCP::ScpConnectStep{};
        out.kind = row->kind;
        out.values[0] = row->address;
        out.values[1] = index - range.first;
        out.values[2] = 0;
        return 0;
    }
    return SEQ_E_FAIL;
}

const AssoBlockRow* AssoSeq::blockRow(int32_t) const
{
    return nullptr;
}

int32_t AssoSeq::blockCount() const
{
    return 0;
}

JResult AssoSeq::addRange(int32_t first, int32_t count)
{
    try {
        m_ranges.push_back({first, count});
    } catch (const std::bad_alloc&) {
        return SEQ_E_FAIL;
    }
    return 0;
}

BroxAssoSeq::BroxAssoSeq()
{
    int32_t first = 0;
    for (const BroxAssoRow& row : kBroxAsso) {
        const int32_t count = channelElements(row);
        addRange(first, count);
        first += count;
    }
}

const AssoBlockRow* BroxAssoSeq::blockRow(int32_t block) const
{
    return block >= 0 && block < blockCount() ? &kBroxBlocks[block] : nullptr;
}

int32_t BroxAssoSeq::blockCount() const
{
    return static_cast<int32_t>(kBroxBlocks.size());
}

} // namespace Quil
