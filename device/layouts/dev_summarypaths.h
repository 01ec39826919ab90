// Where a second-generation unit's summary lists and log requests live in its
// memory: the family reporter serves them from the unit, the dialogs ask
// through them. One table, so both sides name the same elements.
#pragma once

namespace Quil {

struct SummaryPaths {
    const char* category; // the unit's list name
    const char* numReq;
    const char* numReceived;
    const char* num;
    const char* start;
    const char* end;
    const char* itemReq;
    const char* itemReceived;
    const char* item;
};

inline constexpr SummaryPaths kCurSummaryPaths
    = {"IO:_CurSummary", "/ListItem/listitem:0/CurSummaryNumReq:0", "/ListItem/listitem:0/CurSummaryNumReceived:0",
        "/ListItem/listitem:0/CurSummaryNum:0", "/ListItem/listitem:0/CurSummaryStart:0",
        "/ListItem/listitem:0/CurSummaryEnd:0", "/ListItem/listitem:0/CurSummaryItemReq:0",
        "/ListItem/listitem:0/CurSummaryItemReceived:0", "/ListItem/listitem:0/CurSummaryItem:0"};
inline constexpr SummaryPaths kEvtSummaryPaths
    = {"IO:_EvtSummary", "/ListItem/listitem:0/EvtSummaryNumReq:0", "/ListItem/listitem:0/EvtSummaryNumReceived:0",
        "/ListItem/listitem:0/EvtSummaryNum:0", "/ListItem/listitem:0/EvtSummaryStart:0",
        "/ListItem/listitem:0/EvtSummaryEnd:0", "/ListItem/listitem:0/EvtSummaryItemReq:0",
        "/ListItem/listitem:0/EvtSummaryItemReceived:0", "/ListItem/listitem:0/EvtSummaryItem:0"};

inline constexpr char kLoggingSendPath[] = "/LogEvent/event:0/loggingSend:0";
inline constexpr char kTftpUriSendPath[] = "/LogEvent/event:0/TftpURISend:0";

} // namespace Quil
