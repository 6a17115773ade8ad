// Parsing bridgectl's arguments with CLI11; the help is CLI11's, made from the
// descriptions below. OS-free.
#include "command_line.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>

#include "bridge/key_string.h"

namespace bridgectl {

namespace {

struct CommandEntry {
  CommandKind kind;
  const char* name;
  const char* summary;  // its line in the general help
  const char* details;  // the end of its own help
};

constexpr CommandEntry kCommands[] = {
    {CommandKind::kList, "list", "the aircraft's variables, with the total",
     "Collects every chunk of the bridge's variable list and prints the names, one a line, then\n"
     "the total (MJC variables are counted but not named). --json: {\"count\":N,\"total\":T,\"names\":[...]}."},
    {CommandKind::kWatch, "watch", "follow variables as they change, until Ctrl+C",
     "Starts monitoring and prints each report: time, name, value. The bridge reads each variable\n"
     "every MS milliseconds (without @MS: its interval so far, 1000 for a new one) and reports a\n"
     "move by 0.01 or more. A live table on a console, one line per report otherwise (--plain);\n"
     "--json: one object per line, events with \"event\". After an aircraft change monitoring\n"
     "starts again. Ctrl+C, --duration or --count stop monitoring and exit 0."},
    {CommandKind::kGet, "get", "read variables once", "Prints NAME = VALUE; names match without regard to case."},
    {CommandKind::kSet, "set", "write a variable",
     "Writes VALUE and reads it back: NAME = OLD -> NEW. With --mjc CODE the value goes to the\n"
     "aircraft's MJC variable CODE through its MJC_VAR_WRITE handshake; NAME only labels it."},
    {CommandKind::kKeys, "keys", "press keys in the simulator, e.g. \"17,65\" (Ctrl+A)",
     "KEYSTRING: decimal Windows virtual-key codes, each followed by one separator (\"17,65\", \"17+65\").\n"
     "All go down in order, 50 ms later all come up; they reach the window with the keyboard focus."},
    {CommandKind::kTitle, "title", "the user aircraft's title", ""},
    {CommandKind::kAttention, "attention", "show \"TAVO.quin needs your attention!\" in the simulator", ""},
    {CommandKind::kRescan, "rescan", "make the bridge rebuild its variable list",
     "Prints each variable the bridge announces. Every monitoring ends (running watches too)."},
};

constexpr char kDescription[] =
    "bridgectl: talks to the TAVO.quin Simulator Bridge (TVOBridge64.dll) through any\n"
    "SimConnect server, as the TAVO.quin application does. Without --pipe, --tcp or --config:\n"
    "the simulator's own pipe, then the TCP ports it leaves in the registry.";

constexpr char kFooter[] =
    "bridgectl COMMAND --help: one command. Exit status: 0 success, 1 failure (no server, no\n"
    "bridge, unknown variable, ...; one line on standard error), 2 wrong command line.";

// Decimal digits only, at most 0xFFFFFFFF.
bool ParseU32(const std::string& text, uint32_t* out) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (value > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

// A finite number written the way strtod reads it, the whole token.
bool ParseNumber(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

// Texts that go into SimConnect.cfg as one line each.
bool IsOneLine(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  return !text.empty();
}

// "HOST:PORT" or "[IPV6]:PORT".
bool ParseTcpTarget(const std::string& text, Endpoint* endpoint) {
  std::string host;
  std::string port;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
    endpoint->ipv6 = true;
  } else {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) return false;
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    endpoint->ipv6 = false;
  }
  uint32_t number = 0;
  if (!IsOneLine(host) || !ParseU32(port, &number) || number == 0 || number > 65535) return false;
  endpoint->kind = EndpointKind::kTcp;
  endpoint->address = host;
  endpoint->port = std::to_string(number);
  return true;
}

// The empty text for a name a request can carry, else why not.
std::string NameProblem(const std::string& name) {
  if (name.empty()) return "the variable name is empty";
  if (name.size() > kMaxRequestText) return "the variable name is longer than 255 characters";
  return std::string();
}

// NAME or NAME@MS (the last '@'); the empty text, or why not.
std::string ParseWatchItem(const std::string& text, WatchItem* item) {
  const size_t at = text.rfind('@');
  item->name = text.substr(0, at);
  uint32_t ms = 0;
  if (at != std::string::npos && (!ParseU32(text.substr(at + 1), &ms) || ms == 0 || ms > 0x7FFFFFFF)) {
    return "'" + text + "': the interval after @ must be a whole number of milliseconds above 0";
  }
  item->intervalMs = ms;
  return NameProblem(item->name);
}

std::string KeysProblem(const std::string& keys) {
  if (keys.size() > kMaxRequestText) return "the key string is longer than 255 characters";
  if (key_string::ParseCodes(keys.data(), keys.size()).empty()) {
    return "'" + keys + "' holds no key code (write decimal codes such as \"17,65\")";
  }
  return std::string();
}

// A CLI11 check from a function that tells what is wrong with a value (the
// empty text for nothing); no description of its own in the help.
CLI::Validator Check(std::function<std::string(const std::string&)> problem) {
  return CLI::Validator([problem](std::string& text) { return problem(text); }, std::string());
}

// A whole number from 1 to 4294967295.
const CLI::Validator kAbove0 = Check([](const std::string& text) {
  uint32_t n = 0;
  return ParseU32(text, &n) && n > 0 ? std::string() : "a whole number from 1 to 4294967295";
});

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  Invocation& inv = result.invocation;
  CLI::App app(kDescription, "bridgectl");
  app.footer(kFooter);
  app.fallthrough();  // the general options are taken after the command too
  app.require_subcommand(0, 1);
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.get_formatter()->column_width(24);

