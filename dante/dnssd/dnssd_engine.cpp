// The mDNS querier thread; see dnssd_engine.h.
#include "dante/dnssd/dnssd_engine.h"
#include "dante/dnssd/mdns_message.h"

#include "dante/support/aud_interface.h"
#include "dante/support/aud_socket.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace dnssd {

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr seconds kMaxInterval{60};
// Interfaces come and go; look again this often.
constexpr seconds kInterfaceRescan{2};
// Longest sleep, so a stop is never slow.
constexpr milliseconds kMaxSleep{250};

std::atomic<uint32_t> g_reconfirm_ms{3000};
std::atomic<size_t> g_queue_max{DNSSD_QUEUE_MAX};

struct CacheEntry {
    mdns_record record;
    uint32_t interface_index = 0;
    Clock::time_point expiry;
    Clock::time_point reconfirm_deadline = Clock::time_point::max();
};

// Records of these types describe one thing per name: a newer one replaces it.
bool isUnique(uint16_t type)
{
    return type == MDNS_TYPE_SRV || type == MDNS_TYPE_TXT || type == MDNS_TYPE_A;
}

bool sameRecord(const CacheEntry& e, const mdns_record& r, uint32_t index)
{
    if (e.interface_index != index || e.record.type != r.type || !mdns_name_equal(e.record.name, r.name))
        return false;
    if (r.type == MDNS_TYPE_PTR)
        return mdns_name_equal(e.record.target, r.target);
    if (isUnique(r.type))
        return true;
    return false;
}

// The instance label of a PTR target under service, or false.
bool instanceOf(const std::string& target, const std::string& service, std::string* instance)
{
    std::vector<std::string> labels;
    std::vector<std::string> serviceLabels;
    if (mdns_name_split(target, &labels) != AUD_SUCCESS || mdns_name_split(service, &serviceLabels) != AUD_SUCCESS
        || labels.size() != serviceLabels.size() + 1)
        return false;
    const std::vector<std::string> rest(labels.begin() + 1, labels.end());
    if (!mdns_name_equal(mdns_name_join(rest), mdns_name_join(serviceLabels)))
        return false;
    *instance = labels[0];
    return true;
}

bool matchesInterface(uint32_t wanted, uint32_t actual)
{
    return wanted == 0 || wanted == actual;
}

} // namespace

class Engine {
public:
    ~Engine();
    DNSServiceErrorType start();

    std::mutex mutex;
    std::vector<dnssd_ref*> refs;

    void push(dnssd_ref* ref, Result result);
    void reportCached(dnssd_ref* ref);
    void tryResolve(dnssd_ref* ref);
    void reconfirm(uint32_t index, const std::string& fullname);
    void wake();

private:
    void run();
    void rescanInterfaces(Clock::time_point now);
    void receiveAll(Clock::time_point now);
    void handle(const mdns_message& m, uint32_t index, Clock::time_point now);
    void store(const mdns_record& r, uint32_t index, Clock::time_point now);
    void reportPtr(const CacheEntry& e, bool added);
    void erase(size_t i);
    void timers(Clock::time_point now);
    void sendQuery(const std::vector<mdns_question>& questions, uint32_t index);
    Clock::time_point nextEvent(Clock::time_point now) const;

    int m_socket = -1;
    int m_wake = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::vector<CacheEntry> m_cache;
    std::vector<aud_interface> m_interfaces; // joined, multicast
    std::vector<uint32_t> m_ownAddresses; // network order
    uint32_t m_loopbackIndex = 0;
    Clock::time_point m_lastScan{};
    bool m_scanned = false;
};

Engine::~Engine()
{
    m_stop = true;
    wake();
    if (m_thread.joinable())
        m_thread.join();
    if (m_socket >= 0)
        close(m_socket);
    if (m_wake >= 0)
        close(m_wake);
}

DNSServiceErrorType Engine::start()
{
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wake < 0 || aud_socket_udp_open(&m_socket, AF_INET) != AUD_SUCCESS)
        return DNSSD_ERR_SERVICE_NOT_RUNNING;
    aud_socket_set_reuse_addr(m_socket, 1);
    aud_socket_set_reuse_port(m_socket, 1); // a daemon may hold the port too
    aud_socket_set_pktinfo(m_socket, 1);
    aud_socket_set_multicast_loop(m_socket, 1);
    const int off = 0;
    const int ttl = 255;
    // Only the groups joined on this socket, not every group of the host.
    setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
    setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    aud_sockaddr any{};
    aud_sockaddr_any(&any, AF_INET, MDNS_PORT);
    if (aud_socket_bind(m_socket, &any) != AUD_SUCCESS)
        return DNSSD_ERR_SERVICE_NOT_RUNNING;
    rescanInterfaces(Clock::now());
    m_thread = std::thread([this] { run(); });
    return DNSSD_OK;
}

