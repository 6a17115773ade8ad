#include "fault_cycle.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>

#include "bridge/raw_simulator.h"
#include "hosted_bridge.h"
#include "lvar/records.h"
#include "panel_services.h"
#include "process_stats.h"
#include "support/config_env.h"
#include "support/test_env.h"

namespace faults {

size_t ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  size_t count = 0;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == self) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

Resources TakeResources() {
  Resources resources;
  resources.handles = process_stats::OpenHandleValues();
  resources.threads = ThreadCount();
  return resources;
}

void ExpectNothingLeft(const Resources& before, size_t slack, const char* when) {
  // Threads that have been told to end (the worker, connection threads,
  // idle pool threads) may still be on their way out.
  WaitUntil([&] { return ThreadCount() <= before.threads + slack; }, 5000);
  Resources now = TakeResources();
  EXPECT_LE(now.threads, before.threads + slack) << when << ": threads " << before.threads << " -> " << now.threads;
  if (now.handles.size() > before.handles.size() + slack) {
    std::ostringstream kinds;
    for (const auto& kind : process_stats::DescribeNewHandles(before.handles, now.handles)) kinds << "\n  " << kind.second << " x " << kind.first;
    ADD_FAILURE() << when << ": handles " << before.handles.size() << " -> " << now.handles.size()
                  << "; new ones:" << kinds.str();
  }
}

bool WorkerRunning() {
  HANDLE end = OpenEventA(SYNCHRONIZE, FALSE, "TAVO.quin.Bridge.End");
  if (end == nullptr) return false;
  bool running = WaitForSingleObject(end, 0) == WAIT_TIMEOUT;
  CloseHandle(end);
  return running;
}

bool BridgeEventsGone() {
  for (const char* name : {"TAVO.quin.Bridge.Stop", "TAVO.quin.Bridge.Process", "TAVO.quin.Bridge.End"}) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name);
    if (event != nullptr) {
      CloseHandle(event);
      return false;
    }
  }
  return true;
}

simhost::AircraftDescription RampAircraft(const std::string& title, const std::string& prefix, size_t count,
                                          double periodS) {
  simhost::AircraftDescription aircraft;
  aircraft.title = title;
  for (size_t i = 0; i < count; ++i) {
    simhost::Motion ramp;
    ramp.kind = simhost::MotionKind::kRamp;
    ramp.from = 0.0;
    ramp.to = 1000.0;
    ramp.period = periodS;
    aircraft.variables.push_back({prefix + std::to_string(i), ramp});
  }
  return aircraft;
}

namespace {

// Loads the built module as the simulator does, with `panels` as its panel
// table, and calls DLLStart; `startedAt` is the time the log began.
bool LoadAndStart(std::unique_ptr<simhost::AddonHost>& addon, const uint64_t* panels, simhost::HostLog& log,
                  std::time_t* startedAt) {
  *startedAt = std::time(nullptr);
  addon.reset(new simhost::AddonHost());
  std::string error;
  if (!addon->Load(e2e::BridgeModulePath(), panels, log, &error)) {
    ADD_FAILURE() << error;
    return false;
  }
  addon->Start();
  return true;
}

// DLLStop and FreeLibrary; the milliseconds they took.
DWORD StopAndUnload(std::unique_ptr<simhost::AddonHost>& addon) {
  if (addon == nullptr) return 0;
  const DWORD start = GetTickCount();
  addon->Stop();
  const DWORD took = GetTickCount() - start;
  addon.reset();
  return took;
}

}  // namespace

// ---- ServedModule ------------------------------------------------------------

ServedModule::~ServedModule() {
  StopModule();
  StopServer();
}

simhost::SimHostOptions ServedModule::Options(const simhost::AircraftDescription& aircraft, bool manualClock,
                                              size_t maxPendingBytes) {
  simhost::SimHostOptions options;
  options.pipeName = simhost::kDefaultPipeName;  // the module opens no other
  options.tcp6 = false;
  options.tcp4 = false;
  options.manualClock = manualClock;
  options.haveAircraft = true;
  options.aircraft = aircraft;
  options.logSink = console_.Sink();
  options.quitGraceMs = 2000;
  options.maxPendingBytes = maxPendingBytes;
  return options;
}

