// Control payloads the firmware agent sends to Dante modules inside a
// channel-message envelope (reboot, firmware upgrade, queries), the
// file-location block, and the readers of the modules' replies. All fields
// are big-endian. Every reader checks each field it reads against the
// payload length and answers TRUNCATED when one is missing.
//
// Reply layouts (byte offsets; "v" is the protocol word at 0 of a reply).
// Where the tables give positions only, these are the fields taken:
//   VERSIONS_STATUS (module information): firmware version word at 8,
//     software version word at 12, module model id at 20, capability word
//     at 28 (bit 0x1000: answers manufacturer-version queries), status bits
//     at 36, further words at 40 and 44, upgrade version u16 at 58.
//   MANF_VERSIONS_STATUS (device information): manufacturer id at 8, model
//     id at 16, firmware version word at 32, software version word at 36,
//     words at 40, 44, 48, manufacturer name in a 128-byte field at 52,
//     model name in a 128-byte field at 180, word at 308.
//   INTERFACE_STATUS (interface table): records of 28 bytes: flags u32 at
//     0, link speed (Mbit/s) u16 at 4, hardware address at 6, IPv4 address
//     at 12, netmask at 20, gateway at 24.
//   UPGRADE_STATUS: upgrade state u16 at 8, last error u16 at 10, flags u32
//     at 12, progress at 16, total at 20, file-location offset u16 at 24,
//     manufacturer id at 28, model id at 36.
// A version word is major << 24 | minor << 16 | build.
#pragma once

#include "dante/conmon/conmon_id.h"
#include "dante/conmon/conmon_message.h"
#include "dante/support/aud_error.h"

#include <cstddef>
#include <cstdint>

constexpr uint16_t CONMON_CONTROL_PROTOCOL = 0x071F;
constexpr uint32_t CONMON_QUERY_REQUEST_WORD = 1000000;
constexpr size_t CONMON_CONTROL_HEADER_SIZE = 8;

// Message types of the control payloads.
enum conmon_control_type : uint16_t {
    CONMON_CTL_INTERFACE_QUERY = 19,
    CONMON_CTL_TYPE_33 = 33,
    CONMON_CTL_VERSIONS_QUERY = 97,
    CONMON_CTL_UPGRADE_LEGACY = 113,
    CONMON_CTL_UPGRADE_V3 = 117,
    CONMON_CTL_TYPE_129 = 129,
    CONMON_CTL_TYPE_131 = 131,
    CONMON_CTL_TYPE_133 = 133,
    CONMON_CTL_TYPE_135 = 135,
    CONMON_CTL_REBOOT = 144,
    CONMON_CTL_TYPE_177 = 177,
    CONMON_CTL_MANF_VERSIONS_QUERY = 193,
    CONMON_CTL_TYPE_305 = 305,
};

// Reply types the readers serve.
constexpr uint16_t CONMON_CTL_INTERFACE_STATUS = 0x11;
constexpr uint16_t CONMON_CTL_VERSIONS_STATUS = 0x60;
constexpr uint16_t CONMON_CTL_UPGRADE_STATUS = 0x70;
constexpr uint16_t CONMON_CTL_MANF_VERSIONS_STATUS = 0xC0;

// A payload under construction: the bytes in use and what may be appended.
struct conmon_payload {
    uint8_t data[CONMON_PAYLOAD_MAX];
    size_t length;
    size_t capacity;
};

// The common 8 bytes of a reply or request.
struct conmon_control_header {
    uint16_t protocol;
    uint16_t type;
    uint32_t request;
};
aud_error conmon_control_header_read(const uint8_t* payload, size_t length, conmon_control_header* out);

// A query (types 19, 33, 97, 129, 131, 133, 135, 177, 193, 305): the common
// header with request word 1000000 and zeros. Types 19, 33, 133 and 177
// have their fixed lengths (16, 40, 32, 12). The others are sent with the
// length the caller gives; 0 gives the bytes the builder sets (8; 16 for
// 129; 12 for 131), and a length below those is INVALIDPARAMETER.
aud_error conmon_payload_query(conmon_payload* out, uint16_t type, size_t length);
// Reboot (144), 12 bytes; mode 0 or 1.
aud_error conmon_payload_reboot(conmon_payload* out, uint16_t mode);
// Legacy upgrade (113), 80 bytes: the TFTP server's address as the number
// a << 24 | b << 16 | c << 8 | d, its port, and a path of at most 63
// characters (longer: INVALIDPARAMETER).
aud_error conmon_payload_upgrade_legacy(conmon_payload* out, uint32_t address, uint16_t port, const char* path);

// Version-3 upgrade (117): 44 bytes to start with, capacity 1448.
aud_error conmon_payload_upgrade_v3(conmon_payload* out);
// The 8-byte ids of a version-3 request: the manufacturer id at 24 (flag
// bit 1) and the model id at 32 (flag bit 2). A model id that overrides the
// module's goes in the model id.
aud_error conmon_payload_upgrade_v3_manufacturer_id(conmon_payload* p, const conmon_id64* id);
aud_error conmon_payload_upgrade_v3_model_id(conmon_payload* p, const conmon_id64* id);

// Appends `size` zero bytes at the length rounded up to `alignment` (a power
// of two); *offset gets their place. NOMEMORY past the capacity.
aud_error conmon_payload_append(conmon_payload* p, size_t size, size_t alignment, size_t* offset);