void Engine::wake()
{
    const uint64_t one = 1;
    if (m_wake >= 0)
        (void)!write(m_wake, &one, sizeof one);
}

void Engine::rescanInterfaces(Clock::time_point now)
{
    m_lastScan = now;
    m_scanned = true;
    aud_interface* entries = nullptr;
    size_t count = 0;
    if (aud_interface_list(&entries, &count) != AUD_SUCCESS)
        return;
    m_ownAddresses.clear();
    for (size_t i = 0; i < count; ++i) {
        const aud_interface& e = entries[i];
        m_ownAddresses.push_back(aud_sockaddr_address(&e.address));
        if (e.loopback) {
            m_loopbackIndex = e.index;
            continue;
        }
        // Only the multicast flag: the operational state is read from sysfs,
        // which may show another namespace; a join on a down link just fails.
        if (!e.multicast)
            continue;
        const bool known = std::any_of(
            m_interfaces.begin(), m_interfaces.end(), [&](const aud_interface& j) { return j.index == e.index; });
        if (!known && aud_socket_join_group(m_socket, htonl(MDNS_GROUP_HOST), &e) == AUD_SUCCESS)
            m_interfaces.push_back(e);
    }
    aud_interface_list_free(entries);
}

void Engine::push(dnssd_ref* ref, Result result)
{
    if (ref->queue.size() >= g_queue_max.load()) {
        // The owner has not polled for a long while: keep the newest.
        ref->queue.pop_front();
        ++ref->dropped;
    }
    ref->queue.push_back(std::move(result));
    // One byte waits in the pair while the queue is not empty, so the
    // descriptor is readable exactly then, whatever the queue's length.
    if (ref->queue.size() == 1) {
        const char token = 0;
        (void)!send(ref->engine_fd, &token, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
}

void Engine::reportPtr(const CacheEntry& e, bool added)
{
    for (dnssd_ref* ref : refs) {
        std::string instance;
        if (ref->kind != dnssd_ref::BROWSE || !matchesInterface(ref->interface_index, e.interface_index)
            || !mdns_name_equal(ref->service, e.record.name) || !instanceOf(e.record.target, ref->service, &instance))
            continue;
        Result r;
        r.flags = added ? DNSSD_FLAG_ADD : 0;
        r.interface_index = e.interface_index;
        r.name = instance;
        push(ref, std::move(r));
    }
}

void Engine::reportCached(dnssd_ref* ref)
{
    for (const CacheEntry& e : m_cache) {
        std::string instance;
        if (e.record.type == MDNS_TYPE_PTR && matchesInterface(ref->interface_index, e.interface_index)
            && mdns_name_equal(ref->service, e.record.name) && instanceOf(e.record.target, ref->service, &instance)) {
            Result r;
            r.flags = DNSSD_FLAG_ADD;
            r.interface_index = e.interface_index;
            r.name = instance;
            push(ref, std::move(r));
        }
    }
}

void Engine::tryResolve(dnssd_ref* ref)
{
    if (ref->kind != dnssd_ref::RESOLVE || ref->answered)
        return;
    const CacheEntry* srv = nullptr;
    const CacheEntry* txt = nullptr;
    for (const CacheEntry& e : m_cache) {
        if (!matchesInterface(ref->interface_index, e.interface_index)
            || !mdns_name_equal(e.record.name, ref->fullname))
            continue;
        if (e.record.type == MDNS_TYPE_SRV && !srv)
            srv = &e;
        if (e.record.type == MDNS_TYPE_TXT && !txt)
            txt = &e;
    }
    if (!srv || !txt || srv->interface_index != txt->interface_index)
        return;
    Result r;
    r.interface_index = srv->interface_index;
    r.name = ref->fullname + ".";
    r.target = srv->record.target + ".";
    r.port = srv->record.port;
    r.txt = txt->record.rdata;
    ref->answered = true;
    push(ref, std::move(r));
}

void Engine::erase(size_t i)
{
    const CacheEntry gone = m_cache[i];
    m_cache.erase(m_cache.begin() + static_cast<long>(i));
    if (gone.record.type == MDNS_TYPE_PTR)
        reportPtr(gone, false);
}

void Engine::store(const mdns_record& r, uint32_t index, Clock::time_point now)
{
    if (r.klass != MDNS_CLASS_IN
        || (r.type != MDNS_TYPE_PTR && r.type != MDNS_TYPE_SRV && r.type != MDNS_TYPE_TXT && r.type != MDNS_TYPE_A))
        return;
    auto it
        = std::find_if(m_cache.begin(), m_cache.end(), [&](const CacheEntry& e) { return sameRecord(e, r, index); });
    if (r.ttl == 0) { // goodbye
        if (it != m_cache.end())
            erase(static_cast<size_t>(it - m_cache.begin()));
        return;
    }
    const auto expiry = now + seconds(r.ttl);
    if (it != m_cache.end()) {
        it->record = r;
        it->expiry = expiry;
        it->reconfirm_deadline = Clock::time_point::max();
        return;
    }
    CacheEntry e;
    e.record = r;
    e.interface_index = index;
    e.expiry = expiry;
    m_cache.push_back(e);
    if (r.type == MDNS_TYPE_PTR)
        reportPtr(m_cache.back(), true);
}

void Engine::handle(const mdns_message& m, uint32_t index, Clock::time_point now)
{
    if (!(m.flags & MDNS_FLAG_RESPONSE))
        return;
    for (const mdns_record& r : m.records)
        store(r, index, now);
    for (dnssd_ref* ref : refs)
        tryResolve(ref);
}

void Engine::receiveAll(Clock::time_point now)
{
    std::vector<uint8_t> buffer(MDNS_MESSAGE_MAX);
    for (int i = 0; i < 256; ++i) { // bounded: a flood cannot hold the lock
        size_t length = buffer.size();
        aud_msginfo info{};
        info.flags = AUD_MSGINFO_SOURCE | AUD_MSGINFO_INTERFACE;
        if (aud_socket_recvmsg(m_socket, buffer.data(), &length, &info) != AUD_SUCCESS)
            return;
        mdns_message m;
        if (mdns_message_parse(buffer.data(), length, &m) != AUD_SUCCESS)
            continue; // malformed: dropped, the browse goes on
        uint32_t index = info.interface_index;
        const uint32_t source = aud_sockaddr_address(&info.source);
        if (m_loopbackIndex && std::find(m_ownAddresses.begin(), m_ownAddresses.end(), source) != m_ownAddresses.end())
            index = m_loopbackIndex;
        handle(m, index, now);
    }
}

void Engine::sendQuery(const std::vector<mdns_question>& questions, uint32_t index)
{
    std::vector<uint8_t> bytes;
    if (mdns_query_build(questions, &bytes) != AUD_SUCCESS)
        return;
    aud_sockaddr group{};
    aud_sockaddr_set(&group, htonl(MDNS_GROUP_HOST), MDNS_PORT);
    for (const aud_interface& iface : m_interfaces) {
        if (!matchesInterface(index, iface.index))
            continue;
        size_t length = bytes.size();
        aud_socket_set_multicast_if(m_socket, &iface);
        aud_socket_sendto(m_socket, bytes.data(), &length, &group);
    }
}

void Engine::timers(Clock::time_point now)
{
    for (size_t i = m_cache.size(); i-- > 0;) {
        if (m_cache[i].expiry <= now || m_cache[i].reconfirm_deadline <= now)
            erase(i);
    }
    for (dnssd_ref* ref : refs) {
        if (ref->answered || ref->next_query > now)
            continue;
        std::vector<mdns_question> questions;
        if (ref->kind == dnssd_ref::BROWSE) {
            questions.push_back({ref->service, MDNS_TYPE_PTR, MDNS_CLASS_IN, false});
        } else {
            questions.push_back({ref->fullname, MDNS_TYPE_SRV, MDNS_CLASS_IN, false});
            questions.push_back({ref->fullname, MDNS_TYPE_TXT, MDNS_CLASS_IN, false});
        }
        sendQuery(questions, ref->interface_index);
        ref->interval = std::min(kMaxInterval, ref->interval.count() ? ref->interval * 2 : seconds(1));
        ref->next_query = now + ref->interval;
    }
}

Clock::time_point Engine::nextEvent(Clock::time_point now) const
{
    Clock::time_point next = now + kMaxSleep;
    for (const CacheEntry& e : m_cache)
        next = std::min({next, e.expiry, e.reconfirm_deadline});
    for (const dnssd_ref* ref : refs)
        if (!ref->answered)
            next = std::min(next, ref->next_query);
    return next;
}

void Engine::run()
{
    while (!m_stop) {
        Clock::time_point next;
        {
            std::lock_guard<std::mutex> lock(mutex);
            next = nextEvent(Clock::now());
        }
        const auto wait = std::chrono::duration_cast<milliseconds>(next - Clock::now()).count();
        pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_wake, POLLIN, 0}};
        poll(fds, 2, static_cast<int>(std::max<long>(0, wait)));
        if (fds[1].revents) {
            uint64_t v = 0;
            (void)!read(m_wake, &v, sizeof v);
        }
        std::lock_guard<std::mutex> lock(mutex);
        const auto now = Clock::now();
        if (now - m_lastScan >= kInterfaceRescan)
            rescanInterfaces(now);
        receiveAll(now);
        timers(now);
    }
}

