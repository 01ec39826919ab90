// Client command words. One command object serves twice: the client fills
// its request elements through a setter and encodes it as a request line,
// and the receive loop makes a fresh object per received line, lets it read
// the line and hand the values to the device side.
//
// The 26 words share one mechanism: each word is a layout (its elements with
// their kinds and flags) plus its reply and notification handlers, and
// ScpClientCommandWord<W> is the class that builds itself from the layout of
// word W. ScpClientCommandGET, ScpClientCommandLISTITEMNUM and so on name
// those classes.
//
// setn carries its value as "nparam" in requests, replies and notifications
// alike, the name the unit's own setn reply and our notification use.
#pragma once

#include "scp/scp_codec.h"
#include "scp/scp_contracts.h"
#include "scp/scp_element.h"

#include <array>
#include <cstdint>
#include <variant>

namespace SCP {

// Most items of a meter line.
constexpr uint32_t SCP_METER_ITEMS_MAX = 150;

// The words, in the order of the factory table.
enum ScpWord : int {
    SCP_WORD_MTR,
    SCP_WORD_SET,
    SCP_WORD_GET,
    SCP_WORD_EVENT,
    SCP_WORD_MTRSTART,
    SCP_WORD_MTRSTOP,
    SCP_WORD_SCPMODE,
    SCP_WORD_DEVINFO,
    SCP_WORD_DEVMODE,
    SCP_WORD_DEVSTATUS,
    SCP_WORD_SETN,
    SCP_WORD_SETR,
    SCP_WORD_SETT,
    SCP_WORD_GETN,
    SCP_WORD_GETT,
    SCP_WORD_PRMINFO,
    SCP_WORD_PRMNUM,
    SCP_WORD_MTRINFO,
    SCP_WORD_MTRNUM,
    SCP_WORD_SSCURRENT,
    SCP_WORD_SSINFO,
    SCP_WORD_SSNUM,
    SCP_WORD_SSRECALL,
    SCP_WORD_SSUPDATE,
    SCP_WORD_LISTITEMNUM,
    SCP_WORD_LISTITEM,
    SCP_WORD_COUNT
};

enum class ScpKind : uint8_t { AlNum, String, Integer, SubAddress, Parameter, StringArray };

struct ScpElementDef {
    const char* name;
    ScpKind kind;
    uint8_t flags;
};

class ScpClientCommand;
using ScpHandler = JResult (*)(ScpClientCommand& command, int32_t id, const ScpInfoReporter& info);

// Most own elements of a word (prminfo has 12).
constexpr uint32_t SCP_OWN_ELEMENTS_MAX = 12;

struct ScpCommandLayout {
    const char* word;
    const char* className; // allocation tag of the word's objects
    ScpElementDef own[SCP_OWN_ELEMENTS_MAX];
    uint32_t ownCount;
    ScpHandler onReply;
    ScpHandler onNotify; // null: the word accepts no notification
};

// The layout of a word; null outside 0..SCP_WORD_COUNT-1.
const ScpCommandLayout* scp_commandLayout(int word);

class ScpClientCommand {
public:
    virtual ~ScpClientCommand() = default;
    ScpClientCommand(const ScpClientCommand&) = delete;
    ScpClientCommand& operator=(const ScpClientCommand&) = delete;

    // Reads one received line and runs its handler. An ERROR reply runs no
    // handler and stores nothing: it goes to the device reporter's
    // replyError and the result is negative. A line missing an element the
    // word reads is refused with SCP_E_MISSING.
    virtual JResult dispatch(int32_t id, const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values,
        const ScpInfoReporter& info);
    // Resets every element and reads the line; SCP_OK or SCP_E_MISSING.
    // mtr also collects its meter items (a line with more items than the
    // array or the decoder's table can hold is refused).
    virtual JResult decode(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values);
    virtual JResult onReply(int32_t id, const ScpInfoReporter& info);
    virtual JResult onNotify(int32_t id, const ScpInfoReporter& info);
    virtual bool allPresent(uint8_t flags) const { return m_list.allPresent(flags); }

    // The request line into the ring, for the client to send.
    JResult encode(bool json, bool utf8, ScpRing& ring) const;

    // Request setters; each fills the word's first request elements in
    // order and marks them present. SCP_E_ARG when the word's layout does
    // not take these values (or a text is too long).
    JResult setText(const char* text); // devinfo, devstatus, devmode, LISTITEMNUM, mtrstop
    JResult setTexts(const char* first, const char* second); // event, scpmode
    JResult setTextInteger(const char* text, int32_t value); // LISTITEM, mtrstart
    JResult setIndex(int32_t index); // prminfo, mtrinfo, ssinfo, ssrecall
    JResult setCell(const ScpText& address, int32_t x, int32_t y); // get, getn, gett
    JResult setCell(const ScpText& address, int32_t x, int32_t y, const JLIB::JVariant& value); // set
    JResult setCell(const ScpText& address, int32_t x, int32_t y, int32_t value); // setn, setr
    JResult setCell(const ScpText& address, int32_t x, int32_t y, const ScpText& text); // sett
    JResult setMeter(const ScpText& address); // mtrstop
    JResult setMeter(const ScpText& address, int32_t interval); // mtrstart

