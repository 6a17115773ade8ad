// The console's commands.
#include "commands.h"

#include <sstream>
#include <vector>

#include "aircraft_file.h"
#include "sim_host.h"

namespace simhost {

const char kCommandHelp[] =
    "commands:\n"
    "  help                             this list\n"
    "  clients                          the connected clients\n"
    "  choose [N:]<item>[/<sub-item>]   choose a menu entry: its event goes to the client that added it\n"
    "  aircraft <file>|gen:N|gen-mjc:N  load another aircraft (new title, new variables and ids)\n"
    "  get <name>                       a variable's value\n"
    "  set <name> <value>               set a variable (it stops moving)\n"
    "  quit <client>                    send client N the quit message\n"
    "  wait-client <name> [<ms>]        wait until a client of that name has opened (default 10000 ms)\n"
    "  wait-menu <entry> [<ms>]         wait until some client's menu has the entry\n"
    "  stop                             shut down: quit message, add-on stopped and unloaded, exit\n";

namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// Polls `condition` every 10 ms for up to `timeoutMs`; false on time-out or stop.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs, HANDLE stopEvent) {
  for (DWORD start = GetTickCount(); !condition();) {
    if (GetTickCount() - start >= timeoutMs || WaitForSingleObject(stopEvent, 10) == WAIT_OBJECT_0) return false;
  }
  return true;
}

}  // namespace

CommandResult RunCommand(SimHost& host, const std::string& text, HANDLE stopEvent, std::string* error) {
  const std::string line = Trim(text);
  if (line.empty() || line[0] == '#') return CommandResult::kDone;
  const std::string c = line.substr(0, line.find_first_of(" \t"));
  const std::string rest = Trim(line.substr(c.size()));
  std::vector<std::string> args;
  std::istringstream words(rest);
  for (std::string word; words >> word;) args.push_back(word);
  HostLog& log = host.Log();
  auto fail = [&](const std::string& message) {
    *error = message;
    return CommandResult::kFailed;
  };

  if (c == "stop") return CommandResult::kStop;
  if (c == "help") {
    std::istringstream help(kCommandHelp);
    for (std::string helpLine; std::getline(help, helpLine);) log.Line(helpLine);
    return CommandResult::kDone;
  }
  if (c == "clients") {
    auto sessions = host.Core().Sessions();
    if (sessions.empty()) log.Line("no clients");
    for (const auto& s : sessions) {
      log.Printf("%s (%s%s)%s", s->Label().c_str(), s->Transport().c_str(),
                 host.OnChannel(s->Number()) ? ", in-process channel" : "", s->Opened() ? "" : " not opened yet");
    }
    return CommandResult::kDone;
  }
  if (c == "choose") {
    if (rest.empty()) return fail("usage: choose [N:]<item>[/<sub-item>]");
    if (!host.Core().ChooseMenuItem(rest)) return fail("no client has the menu entry \"" + rest + "\"");
    return CommandResult::kDone;
  }
  if (c == "aircraft") {
    AircraftDescription description;
    if (rest.empty()) return fail("usage: aircraft <file>|gen:N|gen-mjc:N");
    if (!LoadAircraftArgument(rest, &description, error)) return CommandResult::kFailed;
    host.ChangeAircraft(description);
    return CommandResult::kDone;
  }
  double value = 0.0;
  if (c == "get" || c == "set") {
    const bool set = c == "set";
    if (args.size() != (set ? 2u : 1u) || (set && !ReadNumber(args[1], &value))) {
      return fail(set ? "usage: set <name> <value>" : "usage: get <name>");
    }
    if (!(set ? host.Aircraft().Set(args[0], value) : host.Aircraft().Get(args[0], &value))) {
      return fail("no variable \"" + args[0] + "\"");
    }
    log.Printf(set ? "%s set to %.6g" : "%s = %.6g", args[0].c_str(), value);
    return CommandResult::kDone;
  }
  if (c == "quit") {
    if (args.size() != 1 || !ReadNumber(args[0], &value)) return fail("usage: quit <client>");
    auto session = host.Core().FindSession(static_cast<uint32_t>(value));
    if (!session) return fail("no client " + args[0]);
    session->SendQuit();
    log.Printf("quit message sent to %s", session->Label().c_str());
    return CommandResult::kDone;
  }
  if (c == "wait-client" || c == "wait-menu") {
    // The last word, when it is a number, is the time-out; the rest names what to wait for.
    DWORD timeoutMs = 10000;
    std::string what = rest;
    if (args.size() > 1 && ReadNumber(args.back(), &value)) {
      timeoutMs = static_cast<DWORD>(value);
      what = Trim(rest.substr(0, rest.rfind(args.back())));
    }
    if (what.empty()) return fail("usage: " + c + (c == "wait-client" ? " <name> [<ms>]" : " <entry> [<ms>]"));
    const bool found = WaitUntil(
        [&] {
          ClientMenu::Entry entry;
          for (const auto& s : host.Core().Sessions()) {
            if (c == "wait-client" ? s->Opened() && s->Name() == what : s->FindMenuItem(what, &entry)) return true;
          }
          return false;
        },
        timeoutMs, stopEvent);
    if (!found) return fail("no " + std::string(c == "wait-client" ? "client" : "menu entry") + " \"" + what +
                            "\" within " + std::to_string(timeoutMs) + " ms");
    return CommandResult::kDone;
  }
  return fail("unknown command \"" + c + "\" (help lists them)");
}

}  // namespace simhost
