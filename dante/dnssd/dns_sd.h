// The DNS-SD client calls the Dante browser uses, over our own multicast DNS
// querier (dnssd_engine.h): browsing a service type, resolving an instance,
// reconfirming a record, and reading TXT records.
//
// Contract:
// - 0 (DNSSD_OK) is success; a successful start hands back a non-null
//   reference.
// - Each reference has its own descriptor (DNSServiceRefSockFD). It is
//   readable exactly while a result waits for that reference, so callers
//   may peek one byte to learn whether DNSServiceProcessResult has work.
// - Callbacks run only inside DNSServiceProcessResult, one result per call,
//   on the caller's thread.
// - Every result carries the index of the interface it arrived on.
//   Advertisements sent from one of this host's own addresses are reported
//   on the loopback interface's index, so the browser files them under its
//   localhost network.
// - A reference not polled for a while keeps at most DNSSD_QUEUE_MAX results:
//   the oldest are dropped first and counted (dnssd_dropped_results).
// - Resolve results carry the port in host order.
#pragma once

#include <cstddef>
#include <cstdint>

using DNSServiceFlags = uint32_t;
using DNSServiceErrorType = int32_t;

struct dnssd_ref;
using DNSServiceRef = dnssd_ref*;

// Flags of results.
constexpr DNSServiceFlags DNSSD_FLAG_MORE_COMING = 0x1;
constexpr DNSServiceFlags DNSSD_FLAG_ADD = 0x2;

constexpr DNSServiceErrorType DNSSD_OK = 0;
constexpr DNSServiceErrorType DNSSD_ERR_UNKNOWN = -65537;
constexpr DNSServiceErrorType DNSSD_ERR_NO_MEMORY = -65539;
constexpr DNSServiceErrorType DNSSD_ERR_BAD_PARAM = -65540;
constexpr DNSServiceErrorType DNSSD_ERR_BAD_REFERENCE = -65541;
constexpr DNSServiceErrorType DNSSD_ERR_BAD_STATE = -65542;
constexpr DNSServiceErrorType DNSSD_ERR_SERVICE_NOT_RUNNING = -65563;

// Size of a full name buffer (DNSServiceConstructFullName).
constexpr size_t DNSSD_MAX_DOMAIN_NAME = 1009;
// Results kept per reference between two polls.
constexpr size_t DNSSD_QUEUE_MAX = 1024;

constexpr uint16_t DNSSD_TYPE_PTR = 12;
constexpr uint16_t DNSSD_CLASS_IN = 1;

// serviceName is the instance name as advertised (no escapes); regtype ends
// in "." ("_netaudio-arc._udp."), replyDomain is "local.".
using DNSServiceBrowseReply = void (*)(DNSServiceRef ref, DNSServiceFlags flags, uint32_t interfaceIndex,
    DNSServiceErrorType error, const char* serviceName, const char* regtype, const char* replyDomain, void* context);

// fullname is escaped with a final "." ("My\.Dev._netaudio-arc._udp.local."),
// hosttarget ends in "." ("host.local."), port is in host order.
using DNSServiceResolveReply = void (*)(DNSServiceRef ref, DNSServiceFlags flags, uint32_t interfaceIndex,
    DNSServiceErrorType error, const char* fullname, const char* hosttarget, uint16_t port, uint16_t txtLen,
    const unsigned char* txtRecord, void* context);

// interfaceIndex 0 browses on every multicast interface. domain null or
// "local"/"local.".
DNSServiceErrorType DNSServiceBrowse(DNSServiceRef* ref, DNSServiceFlags flags, uint32_t interfaceIndex,
    const char* regtype, const char* domain, DNSServiceBrowseReply callback, void* context);

// Asks for the instance's SRV and TXT records on the interface and reports
// once both are known: one callback.
DNSServiceErrorType DNSServiceResolve(DNSServiceRef* ref, DNSServiceFlags flags, uint32_t interfaceIndex,
    const char* name, const char* regtype, const char* domain, DNSServiceResolveReply callback, void* context);

// -1 for a null reference.
int DNSServiceRefSockFD(DNSServiceRef ref);

// Runs the callback of the oldest waiting result. DNSSD_ERR_BAD_STATE when
// none waits (the call does not block), DNSSD_ERR_BAD_PARAM for null.
DNSServiceErrorType DNSServiceProcessResult(DNSServiceRef ref);

// Stops the request, closes its descriptor and frees it; null is ignored.
void DNSServiceRefDeallocate(DNSServiceRef ref);

// "<service escaped>.<regtype>.<domain>." into fullName (DNSSD_MAX_DOMAIN_NAME
// bytes); service may be null. "." and "\" in the service are escaped with
// "\". DNSSD_ERR_BAD_PARAM when a part is missing or the result does not fit.
DNSServiceErrorType DNSServiceConstructFullName(
    char* fullName, const char* service, const char* regtype, const char* domain);

// Asks again for the PTR records that point at fullname (rrtype 12, class 1;
// the data is not used) on the interface; when no answer comes within
// dnssd_reconfirm_time, the records are flushed and browsers see removals.
DNSServiceErrorType DNSServiceReconfirmRecord(DNSServiceFlags flags, uint32_t interfaceIndex, const char* fullname,
    uint16_t rrtype, uint16_t rrclass, uint16_t rdlen, const void* rdata);

// The value of key (compared without regard to ASCII case): null when the
// key is absent or present without "=" (then *valueLen is 0); an entry
// "key=" gives a non-null pointer and length 0.
const void* TXTRecordGetValuePtr(uint16_t txtLen, const void* txtRecord, const char* key, uint8_t* valueLen);
// 1 when the key is present (with or without a value), else 0.
int TXTRecordContainsKey(uint16_t txtLen, const void* txtRecord, const char* key);

// Results dropped from this reference's queue because it was not polled.
uint64_t dnssd_dropped_results(DNSServiceRef ref);
// Milliseconds a reconfirmed record has to answer (default 3000); for tests.
void dnssd_set_reconfirm_time(uint32_t milliseconds);
// Results a reference keeps while not polled (default DNSSD_QUEUE_MAX, at
// least 1); for tests, which cannot count on a loaded machine receiving a
// thousand-datagram burst whole.
void dnssd_set_queue_max(size_t results);
