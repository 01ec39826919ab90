// Version words of a firmware package and their texts.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <QString>

#include <cstdint>
#include <vector>

// The first count 32-bit words of a top block field of width bytes, read
// big-endian. FWPKG_E_VERSION (nothing read) when the field holds fewer
// words or is missing.
JResult fwpkg_readWords(const uint8_t* field, uint32_t width, uint32_t count, std::vector<uint32_t>* words);
// Model firmware word as "v" or "r", major, minor tens, minor units and the
// letter ("v123a"); FWPKG_E_VERSION (text untouched) when malformed.
JResult fwpkg_firmwareVersionText(uint32_t word, QString* text);
// "v" and the four bytes in decimal, most significant first ("v4120").
QString fwpkg_danteWordText(uint32_t word);
// The three most significant bytes joined by "." ("4.1.2").
QString fwpkg_danteDottedText(uint32_t word);
