// The browser object: browse and resolve requests, their sockets, and the
// processing pass the owner calls with the ready set.
#include "dante/browse/db_internal.h"
#include "dante/browse/db_sap.h"

#include "dante/support/aud_interface.h"
#include "dante/support/aud_log.h"
#include "dante/support/dt_log.h"

#include <cerrno>
#include <string>
#include <sys/socket.h>

namespace {

struct Row {
    const char* display;
    const char* service;
    size_t limit;
};

const Row kRows[DB_BROWSE_TYPE_COUNT] = {
    {"media device", "_netaudio-arc._udp.", 32},
    {"media channel", "_netaudio-chan._udp.", 64},
    {"conmon device", "_netaudio-cmc._udp.", 32},
    {"safe mode", "_dante-safe._udp.", 32},
    {"upgrade mode", "_dante-upgr._udp.", 32},
    {"via device", "_netaudio-via._tcp.", 32},
    {"aes67 device", "SAP", 32},
};

const char* const kDomain = "local";
const char* const kTag = "db_browse";

const db_dnssd_ops kRealOps = {DNSServiceBrowse, DNSServiceResolve, DNSServiceRefSockFD, DNSServiceProcessResult,
    DNSServiceRefDeallocate, DNSServiceReconfirmRecord};
const db_dnssd_ops* g_ops = &kRealOps;

aud_log_state* logOf(const db_browse* b)
{
    return aud_env_log(b->env);
}

bool inMask(const db_browse* b, unsigned type)
{
    return (b->type_mask >> type) & 1u;
}

uint32_t networkIndex(const db_browse* b, unsigned network)
{
    return network < b->config.num_networks ? b->config.interface_indexes[network] : b->localhost_index;
}

void endResolve(
    db_browse* b, std::list<std::unique_ptr<db_resolve>>& from, std::list<std::unique_ptr<db_resolve>>::iterator it)
{
    db_resolve* r = it->get();
    if (r->ref) {
        g_ops->deallocate(r->ref);
        b->sockets_changed_flag = true;
    }
    r->ref = nullptr;
    r->socket = -1;
    r->active = false;
    r->type = DB_BROWSE_TYPE_COUNT;
    r->name.clear();
    b->free_list.splice(b->free_list.end(), from, it);
}

} // namespace

// A resolve's result: the record's handler runs for a result from its
// network, and the resolve ends.
void db_dnssd_resolve(DNSServiceRef, DNSServiceFlags, uint32_t index, DNSServiceErrorType error, const char*,
    const char* target, uint16_t port, uint16_t len, const unsigned char* txt, void* context)
{
    auto* rec = static_cast<db_resolve*>(context);
    db_browse* br = rec->browse;
    if (error != DNSSD_OK) {
        aud_log(logOf(br), AUD_LOG_ERROR, "%s: Error resolving '%s' using socket %d (dns error=%d)\n", kTag,
            rec->name.c_str(), rec->socket, error);
        br->error = br->error ? br->error : AUD_DNSSDFAIL;
        return;
    }
    const uint32_t wanted = networkIndex(br, rec->network);
    if (index != wanted) {
        if (rec->network < br->config.num_networks)
            aud_log(logOf(br), AUD_LOG_INFO, "%s: ignoring resolve for %s on interface %u (not %u)", kTag,
                rec->name.c_str(), index, wanted);
        return;
    }
    std::string host = target ? target : "";
    host = host.substr(0, host.find('.')).substr(0, DB_NAME_SIZE - 1);
    aud_log(logOf(br), AUD_LOG_INFO, "%s: Resolved '%s' on network %u using socket %d (hosttarget=%s port=%d)\n", kTag,
        rec->name.c_str(), rec->network, rec->socket, host.c_str(), port);
    db_handle_resolved(rec, host.c_str(), port, len, txt);
    for (auto it = br->active.begin(); it != br->active.end(); ++it)
        if (it->get() == rec) {
            endResolve(br, br->active, it);
            break;
        }
}

