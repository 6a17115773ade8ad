// The console's commands.
#include "commands.h"

#include <windows.h>

#include <cstdio>

#include "aircraft_file.h"
#include "aircraft_generator.h"
#include "command_line.h"
#include "host_protocol.h"
#include "sim_host.h"

namespace simhost {

namespace {

constexpr size_t kMaxListed = 200;

std::string FormatValue(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

bool ParseClient(const std::string& text, uint32_t* number) {
  unsigned long long value = 0;
  if (!ParseUint(text, 0xFFFFFFFFu, &value) || value == 0) return false;
  *number = static_cast<uint32_t>(value);
  return true;
}

bool ParseTimeout(const CommandLine& line, size_t at, DWORD* timeoutMs, std::string* error) {
  *timeoutMs = 10000;
  if (line.args.size() <= at) return true;
  unsigned long long value = 0;
  if (!ParseUint(line.args[at], 0x7FFFFFFF, &value)) {
    *error = "\"" + line.args[at] + "\" is not a time in milliseconds";
    return false;
  }
  *timeoutMs = static_cast<DWORD>(value);
  return true;
}

}  // namespace

bool LoadAircraftArgument(const std::string& argument, AircraftDescription* description, std::string* error) {
  for (const char* prefix : {"gen:", "gen-mjc:"}) {
    const std::string p = prefix;
    if (argument.compare(0, p.size(), p) != 0) continue;
    unsigned long long count = 0;
    if (!ParseUint(argument.substr(p.size()), kMaxVariables, &count)) {
      *error = "\"" + argument + "\": the count must be a number from 0 to " + std::to_string(kMaxVariables);
      return false;
    }
    *description = GenerateAircraft(static_cast<size_t>(count), 1, p == "gen-mjc:");
    return true;
  }
  return LoadAircraftFile(argument, description, error);
}

const char* CommandHelp() {
  return "commands:\n"
         "  help                             this list\n"
         "  clients                          the connected clients\n"
         "  channel                          what has crossed the in-process channel\n"
         "  menu                             every client's menu\n"
         "  choose [N:]<item>[/<sub-item>]   choose a menu entry: its event goes to the client that added it\n"
         "  aircraft <file>|gen:N|gen-mjc:N  load another aircraft (new title, new variables and ids)\n"
         "  title                            the aircraft's title\n"
         "  vars [<filter>]                  variables whose name contains the filter, with their values\n"
         "  get <name>                       a variable's value\n"
         "  set <name> <value>               set a variable (it stops moving)\n"
         "  exception <client> <code> [<sendId> [<index>]]   send client N an exception message\n"
         "  quit <client>                    send client N the quit message\n"
         "  disconnect <client>              close client N's connection\n"
         "  areas                            the client-data areas\n"
         "  frames <n>                       run n simulation frames at once\n"
         "  wait <ms>                        pause\n"
         "  wait-client <name> [<ms>]        wait until a client of that name has opened (default 10000 ms)\n"
         "  wait-menu <entry> [<ms>]         wait until some client's menu has the entry\n"
         "  echo <text>                      print the text\n"
         "  stop                             shut down: quit message, add-on stopped and unloaded, exit\n";
}

bool CommandRunner::Pause(DWORD ms) {
  if (stopEvent_ == nullptr) {
    Sleep(ms);
    return true;
  }
  return WaitForSingleObject(stopEvent_, ms) != WAIT_OBJECT_0;
}

template <typename Condition>
bool CommandRunner::WaitUntil(Condition condition, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs || !Pause(10)) return false;
  }
}

CommandRunner::Result CommandRunner::Run(const std::string& line, std::string* error) {
  // Waits run without the lock so that commands typed meanwhile still work.
  if (ParseCommandLine(line).command.compare(0, 4, "wait") == 0) return RunLocked(line, error);
  std::lock_guard<SlimLock> guard(lock_);
  return RunLocked(line, error);
}