bool ServedModule::Start(const simhost::AircraftDescription& aircraft, bool manualClock, size_t maxPendingBytes) {
  host_.reset(new simhost::SimHost());
  std::string error;
  if (!host_->Start(Options(aircraft, manualClock, maxPendingBytes), &error)) {
    ADD_FAILURE() << "simhost: " << error;
    return false;
  }
  if (!LoadAndStart(addon_, host_->PanelTable(), addonLog_, &startedAt_)) return false;
  bool ready = WaitUntil(
      [this] {
        if (BridgeSession() == nullptr) return false;
        for (const auto& area : host_->Core().ClientData().Areas()) {
          if (area.name == records::kHostRequestAreaName) return area.subscriptions > 0;
        }
        return false;
      },
      20000);
  EXPECT_TRUE(ready) << "the module did not subscribe to the host-request area";
  return ready;
}

std::shared_ptr<simhost::Session> ServedModule::BridgeSession() {
  if (host_ == nullptr) return nullptr;
  for (const auto& session : host_->Core().Sessions()) {
    if (session->Opened() && session->Name() == e2e::kBridgeClientName) return session;
  }
  return nullptr;
}

void ServedModule::Kill() {
  for (const auto& session : host_->Core().Sessions()) host_->Disconnect(session->Number());
  EXPECT_TRUE(WaitUntil([this] { return host_->ConnectionCount() == 0; }, 5000));
  host_->Stop();  // no client is left to receive the quit message
}

bool ServedModule::Restart(const simhost::AircraftDescription& aircraft) {
  host_.reset(new simhost::SimHost());
  std::string error;
  bool started = host_->Start(Options(aircraft, true, simhost::Outbox::kDefaultMaxPendingBytes), &error);
  EXPECT_TRUE(started) << "simhost: " << error;
  return started;
}

DWORD ServedModule::StopModule() { return StopAndUnload(addon_); }

void ServedModule::StopServer() {
  if (host_ != nullptr) host_->Stop();
  host_.reset();
}

// ---- RawServedModule -----------------------------------------------------------

RawServedModule::RawServedModule(const simhost::AircraftDescription& aircraft) {
  aircraftHost_.Load(aircraft);
  panelTable_ = simhost::InstallPanelServices(&aircraftHost_);
}

RawServedModule::~RawServedModule() {
  StopModule();
  server_.reset();
  simhost::InstallPanelServices(nullptr);
}

bool RawServedModule::Start() {
  using namespace raw_simulator;
  server_ = RawServer::ListenPipe(kDefaultPipe);
  if (server_ == nullptr) {
    ADD_FAILURE() << "cannot create the simulator's pipe";
    return false;
  }
  if (!LoadAndStart(addon_, panelTable_, addonLog_, &startedAt_)) return false;
  AcceptAndOpen(*server_);
  if (::testing::Test::HasFatalFailure()) return false;
  size_t setUp = Requests(*server_, kSetupRequestCount).size();
  EXPECT_EQ(setUp, kSetupRequestCount);
  return setUp == kSetupRequestCount;
}

DWORD RawServedModule::StopModule() { return StopAndUnload(addon_); }

// ---- PanelHostedModule ------------------------------------------------------------

PanelHostedModule::PanelHostedModule(const simhost::AircraftDescription& aircraft) {
  aircraftHost_.Load(aircraft);
  panelTable_ = simhost::InstallPanelServices(&aircraftHost_);
}

PanelHostedModule::~PanelHostedModule() {
  StopModule();
  {
    std::lock_guard<std::mutex> guard(framesLock_);
    stopFrames_ = true;
  }
  framesStop_.notify_all();
  if (frames_.joinable()) frames_.join();
  simhost::InstallPanelServices(nullptr);
}

void PanelHostedModule::RunFrames() {
  const auto period = std::chrono::milliseconds(1000 / clock_.FrameRate());
  std::unique_lock<std::mutex> guard(framesLock_);
  while (!framesStop_.wait_for(guard, period, [this] { return stopFrames_; })) clock_.Advance();
}

bool PanelHostedModule::Start() {
  frames_ = std::thread([this] { RunFrames(); });
  return LoadAndStart(addon_, panelTable_, addonLog_, &startedAt_);
}

DWORD PanelHostedModule::StopModule() { return StopAndUnload(addon_); }

// ---- SimhostProcess -----------------------------------------------------------------

namespace {

// simhost.exe's Windows path: its build path on drive Z:, as Wine maps it.
std::wstring SimhostPath() {
  const std::string unixPath = TVO_SIMHOST_EXE;
  std::wstring path = L"Z:";
  for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return path;
}

}  // namespace

