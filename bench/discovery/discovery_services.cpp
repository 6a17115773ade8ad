#include "discovery_services.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include "lvar/bridge_services.h"
#include "simconnect/SimConnect.h"

extern "C" {
void* Panels = nullptr;
}

namespace {

FILE* logFile = nullptr;

}  // namespace

namespace bench {

bool OpenDiscoveryLog() {
  char folder[MAX_PATH];
  DWORD n = GetTempPathA(MAX_PATH, folder);
  if (n == 0 || n >= MAX_PATH) return false;
  logFile = std::fopen((std::string(folder) + "tvo_bench_discovery.log").c_str(), "w");
  return logFile != nullptr;
}

void CloseDiscoveryLog() {
  if (logFile != nullptr) std::fclose(logFile);
  logFile = nullptr;
}

}  // namespace bench

void LogMessage(const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (logFile == nullptr) return;
  char stamp[64];
  std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%d:%m:%Y %H:%M:%S", std::localtime(&now));
  std::fprintf(logFile, "%s %s\n", stamp, message);
  std::fflush(logFile);
}

bool CheckResult(const char* label, HRESULT result) {
  uint32_t sendId = 0;
  int shown = SimConnect_GetLastSentPacketID(SimConnectHandle(), &sendId) == S_OK ? static_cast<int>(sendId) : -1;
  if (result == S_OK) {
    LogMessage("SimConnect: %s ==> SUCCESS (SendID = %d)", label, shown);
    return true;
  }
  LogMessage("SimConnect: %s (%08x) (SendID = %d) ==> FAILED", label, static_cast<unsigned>(result), shown);
  LogMessage("gnDisplay %ld", static_cast<long>(result));
  return false;
}

HANDLE SimConnectHandle() { return nullptr; }
bool StopRequested(bool) { return false; }
uint32_t CurrentTick() { return GetTickCount(); }
