// Round trip: the application's ForceUpdate request to the VarData it
// receives, through simhost and the bridge, against floor (a), an echo client
// in the bridge's place, and floor (b), a raw pipe ping-pong of the same
// sizes. This process plays the simulator: simhost (with its main window for
// --channel), the module hosted over simhost's panel table, and the echo
// client. The application runs as a second process, this program started
// with --app, and prints the figures.
//
//   bench_roundtrip [--channel] [--count 1000] [--warmup 50]
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "application.h"
#include "bench_host.h"
#include "echo_areas.h"
#include "echo_client.h"
#include "report.h"
#include "support/child_process.h"

namespace {

using namespace bench;

// A variable of simhost's built-in aircraft.
constexpr char kVariable[] = "SIMHOST_SINE";
constexpr DWORD kApplicationTimeoutMs = 15 * 60 * 1000;

// Runs this program again as the application and prints what it printed
// (its figures); its exit code, or -1.
int RunApplicationProcess(uint32_t count, uint32_t warmup, bool channel) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  ChildProcess application;
  if (!application.Start(std::wstring(path, n), L"--app --count " + std::to_wstring(count) + L" --warmup " +
                                                    std::to_wstring(warmup) + (channel ? L" --label-channel" : L""))) {
    return -1;
  }
  const int code = application.Wait(kApplicationTimeoutMs);
  std::fputs(WithoutCarriageReturns(application.Output()).c_str(), stdout);
  return code;
}

int RunSimulator(bool channel, uint32_t count, uint32_t warmup) {
  Heading(std::string("Round trip: ForceUpdate to VarData, ") + (channel ? "in-process channel" : "pipe"));
  BenchHost host;
  HostSettings settings;
  settings.channel = channel;
  HostedModule module;
  if (!StartHostAndModule(host, module, settings, nullptr, nullptr)) {
    return 2;
  }
  std::string error;
  EchoClient echo;
  if (!echo.Start(&error) || !host.WaitForSubscriptions(kEchoRequestAreaName, 1, 10000)) {
    std::printf("%s\n", error.empty() ? "the echo client did not subscribe" : error.c_str());
    return 2;
  }
  if (channel) {
    host.WaitForChannel(kBridgeClientName);
    host.WaitForChannel(kEchoClientName);
    Note("on the in-process channel: bridge %s, echo client %s; the application is on its pipe",
         host.OnChannel(kBridgeClientName) ? "yes" : "NO", host.OnChannel(kEchoClientName) ? "yes" : "NO");
  }
  int code = RunApplicationProcess(count, warmup, channel);
  if (code != 0) std::printf("the application ended with %d\n", code);
  Note("the echo client answered %llu requests", static_cast<unsigned long long>(echo.Answered()));
  if (channel) Note("%s", host.ChannelSummary().c_str());

  echo.Stop();
  module.Stop();
  host.WaitUntilGone(kBridgeClientName);
  host.Stop();
  module.Unload();
  return code == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args(argc, argv);
  const uint32_t count = static_cast<uint32_t>(args.Number("--count", 1000));
  const uint32_t warmup = static_cast<uint32_t>(args.Number("--warmup", 50));
  if (args.Has("--app")) {
    RoundTripSettings settings;
    settings.count = count;
    settings.warmup = warmup;
    settings.variable = kVariable;
    settings.label = args.Has("--label-channel") ? "in-process channel" : "pipe";
    return RunApplication(settings);
  }
  return RunSimulator(args.Has("--channel"), count, warmup);
}
