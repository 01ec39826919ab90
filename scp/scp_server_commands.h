// The 23 server command words. Elements after "command", in list order
// (R read from the request, P written in the reply):
//
//   set       address x y RP, param RP, text P
//   setn      address x y RP, nparam RP, text P
//   setr      address x y RP, param (the step) R, param P, text P
//   sett      address x y RP, text RP, param P
//   get       address x y RP, param P (up to 200 values)
//   getn      address x y RP, nparam P (up to 200 values)
//   gett      address x y RP, text P (up to 200 values)
//   prminfo   index RP, address xnum ynum min max default unit type ui
//             attrib scaling P
//   prmnum    number P
//   mtrstart  address RP, interval RP
//   mtrstop   address RP
//   mtrinfo   index RP, address num type P
//   mtrnum    num P
//   sscurrent index P, status P
//   ssrecall  index RP
//   ssupdate  index P
//   ssinfo    index RP, numtext title comment attrib P
//   ssnum     number P
//   event     eventid RP, data RP
//   devstatus tag RP, data P
//   devinfo   tag RP, data P
//   devmode   mode RP
//   scpmode   tag RP, data RP
//
// "interval" of mtrstart is echoed because the client reads it from the
// reply and refuses a reply without it.
#pragma once

#include "scp/scp_server.h"

namespace SCP {

// ---- cells of a parameter: address, x, y ----

// The cells a request addresses: x and y ranges (end exclusive) of one
// parameter.
struct ScpCellRange {
    int32_t index = -1;
    // 64 bits so that the end past the largest coordinate does not overflow.
    int64_t xBegin = 0, xEnd = 0;
    int64_t yBegin = 0, yEnd = 0;
};

// Result merge of a walk over cells: a failure replaces the result (so the
// last failure stands); otherwise the higher of the two.
JResult scp_serverMergeResult(JResult result, JResult step);

class ScpServerCellCommand : public ScpServerCommand {
protected:
    explicit ScpServerCellCommand(const char* word);
    // The parameter index of "address" (SCP_E_INDEX when unknown); "x" or
    // "y" negative, or both "all", SCP_E_ARG; an "all" spans the
    // parameter's count (parameterInfo), SCP_E_ARG when that is empty.
    JResult resolveCells(ScpInfoReporter& info, ScpCellRange* range);
    // Writes the parameter's own name for index back into "address"; the
    // received text stays when the name cannot be had.
    void writeCanonicalAddress(ScpInfoReporter& info, int32_t index);