SimhostProcess::~SimhostProcess() {
  if (process_ == nullptr) return;
  if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) Kill(99);
  CloseHandle(process_);
}

bool SimhostProcess::Start(const std::wstring& arguments, const std::wstring& outputPath) {
  outputPath_ = outputPath;
  // Only these two handles are made inheritable; the test's own handles are not.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) return false;
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             nullptr);
  process_ = StartChild(SimhostPath(), arguments, input, output, output);
  CloseHandle(output);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  return process_ != nullptr;
}

std::string SimhostProcess::Output() const {
  std::string text;
  ReadWholeFile(outputPath_, &text);
  return text;
}

bool SimhostProcess::WaitForOutput(const std::string& part, DWORD timeoutMs) const {
  return WaitUntil([&] { return Output().find(part) != std::string::npos; }, timeoutMs);
}

bool SimhostProcess::Kill(UINT exitCode, DWORD timeoutMs) {
  if (process_ == nullptr) return false;
  TerminateProcess(process_, exitCode);
  return WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD SimhostProcess::ExitCode() const {
  DWORD code = 0;
  if (process_ == nullptr || !GetExitCodeProcess(process_, &code)) return 0;
  return code;
}

bool WaitForPipe(const wchar_t* path, DWORD timeoutMs) {
  // WaitNamedPipeW fails at once while no pipe of that name exists and
  // returns as soon as an instance is listening.
  return WaitUntil([path] { return WaitNamedPipeW(path, 50) != FALSE; }, timeoutMs);
}

// ---- The bridge's log ------------------------------------------------------------

e2e::Lines LogSoFar() {
  const std::string bytes = e2e::BridgeLogBytes();
  const size_t kTimestamp = 20;  // "dd:mm:yyyy hh:mm:ss "
  e2e::Lines lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
    if (end - start >= kTimestamp) lines.push_back(bytes.substr(start + kTimestamp, end - start - kTimestamp));
  }
  return lines;
}

size_t PublishedByUpdate(const e2e::Lines& lines) {
  const std::string prefix = "LVARHandler::Update::";
  size_t sum = 0;
  for (const std::string& line : lines) {
    if (line.compare(0, prefix.size(), prefix) == 0) sum += std::strtoul(line.c_str() + prefix.size(), nullptr, 10);
  }
  return sum;
}

size_t CountStartingWith(const e2e::Lines& lines, const std::string& prefix) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.compare(0, prefix.size(), prefix) == 0;
  }));
}

namespace {

void ExpectNoException(const e2e::Lines& lines) {
  for (const std::string& line : lines) EXPECT_EQ(line.find("Excpetion"), std::string::npos) << line;
}

}  // namespace

void ExpectEndedByStop(const e2e::Lines& lines) {
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(e2e::Slice(lines, lines.size() - 3, lines.size()),
            (e2e::Lines{"DLLSTOP", "SimConnect: SimConnect_Close ==> SUCCESS (SendID = -1)", "DLLSTOP DONE"}));
  EXPECT_EQ(e2e::IndexOf(lines, "Received QUIT Signal!"), -1);
  EXPECT_EQ(e2e::CountOf(lines, "DLLSTART 1.0.0.21"), 1u);
  ExpectNoException(lines);
}

void ExpectEndedByQuit(const e2e::Lines& lines) {
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(e2e::Slice(lines, lines.size() - 4, lines.size()),
            (e2e::Lines{"Received QUIT Signal!", "SimConnect: SimConnect_Close ==> SUCCESS (SendID = -1)", "DLLSTOP",
                        "DLLSTOP DONE"}));
  EXPECT_EQ(e2e::CountOf(lines, "Received QUIT Signal!"), 1u);
  ExpectNoException(lines);
}

e2e::Lines QuitAndStop(ServedModule& module) {
  module.SendQuit();
  EXPECT_TRUE(e2e::WaitForLogMessage("Received QUIT Signal!"));
  EXPECT_TRUE(WaitUntil([] { return !WorkerRunning(); }, 5000));
  EXPECT_LT(module.StopModule(), kStopBoundMs);
  EXPECT_TRUE(BridgeEventsGone());
  module.StopServer();
  const e2e::Lines lines = e2e::BridgeLogMessages(module.StartedAt());
  ExpectEndedByQuit(lines);
  return lines;
}

}  // namespace faults