aud_error db_resolve_resolve(db_resolve* r)
{
    db_browse* b = r->browse;
    if (r->active) {
        aud_log(logOf(b), AUD_LOG_ERROR, "Error resolving %s: already resolving\n", r->name.c_str());
        return AUD_INVALIDSTATE;
    }
    const DNSServiceErrorType err = g_ops->resolve(&r->ref, 0, networkIndex(b, r->network), r->name.c_str(),
        kRows[r->type].service, kDomain, &db_dnssd_resolve, r);
    if (err != DNSSD_OK || !r->ref) {
        aud_log(logOf(b), AUD_LOG_ERROR, "Error resolving %s: %d\n", r->name.c_str(), err);
        r->ref = nullptr;
        return AUD_DNSSDFAIL;
    }
    r->socket = g_ops->sock_fd(r->ref);
    b->sockets_changed_flag = true;
    r->deadline = b->now;
    aud_time_add(&r->deadline, &b->config.resolve_timeout);
    r->active = true;
    aud_log(logOf(b), AUD_LOG_INFO, "%s: resolve '%s' initiated using socket %d\n", kTag, r->name.c_str(), r->socket);
    return AUD_SUCCESS;
}

namespace {

// The network of an advertisement's interface, or false to ignore it.
bool networkOf(db_browse* b, uint32_t index, unsigned* network)
{
    for (unsigned n = 0; n < b->config.num_networks; ++n) {
        if (!((b->config.network_enable_mask >> n) & 1u))
            continue;
        if (b->config.interface_indexes[n] == 0) {
            aud_log(logOf(b), AUD_LOG_INFO,
                "%s: No interface index filter defined for network %u, setting interface index to %d\n", kTag, n,
                index);
            b->config.interface_indexes[n] = index;
        }
        if (b->config.interface_indexes[n] == index) {
            *network = n;
            return true;
        }
    }
    if (b->localhost_index && index == b->localhost_index && b->config.localhost_browsing) {
        *network = b->config.num_networks;
        return true;
    }
    return false;
}

} // namespace

void db_dnssd_browse(DNSServiceRef, DNSServiceFlags flags, uint32_t index, DNSServiceErrorType error, const char* name,
    const char* regtype, const char* domain, void* context)
{
    auto* b = static_cast<db_browse*>(context);
    name = name ? name : "";
    regtype = regtype ? regtype : "";
    domain = domain ? domain : "";
    if (error != DNSSD_OK) {
        aud_log(logOf(b), AUD_LOG_ERROR, "%s: browse %s.%s.%s failed: %d\n", kTag, name, regtype, domain, error);
        b->error = b->error ? b->error : AUD_DNSSDFAIL;
        return;
    }
    unsigned network = 0;
    if (!networkOf(b, index, &network)) {
        aud_log(logOf(b), AUD_LOG_INFO,
            "%s: Ignoring advertisement %s.%s.%s flags=0x%08x on invalid interface index %d", kTag, name, regtype,
            domain, flags, index);
        return;
    }
    unsigned type = 0;
    while (type < DB_BROWSE_TYPE_AES67 && std::string(kRows[type].service) != regtype)
        ++type;
    if (type == DB_BROWSE_TYPE_AES67) {
        aud_log(logOf(b), AUD_LOG_WARNING, "%s: unknown service type %s\n", kTag, regtype);
        return;
    }
    const size_t length = std::string(name).size();
    if (length == 0 || length >= kRows[type].limit) {
        aud_log(
            logOf(b), AUD_LOG_WARNING, "%s: Ignoring invalid name \"%s\" for service type %s\n", kTag, name, regtype);
        return;
    }
    if (flags & DNSSD_FLAG_ADD) {
        std::unique_ptr<db_resolve> r;
        if (!b->free_list.empty()) {
            r = std::move(b->free_list.front());
            b->free_list.pop_front();
        } else {
            r = std::make_unique<db_resolve>();
        }
        r->browse = b;
        r->network = network;
        r->type = type;
        r->name = name;
        b->pending.push_back(std::move(r));
        return;
    }
    db_handle_lost(b, type, network, name);
    for (auto* list : {&b->active, &b->pending}) {
        for (auto it = list->begin(); it != list->end();) {
            auto next = std::next(it);
            if ((*it)->network == network && (*it)->type == type && (*it)->name == name)
                endResolve(b, *list, it);
            it = next;
        }
    }
}

namespace {

void stopBrowses(db_browse* b)
{
    for (unsigned t = 0; t < DB_BROWSE_TYPE_COUNT; ++t) {
        if (b->browse_refs[t]) {
            aud_log(logOf(b), AUD_LOG_INFO, "%s: Stopping browsing for type %s using socket %d\n", kTag,
                kRows[t].display, b->browse_sockets[t]);
            g_ops->deallocate(b->browse_refs[t]);
        }
        b->browse_refs[t] = nullptr;
        b->browse_sockets[t] = -1;
    }
    if (db_browse_sap_socket(b->sap) >= 0)
        aud_log(logOf(b), AUD_LOG_INFO, "%s: Stopping browsing for type %s using socket %d\n", kTag, "AES67",
            db_browse_sap_socket(b->sap));
    db_browse_sap_close(b->sap); // SHUTDOWN when it was not open: nothing to do
}

} // namespace

