// Reading an scpmode (tag, data) pair. Both ends of a connection must take
// the same pairs: the client applies what a unit's reply names, the server
// applies what a request names and answers with it, so one reading serves
// both and neither side can accept a pair the other refuses.
#pragma once

#include "scp/scp_element.h"

#include <cstdint>

namespace SCP {

enum ScpModeTag : int {
    SCP_MODE_FORMAT = 0, // value SCP_DECODER_RAW or SCP_DECODER_JSON
    SCP_MODE_ENCODING = 1, // SCP_ENCODING_ASCII or SCP_ENCODING_UTF8
    SCP_MODE_VALUETYPE = 2, // SCP_VALUETYPE_RAW or SCP_VALUETYPE_NORMALIZED
    SCP_MODE_RESOLUTION = 3, // at least SCP_RESOLUTION_MIN
    SCP_MODE_KEEPALIVE = 4, // at least SCP_KEEPALIVE_MIN_MS
};

struct ScpModeSetting {
    ScpModeTag tag = SCP_MODE_FORMAT;
    int32_t value = 0;
};

// Longest number text of a resolution or keep-alive.
constexpr size_t SCP_MODE_NUMBER_MAX = 14;

// Tag and data are compared without regard to case (A to Z): "format" with
// "raw" or "json", "encoding" with "ascii" or "utf8", "valuetype" with "raw"
// or "normalized", "resolution" with a number of at least 100, "keepalive"
// with a number of at least 1000. A number is optional blanks, an optional
// sign and decimal digits, optionally in double quotes, at most 14
// characters in all; anything else in it, or a value outside 32 bits, is
// refused. SCP_OK with *setting filled, or SCP_E_ARG (setting untouched).
JResult scp_modeParse(const ScpText& tag, const ScpText& data, ScpModeSetting* setting);

} // namespace SCP
