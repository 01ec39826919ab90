// The agent's use of the Dante device browser: after each device-list
// request it browses the media, conmon and safe-mode services for a window
// of seconds, hands every Dante device it finds to the conmon glue for its
// query, and closes the window with DFA_CBACK_INF_DEVICE_LIST.
//
// Only a device reported MODIFIED is taken: the browser reports ADDED for
// the first service it resolves and MODIFIED once a second one completes
// the device, so a device seen with one service only is never queried.
#include "dante/browse/db_browse.h"
#include "dante/dfa/dfa_glue_parts.h"
#include "dante/dfa/dfa_main.h"
#include "dante/dfa/dfa_task.h"

#include <cstring>
#include <memory>
#include <string>

namespace {

// MEDIA, CONMON and SAFE_MODE; the channel type is not browsed.
constexpr uint32_t kTypeMask
    = 1u << DB_BROWSE_TYPE_MEDIA_DEVICE | 1u << DB_BROWSE_TYPE_CONMON_DEVICE | 1u << DB_BROWSE_TYPE_SAFE_MODE;
constexpr unsigned kMaxSockets = 19;
constexpr int kHookIndex = 0;

struct WindowParam {
    int16_t seconds;
    aud_time start;
};

struct BrowseGlue {
    db_browse* browser = nullptr;
    bool running = false;
    uint16_t reqId = 0;
    db_browse_config config{};
    DfaTask* windowTask = nullptr;
    aud_time next{};
    bool networksChanged = false;
    bool nodeChanged = false;
    bool socketsChanged = false;
    // The browser takes the sockets it handled out of the set it is given:
    // it works on a copy of the loop's set (8 KiB, so not on the stack).
    std::unique_ptr<aud_fdset> scratch;
};

BrowseGlue browseGlue;

void printError(const char* format, aud_error e)
{
    char text[AUD_STRERROR_SIZE];
    dfa_print(format, aud_strerror(e, text));
}

// ---- log lines

std::string typeSet(uint32_t types)
{
    static const struct {
        uint32_t bit;
        const char* name;
    } kNames[] = {{DB_NODE_TYPE_MEDIA, "MEDIA"}, {DB_NODE_TYPE_CHANNEL, "CHANNEL"}, {DB_NODE_TYPE_CONMON, "CONMON"},
        {DB_NODE_TYPE_SAFE_MODE, "SAFE_MODE"}};
    std::string out;
    for (const auto& row : kNames) {
        if ((types & row.bit) == 0)
            continue;
        if (!out.empty())
            out += '|';
        out += row.name;
    }
    return out;
}

std::string formatText(const db_format* f)
{
    if (f == nullptr || f->sample_rate == 0)
        return "-";
    std::string out = std::to_string(f->sample_rate) + "/[";
    const char* separator = "";
    auto add = [&](uint32_t encoding) {
        out += separator;
        if (encoding == f->first_encoding)
            out += '*';
        out += std::to_string(encoding);
        separator = ",";
    };
    for (unsigned n = 0; n < 64; ++n) {
        if ((f->pcm_sizes >> n & 1u) != 0)
            add(8 * (n + 1));
    }
    for (unsigned i = 0; i < f->num_high && i < DB_MAX_HIGH_ENCODINGS; ++i)
        add(f->high[i]);
    return out + "]";
}

void printDevice(const db_node* d)
{
    dfa_print("[BROWSE]name=\"%s\"", db_node_name(d));
    dfa_print(" all_types=%s", typeSet(db_node_all_types(d)).c_str());
    for (unsigned n = 0; n < DB_BROWSE_MAX_NETWORKS; ++n)
        dfa_print(" network_types[%d]=%s", static_cast<int>(n), typeSet(db_node_network_types(d, n)).c_str());
    dfa_print(" localhost_types=%s", typeSet(db_node_localhost_types(d)).c_str());
    dfa_print(" default_name=\"%s\"", db_node_default_name(d));
    const db_version* v = db_node_router_version(d);
    dfa_print(" router_version=%u.%u.%u", v->major, v->minor, v->build);
    v = db_node_arcp_version(d);
    dfa_print(" arcp_version=%u.%u.%u", v->major, v->minor, v->build);
    v = db_node_arcp_min_version(d);
    dfa_print(" arcp_min_version=%u.%u.%u", v->major, v->minor, v->build);
    dfa_print(" router_info=\"%s\"", db_node_router_info(d));
    const conmon_instance_id* id = db_node_instance_id(d);
    const uint8_t* b = id->device_id.data;
    dfa_print(" instance_id=%02x%02x%02x%02x%02x%02x%02x%02x/%d", b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7],
        id->process_id);
    dfa_print(" format=-\n");
}

void printChannel(const db_node* c)
{
    const db_node* device = db_node_parent_device(c);
    dfa_print("[BROWSE] id=%u device=\"%s\"", db_node_channel_id(c), device != nullptr ? db_node_name(device) : "");
    dfa_print(" canonical_name=\"%s\"", db_node_name(c));
    dfa_print(" format=%s\n", formatText(db_node_format(c)).c_str());
}