CommandRunner::Result CommandRunner::RunLocked(const std::string& text, std::string* error) {
  const CommandLine line = ParseCommandLine(text);
  const std::string& c = line.command;
  const auto& args = line.args;
  HostLog& log = host_.Log();
  auto usage = [&](const char* form) {
    *error = std::string("usage: ") + form;
    return kFailed;
  };

  if (c.empty()) return kDone;
  if (c == "help") {
    std::string help = CommandHelp();
    size_t start = 0;
    for (size_t end; (end = help.find('\n', start)) != std::string::npos; start = end + 1) {
      log.Line(help.substr(start, end - start));
    }
    return kDone;
  }
  if (c == "stop") return kStop;
  if (c == "echo") {
    log.Line(line.rest);
    return kDone;
  }
  if (c == "clients") {
    auto sessions = host_.Core().Sessions();
    if (sessions.empty()) log.Line("no clients");
    for (const auto& s : sessions) {
      log.Printf("%s (%s%s)%s", s->Label().c_str(), s->Transport().c_str(),
                 host_.OnChannel(s->Number()) ? ", in-process channel" : "", s->Opened() ? "" : " not opened yet");
    }
    return kDone;
  }
  if (c == "channel") {
    ChannelHost* channels = host_.Channels();
    if (channels == nullptr) {
      log.Line("no main window: no in-process channel");
      return kDone;
    }
    ChannelStats st = channels->Stats();
    log.Printf("in-process channel: %u clients attached, %u refused; %u pumps, %llu pump calls",
               static_cast<unsigned>(st.attached), static_cast<unsigned>(st.refused),
               static_cast<unsigned>(channels->PumpCount()), static_cast<unsigned long long>(st.pumpCalls));
    log.Printf("requests: %llu submitted, %llu discarded, %llu dropped; messages: %llu delivered, %llu released, "
               "%llu over the pipe",
               static_cast<unsigned long long>(st.submitted), static_cast<unsigned long long>(st.discarded),
               static_cast<unsigned long long>(st.submitDropped), static_cast<unsigned long long>(st.delivered),
               static_cast<unsigned long long>(st.released), static_cast<unsigned long long>(st.deliveredToPipe));
    return kDone;
  }
  if (c == "menu") {
    for (const std::string& menuLine : host_.Core().MenuLines()) log.Line(menuLine);
    return kDone;
  }
  if (c == "choose") {
    if (line.rest.empty()) return usage("choose [N:]<item>[/<sub-item>]");
    if (!host_.Core().ChooseMenuItem(line.rest)) {
      *error = "no client has the menu entry \"" + line.rest + "\"";
      return kFailed;
    }
    return kDone;
  }
  if (c == "aircraft") {
    if (line.rest.empty()) return usage("aircraft <file>|gen:N|gen-mjc:N");
    AircraftDescription description;
    if (!LoadAircraftArgument(line.rest, &description, error)) return kFailed;
    host_.ChangeAircraft(description);
    return kDone;
  }
  if (c == "title") {
    log.Printf("title \"%s\"", host_.Aircraft().Title().c_str());
    return kDone;
  }
  if (c == "vars") {
    auto views = host_.Aircraft().List(line.rest, kMaxListed + 1);
    for (size_t i = 0; i < views.size() && i < kMaxListed; ++i) {
      log.Printf("%5d %s = %s%s", views[i].id, views[i].name.c_str(), FormatValue(views[i].value).c_str(),
                 views[i].held ? " (set)" : "");
    }
    if (views.size() > kMaxListed) log.Printf("... (only the first %u are listed)", static_cast<unsigned>(kMaxListed));
    if (views.empty()) log.Line("no variables");
    return kDone;
  }
  if (c == "get") {
    double value = 0.0;
    if (args.size() != 1) return usage("get <name>");
    if (!host_.Aircraft().Get(args[0], &value)) {
      *error = "no variable \"" + args[0] + "\"";
      return kFailed;
    }
    log.Printf("%s = %s", args[0].c_str(), FormatValue(value).c_str());
    return kDone;
  }
  if (c == "set") {
    double value = 0.0;
    if (args.size() != 2 || !ParseDouble(args[1], &value)) return usage("set <name> <value>");
    if (!host_.Aircraft().Set(args[0], value)) {
      *error = "no variable \"" + args[0] + "\"";
      return kFailed;
    }
    log.Printf("%s set to %s", args[0].c_str(), FormatValue(value).c_str());
    return kDone;
  }
  if (c == "exception") {
    uint32_t number = 0;
    unsigned long long code = 0, sendId = 0, index = 0;
    if (args.size() < 2 || args.size() > 4 || !ParseClient(args[0], &number) ||
        !ParseUint(args[1], 0xFFFFFFFFu, &code) || (args.size() > 2 && !ParseUint(args[2], 0xFFFFFFFFu, &sendId)) ||
        (args.size() > 3 && !ParseUint(args[3], 0xFFFFFFFFu, &index))) {
      return usage("exception <client> <code> [<sendId> [<index>]]");
    }
    auto session = host_.Core().FindSession(number);
    if (!session) {
      *error = "no client " + args[0];
      return kFailed;
    }
    session->SendException(static_cast<uint32_t>(code), static_cast<uint32_t>(sendId), static_cast<uint32_t>(index));
    log.Printf("exception %u (%s) sent to %s, SendID %u, argument %u", static_cast<unsigned>(code),
               host_protocol::ExceptionName(static_cast<uint32_t>(code)), session->Label().c_str(),
               static_cast<unsigned>(sendId), static_cast<unsigned>(index));
    return kDone;
  }
  if (c == "quit" || c == "disconnect") {
    uint32_t number = 0;
    if (args.size() != 1 || !ParseClient(args[0], &number)) return usage("quit|disconnect <client>");
    auto session = host_.Core().FindSession(number);
    if (!session) {
      *error = "no client " + args[0];
      return kFailed;
    }
    if (c == "quit") {
      session->SendQuit();
      log.Printf("quit message sent to %s", session->Label().c_str());
    } else {
      host_.Disconnect(number);
    }
    return kDone;
  }
  if (c == "areas") {
    auto areas = host_.Core().ClientData().Areas();
    if (areas.empty()) log.Line("no client-data areas");
    for (const auto& area : areas) {
      log.Printf("client data \"%s\": %u bytes, %u subscriptions", area.name.c_str(), area.size,
                 static_cast<unsigned>(area.subscriptions));
    }
    return kDone;
  }
  if (c == "frames") {
    unsigned long long count = 0;
    if (args.size() != 1 || !ParseUint(args[0], 1000000, &count)) return usage("frames <n> (at most 1000000)");
    host_.AdvanceFrames(static_cast<uint32_t>(count));
    log.Printf("frame %llu", static_cast<unsigned long long>(host_.Clock().Frame()));
    return kDone;
  }
  if (c == "wait") {
    unsigned long long ms = 0;
    if (args.size() != 1 || !ParseUint(args[0], 0x7FFFFFFF, &ms)) return usage("wait <ms>");
    Pause(static_cast<DWORD>(ms));
    return kDone;
  }
  if (c == "wait-client") {
    DWORD timeoutMs = 0;
    if (args.empty() || args.size() > 2) return usage("wait-client <name> [<ms>]");
    if (!ParseTimeout(line, 1, &timeoutMs, error)) return kFailed;
    const std::string name = args[0];
    bool found = WaitUntil(
        [&] {
          for (const auto& s : host_.Core().Sessions()) {
            if (s->Opened() && s->Name() == name) return true;
          }
          return false;
        },
        timeoutMs);
    if (!found) {
      *error = "no client \"" + name + "\" within " + std::to_string(timeoutMs) + " ms";
      return kFailed;
    }
    return kDone;
  }
  if (c == "wait-menu") {
    DWORD timeoutMs = 0;
    if (args.empty() || args.size() > 2) return usage("wait-menu <entry> [<ms>]");
    if (!ParseTimeout(line, 1, &timeoutMs, error)) return kFailed;
    const std::string path = args[0];
    bool found = WaitUntil(
        [&] {
          ClientMenu::Entry entry;
          for (const auto& s : host_.Core().Sessions()) {
            if (s->FindMenuItem(path, &entry)) return true;
          }
          return false;
        },
        timeoutMs);
    if (!found) {
      *error = "no menu entry \"" + path + "\" within " + std::to_string(timeoutMs) + " ms";
      return kFailed;
    }
    return kDone;
  }
  *error = "unknown command \"" + c + "\" (help lists them)";
  return kFailed;
}

}  // namespace simhost
