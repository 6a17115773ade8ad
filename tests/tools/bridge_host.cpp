// simhost with the real bridge for the bridgectl tests.
#include "bridge_host.h"

#include <shlobj.h>

#include "aircraft_file.h"
#include "support/config_env.h"

simhost::AircraftDescription FastAircraft(const std::string& title, const std::string& more) {
  simhost::AircraftDescription aircraft;
  std::string error;
  const std::string text = "title " + title +
                           "\n"
                           "var CONST_A 5\n"
                           "var RAMP_FAST ramp 0 1000 2\n"
                           "var TOGGLE_FAST toggle 0 1 0.2\n"
                           "var SINE_SLOW sine 50 10 20\n" +
                           more;
  if (!simhost::ParseAircraft(text, &aircraft, &error)) aircraft.title = "PARSE ERROR: " + error;
  return aircraft;
}

bool BridgeHost::Start(const simhost::AircraftDescription& aircraft, bool addon) {
  simhost::SimHostOptions options;
  options.pipeName = simhost::kDefaultPipeName;
  options.writeRegistry = false;
  options.haveAircraft = true;
  options.aircraft = aircraft;
  options.logSink = console_.Sink();
  options.quitGraceMs = 2000;
  if (addon) {
    std::string unixPath = TVO_BRIDGE_DLL;
    std::wstring path = L"Z:";
    for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    options.addonPath = path;
  }
  host_ = std::make_unique<simhost::SimHost>();
  std::string error;
  if (!host_->Start(options, &error)) return false;
  // The bridge creates the host-event area last, then subscribes to requests.
  return !addon || console_.WaitForLine("client data \"TAVO_SC_DYN_HOSTEVENT_ID\"", 15000);
}

void BridgeHost::Stop() {
  if (host_ != nullptr) host_->Stop();
  host_.reset();
}

namespace {

// The bridge's log, as far as it is written.
std::string ReadLog() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, folder))) return std::string();
  std::string text;
  ReadWholeFile(std::wstring(folder) + L"\\TAVO.quin\\logs\\TVOBridge.log", &text);
  return text;
}

}  // namespace

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> BridgeLogMessages() {
  std::vector<std::string> messages;
  // "dd:mm:yyyy hh:mm:ss " before each message.
  constexpr size_t kStampLength = 20;
  for (const std::string& line : SplitLines(ReadLog())) {
    messages.push_back(line.size() >= kStampLength ? line.substr(kStampLength) : line);
  }
  return messages;
}

size_t CountLogLines(const std::string& part) {
  size_t count = 0;
  for (const std::string& message : BridgeLogMessages()) {
    if (message.find(part) != std::string::npos) ++count;
  }
  return count;
}

bool WaitForLogLine(const std::string& part, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (CountLogLines(part) == 0) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(10);
  }
  return true;
}
