#include "scp/scp_command_cells.h"

namespace SCP {

JResult scp_mergeResult(JResult sofar, JResult next)
{
    const bool sofarFailed = sofar < 0;
    const bool nextFailed = next < 0;
    if (sofarFailed != nextFailed)
        return sofarFailed ? sofar : next;
    if (sofarFailed) {
        const uint32_t a = static_cast<uint32_t>(sofar) & 0x7FFFFFFFu;
        const uint32_t b = static_cast<uint32_t>(next) & 0x7FFFFFFFu;
        return b < a ? next : sofar;
    }
    return next > sofar ? next : sofar;
}

JResult scp_cellsOf(const ScpClientCommand& command, const ScpInfoReporter& info, ScpAll all, ScpCells& cells)
{
    int32_t index = -1;
    const JResult found = info.parameter->indexOf(index, command.text("address"));
    if (found < 0 || index < 0)
        return SCP_E_INDEX;
    const bool xAll = all != ScpAll::Refused && command.isAll("x");
    const bool yAll = all != ScpAll::Refused && command.isAll("y");
    const int32_t x = command.integer("x");
    const int32_t y = command.integer("y");
    if ((!xAll && x < 0) || (!yAll && y < 0))
        return SCP_E_ARG;
    if (xAll && yAll && all == ScpAll::NotBoth)
        return SCP_E_ARG;
    cells.index = index;
    cells.x0 = x;
    cells.x1 = int64_t{x} + 1;
    cells.y0 = y;
    cells.y1 = int64_t{y} + 1;
    if (!xAll && !yAll)
        return SCP_OK;
    ScpParameterInfo shape;
    const JResult r = info.parameter->parameterInfo(shape, index);
    if (r < 0)
        return r;
    if (xAll) {
        cells.x0 = 0;
        cells.x1 = shape.xCount > 0 ? shape.xCount : 0;
    }
    if (yAll) {
        cells.y0 = 0;
        cells.y1 = shape.yCount > 0 ? shape.yCount : 0;
    }
    return SCP_OK;
}

} // namespace SCP
