// The browser's records, shared by its files.
#pragma once

#include "dante/browse/db_browse.h"

#include <list>
#include <memory>
#include <string>
#include <vector>

struct db_node {
    db_node_kind kind = DB_NODE_DEVICE;
    db_node* parent = nullptr; // channel: device; label: channel
    std::string name; // device: name; channel: canonical name; label: name

    // Device.
    std::string default_name;
    uint32_t network_types[DB_BROWSE_MAX_NETWORKS] = {0, 0};
    uint32_t localhost_types = 0;
    uint32_t all_types = 0;
    db_version router_version{};
    db_version arcp_version{};
    db_version arcp_min_version{};
    std::string router_info;
    conmon_id64 manufacturer{};
    conmon_id64 model{};
    conmon_instance_id instance_id{};
    conmon_id64 vendor{};
    uint8_t vba[4] = {0, 0, 0, 0};
    conmon_instance_id safe_id{};
    unsigned safe_network = 0;
    conmon_instance_id upgrade_id{};
    unsigned upgrade_network = 0;
    std::vector<std::unique_ptr<db_node>> channels; // sorted by id

    // Channel.
    uint16_t channel_id = 0;
    db_format format{};
    std::vector<std::unique_ptr<db_node>> labels; // sorted by name
};

struct db_resolve {
    db_browse* browse = nullptr;
    bool active = false;
    unsigned network = 0;
    unsigned type = DB_BROWSE_TYPE_COUNT;
    std::string name;
    DNSServiceRef ref = nullptr;
    int socket = -1;
    aud_time deadline{};
};

struct db_browse {
    aud_env* env = nullptr;
    uint32_t type_mask = 0;
    unsigned num_types = 0;
    db_browse_config config{};
    uint32_t localhost_index = 0;
    int browsing = 0;
    DNSServiceRef browse_refs[DB_BROWSE_TYPE_COUNT] = {};
    int browse_sockets[DB_BROWSE_TYPE_COUNT] = {-1, -1, -1, -1, -1, -1, -1};
    std::list<std::unique_ptr<db_resolve>> active;
    std::list<std::unique_ptr<db_resolve>> pending;
    std::list<std::unique_ptr<db_resolve>> free_list;
    unsigned max_resolves = DB_BROWSE_DEFAULT_MAX_RESOLVES;
    db_browse_sap* sap = nullptr; // owned
    void* context = nullptr;
    db_node_changed_fn node_changed = nullptr;
    db_browse_changed_fn tree_changed = nullptr;
    db_browse_changed_fn sockets_changed = nullptr;
    // Per db_browse_process call.
    aud_time now{};
    aud_error error = AUD_SUCCESS;
    bool sockets_changed_flag = false;
    bool tree_changed_flag = false;

    std::vector<std::unique_ptr<db_node>> devices; // sorted by name
};

// Tree.
void db_tree_clear(db_browse* b);
// Finds or creates the device; *created tells which.
db_node* db_tree_device(db_browse* b, const std::string& name, bool* created);
uint32_t* db_tree_types(db_browse* b, db_node* device, unsigned network);
void db_tree_recompute(db_browse* b, db_node* device);
void db_tree_report(db_browse* b, db_node_kind kind, const db_node* node, db_node_event event);
// Removes the bit; reports modified or removed (and frees).
void db_tree_remove_bit(db_browse* b, const std::string& name, unsigned network, uint32_t bit);
aud_error db_tree_add_channel(db_browse* b, unsigned network, const std::string& device, uint16_t id,
    const db_format& format, const std::string& name, bool is_default);
void db_tree_remove_channel_name(db_browse* b, unsigned network, const std::string& device, const std::string& name);

// Starts the resolve of a record: INVALIDSTATE when it is active already,
// DNSSDFAIL when the service refuses it; else the record is active with its
// socket and deadline.
aud_error db_resolve_resolve(db_resolve* r);
// The replies of the browse and resolve requests (context: the browser,
// the record).
void db_dnssd_browse(DNSServiceRef ref, DNSServiceFlags flags, uint32_t index, DNSServiceErrorType error,
    const char* name, const char* regtype, const char* domain, void* context);
void db_dnssd_resolve(DNSServiceRef ref, DNSServiceFlags flags, uint32_t index, DNSServiceErrorType error,
    const char* fullname, const char* target, uint16_t port, uint16_t txt_len, const unsigned char* txt, void* context);

// Handlers of resolved and lost instances, by type row.
void db_handle_resolved(db_resolve* r, const char* target, uint16_t port, uint16_t txt_len, const unsigned char* txt);
void db_handle_lost(db_browse* b, unsigned type, unsigned network, const std::string& name);

// The name of a type row as logged.
const char* db_type_display(unsigned type);
const char* db_type_service(unsigned type);
size_t db_type_limit(unsigned type);
