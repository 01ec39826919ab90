// The DNS-SD calls over the shared engine; see dns_sd.h.
#include "dante/dnssd/dns_sd.h"
#include "dante/dnssd/dnssd_engine.h"
#include "dante/dnssd/mdns_message.h"

#include <cerrno>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// "_netaudio-arc._udp." + "local" -> "_netaudio-arc._udp.local"; false for
// a type or domain that is not a valid name.
bool serviceName(const char* regtype, const char* domain, std::string* out)
{
    if (!regtype || !*regtype)
        return false;
    std::string type = regtype;
    std::string dom = (domain && *domain) ? domain : "local";
    if (type.back() == '.')
        type.pop_back();
    if (dom.back() == '.')
        dom.pop_back();
    *out = type + "." + dom;
    std::vector<std::string> labels;
    return mdns_name_split(*out, &labels) == AUD_SUCCESS && labels.size() >= 3;
}

DNSServiceErrorType startRef(std::unique_ptr<dnssd_ref> ref, DNSServiceRef* out)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
        return errno == ENOMEM ? DNSSD_ERR_NO_MEMORY : DNSSD_ERR_UNKNOWN;
    ref->fd = pair[0];
    ref->engine_fd = pair[1];
    const DNSServiceErrorType err = dnssd::acquire(&ref->engine);
    if (err != DNSSD_OK)
        return err;
    dnssd::engine_add(ref->engine.get(), ref.get());
    *out = ref.release();
    return DNSSD_OK;
}

} // namespace

DNSServiceErrorType DNSServiceBrowse(DNSServiceRef* ref, DNSServiceFlags, uint32_t interfaceIndex, const char* regtype,
    const char* domain, DNSServiceBrowseReply callback, void* context)
{
    if (!ref || !callback)
        return DNSSD_ERR_BAD_PARAM;
    auto r = std::make_unique<dnssd_ref>();
    if (!serviceName(regtype, domain, &r->service))
        return DNSSD_ERR_BAD_PARAM;
    r->kind = dnssd_ref::BROWSE;
    r->interface_index = interfaceIndex;
    r->regtype = r->service.substr(0, r->service.rfind('.') + 1);
    r->browse_reply = callback;
    r->context = context;
    return startRef(std::move(r), ref);
}

DNSServiceErrorType DNSServiceResolve(DNSServiceRef* ref, DNSServiceFlags, uint32_t interfaceIndex, const char* name,
    const char* regtype, const char* domain, DNSServiceResolveReply callback, void* context)
{
    if (!ref || !callback || !name || !*name)
        return DNSSD_ERR_BAD_PARAM;
    auto r = std::make_unique<dnssd_ref>();
    if (!serviceName(regtype, domain, &r->service))
        return DNSSD_ERR_BAD_PARAM;
    r->kind = dnssd_ref::RESOLVE;
    r->interface_index = interfaceIndex;
    r->fullname = mdns_label_escape(name) + "." + r->service;
    std::vector<std::string> labels;
    if (mdns_name_split(r->fullname, &labels) != AUD_SUCCESS)
        return DNSSD_ERR_BAD_PARAM;
    r->resolve_reply = callback;
    r->context = context;
    return startRef(std::move(r), ref);
}

int DNSServiceRefSockFD(DNSServiceRef ref)
{
    return ref ? ref->fd : -1;
}

DNSServiceErrorType DNSServiceProcessResult(DNSServiceRef ref)
{
    if (!ref)
        return DNSSD_ERR_BAD_PARAM;
    dnssd::Result r;
    if (!dnssd::engine_pop(ref->engine.get(), ref, &r))
        return DNSSD_ERR_BAD_STATE;
    const std::string domain = "local.";
    if (ref->kind == dnssd_ref::BROWSE) {
        ref->browse_reply(ref, r.flags, r.interface_index, DNSSD_OK, r.name.c_str(), ref->regtype.c_str(),
            domain.c_str(), ref->context);
    } else {
        ref->resolve_reply(ref, r.flags, r.interface_index, DNSSD_OK, r.name.c_str(), r.target.c_str(), r.port,
            static_cast<uint16_t>(r.txt.size()), reinterpret_cast<const unsigned char*>(r.txt.data()), ref->context);
    }
    return DNSSD_OK;
}

void DNSServiceRefDeallocate(DNSServiceRef ref)
{
    delete ref; // the reference is owned by its caller until here
}

DNSServiceErrorType DNSServiceReconfirmRecord(DNSServiceFlags, uint32_t interfaceIndex, const char* fullname,
    uint16_t rrtype, uint16_t rrclass, uint16_t, const void*)
{
    if (!fullname || rrtype != DNSSD_TYPE_PTR || rrclass != DNSSD_CLASS_IN)
        return DNSSD_ERR_BAD_PARAM;
    std::string name = fullname;
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    std::vector<std::string> labels;
    if (mdns_name_split(name, &labels) != AUD_SUCCESS)
        return DNSSD_ERR_BAD_PARAM;
    std::shared_ptr<dnssd::Engine> engine;
    const DNSServiceErrorType err = dnssd::acquire(&engine);
    if (err != DNSSD_OK)
        return err;
    dnssd::engine_reconfirm(engine.get(), interfaceIndex, name);
    return DNSSD_OK;
}

uint64_t dnssd_dropped_results(DNSServiceRef ref)
{
    return ref ? dnssd::engine_dropped(ref->engine.get(), ref) : 0;
}

void dnssd_set_reconfirm_time(uint32_t milliseconds)
{
    dnssd::set_reconfirm_ms(milliseconds);
}

void dnssd_set_queue_max(size_t results)
{
    dnssd::set_queue_max(results);
}