  std::string pipe, tcp;
  const CLI::Validator oneLine = Check([](const std::string& t) { return IsOneLine(t) ? "" : "a name on one line"; });
  auto* pipeOpt = app.add_option("--pipe", pipe, "the named pipe \\\\.\\pipe\\NAME")->type_name("NAME")->check(oneLine);
  app.add_option("--server", inv.endpoint.server, "with --pipe: the machine that serves the pipe")
      ->type_name("HOST")
      ->check(oneLine)
      ->needs(pipeOpt);
  auto* tcpOpt = app.add_option("--tcp", tcp, "TCP; an IPv6 address goes in brackets: --tcp [::1]:50123")
                     ->type_name("HOST:PORT")
                     ->check(Check([](const std::string& t) {
                       Endpoint scratch;
                       return ParseTcpTarget(t, &scratch) ? "" : "takes HOST:PORT or [IPV6-ADDRESS]:PORT";
                     }));
  auto* configOpt = app.add_option("--config", inv.endpoint.configIndex,
                                   "section [SimConnect.N] of SimConnect.cfg ([SimConnect] for 0), read from\n"
                                   "Public Documents, Documents and the current folder")
                        ->type_name("N");
  pipeOpt->excludes(tcpOpt)->excludes(configOpt);
  tcpOpt->excludes(configOpt);
  app.add_option("--timeout", inv.timeoutMs, "how long to wait for the bridge's answers (default 5000)")
      ->type_name("MS")
      ->check(kAbove0);
  app.add_flag("--json", inv.json, "machine-readable output: one JSON object per line");
  auto* tagOpt = app.add_option("--tag", inv.tag, "the tag of the Connect request (default: chosen per run)")
                     ->type_name("N");
  auto* peerOpt = app.add_option("--peer", inv.peerId, "the peer id given with Connect (default: chosen per run)")
                      ->type_name("N");
  app.add_flag("-v,--verbose", inv.verbose, "progress messages on standard error");

