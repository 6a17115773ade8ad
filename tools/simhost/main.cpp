// simhost.exe: the stand-in simulator as a console program. It serves
// SimConnect clients, optionally hosts an add-on module, prints what happens,
// and takes commands on standard input. It ends on "stop", on Ctrl+C, or when
// standard input ends.
#include <winsock2.h>
#include <windows.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "aircraft_file.h"
#include "commands.h"
#include "sim_host.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitStartFailed = 2;  // a wrong command line, or a server that could not start

HANDLE stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  // Ctrl+C, Ctrl+Break, closing the window: shut down in order on the main
  // thread.
  SetEvent(stopEvent);
  return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n) - 1 : 0);
  return wide;
}

// Runs the lines typed on standard input; "stop" or the end of the input ends
// the program.
void ReadStandardInput(simhost::SimHost& host) {
  for (std::string line, error; std::getline(std::cin, line);) {
    const simhost::CommandResult result = simhost::RunCommand(host, line, stopEvent, &error);
    if (result == simhost::CommandResult::kStop) break;
    if (result == simhost::CommandResult::kFailed) host.Log().Line(error);
  }
  SetEvent(stopEvent);
}

}  // namespace

int main(int argc, char** argv) {
  simhost::SimHostOptions options;
  std::string pipeName, aircraft, addon;
  bool noPipe = false, noTcp = false, noRegistry = false, noWindow = false, noStdin = false;
  CLI::App app("A stand-in for the simulator: a SimConnect server with an aircraft, its panel variables and an "
               "add-on host.",
               "simhost");
  app.footer(simhost::kCommandHelp);
  app.add_option("--pipe", pipeName,
                 "pipe name below \\\\.\\pipe\\ (default \"Lockheed Martin Prepar3D v6\\SimConnect\")");
  app.add_flag("--no-pipe", noPipe, "no named pipe");
  app.add_option("--port6", options.port6, "TCP port on ::1 (default: chosen by the system)");
  app.add_option("--port4", options.port4, "TCP port on 127.0.0.1 (default: chosen by the system)");
  app.add_flag("--no-tcp", noTcp, "no TCP listener");
  app.add_flag("--no-registry", noRegistry, "do not write the TCP ports to the registry");
  app.add_option("--aircraft", aircraft, "aircraft file, or gen:N / gen-mjc:N for N generated variables");
  app.add_option("--addon", addon, "host this add-on: Panels, DLLStart; at the end DLLStop, FreeLibrary");
  app.add_flag("--no-window", noWindow, "no main window \"FS98MAIN\" beside the add-on: it talks over its pipe only");
  app.add_flag("--no-stdin", noStdin, "read no commands from standard input");
  std::string error;
  try {
    app.parse(argc, argv);
    if (!aircraft.empty() && !simhost::LoadAircraftArgument(aircraft, &options.aircraft, &error)) {
      throw CLI::ValidationError("--aircraft", error);
    }
    if (noPipe && noTcp) {
      throw CLI::ValidationError("no pipe and no TCP listener: no client could connect");
    }
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);  // prints the help, or the error in CLI11's form
    return code == 0 ? kExitOk : kExitStartFailed;
  }
  options.pipe = !noPipe;
  if (!pipeName.empty()) options.pipeName = Wide(pipeName);
  options.tcp6 = options.tcp4 = !noTcp;
  options.writeRegistry = !noRegistry;
  options.haveAircraft = !aircraft.empty();
  options.addonPath = Wide(addon);
  // The window offers the in-process channel to clients of this process: the
  // hosted add-on is the one that can use it.
  options.window = !addon.empty() && !noWindow;

  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  simhost::SimHost host;
  if (!host.Start(options, &error)) {
    std::fprintf(stderr, "simhost: %s\n", error.c_str());
    return kExitStartFailed;
  }
  // Not joined: a read blocked on the console cannot be cancelled; the
  // process ends with it.
  if (!noStdin) std::thread(ReadStandardInput, std::ref(host)).detach();
  WaitForSingleObject(stopEvent, INFINITE);
  host.Stop();
  std::fflush(stdout);
  // Leave without running the destructors of objects the stdin thread may
  // still use.
  std::_Exit(kExitOk);
}
