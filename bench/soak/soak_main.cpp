// soak: the bridge module under a seeded storm of events for a given time,
// its invariants checked as it runs.
//   soak [--minutes N | --seconds N] [--seed S] [--restart-every SECONDS] [--strict] [--dll PATH]
// Faults of the module that the soak recognizes are printed as findings;
// --strict counts them as failures. Exit status: 0 when every invariant held,
// 1 otherwise, 2 for a wrong command line.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "soak_run.h"

namespace {

soak::Soak* running = nullptr;
// With no event finished for this long, the soak is hanging.
constexpr DWORD kHangMs = 180000;

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
  if (running != nullptr) {
    const soak::Failures& failures = running->FailureRecord();
    std::printf("FAIL seed %u after event %s: the host process crashed (exception %08lx at %p)\n", failures.Seed(),
                failures.LastEvent().c_str(), static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                info->ExceptionRecord->ExceptionAddress);
    std::fflush(stdout);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

void Watchdog() {
  for (;;) {
    Sleep(5000);
    if (GetTickCount() - running->LastProgressTick() > kHangMs) {
      const soak::Failures& failures = running->FailureRecord();
      std::printf("FAIL seed %u after event %s: no progress for %lu s\n", failures.Seed(),
                  failures.LastEvent().c_str(), static_cast<unsigned long>(kHangMs / 1000));
      std::fflush(stdout);
      TerminateProcess(GetCurrentProcess(), 1);
    }
  }
}

bool ParseNumber(const char* text, uint32_t* out) {
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0') return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  soak::SoakOptions options;
  const std::string dll = TVO_BRIDGE_DLL;
  options.addonPath.assign(dll.begin(), dll.end());
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    uint32_t value = 0;
    if (arg == "--minutes" && hasValue && ParseNumber(argv[++i], &value)) {
      options.seconds = value * 60;
    } else if (arg == "--seconds" && hasValue && ParseNumber(argv[++i], &value)) {
      options.seconds = value;
    } else if (arg == "--seed" && hasValue && ParseNumber(argv[++i], &value)) {
      options.seed = value;
    } else if (arg == "--restart-every" && hasValue && ParseNumber(argv[++i], &value) && value > 0) {
      options.restartEverySeconds = value;
    } else if (arg == "--strict") {
      options.strict = true;
    } else if (arg == "--dll" && hasValue) {
      const std::string path = argv[++i];
      options.addonPath.assign(path.begin(), path.end());
    } else {
      std::fprintf(stderr, "usage: soak [--minutes N | --seconds N] [--seed S] [--restart-every SECONDS] [--strict]"
                           " [--dll PATH]\n");
      return 2;
    }
  }
  static soak::Soak soak(options);
  running = &soak;
  SetUnhandledExceptionFilter(OnCrash);
  std::thread(Watchdog).detach();
  return soak.Run();
}