  std::vector<std::pair<CLI::App*, CommandKind>> commands;
  for (const CommandEntry& entry : kCommands) {
    CLI::App* sub = app.add_subcommand(entry.name, entry.summary)->group("Commands");
    sub->footer(std::string(entry.details) + (*entry.details ? "\n" : "") + "General options: bridgectl --help.");
    commands.emplace_back(sub, entry.kind);
  }
  auto sub = [&](CommandKind kind) { return commands[static_cast<size_t>(kind) - 1].first; };
  CLI::App* watch = sub(CommandKind::kWatch);
  std::vector<std::string> watchArgs;
  watch->add_option("NAME[@MS]", watchArgs, "variables, each read every MS milliseconds")
      ->required()
      ->type_name("")
      ->check(Check([](const std::string& t) {
        WatchItem item;
        return ParseWatchItem(t, &item);
      }));
  watch->add_option("--duration", inv.durationS, "stop after S seconds")
      ->type_name("S")
      ->check(Check([](const std::string& t) {
        double s = 0.0;
        return ParseNumber(t, &s) && s > 0.0 && s <= 1e6 ? "" : "seconds above 0";
      }));
  watch->add_option("--count", inv.count, "stop after N reports")->type_name("N")->check(kAbove0);
  watch->add_flag("--plain", inv.plain, "one line per report, also on a console");
  sub(CommandKind::kGet)->add_option("NAME", inv.names, "variables")->required()->type_name("")->check(
      Check(NameProblem));
  CLI::App* set = sub(CommandKind::kSet);
  std::string setName;
  set->add_option("NAME", setName, "the variable")->required()->type_name("")->check(Check(NameProblem));
  set->add_option("VALUE", inv.value, "the value")->required()->type_name("")->check(Check([](const std::string& t) {
    double v = 0.0;
    return ParseNumber(t, &v) ? "" : "'" + t + "' is not a number";
  }));
  set->add_option("--mjc", inv.mjcCode, "the aircraft's MJC code to write")->type_name("CODE")->check(kAbove0);
  sub(CommandKind::kKeys)->add_option("KEYSTRING", inv.keys, "the keys")->required()->type_name("")->check(
      Check(KeysProblem));
  std::string topic;
  CLI::App* help = app.add_subcommand("help", "this text, or one command's help")->group("Commands");
  help->add_option("COMMAND", topic, "the command")->type_name("")->check(Check([&](const std::string& t) {
    for (const CommandEntry& entry : kCommands) {
      if (t == entry.name) return std::string();
    }
    return "unknown command '" + t + "'";
  }));

  // CLI11 takes "-.5" for an option; a number it is, spelt as CLI11 reads it.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  for (std::string& token : reversed) {
    double number = 0.0;
    if (token.size() >= 2 && token[0] == '-' && token[1] == '.' && ParseNumber(token, &number)) token.insert(1, "0");
  }
  std::ostringstream out, err;
  try {
    app.parse(reversed);
    if (watchArgs.size() > 256 || inv.names.size() > 256) throw CLI::ValidationError("NAME", "at most 256 variables");
  } catch (const CLI::ParseError& e) {
    result.status = app.exit(e, out, err) == 0 ? 0 : 2;
    result.out = out.str();
    result.err = err.str();
    return result;
  }
  if (help->parsed()) {
    result.status = 0;
    result.out = topic.empty() ? app.help() : app.get_subcommand(topic)->help("bridgectl");
    return result;
  }
  for (const auto& command : commands) {
    if (command.first->parsed()) inv.command = command.second;
  }
  if (inv.command == CommandKind::kNone) {
    result.status = 2;
    result.err = app.help();
    return result;
  }
  if (!pipe.empty()) {
    inv.endpoint.kind = EndpointKind::kPipe;
    inv.endpoint.pipeName = pipe;
  }
  if (!tcp.empty()) ParseTcpTarget(tcp, &inv.endpoint);
  if (configOpt->count() > 0) inv.endpoint.kind = EndpointKind::kConfigIndex;
  inv.haveTag = tagOpt->count() > 0;
  inv.havePeer = peerOpt->count() > 0;
  for (const std::string& arg : watchArgs) {
    inv.watch.emplace_back();
    ParseWatchItem(arg, &inv.watch.back());
  }
  if (inv.command == CommandKind::kSet) inv.names = {setName};
  return result;
}

}  // namespace bridgectl
