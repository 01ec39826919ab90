// The cells a set-family line addresses: the parameter index of its
// "address" and the x and y ranges, where "all" spans the parameter's whole
// row or column. Used by the command handlers.
#pragma once

#include "scp/scp_command.h"

#include <cstdint>

namespace SCP {

struct ScpCells {
    int32_t index = 0;
    // x from x0 up to, not including, x1; the ends are 64-bit so that the
    // largest coordinate a line can carry still spans its one cell.
    int32_t x0 = 0;
    int64_t x1 = 1;
    int32_t y0 = 0;
    int64_t y1 = 1;
};

// How a line's "all" is taken.
enum class ScpAll {
    Refused, // one cell only (the word's x and y are plain integers)
    NotBoth, // "all" in x or y, not in both (SCP_E_ARG)
    Taken, // "all" in x, y or both
};

// SCP_E_INDEX when the parameter does not know the address, SCP_E_ARG for a
// negative x or y (or both "all" where refused), or the failure of the
// parameter's shape query.
JResult scp_cellsOf(const ScpClientCommand& command, const ScpInfoReporter& info, ScpAll all, ScpCells& cells);

// Combines the result so far with a new one: a failure beats a success; of
// two failures the one whose code without its top bit is lower stands; of
// two successes the larger.
JResult scp_mergeResult(JResult sofar, JResult next);

// Runs op(x, y) over the cells, row by row; a failure ends its row. The
// results are combined by scp_mergeResult, starting at 0.
template <class Op> JResult scp_forEachCell(const ScpCells& cells, Op op)
{
    JResult result = SCP_OK;
    for (int64_t y = cells.y0; y < cells.y1; ++y) {
        for (int64_t x = cells.x0; x < cells.x1; ++x) {
            const JResult r = op(static_cast<int32_t>(x), static_cast<int32_t>(y));
            result = scp_mergeResult(result, r);
            if (r < 0)
                break;
        }
    }
    return result;
}

} // namespace SCP