// Block flags: which fields are present.
constexpr uint32_t CONMON_LOCATION_PROTOCOL = 0x02;
constexpr uint32_t CONMON_LOCATION_PORT = 0x04;
constexpr uint32_t CONMON_LOCATION_ADDRESS = 0x08;
constexpr uint32_t CONMON_LOCATION_PATH = 0x10;
constexpr uint32_t CONMON_LOCATION_FILE_LENGTH = 0x20;
constexpr uint16_t CONMON_LOCATION_LOCAL_FILE = 1;
constexpr uint16_t CONMON_LOCATION_TFTP = 2;
constexpr size_t CONMON_LOCATION_BLOCK_SIZE = 24;

// Where a module fetches its firmware. The u32 at 20 is the size of the
// file in bytes ("File len"): the request carries it, a status echoes it.
struct conmon_file_location {
    uint32_t flags;
    uint16_t protocol;
    uint16_t port;
    uint32_t address; // network order in memory, as it travels
    const char* path; // in the payload when read; null when absent
    uint32_t file_length;
};

// Appends the block (4-byte aligned) and the path after it, fills the flags
// of the fields given (protocol, port, address; path when not null; file
// length when not 0) and makes the version-3 request point at it: flag bit
// 3, u32 at 16 ORed with 3 for TFTP (else 1), u16 at 40 the block's offset.
aud_error conmon_payload_upgrade_v3_location(conmon_payload* p, const conmon_file_location* location);

// The block at `offset`: NOTFOUND for 0, TRUNCATED when it or its path
// (with the NUL) passes the payload, INVALIDDATA when not 4-byte aligned.
aud_error conmon_file_location_read(const uint8_t* payload, size_t length, size_t offset, conmon_file_location* out);

// ---- readers

struct conmon_version {
    uint8_t major;
    uint8_t minor;
    uint16_t bugfix; // not carried by a version word: 0
    uint16_t build; // the word's low 16 bits
};
conmon_version conmon_version_from_word(uint32_t word);

// UPGRADE_STATUS: the file-location block. VERSION at v 0x0708 or below,
// NOTFOUND when flag bit 3 is clear.
aud_error conmon_read_upgrade_status(const uint8_t* payload, size_t length, conmon_file_location* out);

constexpr uint32_t CONMON_UPGRADE_HAS_ERROR = 0x02;
constexpr uint32_t CONMON_UPGRADE_HAS_PROGRESS = 0x04;
constexpr uint32_t CONMON_UPGRADE_HAS_MANUFACTURER = 0x20;
constexpr uint32_t CONMON_UPGRADE_HAS_MODEL = 0x40;

struct conmon_upgrade_progress {
    uint16_t state;
    uint32_t flags; // 0 at v 0x0708 or below, or below 16 bytes
    uint16_t last_error;
    uint32_t progress;
    uint32_t total;
    conmon_id64 manufacturer_id;
    conmon_id64 model_id;
};
aud_error conmon_read_upgrade_progress(const uint8_t* payload, size_t length, conmon_upgrade_progress* out);

constexpr size_t CONMON_INFO_TEXT_SIZE = 32; // 31 characters kept
constexpr size_t CONMON_INFO_TEXT_FIELD = 128;

struct conmon_device_info {
    uint16_t protocol;
    conmon_id64 manufacturer_id;
    conmon_id64 model_id;
    uint32_t firmware_word;
    uint32_t software_word;
    conmon_version firmware_version;
    conmon_version software_version;
    uint32_t word40; // from v 0x0606
    uint32_t word44; // above v 0x0700
    uint32_t word48;
    char manufacturer_name[CONMON_INFO_TEXT_SIZE];
    char model_name[CONMON_INFO_TEXT_SIZE];
    uint32_t word308; // from v 0x0704
};
aud_error conmon_read_device_info(const uint8_t* payload, size_t length, conmon_device_info* out);

// Module status bits.
constexpr uint32_t CONMON_MODULE_CAPABILITY_CORRUPT = 0x01;
constexpr uint32_t CONMON_MODULE_USER_CORRUPT = 0x02;
// Capability bit: the module answers manufacturer-version queries.
constexpr uint32_t CONMON_CAPABILITY_MANF_VERSIONS = 0x1000;

struct conmon_module_info {
    uint16_t protocol;
    conmon_id64 model_id;
    uint32_t software_word;
    uint32_t firmware_word;
    conmon_version software_version;
    conmon_version firmware_version;
    uint32_t capabilities; // from v 0x0200
    uint32_t word40; // above v 0x0700
    uint32_t word44;
    uint32_t status_bits; // above v 0x0703
    uint16_t upgrade_version; // above v 0x0708
};
aud_error conmon_read_module_info(const uint8_t* payload, size_t length, conmon_module_info* out);

constexpr size_t CONMON_IFTABLE_MAX = 4;
constexpr uint16_t CONMON_IFTABLE_ENTRY_VALID = 0x04;

struct conmon_iftable_record {
    uint32_t flags;
    uint16_t speed;
    uint8_t mac[6];
    uint32_t address; // host number a << 24 | ...
    uint32_t netmask;
    uint32_t gateway;
    bool has_entry; // an extension entry marked valid
    uint16_t entry_flags; // without the valid bit
    uint32_t entry_words[4]; // at 4, 8, 12, 16
};

struct conmon_iftable {
    uint16_t protocol;
    uint16_t count; // as the reply gives it
    conmon_iftable_record records[CONMON_IFTABLE_MAX]; // the first ones
    uint16_t flags; // above v 0x0601 (bit 0: secondary network present)
};
aud_error conmon_read_interface_table(const uint8_t* payload, size_t length, conmon_iftable* out);