const char* db_type_display(unsigned type)
{
    return type < DB_BROWSE_TYPE_COUNT ? kRows[type].display : "";
}

const char* db_type_service(unsigned type)
{
    return type < DB_BROWSE_TYPE_COUNT ? kRows[type].service : "";
}

size_t db_type_limit(unsigned type)
{
    return type < DB_BROWSE_TYPE_COUNT ? kRows[type].limit : 0;
}

void db_browse_set_dnssd_ops(const db_dnssd_ops* ops)
{
    g_ops = ops ? ops : &kRealOps;
}

void db_browse_config_init(db_browse_config* config)
{
    if (!config)
        return;
    *config = db_browse_config{};
    config->num_networks = 1;
    config->network_enable_mask = 0xFFFFFFFFu;
    config->localhost_browsing = 1;
    config->resolve_timeout = {30, 0};
}

aud_error db_browse_new(aud_env* env, uint32_t type_mask, db_browse** out)
{
    aud_log(aud_env_log(env), AUD_LOG_INFO, "%s: creating new browse (types=0x%08x)\n", kTag, type_mask);
    type_mask &= (1u << DB_BROWSE_TYPE_COUNT) - 1;
    if (!out || type_mask == 0)
        return AUD_INVALIDPARAMETER;
    auto b = std::make_unique<db_browse>();
    b->env = env;
    const aud_error sapErr = db_browse_sap_new(b.get(), &b->sap);
    if (sapErr != AUD_SUCCESS) {
        aud_log(aud_env_log(env), AUD_LOG_ERROR, "%s: Error getting AES67 SAP structure : %d\n", kTag, sapErr);
        return sapErr;
    }
    b->type_mask = type_mask;
    for (unsigned t = 0; t < DB_BROWSE_TYPE_COUNT; ++t)
        b->num_types += inMask(b.get(), t) ? 1 : 0;
    db_browse_config_init(&b->config);
    aud_interface lo{};
    const aud_error err = aud_interface_find_loopback(&lo);
    if (err == AUD_SUCCESS) {
        b->localhost_index = lo.index;
        aud_log(logOf(b.get()), AUD_LOG_INFO, "%s: Found localhost interface with index %d\n", kTag, lo.index);
    } else {
        aud_log(logOf(b.get()), AUD_LOG_WARNING, "%s: Error getting localhost interface index: %d\n", kTag, err);
    }
    *out = b.release();
    return AUD_SUCCESS;
}

void db_browse_free(db_browse* browse)
{
    if (!browse)
        return;
    db_browse_stop(browse);
    db_browse_sap_free(browse->sap);
    delete browse; // created by db_browse_new
}

aud_error db_browse_set_max_sockets(db_browse* browse, unsigned n)
{
    if (!browse || n < browse->num_types + 1)
        return AUD_INVALIDPARAMETER;
    if (browse->browsing)
        return AUD_INVALIDSTATE;
    browse->max_resolves = n - browse->num_types;
    return AUD_SUCCESS;
}

void db_browse_set_context(db_browse* browse, void* context)
{
    browse->context = context;
}

void* db_browse_get_context(const db_browse* browse)
{
    return browse->context;
}

void db_browse_set_node_changed_callback(db_browse* browse, db_node_changed_fn fn)
{
    browse->node_changed = fn;
}

void db_browse_set_tree_changed_callback(db_browse* browse, db_browse_changed_fn fn)
{
    browse->tree_changed = fn;
}

void db_browse_set_sockets_changed_callback(db_browse* browse, db_browse_changed_fn fn)
{
    browse->sockets_changed = fn;
}

