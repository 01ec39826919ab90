// Body elements of a DGCP2 message. Offsets are relative to the body start;
// every element starts at an even offset and every value is big-endian.
//
//   array of n slots  u16 n, then n u16 slots (a scalar or another element's offset)
//   bytes             the bytes, padded to an even length
//   string            the characters and a NUL, padded to an even length
//   u32               4-byte aligned (2 bytes of padding before it when needed)
//   wide string       4-byte aligned; each UTF-16 unit as a u32, then a u32 zero
//
// Appending writes at the current end, returns the element's offset in
// *offset and grows the header length; an element (with its padding) that
// would pass the body capacity gives MSGSIZE and leaves the message as it was.
//
// Reading checks everything against the body length of the header: an offset
// that is odd (or not 4-aligned for u32 and wide strings) or outside the body
// gives INVALIDPARAMETER, and no read goes past the body. The same holds for
// an array's n slots, so an offset taken from a slot is checked again when it
// is followed.
#pragma once

#include "dante/cmm/dgcp2_message.h"

#include <cstddef>
#include <cstdint>

aud_error dgcp2_append_array(dgcp2_message* msg, uint16_t count, uint16_t* offset);
// Writes slot `index` of the array at `array` (INVALIDPARAMETER outside it).
aud_error dgcp2_set_slot(dgcp2_message* msg, uint16_t array, uint16_t index, uint16_t value);
// src null: `size` zero bytes.
aud_error dgcp2_append_bytes(dgcp2_message* msg, const void* src, size_t size, uint16_t* offset);
aud_error dgcp2_append_string(dgcp2_message* msg, const char* text, uint16_t* offset);
aud_error dgcp2_append_u32(dgcp2_message* msg, uint32_t value, uint16_t* offset);
// At most `units` units of text, fewer when it ends earlier.
aud_error dgcp2_append_wstring(dgcp2_message* msg, const char16_t* text, size_t units, uint16_t* offset);

// The slot count of the array at `offset`; its 2n + 2 bytes must lie inside
// the body.
aud_error dgcp2_read_array(const dgcp2_message* msg, uint16_t offset, uint16_t* count);
// Slot `index` of the array at `array`; NODATA when the array has fewer slots.
aud_error dgcp2_read_slot(const dgcp2_message* msg, uint16_t array, uint16_t index, uint16_t* value);
// `size` bytes that must end inside the body.
aud_error dgcp2_read_bytes(const dgcp2_message* msg, uint16_t offset, void* dst, size_t size);
// Copies up to the NUL, the buffer's size less one or the end of the body,
// whichever comes first, and terminates (size > 0, else INVALIDPARAMETER).
aud_error dgcp2_read_string(const dgcp2_message* msg, uint16_t offset, char* dst, size_t size);
aud_error dgcp2_read_u32(const dgcp2_message* msg, uint16_t offset, uint32_t* value);
// Reads until a zero value, `count` less one units or the end of the body,
// and terminates (count > 0). A value above 0xFFFF is no UTF-16 unit:
// INVALIDPARAMETER, with dst holding an empty text.
aud_error dgcp2_read_wstring(const dgcp2_message* msg, uint16_t offset, char16_t* dst, size_t count);