void Engine::reconfirm(uint32_t index, const std::string& fullname)
{
    const auto deadline = Clock::now() + milliseconds(g_reconfirm_ms.load());
    for (CacheEntry& e : m_cache) {
        if (e.record.type != MDNS_TYPE_PTR || !matchesInterface(index, e.interface_index)
            || !mdns_name_equal(e.record.target, fullname))
            continue;
        e.reconfirm_deadline = std::min(e.reconfirm_deadline, deadline);
        sendQuery(
            {{e.record.name, MDNS_TYPE_PTR, MDNS_CLASS_IN, false}, {fullname, MDNS_TYPE_SRV, MDNS_CLASS_IN, false}},
            e.interface_index);
    }
    // The instance's own records go with it when it stays silent.
    for (CacheEntry& e : m_cache)
        if (e.record.type != MDNS_TYPE_PTR && matchesInterface(index, e.interface_index)
            && mdns_name_equal(e.record.name, fullname))
            e.reconfirm_deadline = std::min(e.reconfirm_deadline, deadline);
}

namespace {
std::mutex g_engineMutex;
std::weak_ptr<Engine> g_engine;
} // namespace

DNSServiceErrorType acquire(std::shared_ptr<Engine>* out)
{
    std::lock_guard<std::mutex> lock(g_engineMutex);
    *out = g_engine.lock();
    if (*out)
        return DNSSD_OK;
    auto engine = std::make_shared<Engine>();
    const DNSServiceErrorType err = engine->start();
    if (err != DNSSD_OK)
        return err;
    g_engine = engine;
    *out = std::move(engine);
    return DNSSD_OK;
}

