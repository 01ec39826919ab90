// The Dante device browser: browses the Dante service types through DNS-SD
// on up to two networks (and the host itself), resolves every advertised
// instance, and keeps a tree of devices, channels and labels that it reports
// through callbacks. It owns no loop: the owner waits on the sockets of
// db_browse_get_sockets and hands the ready set to db_browse_process. Every
// call and callback runs on the owner's task.
#pragma once

#include "dante/conmon/conmon_id.h"
#include "dante/dnssd/dns_sd.h"
#include "dante/support/aud_env.h"
#include "dante/support/aud_error.h"
#include "dante/support/aud_fdset.h"
#include "dante/support/aud_time.h"

#include <cstddef>
#include <cstdint>

// Browse types: bit i of a type mask selects row i.
enum db_browse_type : unsigned {
    DB_BROWSE_TYPE_MEDIA_DEVICE = 0,
    DB_BROWSE_TYPE_MEDIA_CHANNEL = 1,
    DB_BROWSE_TYPE_CONMON_DEVICE = 2,
    DB_BROWSE_TYPE_SAFE_MODE = 3,
    DB_BROWSE_TYPE_UPGRADE_MODE = 4,
    DB_BROWSE_TYPE_VIA_DEVICE = 5,
    DB_BROWSE_TYPE_AES67 = 6,
    DB_BROWSE_TYPE_COUNT = 7,
};

// Type bits of a device node.
constexpr uint32_t DB_NODE_TYPE_MEDIA = 0x01;
constexpr uint32_t DB_NODE_TYPE_CHANNEL = 0x02;
constexpr uint32_t DB_NODE_TYPE_CONMON = 0x04;
constexpr uint32_t DB_NODE_TYPE_SAFE_MODE = 0x08;
constexpr uint32_t DB_NODE_TYPE_UPGRADE_MODE = 0x10;
constexpr uint32_t DB_NODE_TYPE_VIA = 0x20;

constexpr unsigned DB_BROWSE_MAX_NETWORKS = 2;
constexpr unsigned DB_BROWSE_DEFAULT_MAX_RESOLVES = 16;
// Names of the tree: at most 31 characters.
constexpr size_t DB_NAME_SIZE = 32;
constexpr size_t DB_MAX_HIGH_ENCODINGS = 8;

struct db_browse_config {
    unsigned num_networks; // 1 or 2
    uint32_t interface_indexes[DB_BROWSE_MAX_NETWORKS]; // 0: adopt the first seen
    uint32_t network_enable_mask; // bit n enables network n
    int localhost_browsing; // 1: advertisements of this host are kept
    aud_time resolve_timeout;
};

// Kind 3 is an AES67 session heard by the SAP listener (db_sap.h): its
// report carries the session record instead of a node.
enum db_node_kind : unsigned { DB_NODE_DEVICE = 0, DB_NODE_CHANNEL = 1, DB_NODE_LABEL = 2, DB_NODE_SESSION = 3 };
enum db_node_event : unsigned { DB_NODE_ADDED = 0, DB_NODE_MODIFIED = 1, DB_NODE_REMOVED = 2 };

struct db_version {
    uint8_t major;
    uint8_t minor;
    uint16_t build;
};

struct db_format {
    uint32_t sample_rate;
    uint32_t first_encoding;
    uint64_t pcm_sizes; // bit n: n + 1 bytes per sample
    uint32_t first_pcm;
    unsigned num_high; // encodings above 64, ascending
    uint32_t high[DB_MAX_HIGH_ENCODINGS];
};

struct db_node;
struct db_browse;
struct db_browse_sap;
struct sdp_session;

struct db_node_report {
    db_node_kind kind;
    const db_node* node; // null for a session
    db_node_event event;
    const sdp_session* session; // kind DB_NODE_SESSION only
};

using db_node_changed_fn = void (*)(db_browse* browse, const db_node_report* report);
using db_browse_changed_fn = void (*)(db_browse* browse);

void db_browse_config_init(db_browse_config* config);

// INVALIDPARAMETER for an empty mask or null arguments; NOMEMORY.
aud_error db_browse_new(aud_env* env, uint32_t type_mask, db_browse** out);
// Null is accepted.
void db_browse_free(db_browse* browse);

