// bridgectl's command line: the connection choice, the general options and one
// command with its arguments, parsed (with CLI11) into plain values. No OS
// calls: the parser is unit-tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bridgectl {

enum class CommandKind {
  kNone,
  kList,
  kWatch,
  kGet,
  kSet,
  kKeys,
  kTitle,
  kAttention,
  kRescan,
};

// Where the SimConnect server is.
enum class EndpointKind {
  kDefault,      // the simulator's default pipe, then its TCP ports from the registry
  kPipe,         // a named pipe, on this machine or on `server`
  kTcp,          // TCP to `address` and `port`
  kConfigIndex,  // a section of the user's own SimConnect.cfg
};

struct Endpoint {
  EndpointKind kind = EndpointKind::kDefault;
  std::string pipeName;  // kPipe: the name below \\<server>\pipe\ .
  std::string server;    // kPipe: empty for this machine
  std::string address;   // kTcp: host name or numeric address, without brackets
  std::string port;      // kTcp: decimal port
  bool ipv6 = false;     // kTcp: the address was given in brackets ([::1]:500)
  uint32_t configIndex = 0;  // kConfigIndex
};

// One variable of `watch`: NAME or NAME@MS. intervalMs 0 leaves the bridge's
// interval for the variable as it stands (1000 ms for a fresh one).
struct WatchItem {
  std::string name;
  uint32_t intervalMs = 0;
};

// Everything the command line asked for.
struct Invocation {
  CommandKind command = CommandKind::kNone;

  Endpoint endpoint;
  uint32_t timeoutMs = 5000;  // for the bridge's answers
  bool json = false;
  bool verbose = false;
  bool haveTag = false;
  uint32_t tag = 0;
  bool havePeer = false;
  uint32_t peerId = 0;

  // get: one or more names; set: names[0]; watch: see `watch`.
  std::vector<std::string> names;
  std::vector<WatchItem> watch;
  double value = 0.0;     // set
  uint32_t mjcCode = 0;   // set --mjc CODE (0: an ordinary LVAR)
  std::string keys;       // keys
  double durationS = 0.0;  // watch --duration (0: until Ctrl+C)
  uint32_t count = 0;      // watch --count (0: no limit)
  bool plain = false;      // watch --plain: one line per value even on a console
};

struct ParseResult {
  // -1: run `invocation`. Otherwise the process ends with this status after
  // printing `out` and `err`: 0 for the help (--help, `help [COMMAND]`), 2 for
  // a wrong command line (CLI11's message) or no command (the general help on
  // standard error).
  int status = -1;
  std::string out;
  std::string err;
  Invocation invocation;
};

// Parses the arguments after the program name. The general options may stand
// before or after the command; "--" ends the options; a negative number is an
// argument, not an option (set X -5, set X -.5).
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// Longest variable name or key string a request carries (its 256-byte field).
constexpr size_t kMaxRequestText = 255;

}  // namespace bridgectl
