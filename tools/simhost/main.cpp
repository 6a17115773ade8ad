// simhost.exe: the stand-in simulator as a console program. It serves
// SimConnect clients, optionally hosts an add-on module, prints what happens,
// and takes commands on standard input and from a script file. It ends on
// "stop", at the end of a script, on Ctrl+C, or when standard input ends
// (unless a script runs).
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "aircraft_file.h"
#include "aircraft_generator.h"
#include "command_line.h"
#include "commands.h"
#include "sim_host.h"

namespace {

using simhost::CommandRunner;

constexpr int kExitOk = 0;
constexpr int kExitScriptFailed = 1;
constexpr int kExitStartFailed = 2;

const char kUsage[] =
    "usage: simhost [options]\n"
    "A stand-in for the simulator: a SimConnect server with an aircraft, its panel variables and an\n"
    "add-on host.\n"
    "  --pipe NAME         pipe name below \\\\.\\pipe\\ (default \"Lockheed Martin Prepar3D v6\\SimConnect\")\n"
    "  --no-pipe           no named pipe\n"
    "  --port6 N           TCP port on ::1 (default: chosen by the system)\n"
    "  --port4 N           TCP port on 127.0.0.1 (default: chosen by the system)\n"
    "  --no-tcp6, --no-tcp4, --no-tcp   no TCP listener on ::1, on 127.0.0.1, on either\n"
    "  --no-registry       do not write the TCP ports to the registry\n"
    "  --aircraft A        aircraft file, or gen:N / gen-mjc:N for N generated variables\n"
    "  --addon DLL         host this add-on: Panels, DLLStart; at the end DLLStop, FreeLibrary\n"
    "  --no-window         no main window \"FS98MAIN\" beside the add-on: it talks over its pipe only\n"
    "  --script FILE       run the commands of FILE, then stop\n"
    "  --no-stdin          read no commands from standard input\n"
    "  --frame-rate HZ     simulation frames per second (default 30)\n"
    "  --manual-clock      frames advance only by the \"frames\" command\n"
    "  --quit-grace MS     at shutdown, how long clients get to leave (default 1000)\n"
    "  --generate N        print an aircraft file with N generated variables and exit\n"
    "      --seed S        ... with this random seed (default 1)\n"
    "      --mjc           ... with the MJC handshake\n"
    "  --help              this text\n";

HANDLE stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  // Ctrl+C, Ctrl+Break, closing the window: shut down in order on the main
  // thread.
  SetEvent(stopEvent);
  return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
  wide.resize(static_cast<size_t>(n) - 1);
  return wide;
}

struct ProgramOptions {
  simhost::SimHostOptions host;
  std::string scriptPath;
  bool readStdin = true;
  bool generate = false;
  unsigned long long generateCount = 0;
  unsigned long long seed = 1;
  bool generateMjc = false;
};

// False (with `error`) on a bad command line; `help` set for --help.
bool ParseArguments(int argc, char** argv, ProgramOptions* options, bool* help, std::string* error) {
  options->host.writeRegistry = true;
  bool noWindow = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    auto number = [&](unsigned long long max, unsigned long long* out) {
      std::string text;
      if (!value(&text)) return false;
      if (!simhost::ParseUint(text, max, out)) {
        *error = arg + ": \"" + text + "\" is not a number up to " + std::to_string(max);
        return false;
      }
      return true;
    };
    std::string text;
    unsigned long long n = 0;
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      *help = true;
    } else if (arg == "--pipe") {
      if (!value(&text)) return false;
      options->host.pipeName = Wide(text);
    } else if (arg == "--no-pipe") {
      options->host.pipe = false;
    } else if (arg == "--port6" || arg == "--port4") {
      if (!number(65535, &n)) return false;
      (arg == "--port6" ? options->host.port6 : options->host.port4) = static_cast<uint16_t>(n);
    } else if (arg == "--no-tcp6") {
      options->host.tcp6 = false;
    } else if (arg == "--no-tcp4") {
      options->host.tcp4 = false;
    } else if (arg == "--no-tcp") {
      options->host.tcp6 = options->host.tcp4 = false;
    } else if (arg == "--no-registry") {
      options->host.writeRegistry = false;
    } else if (arg == "--aircraft") {
      if (!value(&text)) return false;
      if (!simhost::LoadAircraftArgument(text, &options->host.aircraft, error)) return false;
      options->host.haveAircraft = true;
    } else if (arg == "--addon") {
      if (!value(&text)) return false;
      options->host.addonPath = Wide(text);
    } else if (arg == "--no-window") {
      noWindow = true;
    } else if (arg == "--script") {
      if (!value(&options->scriptPath)) return false;
    } else if (arg == "--no-stdin") {
      options->readStdin = false;
    } else if (arg == "--frame-rate") {
      if (!number(1000, &n)) return false;
      if (n == 0) {
        *error = "--frame-rate must be at least 1";
        return false;
      }
      options->host.frameRate = static_cast<uint32_t>(n);
    } else if (arg == "--manual-clock") {
      options->host.manualClock = true;
    } else if (arg == "--quit-grace") {
      if (!number(600000, &n)) return false;
      options->host.quitGraceMs = static_cast<DWORD>(n);
    } else if (arg == "--generate") {
      if (!number(simhost::kMaxVariables, &options->generateCount)) return false;
      options->generate = true;
    } else if (arg == "--seed") {
      if (!number(~0ULL, &options->seed)) return false;
    } else if (arg == "--mjc") {
      options->generateMjc = true;
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  // The window offers the in-process channel to clients of this process: the
  // hosted add-on is the one that can use it.
  options->host.window = !options->host.addonPath.empty() && !noWindow;
  if (!options->host.pipe && !options->host.tcp6 && !options->host.tcp4) {
    *error = "no pipe and no TCP listener: no client could connect";
    return false;
  }
  return true;
}

