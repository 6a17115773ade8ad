// The bridge's log file as its readers see it: "TAVO.quin\logs\TVOBridge.log"
// below the roaming application-data folder, read while the module holds it
// open (it lets others read). Lines are "dd:mm:yyyy hh:mm:ss message" in local
// time, each ending in CR LF.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <ctime>
#include <string>
#include <vector>

namespace e2e {

using Lines = std::vector<std::string>;

// The path the module computes; empty when the folder is not found.
std::string BridgeLogPath();

// The file's bytes, or empty when it does not exist.
std::string BridgeLogBytes();

// The messages of the file's lines, in order, timestamps taken off. Records a
// test failure for a line that does not end in CR LF or whose timestamp is
// malformed, out of range, or outside [notBefore - 2 s, now + 2 s] (so it is
// the local time of this run). The line after a message that ends in its own
// newline is empty and has no timestamp.
Lines BridgeLogMessages(std::time_t notBefore);

// Polls the file until a line equals `message`; false after `timeoutMs`.
bool WaitForLogMessage(const std::string& message, DWORD timeoutMs = 10000);
// Polls the file until `count` lines equal `message`.
bool WaitForLogMessageCount(const std::string& message, size_t count, DWORD timeoutMs = 10000);

// The CheckResult line of a call that succeeded.
std::string Succeeded(const std::string& label, int sendId);

// The index of the first line equal to `message` at or after `from`; -1 when none.
int IndexOf(const Lines& lines, const std::string& message, size_t from = 0);
// How many lines equal `message`.
size_t CountOf(const Lines& lines, const std::string& message);
// The lines joined by newlines, so that a failed comparison shows a diff.
std::string Joined(const Lines& lines);
// Lines [from, to) as a new list.
Lines Slice(const Lines& lines, size_t from, size_t to);

}  // namespace e2e
