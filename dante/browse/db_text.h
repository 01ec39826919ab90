// Number and hex texts read from TXT records and SDP lines.
#pragma once

#include <cstdint>
#include <string>

// 0-15 for a hexadecimal digit of either case, else -1.
int db_hex_digit(char c);
// A whole unsigned decimal text (digits only, not empty) of at most max;
// overflow is refused, not wrapped.
bool db_parse_unsigned(const std::string& text, uint64_t max, uint64_t* out);