aud_error db_browse_start_config(db_browse* b, const db_browse_config* config)
{
    if (!b || !config || config->num_networks < 1 || config->num_networks > DB_BROWSE_MAX_NETWORKS)
        return AUD_INVALIDPARAMETER;
    if (b->browsing)
        return AUD_INVALIDSTATE;
    db_tree_clear(b);
    b->config = *config;
    std::string list;
    for (unsigned n = 0; n < config->num_networks; ++n)
        list += (n ? "," : "") + std::to_string(config->interface_indexes[n]);
    aud_log(
        logOf(b), AUD_LOG_INFO, "%s: starting browse on %d interfaces: %s\n", kTag, config->num_networks, list.c_str());
    for (unsigned t = 0; t < DB_BROWSE_TYPE_COUNT; ++t) {
        if (!inMask(b, t))
            continue;
        if (t == DB_BROWSE_TYPE_AES67) {
            const aud_error err = db_browse_sap_open(b->sap, "239.255.255.255");
            if (err != AUD_SUCCESS) {
                stopBrowses(b);
                if (err == AUD_INVALIDPARAMETER) {
                    aud_log(logOf(b), AUD_LOG_ERROR, "%s: Interface index number must be provided for browsing %s\n",
                        kTag, kRows[t].display);
                    return err;
                }
                if (err == AUD_NODEV)
                    return err;
                aud_log(logOf(b), AUD_LOG_ERROR, "%s: Error creating socket for type %s, err=%d)\n", kTag,
                    kRows[t].display, err);
                return AUD_NOTSOCK;
            }
            b->browse_sockets[t] = db_browse_sap_socket(b->sap);
            aud_log(logOf(b), AUD_LOG_INFO, "%s: Started browsing for type %s (%s) using socket %d\n", kTag,
                kRows[t].display, "SAP", b->browse_sockets[t]);
            continue;
        }
        const DNSServiceErrorType err
            = g_ops->browse(&b->browse_refs[t], 0, 0, kRows[t].service, kDomain, &db_dnssd_browse, b);
        if (err != DNSSD_OK || !b->browse_refs[t]) {
            b->browse_refs[t] = nullptr;
            stopBrowses(b);
            aud_log(logOf(b), AUD_LOG_ERROR, "Error starting %s (%s) browse (dnssd err=%d)\n", kRows[t].display,
                kRows[t].service, err);
            return AUD_DNSSDFAIL;
        }
        b->browse_sockets[t] = g_ops->sock_fd(b->browse_refs[t]);
        aud_log(logOf(b), AUD_LOG_INFO, "%s: Started browsing for type %s (%s) using socket %d\n", kTag,
            kRows[t].display, kRows[t].service, b->browse_sockets[t]);
    }
    b->browsing = 1;
    return AUD_SUCCESS;
}

aud_error db_browse_stop(db_browse* b)
{
    if (!b)
        return AUD_INVALIDPARAMETER;
    stopBrowses(b);
    while (!b->active.empty())
        endResolve(b, b->active, b->active.begin());
    while (!b->pending.empty())
        endResolve(b, b->pending, b->pending.begin());
    b->free_list.clear();
    db_browse_sap_forget(b->sap);
    db_tree_clear(b);
    b->browsing = 0;
    return AUD_SUCCESS;
}

aud_error db_browse_get_sockets(const db_browse* b, aud_fdset* set)
{
    if (!b || !set)
        return AUD_INVALIDPARAMETER;
    if (!b->browsing)
        return AUD_INVALIDSTATE;
    // A full set keeps its members: the rest wait for a later pass.
    for (unsigned t = 0; t < DB_BROWSE_TYPE_COUNT; ++t)
        if (inMask(b, t) && b->browse_sockets[t] >= 0)
            aud_fdset_add(set, b->browse_sockets[t]);
    for (const auto& r : b->active)
        if (r->socket >= 0)
            aud_fdset_add(set, r->socket);
    return AUD_SUCCESS;
}

DNSServiceErrorType dt_dns_sd_process_result(DNSServiceRef ref, int socket)
{
    const int fd = g_ops->sock_fd(ref);
    if (socket != fd) {
        dt_log(5, "%s: Mismatch between passed socket (%d) and service ref fd (%d)", kTag, socket, fd);
        return DNSSD_ERR_BAD_PARAM;
    }
    char byte = 0;
    const ssize_t n = recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        return DNSSD_ERR_UNKNOWN;
    if (n <= 0) {
        dt_log(5, "%s: Got nothing to read ..conmon blocks here", kTag);
        return DNSSD_ERR_BAD_STATE;
    }
    return g_ops->process_result(ref);
}