    const ScpCommandLayout& layout() const { return *m_layout; }
    const char* word() const { return m_layout->word; }
    const ScpElementList& elements() const { return m_list; }

    // The own element of that name; null when the word has none. The typed
    // readers give an empty text, 0, false or an empty variant then.
    ScpElement* element(const char* name);
    const ScpText& text(const char* name) const;
    int32_t integer(const char* name) const;
    bool isAll(const char* name) const;
    const JLIB::JVariant& parameter(const char* name) const;
    ScpElementText* textElement(const char* name);
    const ScpElementArray<ScpElementString>* items() const;

protected:
    explicit ScpClientCommand(const ScpCommandLayout& layout);

private:
    using Slot = std::variant<std::monostate, ScpElementAlNum, ScpElementString, ScpElementInteger,
        ScpElementSubAddress, ScpElementParameter, ScpElementArray<ScpElementString>>;

    const Slot* slot(const char* name) const;
    Slot* ownSlot(uint32_t position);
    JResult setOwnText(uint32_t position, const ScpText& text);
    JResult setOwnText(uint32_t position, const char* text);
    JResult setOwnInteger(uint32_t position, int32_t value);
    JResult setOwnVariant(uint32_t position, const JLIB::JVariant& value);
    JResult reportError(int32_t id, const ScpInfoReporter& info);

    const ScpCommandLayout* m_layout;
    ScpElementAlNum m_result;
    ScpElementAlNum m_command;
    std::array<Slot, SCP_OWN_ELEMENTS_MAX> m_own;
    ScpElementList m_list;
};

// The class of word W: the common mechanism over W's layout.
template <int W> class ScpClientCommandWord final : public ScpClientCommand {
public:
    static_assert(W >= 0 && W < SCP_WORD_COUNT, "no such word");
    ScpClientCommandWord()
        : ScpClientCommand(*scp_commandLayout(W))
    {
    }
};

using ScpClientCommandMTR = ScpClientCommandWord<SCP_WORD_MTR>;
using ScpClientCommandSET = ScpClientCommandWord<SCP_WORD_SET>;
using ScpClientCommandGET = ScpClientCommandWord<SCP_WORD_GET>;
using ScpClientCommandEVENT = ScpClientCommandWord<SCP_WORD_EVENT>;
using ScpClientCommandMTRSTART = ScpClientCommandWord<SCP_WORD_MTRSTART>;
using ScpClientCommandMTRSTOP = ScpClientCommandWord<SCP_WORD_MTRSTOP>;
using ScpClientCommandSCPMODE = ScpClientCommandWord<SCP_WORD_SCPMODE>;
using ScpClientCommandDEVINFO = ScpClientCommandWord<SCP_WORD_DEVINFO>;
using ScpClientCommandDEVMODE = ScpClientCommandWord<SCP_WORD_DEVMODE>;
using ScpClientCommandDEVSTATUS = ScpClientCommandWord<SCP_WORD_DEVSTATUS>;
using ScpClientCommandSETN = ScpClientCommandWord<SCP_WORD_SETN>;
using ScpClientCommandSETR = ScpClientCommandWord<SCP_WORD_SETR>;
using ScpClientCommandSETT = ScpClientCommandWord<SCP_WORD_SETT>;
using ScpClientCommandGETN = ScpClientCommandWord<SCP_WORD_GETN>;
using ScpClientCommandGETT = ScpClientCommandWord<SCP_WORD_GETT>;
using ScpClientCommandPRMINFO = ScpClientCommandWord<SCP_WORD_PRMINFO>;
using ScpClientCommandPRMNUM = ScpClientCommandWord<SCP_WORD_PRMNUM>;
using ScpClientCommandMTRINFO = ScpClientCommandWord<SCP_WORD_MTRINFO>;
using ScpClientCommandMTRNUM = ScpClientCommandWord<SCP_WORD_MTRNUM>;
using ScpClientCommandSSCURRENT = ScpClientCommandWord<SCP_WORD_SSCURRENT>;
using ScpClientCommandSSINFO = ScpClientCommandWord<SCP_WORD_SSINFO>;
using ScpClientCommandSSNUM = ScpClientCommandWord<SCP_WORD_SSNUM>;
using ScpClientCommandSSRECALL = ScpClientCommandWord<SCP_WORD_SSRECALL>;
using ScpClientCommandSSUPDATE = ScpClientCommandWord<SCP_WORD_SSUPDATE>;
using ScpClientCommandLISTITEMNUM = ScpClientCommandWord<SCP_WORD_LISTITEMNUM>;
using ScpClientCommandLISTITEM = ScpClientCommandWord<SCP_WORD_LISTITEM>;

} // namespace SCP
