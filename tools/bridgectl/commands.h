// bridgectl's commands, each run over a connected session. Each returns the
// exit status: 0 success, 1 failure (with a one-line `error`), 2 a command line
// that cannot be served.
#pragma once

#include <string>

#include "bridge_session.h"
#include "command_line.h"

namespace bridgectl {

enum ExitStatus : int {
  kExitSuccess = 0,
  kExitFailure = 1,
  kExitUsage = 2,
};

int RunList(BridgeSession& session, const Invocation& invocation, std::string* error);
int RunGet(BridgeSession& session, const Invocation& invocation, std::string* error);
int RunSet(BridgeSession& session, const Invocation& invocation, std::string* error);
int RunKeys(BridgeSession& session, const Invocation& invocation, std::string* error);
int RunTitle(BridgeSession& session, const Invocation& invocation, std::string* error);
int RunAttention(BridgeSession& session, const Invocation& invocation, std::string* error);
int RunRescan(BridgeSession& session, const Invocation& invocation, std::string* error);
// Runs until the session's stop event is set, --duration passes or --count
// reports have arrived; then stops monitoring.
int RunWatch(BridgeSession& session, const Invocation& invocation, std::string* error);

}  // namespace bridgectl