// n >= types + 1 (INVALIDPARAMETER); INVALIDSTATE while browsing.
aud_error db_browse_set_max_sockets(db_browse* browse, unsigned n);
void db_browse_set_context(db_browse* browse, void* context);
void* db_browse_get_context(const db_browse* browse);
void db_browse_set_node_changed_callback(db_browse* browse, db_node_changed_fn fn);
void db_browse_set_tree_changed_callback(db_browse* browse, db_browse_changed_fn fn);
void db_browse_set_sockets_changed_callback(db_browse* browse, db_browse_changed_fn fn);

// INVALIDSTATE while browsing; DNSSDFAIL when a browse cannot start.
aud_error db_browse_start_config(db_browse* browse, const db_browse_config* config);
aud_error db_browse_stop(db_browse* browse);

// INVALIDSTATE unless browsing.
aud_error db_browse_get_sockets(const db_browse* browse, aud_fdset* set);
// Processes the ready sockets (they are removed from the set). 0, DNSSDFAIL,
// or the first error a handler stored. *next_deadline (may be null) gets the
// deadline of the oldest active resolve, zero when none. The tree-changed
// and sockets-changed callbacks run on every return path.
aud_error db_browse_process(db_browse* browse, aud_fdset* ready, aud_time* next_deadline);

// Processes one DNS-SD socket: DNSSD_ERR_BAD_PARAM when it is not the
// reference's, DNSSD_ERR_BAD_STATE when nothing waits on it.
DNSServiceErrorType dt_dns_sd_process_result(DNSServiceRef ref, int socket);

// Accessors.
aud_env* db_browse_get_env(const db_browse* browse);
const db_browse_config* db_browse_get_config(const db_browse* browse);
unsigned db_browse_active_resolves(const db_browse* browse);
unsigned db_browse_pending_resolves(const db_browse* browse);
db_browse_sap* db_browse_get_sap(const db_browse* browse);
size_t db_browse_num_devices(const db_browse* browse);
const db_node* db_browse_device_at(const db_browse* browse, size_t i);
const db_node* db_browse_device_named(const db_browse* browse, const char* name);
size_t db_node_num_channels(const db_node* device);
const db_node* db_node_channel_at(const db_node* device, size_t i);
size_t db_node_num_labels(const db_node* channel);
const db_node* db_node_label_at(const db_node* channel, size_t i);
db_node_kind db_node_get_kind(const db_node* node);
const char* db_node_name(const db_node* node); // label: its name; channel: canonical name
const char* db_node_default_name(const db_node* device);
uint32_t db_node_network_types(const db_node* device, unsigned network);
uint32_t db_node_localhost_types(const db_node* device);
uint32_t db_node_all_types(const db_node* device);
const db_node* db_node_parent_device(const db_node* node);
uint16_t db_node_channel_id(const db_node* channel);
const db_format* db_node_format(const db_node* channel);
const db_version* db_node_router_version(const db_node* device);
const db_version* db_node_arcp_version(const db_node* device);
const db_version* db_node_arcp_min_version(const db_node* device);
const char* db_node_router_info(const db_node* device);
const conmon_id64* db_node_manufacturer_id(const db_node* device);
const conmon_id64* db_node_model_id(const db_node* device);
const conmon_instance_id* db_node_instance_id(const db_node* device);
const conmon_id64* db_node_vendor_id(const db_node* device);
const uint8_t* db_node_vba(const db_node* device);

// The DNS-SD calls the browser makes; tests replace them with a scripted
// service. Null restores the real calls.
struct db_dnssd_ops {
    DNSServiceErrorType (*browse)(
        DNSServiceRef*, DNSServiceFlags, uint32_t, const char*, const char*, DNSServiceBrowseReply, void*);
    DNSServiceErrorType (*resolve)(DNSServiceRef*, DNSServiceFlags, uint32_t, const char*, const char*, const char*,
        DNSServiceResolveReply, void*);
    int (*sock_fd)(DNSServiceRef);
    DNSServiceErrorType (*process_result)(DNSServiceRef);
    void (*deallocate)(DNSServiceRef);
    DNSServiceErrorType (*reconfirm)(DNSServiceFlags, uint32_t, const char*, uint16_t, uint16_t, uint16_t, const void*);
};
void db_browse_set_dnssd_ops(const db_dnssd_ops* ops);
