// Test definitions of what bridge_services.h declares, and of Panels.
#include "lvar_test_env.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "lvar/bridge_services.h"
#include "simconnect/SimConnect.h"

extern "C" {
void* Panels = nullptr;
}

namespace {

std::vector<std::string> logLines;
std::atomic<uint32_t> tick{0};
HANDLE handle = nullptr;
HANDLE stopEvent = nullptr;
std::atomic<bool> stopFlag{false};

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

void LogMessage(const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  logLines.emplace_back(n < 0 ? "" : message);
}

// The module's report of a call result, line for line.
bool CheckResult(const char* label, HRESULT result) {
  uint32_t sendId = 0;
  int shownId = SimConnect_GetLastSentPacketID(SimConnectHandle(), &sendId) == S_OK ? static_cast<int>(sendId) : -1;
  if (result == S_OK) {
    LogMessage("SimConnect: %s ==> SUCCESS (SendID = %d)", label, shownId);
    return true;
  }
  LogMessage("SimConnect: %s (%08x) (SendID = %d) ==> FAILED", label, static_cast<unsigned>(result), shownId);
  LogMessage("gnDisplay %ld", static_cast<long>(result));
  return false;
}

HANDLE SimConnectHandle() { return handle; }
bool StopRequested(bool testEvent) {
  if (stopFlag.load()) return true;
  return testEvent && stopEvent != nullptr && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0;
}
uint32_t CurrentTick() { return tick.load(); }

namespace lvar_test {

const std::vector<std::string>& LogLines() { return logLines; }
void ClearLog() { logLines.clear(); }

std::vector<std::string> HandlerLines() {
  std::vector<std::string> lines;
  for (const auto& line : logLines) {
    if (!StartsWith(line, "SimConnect: ") && !StartsWith(line, "gnDisplay ")) lines.push_back(line);
  }
  return lines;
}

bool Logged(const std::string& line) {
  for (const auto& l : logLines) {
    if (l == line) return true;
  }
  return false;
}

void SetTick(uint32_t value) { tick.store(value); }
void AdvanceTick(uint32_t ms) { tick.fetch_add(ms); }
uint32_t Tick() { return tick.load(); }
void SetHandle(HANDLE value) { handle = value; }
void SetStopEvent(HANDLE event) { stopEvent = event; }
void SetStopFlag(bool raised) { stopFlag.store(raised); }

}  // namespace lvar_test