void ReportFailure(simhost::SimHost& host, const std::string& where, const std::string& error) {
  host.Log().Line(where + error);
}

// Runs the script's lines; returns kExitScriptFailed at the first failing
// command, kExitOk at its end or at "stop".
int RunScript(simhost::SimHost& host, CommandRunner& runner, const std::string& path) {
  std::ifstream file(path);
  if (!file) {
    ReportFailure(host, "", "cannot open the script " + path);
    return kExitScriptFailed;
  }
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) return kExitOk;
    std::string error;
    CommandRunner::Result result = runner.Run(line, &error);
    if (result == CommandRunner::kStop) return kExitOk;
    if (result == CommandRunner::kFailed) {
      ReportFailure(host, path + ":" + std::to_string(number) + ": ", error);
      return kExitScriptFailed;
    }
  }
  host.Log().Line("end of script " + path);
  return kExitOk;
}

// Runs the lines typed on standard input. "stop" ends the program; so does
// the end of the input when `endStops` (no script is running, whose end
// decides instead: a script started with no input at all must still run).
void ReadStandardInput(simhost::SimHost& host, CommandRunner& runner, bool endStops) {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::string error;
    CommandRunner::Result result = runner.Run(line, &error);
    if (result == CommandRunner::kStop) {
      SetEvent(stopEvent);
      return;
    }
    if (result == CommandRunner::kFailed) ReportFailure(host, "", error);
  }
  if (endStops) SetEvent(stopEvent);
}

}  // namespace

int main(int argc, char** argv) {
  ProgramOptions options;
  bool help = false;
  std::string error;
  if (!ParseArguments(argc, argv, &options, &help, &error)) {
    std::fprintf(stderr, "simhost: %s\n%s", error.c_str(), kUsage);
    return kExitStartFailed;
  }
  if (help) {
    std::fputs(kUsage, stdout);
    std::fputs("\n", stdout);
    std::fputs(simhost::CommandHelp(), stdout);
    return kExitOk;
  }
  if (options.generate) {
    simhost::AircraftDescription description = simhost::GenerateAircraft(static_cast<size_t>(options.generateCount), options.seed,
                                                           options.generateMjc);
    std::fputs(simhost::FormatAircraft(description).c_str(), stdout);
    return kExitOk;
  }

  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);

  simhost::SimHost host;
  if (!host.Start(options.host, &error)) {
    std::fprintf(stderr, "simhost: %s\n", error.c_str());
    return kExitStartFailed;
  }
  CommandRunner runner(host, stopEvent);
  if (options.readStdin) {
    // Not joined: a read blocked on the console cannot be cancelled; the
    // process ends with it.
    bool endStops = options.scriptPath.empty();
    std::thread([&host, &runner, endStops] { ReadStandardInput(host, runner, endStops); }).detach();
  }
  int exitCode = kExitOk;
  if (!options.scriptPath.empty()) {
    exitCode = RunScript(host, runner, options.scriptPath);
    SetEvent(stopEvent);
  }
  WaitForSingleObject(stopEvent, INFINITE);
  host.Stop();
  std::fflush(stdout);
  // Leave without running the destructors of objects the stdin thread may
  // still use.
  std::_Exit(exitCode);
}
