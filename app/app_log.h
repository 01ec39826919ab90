// The application log: a text file that takes one line per call. Every run
// starts without one (the program entry sets the path and resets it); the
// firmware update, the TFTP server and the device log dialog write to it,
// from the GUI thread and from their own tasks.
//
// Writers are serialised by one lock and the file is opened for appending,
// so lines written at the same moment never overwrite each other. The path
// is held whole: one that does not fit is refused and leaves no log at all,
// so a later reset never deletes a file the caller did not name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using AppLogResult = int32_t;

constexpr AppLogResult APPLOG_OK = 0;
constexpr AppLogResult APPLOG_E_FAIL = static_cast<AppLogResult>(0x80000000u);

// Longest line appLogWrite takes, in bytes, without the line feed it adds.
constexpr size_t APPLOG_LINE_MAX = 1000;
// Room for the path, terminator included: paths of up to 259 bytes fit.
constexpr size_t APPLOG_PATH_SIZE = 260;

// Prints "QuilLogFile: <text>" to standard output and appends the text and a
// line feed to the log file (created when missing). APPLOG_E_FAIL for a null
// text, a text over APPLOG_LINE_MAX bytes (nothing is written), no log path,
// or a failed open or write.
AppLogResult appLogWrite(const char* text);

// Sets the log file's path (8-bit, UTF-8). APPLOG_E_FAIL for a null path; a
// path of APPLOG_PATH_SIZE bytes or more is refused with APPLOG_E_FAIL and
// clears the path, so nothing is logged until a path that fits is set.
AppLogResult appLogSetPath(const char* path);

// Deletes the file at the log path. 0 also when there was none to delete;
// APPLOG_E_FAIL when no path is set or the file cannot be removed.
AppLogResult appLogReset();

// The path in use; empty when none. Before any appLogSetPath it is the
// temporary folder's "AppLog.log".
std::string appLogPath();

// Points the log sinks of the lower layers (the TFTP server, the model
// firmware engine) at appLogWrite.
// Called once by the program at start-up; calling it again changes nothing.
void appLogInstallSinks();