    ScpElementAlNum m_address{"address"};
    ScpElementSubAddress m_x{"x"};
    ScpElementSubAddress m_y{"y"};
};

// set, setn, setr, sett: store the request's value in every addressed cell,
// then read the first addressed cell back into the reply. A failed store
// ends its row (the next row still runs); the merged result stands.
class ScpServerStoreCommand : public ScpServerCellCommand {
public:
    JResult execute(int32_t context, ScpInfoReporter& info) override;

protected:
    explicit ScpServerStoreCommand(const char* word)
        : ScpServerCellCommand(word)
    {
    }
    virtual JResult storeCell(int32_t context, ScpInfoReporter& info, int32_t index, int32_t x, int32_t y) = 0;
    virtual JResult readBack(ScpInfoReporter& info, int32_t index, int32_t x, int32_t y) = 0;
    // Result of the whole command from the merged store result.
    virtual JResult finish(JResult result) { return result; }
};

class ScpServerCommandSET : public ScpServerStoreCommand {
public:
    ScpServerCommandSET();

private:
    JResult storeCell(int32_t context, ScpInfoReporter& info, int32_t index, int32_t x, int32_t y) override;
    JResult readBack(ScpInfoReporter& info, int32_t index, int32_t x, int32_t y) override;
    ScpElementParameter m_param{"param"};
    ScpElementString m_text{"text"};
};

class ScpServerCommandSETN : public ScpServerStoreCommand {
public:
    ScpServerCommandSETN();
    JResult execute(int32_t context, ScpInfoReporter& info) override;

private:
    JResult storeCell(int32_t context, ScpInfoReporter& info, int32_t index, int32_t x, int32_t y) override;
    JResult readBack(ScpInfoReporter& info, int32_t index, int32_t x, int32_t y) override;
    // 1 when a negative value had to be raised to 0.
    JResult finish(JResult result) override;
    ScpElementInteger m_nparam{"nparam"};
    bool m_raised = false;
    ScpElementString m_text{"text"};
};

class ScpServerCommandSETR : public ScpServerStoreCommand {
public:
    ScpServerCommandSETR();

private:
    JResult storeCell(int32_t context, ScpInfoReporter& info, int32_t index, int32_t x, int32_t y) override;
    JResult readBack(ScpInfoReporter& info, int32_t index, int32_t x, int32_t y) override;
    // The request's step and the reply's value share the member name, as
    // the client's word table has them.
    ScpElementInteger m_step{"param"};
    ScpElementParameter m_param{"param"};
    ScpElementString m_text{"text"};
};

class ScpServerCommandSETT : public ScpServerStoreCommand {
public:
    ScpServerCommandSETT();

private:
    JResult storeCell(int32_t context, ScpInfoReporter& info, int32_t index, int32_t x, int32_t y) override;
    JResult readBack(ScpInfoReporter& info, int32_t index, int32_t x, int32_t y) override;
    ScpElementString m_text{"text"};
    ScpElementParameter m_param{"param"};
};

// get, getn, gett: read every addressed cell into the reply array, y by y
// and x by x. A failed read ends its row; the next row is still read. The
// array holds 200 values: a 201st ends the walk with SCP_E_INDEX, so a cut
// reply is never answered OK.
template <class Item> class ScpServerReadCommand : public ScpServerCellCommand {
public:
    JResult execute(int32_t context, ScpInfoReporter& info) override;
    const ScpElementArray<Item>& values() const { return m_values; }

protected:
    ScpServerReadCommand(const char* word, const char* arrayName);
    // Reads one cell into item (named like the array).
    virtual JResult readCell(ScpInfoReporter& info, int32_t index, int32_t x, int32_t y, Item& item) = 0;

private:
    ScpElementArray<Item> m_values;
};

class ScpServerCommandGET : public ScpServerReadCommand<ScpElementParameter> {
public:
    ScpServerCommandGET();

private:
    JResult readCell(ScpInfoReporter& info, int32_t index, int32_t x, int32_t y, ScpElementParameter& item) override;
};

class ScpServerCommandGETN : public ScpServerReadCommand<ScpElementInteger> {
public:
    ScpServerCommandGETN();

private:
    JResult readCell(ScpInfoReporter& info, int32_t index, int32_t x, int32_t y, ScpElementInteger& item) override;
};

class ScpServerCommandGETT : public ScpServerReadCommand<ScpElementString> {
public:
    ScpServerCommandGETT();

private:
    JResult readCell(ScpInfoReporter& info, int32_t index, int32_t x, int32_t y, ScpElementString& item) override;
};

// ---- information records ----

class ScpServerCommandPRMINFO : public ScpServerCommand {
public:
    ScpServerCommandPRMINFO();
    JResult execute(int32_t context, ScpInfoReporter& info) override;

private:
    ScpElementInteger m_index{"index"};
    ScpElementString m_address{"address"};
    ScpElementInteger m_xnum{"xnum"}, m_ynum{"ynum"}, m_min{"min"}, m_max{"max"}, m_default{"default"};
    ScpElementString m_unit{"unit"};
    ScpElementAlNum m_type{"type"}, m_ui{"ui"}, m_attrib{"attrib"};
    ScpElementInteger m_scaling{"scaling"};
};

class ScpServerCommandMTRINFO : public ScpServerCommand {
public:
    ScpServerCommandMTRINFO();
    JResult execute(int32_t context, ScpInfoReporter& info) override;

private:
    ScpElementInteger m_index{"index"};
    ScpElementString m_address{"address"};
    ScpElementInteger m_num{"num"};
    ScpElementAlNum m_type{"type"};
};

class ScpServerCommandSSINFO : public ScpServerCommand {
public:
    ScpServerCommandSSINFO();
    JResult execute(int32_t context, ScpInfoReporter& info) override;

private:
    ScpElementInteger m_index{"index"};
    ScpElementString m_numtext{"numtext"}, m_title{"title"}, m_comment{"comment"};
    ScpElementAlNum m_attrib{"attrib"};
};

// ---- counts: prmnum, mtrnum, ssnum ----

class ScpServerCountCommand : public ScpServerCommand {
public:
    JResult execute(int32_t context, ScpInfoReporter& info) override;

protected:
    // member: the reply's member name ("number", or "num" for mtrnum).
    ScpServerCountCommand(const char* word, const char* member);
    virtual JResult readCount(ScpInfoReporter& info, int32_t& count) = 0;

private:
    ScpElementInteger m_number;
};

class ScpServerCommandPRMNUM : public ScpServerCountCommand {
public:
    ScpServerCommandPRMNUM()
        : ScpServerCountCommand("prmnum", "number")
    {
    }

private:
    JResult readCount(ScpInfoReporter& info, int32_t& count) override;
};

class ScpServerCommandMTRNUM : public ScpServerCountCommand {
public:
    ScpServerCommandMTRNUM()
        : ScpServerCountCommand("mtrnum", "num")
    {
    }

private:
    JResult readCount(ScpInfoReporter& info, int32_t& count) override;
};

class ScpServerCommandSSNUM : public ScpServerCountCommand {
public:
    ScpServerCommandSSNUM()
        : ScpServerCountCommand("ssnum", "number")
    {
    }

private:
    JResult readCount(ScpInfoReporter& info, int32_t& count) override;
};

// ---- meters ----

class ScpServerCommandMTRSTART : public ScpServerCommand {
public:
    ScpServerCommandMTRSTART();
    JResult execute(int32_t context, ScpInfoReporter& info) override;

private:
    ScpElementAlNum m_address{"address"};
    ScpElementInteger m_interval{"interval"};
};

class ScpServerCommandMTRSTOP : public ScpServerCommand {
public:
    ScpServerCommandMTRSTOP();
    JResult execute(int32_t context, ScpInfoReporter& info) override;

private:
    ScpElementAlNum m_address{"address"};
};

// ---- scenes ----

class ScpServerCommandSSCURRENT : public ScpServerCommand {
public:
    ScpServerCommandSSCURRENT();
    JResult execute(int32_t context, ScpInfoReporter& info) override;

private:
    ScpElementInteger m_index{"index"};
    ScpElementAlNum m_status{"status"};
};

class ScpServerCommandSSRECALL : public ScpServerCommand {
public:
    ScpServerCommandSSRECALL();
    JResult execute(int32_t context, ScpInfoReporter& info) override;

private:
    ScpElementInteger m_index{"index"};
};

class ScpServerCommandSSUPDATE : public ScpServerCommand {
public:
    ScpServerCommandSSUPDATE();
    JResult execute(int32_t context, ScpInfoReporter& info) override;

private:
    ScpElementInteger m_index{"index"};
};

// ---- device ----

class ScpServerCommandEVENT : public ScpServerCommand {
public:
    ScpServerCommandEVENT();
    JResult execute(int32_t context, ScpInfoReporter& info) override;

private:
    ScpElementAlNum m_eventId{"eventid"};
    ScpElementString m_data{"data"};
};

// devinfo and devstatus: the reporter fills a text buffer for the tag.
class ScpServerDeviceTextCommand : public ScpServerCommand {
public:
    JResult execute(int32_t context, ScpInfoReporter& info) override;

protected:
    ScpServerDeviceTextCommand(const char* word, size_t bufferLength);
    virtual JResult report(ScpInfoReporter& info, int32_t context, ScpText& data, const ScpText& tag) = 0;

private:
    size_t m_bufferLength;
    ScpElementAlNum m_tag{"tag"};
    ScpElementString m_data{"data"};
};

class ScpServerCommandDEVINFO : public ScpServerDeviceTextCommand {
public:
    ScpServerCommandDEVINFO()
        : ScpServerDeviceTextCommand("devinfo", 64)
    {
    }

private:
    JResult report(ScpInfoReporter& info, int32_t context, ScpText& data, const ScpText& tag) override;
};

class ScpServerCommandDEVSTATUS : public ScpServerDeviceTextCommand {
public:
    ScpServerCommandDEVSTATUS()
        : ScpServerDeviceTextCommand("devstatus", 200)
    {
    }

private:
    JResult report(ScpInfoReporter& info, int32_t context, ScpText& data, const ScpText& tag) override;
};

class ScpServerCommandDEVMODE : public ScpServerCommand {
public:
    ScpServerCommandDEVMODE();
    JResult execute(int32_t context, ScpInfoReporter& info) override;

private:
    ScpElementAlNum m_mode{"mode"};
};

// ---- protocol mode ----

// Tag and data are read as the client reads them (scp_modeParse) and echoed
// in lower case, a number as "%d". A keep-alive of n ms sets the session's
// countdown to 2n: the server allows the client two intervals of silence.
class ScpServerCommandSCPMODE : public ScpServerCommand {
public:
    ScpServerCommandSCPMODE();
    JResult execute(int32_t context, ScpInfoReporter& info) override;

private:
    ScpElementAlNum m_tag{"tag"};
    ScpElementAlNum m_data{"data"};
};

} // namespace SCP
