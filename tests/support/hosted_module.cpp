#include "hosted_module.h"

#include <tlhelp32.h>

#include <sstream>

#include "bytes.h"
#include "lvar/records.h"
#include "panel_services.h"
#include "paths.h"
#include "process_stats.h"
#include "wait_until.h"

namespace {

constexpr wchar_t kSimulatorPipe[] = L"\\\\.\\pipe\\Lockheed Martin Prepar3D v6\\SimConnect";
// Requests of the module's set-up after its open: the menu and title (6) and
// the handler's client-data areas (17), the last one the subscription.
constexpr size_t kSetupRequests = 23;

size_t ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  size_t count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

bool NamedEventExists(const char* name) {
  HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name);
  if (event == nullptr) return false;
  CloseHandle(event);
  return true;
}

}  // namespace

std::wstring BridgeModulePath() { return WindowsPath(TVO_BRIDGE_DLL); }

// ---- HostedModule ------------------------------------------------------------------

HostedModule::~HostedModule() {
  if (started_) Stop();
  if (worker_ != nullptr) WaitForWorker();
  Unload();
}

bool HostedModule::Load() {
  module_ = LoadLibraryW(BridgeModulePath().c_str());
  if (module_ != nullptr) {
    dllStart_ = reinterpret_cast<int64_t (*)()>(reinterpret_cast<void*>(GetProcAddress(module_, "DLLStart")));
    dllStop_ = reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(module_, "DLLStop")));
    panels_ = reinterpret_cast<void**>(GetProcAddress(module_, "Panels"));
  }
  const bool loaded = dllStart_ != nullptr && dllStop_ != nullptr && panels_ != nullptr;
  EXPECT_TRUE(loaded) << "cannot load the module or find its exports";
  return loaded;
}

void HostedModule::SetPanels(const void* table) { *panels_ = const_cast<void*>(table); }

int64_t HostedModule::Start() {
  startedAt_ = std::time(nullptr);
  const int64_t result = dllStart_();
  if (result != 0 && result != 0xBAADF00D) {
    if (worker_ != nullptr) CloseHandle(worker_);
    worker_ = nullptr;
    DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(result), GetCurrentProcess(), &worker_, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    started_ = true;
  }
  return result;
}

DWORD HostedModule::Stop() {
  const DWORD start = GetTickCount();
  dllStop_();
  started_ = false;
  return GetTickCount() - start;
}

void HostedModule::Unload() {
  if (module_ != nullptr) FreeLibrary(module_);
  module_ = nullptr;
  if (worker_ != nullptr && WaitForSingleObject(worker_, 0) == WAIT_OBJECT_0) {
    CloseHandle(worker_);
    worker_ = nullptr;
  }
}