aud_error db_browse_process(db_browse* b, aud_fdset* ready, aud_time* next_deadline)
{
    if (!b || !ready)
        return AUD_INVALIDPARAMETER;
    aud_env_clock(b->env, &b->now);
    b->error = AUD_SUCCESS;
    b->sockets_changed_flag = false;
    b->tree_changed_flag = false;
    // The owner's socket list and view of the tree follow every change of
    // this call, also when it ends early with an error: a resolve ended
    // here has closed its socket.
    auto finish = [b](aud_error err) {
        if (b->tree_changed_flag && b->tree_changed)
            b->tree_changed(b);
        if (b->sockets_changed_flag && b->sockets_changed)
            b->sockets_changed(b);
        return err;
    };

    // 2. Active resolves.
    for (auto it = b->active.begin(); it != b->active.end();) {
        db_resolve* r = it->get();
        ++it; // the callback may end r
        const int s = r->socket;
        if (s < 0 || !aud_fdset_is_ready(ready, s) || !aud_fdset_contains(ready, s))
            continue;
        aud_log(logOf(b), AUD_LOG_DEBUG, "%s: processing resolve %p (type=%d name=%s sdref=%p s=%u)\n", kTag,
            static_cast<void*>(r), r->type, r->name.c_str(), static_cast<void*>(r->ref), s);
        const DNSServiceErrorType err = dt_dns_sd_process_result(r->ref, s);
        aud_log(logOf(b), AUD_LOG_DEBUG, "%s: processed resolve %p with err %d\n", kTag, static_cast<void*>(r), err);
        aud_fdset_remove(ready, s);
        if (err != DNSSD_OK)
            return finish(AUD_DNSSDFAIL);
        if (b->error)
            return finish(b->error);
    }
    // 3. Expired resolves.
    for (auto it = b->active.begin(); it != b->active.end();) {
        auto next = std::next(it);
        db_resolve* r = it->get();
        if (aud_time_cmp(&r->deadline, &b->now) < 0) {
            aud_log(logOf(b), AUD_LOG_WARNING, "%s: Resolve %s/%s (%s) timed out, removing and reconfirming\n", kTag,
                r->name.c_str(), kRows[r->type].service, kRows[r->type].display);
            char full[DNSSD_MAX_DOMAIN_NAME];
            const bool named
                = DNSServiceConstructFullName(full, r->name.c_str(), kRows[r->type].service, kDomain) == DNSSD_OK;
            const uint32_t index = networkIndex(b, r->network);
            endResolve(b, b->active, it);
            if (named)
                g_ops->reconfirm(0, index, full, DNSSD_TYPE_PTR, DNSSD_CLASS_IN, 0, nullptr);
        }
        it = next;
    }
    // 4. Browse sockets.
    for (unsigned t = 0; t < DB_BROWSE_TYPE_COUNT; ++t) {
        const int s = b->browse_sockets[t];
        if (!inMask(b, t) || s < 0 || !aud_fdset_contains(ready, s) || !aud_fdset_is_ready(ready, s))
            continue;
        DNSServiceErrorType err = DNSSD_OK;
        if (t == DB_BROWSE_TYPE_AES67) {
            aud_log(logOf(b), AUD_LOG_DEBUG, "%s: processing SAP socket %d\n", kTag, s);
            err = db_browse_sap_process(s, b->sap) == AUD_SUCCESS ? DNSSD_OK : DNSSD_ERR_UNKNOWN;
        } else {
            aud_log(logOf(b), AUD_LOG_DEBUG, "%s: processing %s socket %d\n", kTag, kRows[t].display, s);
            err = dt_dns_sd_process_result(b->browse_refs[t], s);
        }
        aud_fdset_remove(ready, s);
        if (err != DNSSD_OK)
            return finish(AUD_DNSSDFAIL);
        if (b->error)
            return finish(b->error);
    }
    // 5. Pending resolves, while there is room.
    while (!b->pending.empty() && b->active.size() < b->max_resolves) {
        auto it = b->pending.begin();
        if (db_resolve_resolve(it->get()) != AUD_SUCCESS) {
            endResolve(b, b->pending, it);
            break;
        }
        b->active.splice(b->active.end(), b->pending, it);
    }
    // 6. Records no longer used.
    b->free_list.clear();
    // 7.
    finish(AUD_SUCCESS);
    // 8.
    if (next_deadline)
        *next_deadline = b->active.empty() ? aud_time{0, 0} : b->active.front()->deadline;
    // 9.
    db_browse_sap_expire(b->sap);
    return AUD_SUCCESS;
}

aud_env* db_browse_get_env(const db_browse* b)
{
    return b->env;
}

const db_browse_config* db_browse_get_config(const db_browse* b)
{
    return &b->config;
}

unsigned db_browse_active_resolves(const db_browse* b)
{
    return static_cast<unsigned>(b->active.size());
}

db_browse_sap* db_browse_get_sap(const db_browse* b)
{
    return b->sap;
}

unsigned db_browse_pending_resolves(const db_browse* b)
{
    return static_cast<unsigned>(b->pending.size());
}
