// The module's log file: "TAVO.quin\logs\TVOBridge.log" below the user's
// roaming application-data folder. One line per LogMessage call, "%s %s\n" of
// the local time "%d:%m:%Y %H:%M:%S" and the message, flushed at once. The file
// is opened in text mode, truncated at each start, and other processes may read
// it (but not write it) while it is open.
//
// LogMessage and CheckResult themselves are declared in lvar/bridge_services.h.
#pragma once

#include <cstddef>

namespace bridge_log {

constexpr size_t kPathSize = 2048;
// A formatted message holds at most this many characters; longer ones are cut.
constexpr size_t kMaxMessageLength = 1023;
constexpr char kSubPath[] = "TAVO.quin\\logs\\TVOBridge.log";
constexpr char kFolderSubPath[] = "TAVO.quin\\logs";
constexpr char kTimeFormat[] = "%d:%m:%Y %H:%M:%S";

// Computes the log path and creates its folder with every missing parent
// (process attach). When the application-data folder is not found the path
// stays empty and nothing is ever logged.
void InitPath();

// The log path; empty when InitPath failed or has not run.
const char* Path();

// True while the log stream is open.
bool IsOpen();

// Opens (creates or truncates) the log file. False when the path is empty or
// the file does not open; the stream then stays closed.
bool Open();

// Flushes the stream, if open.
void Flush();

// Flushes and closes the stream; later LogMessage calls write nothing.
void Close();

}  // namespace bridge_log
