// The table of services heard: merge of a received packet and ageing.
// Callers hold the engine's main lock.
#pragma once

#include "pbd/jsdp/jsdp.h"

enum class JsdpMerge {
    Unchanged, // a known service, heard again with the same content
    Changed, // new, changed or back from silence: subscribers must be told
    Full, // every record holds a service that is alive or not yet reported gone
};

// Address records are equal when their families are equal and their bytes
// (4 for family 4; 16 and the scope id for family 6) are equal.
bool jsdp_sameAddress(const VSockAddress& a, const VSockAddress& b);

// Merges `heard` (packet fields, local and sender address) into `table`.
// A service is known by its sender and local address. With no match, the
// first record never used takes it, else the first one that went silent and
// was reported gone, so that a long-running program keeps finding units.
JsdpMerge jsdp_tableMerge(JsdpService* table, int count, const JsdpService& heard, uint32_t ageingMs);

// Marks every alive record whose ageing timer expired as gone and changed;
// true when any did.
bool jsdp_tableAge(JsdpService* table, int count);

// Forgets every record.
void jsdp_tableClear(JsdpService* table, int count);
