// A scripted DNS-SD service for the browser's tests: every reference has a
// real socket pair whose descriptor is readable exactly while a scripted
// result waits, so the browser's peek and poll work as with the querier.
#pragma once

#include "dante/browse/db_browse.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace fakednssd {

struct Ref {
    bool browse = true;
    std::string type;
    std::string name;
    uint32_t index = 0;
    DNSServiceBrowseReply browseReply = nullptr;
    DNSServiceResolveReply resolveReply = nullptr;
    void* context = nullptr;
    int fds[2] = {-1, -1};
    std::deque<std::function<void(DNSServiceRef)>> results;
    DNSServiceErrorType processError = DNSSD_OK;
    ~Ref()
    {
        close(fds[0]);
        close(fds[1]);
    }
    DNSServiceRef handle() { return reinterpret_cast<DNSServiceRef>(this); }
    void push(std::function<void(DNSServiceRef)> f)
    {
        results.push_back(std::move(f));
        const char token = 0;
        (void)!send(fds[1], &token, 1, 0);
    }
};

struct Service {
    std::vector<std::unique_ptr<Ref>> refs;
    std::vector<std::pair<uint32_t, std::string>> reconfirmed;
    int resolveFailures = 0; // the next n resolves fail to start

    Ref* find(bool browse, const std::string& typeOrName)
    {
        for (auto& r : refs)
            if (r->browse == browse && (browse ? r->type : r->name) == typeOrName)
                return r.get();
        return nullptr;
    }
    size_t resolves() const
    {
        size_t n = 0;
        for (auto& r : refs)
            n += r->browse ? 0 : 1;
        return n;
    }
    // An advertisement (add) or its removal.
    bool advertise(const std::string& type, const std::string& name, uint32_t index, bool add = true)
    {
        Ref* r = find(true, type);
        if (!r)
            return false;
        r->push([=](DNSServiceRef ref) {
            r->browseReply(
                ref, add ? DNSSD_FLAG_ADD : 0, index, DNSSD_OK, name.c_str(), type.c_str(), "local.", r->context);
        });
        return true;
    }
    bool answer(const std::string& name, uint32_t index, const std::string& target, uint16_t port,
        const std::vector<std::string>& txt)
    {
        Ref* r = find(false, name);
        if (!r)
            return false;
        std::string record;
        for (const auto& e : txt)
            record += static_cast<char>(e.size()) + e;
        r->push([=](DNSServiceRef ref) {
            r->resolveReply(ref, 0, index, DNSSD_OK, (name + "." + r->type + "local.").c_str(), target.c_str(), port,
                static_cast<uint16_t>(record.size()), reinterpret_cast<const unsigned char*>(record.data()),
                r->context);
        });
        return true;
    }
};

inline Service*& current()
{
    static Service* s = nullptr;
    return s;
}

inline Ref* newRef()
{
    auto r = std::make_unique<Ref>();
    if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, r->fds) != 0)
        return nullptr;
    current()->refs.push_back(std::move(r));
    return current()->refs.back().get();
}

inline const db_dnssd_ops* ops()
{
    static const db_dnssd_ops table = {
        [](DNSServiceRef* out, DNSServiceFlags, uint32_t index, const char* type, const char*,
            DNSServiceBrowseReply reply, void* context) -> DNSServiceErrorType {
            Ref* r = newRef();
            r->type = type;
            r->index = index;
            r->browseReply = reply;
            r->context = context;
            *out = r->handle();
            return DNSSD_OK;
        },
        [](DNSServiceRef* out, DNSServiceFlags, uint32_t index, const char* name, const char* type, const char*,
            DNSServiceResolveReply reply, void* context) -> DNSServiceErrorType {
            if (current()->resolveFailures > 0) {
                --current()->resolveFailures;
                return DNSSD_ERR_UNKNOWN;
            }
            Ref* r = newRef();
            r->browse = false;
            r->name = name;
            r->type = type;
            r->index = index;
            r->resolveReply = reply;
            r->context = context;
            *out = r->handle();
            return DNSSD_OK;
        },
        [](DNSServiceRef ref) { return reinterpret_cast<Ref*>(ref)->fds[0]; },
        [](DNSServiceRef ref) -> DNSServiceErrorType {
            Ref* r = reinterpret_cast<Ref*>(ref);
            char token = 0;
            if (recv(r->fds[0], &token, 1, MSG_DONTWAIT) != 1 || r->results.empty())
                return DNSSD_ERR_BAD_STATE;
            if (r->processError != DNSSD_OK)
                return r->processError;
            auto f = std::move(r->results.front());
            r->results.pop_front();
            f(ref);
            return DNSSD_OK;
        },
        [](DNSServiceRef ref) {
            auto& refs = current()->refs;
            for (auto it = refs.begin(); it != refs.end(); ++it)
                if (it->get() == reinterpret_cast<Ref*>(ref)) {
                    refs.erase(it);
                    return;
                }
        },
        [](DNSServiceFlags, uint32_t index, const char* fullname, uint16_t, uint16_t, uint16_t,
            const void*) -> DNSServiceErrorType {
            current()->reconfirmed.emplace_back(index, fullname);
            return DNSSD_OK;
        },
    };
    return &table;
}

} // namespace fakednssd
