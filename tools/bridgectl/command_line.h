// bridgectl's command line: the connection choice, the general options and one
// command with its arguments, parsed from the argument list into plain values.
// No OS calls: the parser and the help texts are unit-tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bridgectl {

enum class CommandKind {
  kNone,  // no command given: the general help
  kHelp,
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
  bool help = false;  // --help: print the command's help and do nothing else
  CommandKind helpTopic = CommandKind::kNone;  // `help COMMAND`

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
  bool ok = false;
  std::string error;  // one line, when !ok
  Invocation invocation;
};

// Parses the arguments after the program name. Options may stand before or
// after the command; "--" ends the options. A token that starts with '-' and
// then a digit or '.' is a number, not an option (set X -5).
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// The command of that name ("list", "watch", ...), or kNone.
CommandKind CommandFromName(const std::string& name);
const char* CommandName(CommandKind command);

// The general help (kNone or kHelp) or one command's help, ending in a newline.
std::string HelpText(CommandKind command);

// Longest variable name or key string a request carries (its 256-byte field).
constexpr size_t kMaxRequestText = 255;

}  // namespace bridgectl
