// Numbers read from TXT records and SDP lines.
#pragma once

#include <cstdint>
#include <string>

// A whole unsigned decimal text (digits only, not empty) of at most max;
// overflow is refused, not wrapped.
bool db_parse_unsigned(const std::string& text, uint64_t max, uint64_t* out);
