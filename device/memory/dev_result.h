// Result codes of the device layer: the parameter memory's own codes pass
// through unchanged; these are the layer's own. Callers test the sign.
#pragma once

#include "pbd/jlib/jlib_result.h"

namespace Quil {

constexpr JResult DEV_OK = 0;
// A missing object (field, accessor, notifier, memory thread, meter), a
// refused Qt connection, a malformed path or a refused write or block.
constexpr JResult DEV_E_FAIL = static_cast<JResult>(0x80000000u);
// The Mavik memory refuses user-interface writes while the unit runs "WGM".
constexpr JResult DEV_E_WGM = static_cast<JResult>(0x80030401u);

} // namespace Quil
