// The application's side of the round trip, run as a process of its own (the
// TAVO.quin application is one): bridgectl's session with the bridge, and a
// second connection of the project's SimConnect library that maps the echo
// client's areas, both on the simulator's pipe; it times, request by request
// and in turn:
//   - the bridge: a ForceUpdate HostRequest until its VarData arrives;
//   - floor (a): the same bytes to the echo client until its answer arrives;
//   - floor (b): a raw ping-pong of the same sizes (312-byte request,
//     308-byte answer) over a pipe between two threads of this process.
// Interleaving the three keeps a noisy machine from favouring one of them.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

struct RoundTripSettings {
  uint32_t count = 1000;  // timed requests of each kind
  uint32_t warmup = 50;   // untimed requests of each kind before them
  std::string variable;   // the variable ForceUpdate asks for
  std::string label;      // "pipe" or "in-process channel"
};

// Runs the application and prints the figures; the process exit code.
int RunApplication(const RoundTripSettings& settings);

}  // namespace bench
