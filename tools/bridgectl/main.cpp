// bridgectl: a command-line application that speaks the bridge's client-data
// protocol through any SimConnect server.
#include <cstdio>
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
  const ParseResult parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.status >= 0) {
    std::fputs(parsed.out.c_str(), stdout);
    std::fputs(parsed.err.c_str(), stderr);
    return parsed.status;
  }
  std::string error;
  int status = Run(parsed.invocation, &error);
  if (status != kExitSuccess) PrintErrorLine("bridgectl: " + (error.empty() ? std::string("failed") : error));
  return status;
}
