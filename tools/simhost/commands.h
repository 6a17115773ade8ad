// The console's commands, typed on standard input: the clients, a menu choice,
// another aircraft, a variable read or set, the quit message to a client,
// waits for a client or a menu entry, stop. Each command writes its output
// through the host's console lines.
#pragma once

#include <windows.h>

#include <string>

namespace simhost {

class SimHost;

enum class CommandResult { kDone, kFailed, kStop };

// The command list for "help" and --help.
extern const char kCommandHelp[];

// Runs one line. kFailed with `error` when the command is unknown, its
// arguments are wrong or it could not do what it says; kStop for "stop".
// `stopEvent` (manual-reset) cuts the waits short once set.
CommandResult RunCommand(SimHost& host, const std::string& line, HANDLE stopEvent, std::string* error);

}  // namespace simhost