int HostedModule::WaitForWorker(DWORD timeoutMs) {
  if (worker_ == nullptr || WaitForSingleObject(worker_, timeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeThread(worker_, &code);
  return static_cast<int>(code);
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

// ---- ServedModule --------------------------------------------------------------------

ServedModule::~ServedModule() {
  StopModule();
  StopServer();
  if (stopFrames_ != nullptr) {
    SetEvent(stopFrames_);
    if (frames_.joinable()) frames_.join();
    CloseHandle(stopFrames_);
  }
  if (aircraft_ != nullptr) simhost::InstallPanelServices(nullptr);
}

bool ServedModule::StartSimhost() {
  simhost::SimHostOptions options;
  options.pipeName = simhost::kDefaultPipeName;  // the module opens no other
  options.tcp6 = options_.tcp;
  options.tcp4 = options_.tcp;
  options.manualClock = !options_.runFrames;
  options.haveAircraft = true;
  options.aircraft = options_.aircraft;
  options.window = options_.window;
  options.logSink = console_.Sink();
  options.quitGraceMs = 2000;
  options.maxPendingBytes = options_.maxPendingBytes;
  host_.reset(new simhost::SimHost());
  std::string error;
  const bool started = host_->Start(options, &error);
  EXPECT_TRUE(started) << "simhost: " << error;
  return started;
}

bool ServedModule::Start(const ServedOptions& options) {
  options_ = options;
  const void* table = nullptr;
  if (options.server == ServedOptions::Server::kSimhost) {
    if (!StartSimhost()) return false;
    table = host_->PanelTable();
  } else {
    clock_.reset(new simhost::SimClock());
    aircraft_.reset(new simhost::AircraftHost(*clock_));
    aircraft_->Load(options.aircraft);
    table = simhost::InstallPanelServices(aircraft_.get());
    if (options.runFrames) {
      stopFrames_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      frames_ = std::thread([this] {
        while (WaitForSingleObject(stopFrames_, 1000 / clock_->FrameRate()) == WAIT_TIMEOUT) clock_->Advance();
      });
    }
  }
  if (options.server == ServedOptions::Server::kRaw) {
    raw_ = RawServer::ListenPipe(kSimulatorPipe);
    if (raw_ == nullptr) {
      ADD_FAILURE() << "cannot create the simulator's pipe";
      return false;
    }
  }
  if (!module_.Load()) return false;
  module_.SetPanels(table);
  if (module_.Start() == 0) {
    ADD_FAILURE() << "DLLStart started no worker";
    return false;
  }
  return WaitUntilReady();
}

bool ServedModule::WaitUntilReady() {
  bool ready = false;
  switch (options_.server) {
    case ServedOptions::Server::kSimhost:
      ready = WaitUntil(
          [this] {
            if (BridgeSession() == nullptr) return false;
            for (const auto& area : host_->Core().ClientData().Areas()) {
              if (area.name == records::kHostRequestAreaName) return area.subscriptions > 0;
            }
            return false;
          },
          20000);
      break;
    case ServedOptions::Server::kRaw: {
      // The open, answered; then the set-up requests, the subscription last.
      std::vector<uint8_t> open;
      if (raw_->Accept() && (open = raw_->ReadMessage()).size() == 296) {
        if (!options_.rawSetUp) {
          ready = true;
          break;
        }
        size_t setUp = 0;
        if (raw_->Write(MakeReceived(2, 308))) {
          while (setUp < kSetupRequests && !raw_->ReadMessage().empty()) ++setUp;
        }
        ready = setUp == kSetupRequests;
      }
      break;
    }
    case ServedOptions::Server::kOutside:
      ready = module_log::WaitFor(module_log::Succeeded("RequestClientData TAVO_SC_DYN_HOSTRESQUEST_ID", 24), 1,
                                  20000);
      break;
  }
  EXPECT_TRUE(ready) << "the module did not subscribe to the host-request area";
  return ready;
}

simhost::AircraftHost& ServedModule::Aircraft() { return host_ != nullptr ? host_->Aircraft() : *aircraft_; }
simhost::SimClock& ServedModule::Clock() { return host_ != nullptr ? host_->Clock() : *clock_; }

std::shared_ptr<simhost::Session> ServedModule::BridgeSession() {
  if (host_ == nullptr) return nullptr;
  for (const auto& session : host_->Core().Sessions()) {
    if (session->Opened() && session->Name() == kBridgeClientName) return session;
  }
  return nullptr;
}

bool ServedModule::Choose(const std::string& item, const std::string& expectedText) {
  auto session = BridgeSession();
  if (session == nullptr) return false;
  const std::string textLine = "text from " + session->Label() + " (type 5 scrolling yellow, 30.0 s): " + expectedText;
  auto count = [&] {
    const std::vector<std::string> lines = console_.Lines();
    return std::count(lines.begin(), lines.end(), textLine);
  };
  const auto before = count();
  if (!host_->Core().ChooseMenuItem(item)) {
    ADD_FAILURE() << "no menu item " << item;
    return false;
  }
  const bool shown = WaitUntil([&] { return count() > before; }, 5000);
  EXPECT_TRUE(shown) << "simhost did not show: " << textLine;
  return shown;
}

module_log::Lines ServedModule::QuitAndStop() {
  host_->Core().SendQuitToAll();
  EXPECT_TRUE(module_log::WaitFor("Received QUIT Signal!"));
  EXPECT_TRUE(WaitUntil([] { return !WorkerRunning(); }, 5000));
  EXPECT_LT(StopModule(), kStopBoundMs);
  EXPECT_TRUE(BridgeEventsGone());
  StopServer();
  const module_log::Lines lines = module_log::Messages(module_.StartedAt());
  module_log::ExpectEndedByQuit(lines);
  return lines;
}

DWORD ServedModule::StopModule() {
  if (module_.Handle() == nullptr) return 0;
  const DWORD start = GetTickCount();
  module_.Stop();
  module_.Unload();
  return GetTickCount() - start;
}

void ServedModule::KillServer() {
  for (const auto& session : host_->Core().Sessions()) host_->Disconnect(session->Number());
  EXPECT_TRUE(WaitUntil([this] { return host_->ConnectionCount() == 0; }, 5000));
  host_->Stop();  // no client is left to receive the quit message
}

bool ServedModule::RestartServer() { return StartSimhost(); }

void ServedModule::StopServer() {
  if (host_ != nullptr) host_->Stop();
  host_.reset();
  raw_.reset();
}

// ---- What a cycle leaves behind ----------------------------------------------------

Resources TakeResources() {
  Resources resources;
  resources.handles = process_stats::OpenHandleValues();
  resources.threads = ThreadCount();
  return resources;
}

void ExpectNothingLeft(const Resources& before, size_t slack, const char* when) {
  WaitUntil([&] { return ThreadCount() <= before.threads + slack; }, 5000);
  const Resources now = TakeResources();
  EXPECT_LE(now.threads, before.threads + slack) << when << ": threads " << before.threads << " -> " << now.threads;
  if (now.handles.size() > before.handles.size() + slack) {
    std::ostringstream kinds;
    for (const auto& kind : process_stats::DescribeNewHandles(before.handles, now.handles)) {
      kinds << "\n  " << kind.second << " x " << kind.first;
    }
    ADD_FAILURE() << when << ": handles " << before.handles.size() << " -> " << now.handles.size()
                  << "; new ones:" << kinds.str();
  }
}

bool WorkerRunning() {
  HANDLE end = OpenEventA(SYNCHRONIZE, FALSE, "TAVO.quin.Bridge.End");
  if (end == nullptr) return false;
  const bool running = WaitForSingleObject(end, 0) == WAIT_TIMEOUT;
  CloseHandle(end);
  return running;
}

bool BridgeEventsGone() {
  for (const char* name : {"TAVO.quin.Bridge.Stop", "TAVO.quin.Bridge.Process", "TAVO.quin.Bridge.End"}) {
    if (NamedEventExists(name)) return false;
  }
  return true;
}