void printLabel(const db_node* l, const db_node* device)
{
    dfa_print("[BROWSE]name=\"%s\" device=\"%s\"\n", db_node_name(l), device != nullptr ? db_node_name(device) : "");
}

void dumpNetworks(const db_browse* b)
{
    dfa_print("[BROWSE]NETWORK:\n");
    for (size_t i = 0; i < db_browse_num_devices(b); ++i) {
        const db_node* d = db_browse_device_at(b, i);
        printDevice(d);
        for (size_t c = 0; c < db_node_num_channels(d); ++c) {
            const db_node* channel = db_node_channel_at(d, c);
            printChannel(channel);
            for (size_t l = 0; l < db_node_num_labels(channel); ++l)
                printLabel(db_node_label_at(channel, l), d);
        }
    }
}

const char* kindName(db_node_kind kind)
{
    switch (kind) {
    case DB_NODE_DEVICE:
        return "DEVICE";
    case DB_NODE_CHANNEL:
        return "CHANNEL";
    case DB_NODE_LABEL:
        return "LABEL";
    default:
        return "?";
    }
}

const char* eventName(db_node_event event)
{
    switch (event) {
    case DB_NODE_ADDED:
        return "ADDED";
    case DB_NODE_MODIFIED:
        return "MODIFIED";
    case DB_NODE_REMOVED:
        return "REMOVED";
    default:
        return "?";
    }
}

// ---- browser callbacks

void onNodeChanged(db_browse*, const db_node_report* report)
{
    browseGlue.nodeChanged = true;
    dfa_print("[BROWSE]browse_cb_node_changed fired\n");
    dfa_print("[BROWSE]%s NODE %s: ", kindName(report->kind), eventName(report->event));
    const db_node* node = report->node;
    if (node == nullptr) {
        dfa_print("\n");
        return;
    }
    dfa_print("name=\"%s\" types=%s\n", db_node_name(node),
        report->kind == DB_NODE_DEVICE ? typeSet(db_node_all_types(node)).c_str() : "-");
    if (report->kind != DB_NODE_DEVICE || report->event != DB_NODE_MODIFIED)
        return;
    if (dfa_conmon_is_local(db_node_instance_id(node))) {
        dfa_print("[BROWSE]%s is this PC: skipped\n", db_node_name(node));
        return;
    }
    constexpr uint32_t kNeeded = DB_NODE_TYPE_CONMON | DB_NODE_TYPE_MEDIA;
    if ((db_node_all_types(node) & kNeeded) != kNeeded)
        return;
    // A device already listed answers DFA_REASON_BUSY and is left alone.
    const DfaStatus r = dfa_conmon_add_device(db_node_name(node));
    if (r != DFA_OK && dfa_reason_of(r) != DFA_REASON_BUSY)
        dfa_print("[BROWSE][ERROR]add device %s failed: 0x%08x\n", db_node_name(node), static_cast<unsigned>(r));
}

void onBrowseNetworksChanged(db_browse* b)
{
    browseGlue.networksChanged = true;
    dfa_print("[BROWSE]browse_cb_networks_changed fired\n");
    // The dump walks the whole tree: only when it is printed.
    if (dfa_print_level() >= 2)
        dumpNetworks(b);
}

void onBrowseSocketsChanged(db_browse*)
{
    browseGlue.socketsChanged = true;
    dfa_print("[BROWSE]browse_cb_sockets_changed fired\n");
}

// ---- socket hooks (index 0)

DfaStatus browseFillSockets(void*, aud_fdset* set)
{
    if (browseGlue.browser == nullptr)
        return dfa_reason(DFA_REASON_NOT_READY);
    if (const aud_error e = db_browse_get_sockets(browseGlue.browser, set); e != AUD_SUCCESS) {
        printError("[BROWSE][ERROR]db_browse_get_sockets: %s\n", e);
        return dfa_library_error(e);
    }
    return DFA_OK;
}

int browseProcessSockets(void*, const aud_fdset* set, size_t ready)
{
    if (browseGlue.browser == nullptr)
        return 0;
    if (ready == 0) {
        const aud_time zero{};
        const aud_time n = dfa_now();
        if (aud_time_cmp(&browseGlue.next, &zero) == 0 || aud_time_cmp(&n, &browseGlue.next) < 0)
            return 0;
    }
    *browseGlue.scratch = *set;
    aud_time next{};
    if (const aud_error e = db_browse_process(browseGlue.browser, browseGlue.scratch.get(), &next); e != AUD_SUCCESS)
        printError("[BROWSE][ERROR]db_browse_process: %s\n", e);
    browseGlue.next = next;
    if (browseGlue.socketsChanged) {
        browseGlue.socketsChanged = false;
        dfa_main_set_socket_hooks(kHookIndex, &browseFillSockets, &browseProcessSockets, nullptr);
    }
    browseGlue.nodeChanged = false;
    browseGlue.networksChanged = false;
    return 0;
}

