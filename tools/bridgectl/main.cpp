// bridgectl: a command-line application that speaks the bridge's client-data
// protocol through any SimConnect server.
#include <string>
#include <vector>

#include "bridge_session.h"
#include "command_line.h"
#include "commands.h"
#include "console.h"

using namespace bridgectl;

namespace {

int Run(const Invocation& invocation, std::string* error) {
  StopSignal stop;
  BridgeSession session;
  session.SetStopEvent(stop.event());
  if (!session.Open(invocation.endpoint, error)) return kExitFailure;

  // The bridge answers a Connect only when its peer id differs from the one
  // it holds, so every run takes fresh numbers unless told otherwise.
  const uint32_t seed = (GetCurrentProcessId() * 2654435761u) ^ GetTickCount();
  const uint32_t tag = invocation.haveTag ? invocation.tag : seed;
  const uint32_t peerId = invocation.havePeer ? invocation.peerId : (seed ^ 0x9E3779B9u);
  if (!session.Connect(tag, peerId, invocation.timeoutMs, error)) return kExitFailure;
  if (invocation.verbose) {
    PrintErrorLine("bridgectl: connected to " + (session.serverName().empty() ? "the simulator" : session.serverName()) +
                   "; " + session.bridgeVersion());
  }

  switch (invocation.command) {
    case CommandKind::kList:
      return RunList(session, invocation, error);
    case CommandKind::kWatch:
      return RunWatch(session, invocation, error);
    case CommandKind::kGet:
      return RunGet(session, invocation, error);
    case CommandKind::kSet:
      return RunSet(session, invocation, error);
    case CommandKind::kKeys:
      return RunKeys(session, invocation, error);
    case CommandKind::kTitle:
      return RunTitle(session, invocation, error);
    case CommandKind::kAttention:
      return RunAttention(session, invocation, error);
    case CommandKind::kRescan:
      return RunRescan(session, invocation, error);
    default:
      return kExitUsage;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  ParseResult parsed = ParseCommandLine(args);
  if (!parsed.ok) {
    PrintErrorLine("bridgectl: " + parsed.error);
    return kExitUsage;
  }
  const Invocation& invocation = parsed.invocation;
  if (invocation.help || invocation.command == CommandKind::kHelp) {
    std::string text = HelpText(invocation.help ? invocation.command : invocation.helpTopic);
    text.pop_back();
    PrintLine(text);
    return kExitSuccess;
  }
  if (invocation.command == CommandKind::kNone) {
    std::string text = HelpText(CommandKind::kNone);
    text.pop_back();
    PrintErrorLine(text);
    return kExitUsage;
  }

  std::string error;
  int status = Run(invocation, &error);
  if (status != kExitSuccess) PrintErrorLine("bridgectl: " + (error.empty() ? std::string("failed") : error));
  return status;
}
