// The bridge's log file as its readers see it: "TAVO.quin\logs\TVOBridge.log"
// below the roaming application-data folder, read while the module may still
// hold it open (it lets others read). Lines are "dd:mm:yyyy hh:mm:ss message"
// in local time, each ending in CR LF. Also the parts of a log that many tests
// expect: the set-up head and the two ways a run ends.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <ctime>
#include <string>
#include <vector>

namespace module_log {

using Lines = std::vector<std::string>;

// The path the module computes; empty when the folder is not found.
std::string Path();
// The file's bytes; empty when it does not exist.
std::string Bytes();

// The messages of the file's lines, timestamps taken off. Records a test
// failure for a line that does not end in CR LF, or whose timestamp is
// malformed or outside [notBefore - 2 s, now + 2 s] (so it is the local time
// of this run). The line after "Wait error: %d\n" is empty and has no stamp.
Lines Messages(std::time_t notBefore);
// The messages of the complete lines so far, unchecked: for a log that the
// module is still writing.
Lines SoFar();
// Polls the file until `count` lines equal `message`; false after `timeoutMs`.
bool WaitFor(const std::string& message, size_t count = 1, DWORD timeoutMs = 10000);

// The CheckResult line of a call that succeeded.
std::string Succeeded(const std::string& label, int sendId);
// The index of the first line equal to `message` at or after `from`; -1 when none.
int IndexOf(const Lines& lines, const std::string& message, size_t from = 0);
size_t CountOf(const Lines& lines, const std::string& message);
size_t CountStartingWith(const Lines& lines, const std::string& prefix);
// The sum of N over the lines "LVARHandler::Update::N": what Update published.
size_t PublishedByUpdate(const Lines& lines);
// Lines [from, to), clamped to the list.
Lines Slice(const Lines& lines, size_t from, size_t to);
// The lines joined by newlines, so that a failed comparison shows a diff.
std::string Joined(const Lines& lines);

// A run's first lines, from "DLLSTART 1.0.0.21" to the subscription to the
// host-request area: the open (SendID 1), the menu and title requests (2-7),
// and the handler's client-data set-up (8-24), each with its result line.
Lines SetupHead();
// Records a test failure unless `lines` begin with SetupHead().
void ExpectSetupHead(const Lines& lines);
// The end of a run that only DLLStop ended: its three lines close the log, with
// the worker's close between them (and only the reports of a pass that was
// in progress between the first two); no quit message and no exception came.
void ExpectEndedByStop(const Lines& lines);
// The end of a run that the simulator's quit message ended: the quit line and
// the worker's close, then DLLStop with nothing left to release.
void ExpectEndedByQuit(const Lines& lines);

}  // namespace module_log