void browseUnhook()
{
    dfa_main_set_socket_hooks(kHookIndex, nullptr, nullptr, nullptr);
}

// ---- "dfa_browse_watch_timeout"

int watchWindow(DfaTask* task)
{
    WindowParam p{};
    std::memcpy(&p, dfa_task_param(task), sizeof p);
    if (dfa_since(p.start) < p.seconds)
        return 0;
    dfa_print("[BROWSE]callback DFA_CBACK_INF_DEVICE_LIST, req_id=0x%04x, DFA_ERR_DURATION_EXPIRE, timeout=%d\n",
        browseGlue.reqId, p.seconds);
    DfaFilterInfo info{};
    if (dfa_check_dnt_override(&info) != DFA_ERR_NOERR) {
        dfa_print("[BROWSE]get_dev_filter_info failed\n");
        info = DfaFilterInfo{};
    }
    if (dfa_main_callback(DFA_ERR_DURATION_EXPIRE, DFA_CBACK_INF_DEVICE_LIST, browseGlue.reqId, &info, sizeof info)
        != DFA_OK)
        dfa_print("[BROWSE][ERROR]callback failed\n");
    // Devices whose query has not finished are not reported.
    dfa_conmon_stop_queries();
    dfa_task_delete(task);
    browseUnhook();
    return 0;
}

// The task frees itself on the next pass: the next window start or close
// must not delete it again through a stale pointer.
void windowCleanup(DfaTask*)
{
    browseGlue.windowTask = nullptr;
}

void deleteWindowTask()
{
    if (browseGlue.windowTask != nullptr)
        dfa_task_delete(browseGlue.windowTask);
}

} // namespace

DfaStatus dfa_browse_glue_init(void*, aud_env* env)
{
    if (env == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    browseGlue = BrowseGlue{};
    browseGlue.scratch = std::make_unique<aud_fdset>();
    if (const aud_error e = db_browse_new(env, kTypeMask, &browseGlue.browser); e != AUD_SUCCESS) {
        printError("[BROWSE][ERROR]db_browse_new: %s\n", e);
        browseGlue.browser = nullptr;
        return dfa_library_error(e);
    }
    if (const aud_error e = db_browse_set_max_sockets(browseGlue.browser, kMaxSockets); e != AUD_SUCCESS) {
        printError("[BROWSE][ERROR]db_browse_set_max_sockets: %s\n", e);
        db_browse_free(browseGlue.browser);
        browseGlue.browser = nullptr;
        return dfa_library_error(e);
    }
    db_browse_set_context(browseGlue.browser, &browseGlue);
    db_browse_set_sockets_changed_callback(browseGlue.browser, &onBrowseSocketsChanged);
    db_browse_set_tree_changed_callback(browseGlue.browser, &onBrowseNetworksChanged);
    db_browse_set_node_changed_callback(browseGlue.browser, &onNodeChanged);
    return DFA_OK;
}

void dfa_browse_glue_term(void*)
{
    deleteWindowTask();
    browseUnhook();
    db_browse_free(browseGlue.browser);
    browseGlue = BrowseGlue{};
}

DfaStatus dfa_browse_glue_window(void*, const uint32_t* indexes, size_t count, uint16_t req_id, int16_t window_seconds)
{
    if (browseGlue.browser == nullptr)
        return dfa_reason(DFA_REASON_NOT_READY);
    if (browseGlue.running) {
        browseUnhook();
        db_browse_stop(browseGlue.browser);
        browseGlue.running = false;
    }
    db_browse_config_init(&browseGlue.config);
    if (indexes != nullptr && count > 0) {
        browseGlue.config.num_networks
            = static_cast<unsigned>(count < DB_BROWSE_MAX_NETWORKS ? count : DB_BROWSE_MAX_NETWORKS);
        for (unsigned i = 0; i < browseGlue.config.num_networks; ++i)
            browseGlue.config.interface_indexes[i] = indexes[i];
    }
    if (const aud_error e = db_browse_start_config(browseGlue.browser, &browseGlue.config); e != AUD_SUCCESS) {
        printError("[BROWSE][ERROR]db_browse_start_config: %s\n", e);
        return dfa_library_error(e);
    }
    browseGlue.running = true;
    browseGlue.reqId = req_id;
    browseGlue.next = aud_time{};
    dfa_main_set_socket_hooks(kHookIndex, &browseFillSockets, &browseProcessSockets, nullptr);
    deleteWindowTask();
    if (window_seconds < 0)
        return DFA_OK;
    browseGlue.windowTask
        = dfa_task_create(&watchWindow, &windowCleanup, DFA_KEY_BROWSE_WATCH, "dfa_browse_watch_timeout");
    if (browseGlue.windowTask == nullptr)
        return dfa_reason(DFA_REASON_NO_MEMORY);
    const WindowParam p{window_seconds, dfa_now()};
    std::memcpy(dfa_task_param(browseGlue.windowTask), &p, sizeof p);
    return DFA_OK;
}
