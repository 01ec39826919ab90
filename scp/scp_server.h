// The answering side of SCP: one command class per request word that a unit
// answers. A command takes a received request apart into its elements,
// carries it out against the device side (the same ScpParameter,
// ScpDeviceReporter, ScpMeter and ScpSessionData objects that the client
// side works with) and leaves the reply's elements filled.
//
// Reply framing (the same rules for every word, so that the client's
// position- and key-based readers find what they expect):
// - RAW: the reply word, the command word, then the elements that belong to
//   the reply in list order, joined by single blanks and ended by LF:
//   "OK get IO:Current/InCh/48VOn 0 0 1".
// - JSON: one object {"result":"OK","command":"get","address":...} with the
//   same members in the same order, ended by LF.
// - The reply word is "OK" for a result of 0 or above and "ERROR" for a
//   negative one; "OKm" and "NOTIFY" are never sent.
// - An ERROR reply carries the reply elements that are present, in list
//   order, up to the first one that is not: after a failed decode that is
//   what the request gave (so that the client can tell which request
//   failed), after a failed execute also whatever was filled before the
//   failure. The result code itself is not sent: no reader on the client
//   side has an element for it.
// - An OK reply is never sent incomplete: when a reply element is missing
//   after a successful execute the reply becomes ERROR (SCP_E_MISSING), since
//   the client refuses a reply without one of its elements.
#pragma once

#include "scp/scp_codec.h"
#include "scp/scp_contracts.h"
#include "scp/scp_session.h"

#include <cstdint>

namespace SCP {

// Flags of a server command's list entries (the server's own values; the
// client commands use 0x08 to 0x40).
constexpr uint8_t SCP_SERVER_REQUEST = 0x01; // read from the request
constexpr uint8_t SCP_SERVER_REPLY = 0x02; // written in the reply

// Most values of a get, getn or gett reply.
constexpr uint32_t SCP_SERVER_ARRAY_MAX = 200;

// Base of the server commands. "command" is the first entry (both flags)
// and holds the lower-case word.
class ScpServerCommand {
public:
    explicit ScpServerCommand(const char* word);
    virtual ~ScpServerCommand() = default;
    ScpServerCommand(const ScpServerCommand&) = delete;
    ScpServerCommand& operator=(const ScpServerCommand&) = delete;

    // Fills the request elements from a decoded line: by key when the keys
    // table has storage (JSON), else by the entry's position (RAW: token 0 is
    // the word). Every entry after "command" is reset first. SCP_OK, or
    // SCP_E_MISSING when a request element was missing or refused its token
    // (the others are still decoded).
    virtual JResult decodeRequest(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values);
    // Carries the request out and fills the reply elements. context is passed
    // unchanged to the store operations and as the reporters' id.
    virtual JResult execute(int32_t context, ScpInfoReporter& info) = 0;
    // Every entry with one of the flags holds a present element.
    virtual bool allPresent(uint8_t flags) const { return m_list.allPresent(flags); }

    // Writes the reply for result into the ring (framing above); the ring
    // holds exactly the line afterwards. SCP_E_ENCODE when it does not fit or
    // an element cannot be written (the ring is then empty).
    JResult encodeReply(JResult result, bool json, bool utf8, ScpRing& ring) const;

    const char* word() const { return m_word; }
    const ScpElementList& elements() const { return m_list; }

protected:
    // Lists an element after "command"; the lists of this library never
    // exceed the 64 entries an element list holds.
    void add(ScpElement& element, uint8_t flags);

private:
    const char* m_word;
    ScpElementAlNum m_command;
    ScpElementList m_list;
};

class IScpServerCommandFactory {
public:
    virtual ~IScpServerCommandFactory() = default;
    // The word in lower case.
    virtual const char* commandWord() const = 0;
    // A new command as an array block of one object from heap 0, tagged with
    // the class name; null when the heap is missing or the allocation fails.
    virtual ScpServerCommand* create() const = 0;
    // Destroys *command and frees its block; *command becomes null. SCP_OK,
    // or SCP_E_FAIL for a null pointer, an unknown heap or a refused free.
    virtual JResult release(ScpServerCommand** command) const = 0;
};

// The 23 factories in table order ("set", "setn", "setr", "sett", "get",
// "getn", "gett", "prminfo", "prmnum", "mtrstart", "mtrstop", "mtrinfo",
// "mtrnum", "sscurrent", "ssrecall", "ssupdate", "ssinfo", "ssnum", "event",
// "devstatus", "devinfo", "devmode", "scpmode"), then a null pointer.
constexpr size_t SCP_SERVER_COMMAND_COUNT = 23;
const IScpServerCommandFactory* const* scp_serverCommandFactories();
// The factory whose word equals word, compared without regard to case (A to
// Z) and ignoring one pair of surrounding double quotes; null when none.
const IScpServerCommandFactory* scp_serverFindFactory(const ScpText& word);

} // namespace SCP
