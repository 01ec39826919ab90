// Identity texts of the control-and-monitoring protocol: a device's instance
// id in text form, 8-byte identifiers given as text (model and manufacturer
// ids in DNS-SD TXT values), and the check of a device name handed to the
// library.
#pragma once

#include "dante/support/aud_error.h"

#include <cstddef>
#include <cstdint>

constexpr size_t CONMON_ID64_SIZE = 8;

// An 8-byte identifier (device id, model id, manufacturer id).
struct conmon_id64 {
    uint8_t data[CONMON_ID64_SIZE];
};

// A device's identity: its device id and the 16-bit process id.
struct conmon_instance_id {
    conmon_id64 device_id;
    uint16_t process_id;
};

// "0011223344556677:1234" with its NUL.
constexpr size_t CONMON_INSTANCE_ID_TEXT_SIZE = 23;

// Sixteen lower-case hex digits, ":" and the process id in decimal, into
// buffer (cut to size, terminated when size > 0). Returns buffer ("" for a
// null id).
const char* conmon_instance_id_text(const conmon_instance_id* id, char* buffer, size_t size);

// An identifier from text: "_" followed by 2 to 16 hex digits (an even
// number, either case, two a byte) fills bytes from the first one; any other
// text of at most 8 characters is copied as it is. Bytes not filled are 0.
// RANGE (no identifier, *out untouched) for a text that fits neither form,
// INVALIDPARAMETER for a null argument.
aud_error conmon_id64_from_text(conmon_id64* out, const char* text);

// The same for `length` bytes of text that need not be terminated (a TXT
// value). With allow_long a longer text is accepted: its first 8 characters,
// or the first 16 digits of a hex form, are kept; without it, RANGE.
aud_error conmon_id64_from_text_len(conmon_id64* out, const char* text, size_t length, bool allow_long);

// A device name holds at most 32 characters.
constexpr size_t CONMON_DEVICE_NAME_SIZE = 33;

// Copies a device name into out (CONMON_DEVICE_NAME_SIZE bytes), checking it
// character by character: ".", "=" or "@" clears the copy and gives
// INVALIDDATA; a 33rd character gives TRUNCATED with the first 32 kept; a
// null name gives an empty copy and SUCCESS. INVALIDPARAMETER for null out.
aud_error conmon_device_name_check(char* out, const char* name);
