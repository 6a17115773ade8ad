// Parsing bridgectl's arguments. OS-free.
#include "command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "bridge/key_string.h"

namespace bridgectl {

namespace {

struct CommandEntry {
  CommandKind kind;
  const char* name;
};

constexpr CommandEntry kCommands[] = {
    {CommandKind::kHelp, "help"},   {CommandKind::kList, "list"},           {CommandKind::kWatch, "watch"},
    {CommandKind::kGet, "get"},     {CommandKind::kSet, "set"},             {CommandKind::kKeys, "keys"},
    {CommandKind::kTitle, "title"}, {CommandKind::kAttention, "attention"}, {CommandKind::kRescan, "rescan"},
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal digits only, at most 0xFFFFFFFF.
bool ParseU32(const std::string& text, uint32_t* out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

// A finite number written the way strtod reads it, the whole token.
bool ParseNumber(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

// "-5", "-.5": a negative number where an argument is expected, not an option.
bool IsNegativeNumber(const std::string& token) {
  return token.size() >= 2 && token[0] == '-' && (IsDigit(token[1]) || token[1] == '.');
}

// Texts that go into SimConnect.cfg as one line each.
bool HasControlCharacter(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
  }
  return false;
}

bool IsOption(const std::string& token) { return token.size() >= 2 && token[0] == '-' && !IsNegativeNumber(token); }

// "HOST:PORT" or "[IPV6]:PORT".
bool ParseTcpTarget(const std::string& text, Endpoint* endpoint) {
  std::string host;
  std::string port;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
    endpoint->ipv6 = true;
  } else {
    size_t colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) return false;
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    endpoint->ipv6 = false;
  }
  uint32_t number = 0;
  if (host.empty() || HasControlCharacter(host) || !ParseU32(port, &number) || number == 0 || number > 65535) return false;
  endpoint->kind = EndpointKind::kTcp;
  endpoint->address = host;
  endpoint->port = std::to_string(number);
  return true;
}

// NAME or NAME@MS.
bool ParseWatchItem(const std::string& text, WatchItem* item, std::string* error) {
  size_t at = text.rfind('@');
  item->name = at == std::string::npos ? text : text.substr(0, at);
  item->intervalMs = 0;
  if (at != std::string::npos) {
    uint32_t ms = 0;
    if (!ParseU32(text.substr(at + 1), &ms) || ms == 0 || ms > 0x7FFFFFFF) {
      *error = "watch: '" + text + "': the interval after @ must be a whole number of milliseconds above 0";
      return false;
    }
    item->intervalMs = ms;
  }
  if (item->name.empty()) {
    *error = "watch: '" + text + "' names no variable";
    return false;
  }
  return true;
}

bool CheckName(const std::string& command, const std::string& name, std::string* error) {
  if (name.empty()) {
    *error = command + ": the variable name is empty";
    return false;
  }
  if (name.size() > kMaxRequestText) {
    *error = command + ": the variable name is longer than 255 characters";
    return false;
  }
  return true;
}

// Checks the positional arguments of the command and stores them.
bool TakeArguments(Invocation& inv, const std::vector<std::string>& args, std::string* error) {
  const std::string command = CommandName(inv.command);
  auto count = [&](size_t least, size_t most) {
    if (args.size() >= least && args.size() <= most) return true;
    *error = command + ": " + (args.size() < least ? "missing arguments" : "too many arguments") + " (see bridgectl " +
             command + " --help)";
    return false;
  };
  switch (inv.command) {
    case CommandKind::kNone:
      return true;
    case CommandKind::kHelp:
      if (!count(0, 1)) return false;
      if (!args.empty()) {
        inv.helpTopic = CommandFromName(args[0]);
        if (inv.helpTopic == CommandKind::kNone) {
          *error = "help: unknown command '" + args[0] + "'";
          return false;
        }
      }
      return true;
    case CommandKind::kList:
    case CommandKind::kTitle:
    case CommandKind::kAttention:
    case CommandKind::kRescan:
      return count(0, 0);
    case CommandKind::kWatch:
      if (!count(1, 256)) return false;
      for (const std::string& arg : args) {
        WatchItem item;
        if (!ParseWatchItem(arg, &item, error) || !CheckName(command, item.name, error)) return false;
        inv.watch.push_back(item);
      }
      return true;
    case CommandKind::kGet:
      if (!count(1, 256)) return false;
      for (const std::string& arg : args) {
        if (!CheckName(command, arg, error)) return false;
      }
      inv.names = args;
      return true;
    case CommandKind::kSet:
      if (!count(2, 2) || !CheckName(command, args[0], error)) return false;
      if (!ParseNumber(args[1], &inv.value)) {
        *error = "set: '" + args[1] + "' is not a number";
        return false;
      }
      inv.names = {args[0]};
      return true;
    case CommandKind::kKeys:
      if (!count(1, 1)) return false;
      if (args[0].size() > kMaxRequestText) {
        *error = "keys: the key string is longer than 255 characters";
        return false;
      }
      if (key_string::ParseCodes(args[0].data(), args[0].size()).empty()) {
        *error = "keys: '" + args[0] + "' holds no key code (write decimal codes such as \"17,65\")";
        return false;
      }
      inv.keys = args[0];
      return true;
  }
  return true;
}

}  // namespace

CommandKind CommandFromName(const std::string& name) {
  for (const CommandEntry& entry : kCommands) {
    if (name == entry.name) return entry.kind;
  }
  return CommandKind::kNone;
}

const char* CommandName(CommandKind command) {
  for (const CommandEntry& entry : kCommands) {
    if (entry.kind == command) return entry.name;
  }
  return "bridgectl";
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  Invocation& inv = result.invocation;
  std::vector<std::string> positional;
  int endpointChoices = 0;
  bool sawMjc = false, sawDuration = false, sawCount = false, sawPlain = false;
  bool optionsEnded = false;

  auto fail = [&](const std::string& message) {
    result.ok = false;
    result.error = message;
    return result;
  };

  for (size_t i = 0; i < args.size(); ++i) {
    std::string token = args[i];
    if (optionsEnded || !IsOption(token)) {
      if (inv.command == CommandKind::kNone && positional.empty() && !optionsEnded) {
        inv.command = CommandFromName(token);
        if (inv.command == CommandKind::kNone) return fail("unknown command '" + token + "' (see bridgectl --help)");
        continue;
      }
      positional.push_back(token);
      continue;
    }
    if (token == "--") {
      optionsEnded = true;
      continue;
    }
    // --name=value or --name value.
    std::string value;
    bool inlineValue = false;
    size_t equals = token.find('=');
    if (token.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      value = token.substr(equals + 1);
      token = token.substr(0, equals);
      inlineValue = true;
    }
    auto takeValue = [&](std::string* out) {
      if (inlineValue) {
        *out = value;
        return true;
      }
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    auto isFlag = [&](const char* name, const char* shortName) {
      return token == name || (shortName != nullptr && token == shortName);
    };

    if (isFlag("--help", "-h")) {
      inv.help = true;
    } else if (isFlag("--json", nullptr)) {
      inv.json = true;
    } else if (isFlag("--verbose", "-v")) {
      inv.verbose = true;
    } else if (isFlag("--plain", nullptr)) {
      inv.plain = sawPlain = true;
    } else if (token == "--pipe" || token == "--server" || token == "--tcp" || token == "--config" ||
               token == "--timeout" || token == "--tag" || token == "--peer" || token == "--mjc" ||
               token == "--duration" || token == "--count") {
      std::string text;
      if (!takeValue(&text)) return fail(token + " needs a value");
      uint32_t number = 0;
      if (token == "--pipe") {
        if (text.empty() || HasControlCharacter(text)) return fail("--pipe needs a pipe name");
        inv.endpoint.kind = EndpointKind::kPipe;
        inv.endpoint.pipeName = text;
        ++endpointChoices;
      } else if (token == "--server") {
        if (text.empty() || HasControlCharacter(text)) return fail("--server needs a machine name");
        inv.endpoint.server = text;
      } else if (token == "--tcp") {
        if (!ParseTcpTarget(text, &inv.endpoint)) return fail("--tcp takes HOST:PORT or [IPV6-ADDRESS]:PORT");
        ++endpointChoices;
      } else if (token == "--config") {
        if (!ParseU32(text, &number)) return fail("--config takes a configuration index (0, 1, 2, ...)");
        inv.endpoint.kind = EndpointKind::kConfigIndex;
        inv.endpoint.configIndex = number;
        ++endpointChoices;
      } else if (token == "--timeout") {
        if (!ParseU32(text, &number) || number == 0) return fail("--timeout takes milliseconds above 0");
        inv.timeoutMs = number;
      } else if (token == "--tag" || token == "--peer") {
        if (!ParseU32(text, &number)) return fail(token + " takes a number from 0 to 4294967295");
        if (token == "--tag") {
          inv.haveTag = true;
          inv.tag = number;
        } else {
          inv.havePeer = true;
          inv.peerId = number;
        }
      } else if (token == "--mjc") {
        if (!ParseU32(text, &number) || number == 0) return fail("--mjc takes an MJC code above 0");
        inv.mjcCode = number;
        sawMjc = true;
      } else if (token == "--duration") {
        double seconds = 0.0;
        if (!ParseNumber(text, &seconds) || seconds <= 0.0 || seconds > 1e6) {
          return fail("--duration takes seconds above 0");
        }
        inv.durationS = seconds;
        sawDuration = true;
      } else {
        if (!ParseU32(text, &number) || number == 0) return fail("--count takes a number above 0");
        inv.count = number;
        sawCount = true;
      }
    } else {
      return fail("unknown option '" + token + "' (see bridgectl --help)");
    }
  }

  if (endpointChoices > 1) return fail("choose one of --pipe, --tcp and --config");
  if (!inv.endpoint.server.empty() && inv.endpoint.kind != EndpointKind::kPipe) {
    return fail("--server goes with --pipe");
  }
  if (sawMjc && inv.command != CommandKind::kSet) return fail("--mjc is an option of set");
  if ((sawDuration || sawCount || sawPlain) && inv.command != CommandKind::kWatch) {
    return fail("--duration, --count and --plain are options of watch");
  }
  if (inv.help) {
    result.ok = true;
    return result;
  }
  if (!TakeArguments(inv, positional, &result.error)) return result;
  result.ok = true;
  return result;
}

}  // namespace bridgectl
