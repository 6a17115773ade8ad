#include "hosted_module.h"

#include <tlhelp32.h>

#include <sstream>

#include "bytes.h"
#include "panel_services.h"
#include "process_stats.h"
#include "support/paths.h"
#include "wait_until.h"

namespace {

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
  options.pipeName = endpoints::kDefaultPipeName;  // the module opens no other
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
    raw_ = RawServer::ListenPipe(endpoints::kDefaultPipePath);
    if (raw_ == nullptr) {
      ADD_FAILURE() << "cannot create the simulator's pipe";
      return false;
    }
  }
  std::string error;
  if (!module_.Load(&error)) {
    ADD_FAILURE() << error;
    return false;
  }
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
      ready = WaitUntil([this] { return BridgeReady(*host_); }, 20000);
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

std::shared_ptr<simhost::Session> ServedModule::BridgeSession() {
  return host_ != nullptr ? OpenSessionNamed(*host_, kBridgeClientName) : nullptr;
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

module_log::Lines ServedModule::StopRunning() {
  EXPECT_TRUE(WorkerRunning()) << "the worker ended on its own";
  EXPECT_LT(StopModule(), kStopBoundMs);
  EXPECT_TRUE(BridgeEventsGone());
  const module_log::Lines lines = module_log::Messages(module_.StartedAt());
  module_log::ExpectEndedByStop(lines);
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
  // What GoogleTest makes the first time it reports a failure stays for the
  // process's life: the mutex behind OutputDebugString (Wine's DBWinMutex) and
  // a thread, holding a handle on this one, that watches this thread's
  // thread-local values. Made before the count, they are never a cycle's.
  OutputDebugStringA("");
  { SCOPED_TRACE(""); }
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