void engine_add(Engine* engine, dnssd_ref* ref)
{
    {
        std::lock_guard<std::mutex> lock(engine->mutex);
        ref->next_query = Clock::now();
        engine->refs.push_back(ref);
        if (ref->kind == dnssd_ref::BROWSE)
            engine->reportCached(ref);
        else
            engine->tryResolve(ref);
    }
    engine->wake();
}

void engine_remove(Engine* engine, dnssd_ref* ref)
{
    std::lock_guard<std::mutex> lock(engine->mutex);
    engine->refs.erase(std::remove(engine->refs.begin(), engine->refs.end(), ref), engine->refs.end());
}

bool engine_pop(Engine* engine, dnssd_ref* ref, Result* out)
{
    std::lock_guard<std::mutex> lock(engine->mutex);
    if (ref->queue.empty())
        return false;
    *out = std::move(ref->queue.front());
    ref->queue.pop_front();
    if (ref->queue.empty()) {
        char token = 0;
        (void)!recv(ref->fd, &token, 1, MSG_DONTWAIT);
    }
    return true;
}

void engine_reconfirm(Engine* engine, uint32_t index, const std::string& fullname)
{
    {
        std::lock_guard<std::mutex> lock(engine->mutex);
        engine->reconfirm(index, fullname);
    }
    engine->wake();
}

uint64_t engine_dropped(Engine* engine, dnssd_ref* ref)
{
    std::lock_guard<std::mutex> lock(engine->mutex);
    return ref->dropped;
}

void set_reconfirm_ms(uint32_t ms)
{
    g_reconfirm_ms = ms;
}

void set_queue_max(size_t results)
{
    g_queue_max = results < 1 ? 1 : results;
}

} // namespace dnssd

dnssd_ref::~dnssd_ref()
{
    if (engine)
        dnssd::engine_remove(engine.get(), this);
    if (fd >= 0)
        close(fd);
    if (engine_fd >= 0)
        close(engine_fd);
}
