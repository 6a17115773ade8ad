// Bringing the stand-in simulator up and down.
#include "sim_host.h"

#include "aircraft_file.h"
#include "panel_services.h"

namespace simhost {

SimHost::SimHost() = default;

SimHost::~SimHost() { Stop(); }

template <typename Condition>
bool SimHost::WaitFor(Condition condition, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start >= timeoutMs) return condition();
    Sleep(5);
  }
  return true;
}

bool SimHost::Start(const SimHostOptions& options, std::string* error) {
  if (running_) {
    *error = "already running";
    return false;
  }
  log_.reset(new HostLog(options.logSink));
  clock_.reset(new SimClock(options.frameRate));
  aircraft_.reset(new AircraftHost(*clock_));
  aircraft_->Load(options.haveAircraft ? options.aircraft
                                      : RampAircraft("Simhost Built-in Aircraft", "SIMHOST_RAMP_", 3, 10.0));
  core_.reset(new ServerCore(*aircraft_, *log_, *clock_));
  panelTable_ = InstallPanelServices(aircraft_.get());
  quitGraceMs_ = options.quitGraceMs;
  maxPendingBytes_ = options.maxPendingBytes;

  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    *error = "cannot start Winsock";
    return false;
  }
  winsockStarted_ = true;

  pipePath_ = options.pipe ? L"\\\\.\\pipe\\" + options.pipeName : std::wstring();
  ListenerOptions listen;
  listen.pipePath = pipePath_;
  listen.tcp6 = options.tcp6;
  listen.tcp4 = options.tcp4;
  listen.port6 = options.port6;
  listen.port4 = options.port4;
  {
    std::lock_guard<SlimLock> guard(lock_);
    accepting_ = true;
  }
  running_ = true;  // from here on, Stop undoes what was started
  if (options.window) {
    // The window comes before the listeners: a client of this process that
    // connects finds it at once.
    channels_.reset(new ChannelHost(
        *log_, [this](uint32_t number, ChannelCandidate* candidate) { return FindCandidate(number, candidate); },
        pause_));
    if (!channels_->Activate()) {
      *error = "another simhost of this process has the main window";
      Stop();
      return false;
    }
    if (!window_.Start(*channels_, error)) {
      Stop();
      return false;
    }
  }
  if (!listener_.Start(listen, [this](std::unique_ptr<IoChannel> channel, const char* transport) {
        OnClient(std::move(channel), transport);
      }, error)) {
    Stop();
    return false;
  }
  log_->Printf("aircraft \"%s\" (%u variables)", aircraft_->Title().c_str(), static_cast<unsigned>(aircraft_->VariableCount()));
  if (!pipePath_.empty()) log_->Printf("listening on the pipe %s", Narrow(pipePath_).c_str());
  if (options.tcp6) log_->Printf("listening on ::1 port %u", Port6());
  if (options.tcp4) log_->Printf("listening on 127.0.0.1 port %u", Port4());
  if (window_.Running()) log_->Printf("main window \"FS98MAIN\" offers the in-process channel");

  if (options.manualClock) {
    log_->Printf("frames advance by hand (%u frames a simulated second)", clock_->FrameRate());
  } else {
    frameClock_.Start(*core_, [this] { AfterFrame(); });
    log_->Printf("frame clock at %u Hz", clock_->FrameRate());
  }
  if (options.writeRegistry) {
    if (registry_.Write(options.tcp6 ? Port6() : 0, options.tcp4 ? Port4() : 0)) {
      log_->Printf("TCP ports written to the registry");
    } else {
      log_->Printf("cannot write the TCP ports to the registry");
    }
  }
  if (!options.addonPath.empty()) {
    // With the window the add-on lives on its UI thread, as in the simulator;
    // without it, on this thread.
    bool loaded = false;
    window_.Run([&] {
      loaded = addon_.Load(options.addonPath, panelTable_, *log_, error);
      if (loaded) addon_.Start();
    });
    if (!loaded) {
      Stop();
      return false;
    }
  }
  return true;
}

void SimHost::Stop(bool sendQuit) {
  if (!running_) return;
  running_ = false;
  // The simulator shuts down after a stalled frame has ended, once it has
  // handled what came meanwhile: the quit message and DLLStop follow that.
  Sleep(pause_.Remaining());
  if (channels_) channels_->Resume();
  {
    std::lock_guard<SlimLock> guard(lock_);
    accepting_ = false;
  }
  listener_.Stop();
  // The simulation ends before the quit message, so no periodic message
  // follows it.
  frameClock_.Stop();

  if (sendQuit) {
    log_->Printf("shutting down: quit message to %u clients", static_cast<unsigned>(core_->SessionCount()));
    core_->SendQuitToAll();
    auto allDrained = [this] {
      std::lock_guard<SlimLock> guard(lock_);
      for (const auto& connection : connections_) {
        if (!connection->Drained()) return false;
      }
      return true;
    };
    WaitFor(allDrained, quitGraceMs_);
    WaitFor([this] { return ConnectionCount() == 0; }, quitGraceMs_);
  } else {
    log_->Printf("shutting down without a quit message: %u clients connected",
                 static_cast<unsigned>(core_->SessionCount()));
  }

  // The add-on stops on the thread that started it. Before its module goes,
  // no channel may deliver into it and no pump may call it.
  auto endChannels = [this] {
    if (channels_) channels_->EndAll();
  };
  window_.Run([this, &endChannels] { addon_.Stop(endChannels); });
  endChannels();
  window_.Stop();
  if (channels_) channels_->Deactivate();

  std::vector<std::unique_ptr<Connection>> remaining;
  {
    std::lock_guard<SlimLock> guard(lock_);
    remaining.swap(connections_);
  }
  for (auto& connection : remaining) connection->RequestClose();
  remaining.clear();  // each destructor joins its thread

  registry_.Remove();
  InstallPanelServices(nullptr);
  if (winsockStarted_) {
    WSACleanup();
    winsockStarted_ = false;
  }
  log_->Printf("stopped");
}

void SimHost::OnClient(std::unique_ptr<IoChannel> channel, const char* transport) {
  std::lock_guard<SlimLock> guard(lock_);
  if (!accepting_) return;  // shutting down: the channel closes as it goes
  ReapFinished();
  std::unique_ptr<Connection> connection(
      new Connection(std::move(channel), *core_, transport, maxPendingBytes_, pause_));
  connection->Start();
  connections_.push_back(std::move(connection));
}

void SimHost::ReapFinished() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->Finished()) {
      if (channels_) channels_->Forget((*it)->Number());
      it = connections_.erase(it);  // joins the finished thread
    } else {
      ++it;
    }
  }
}

void SimHost::AdvanceFrames(uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    core_->AdvanceFrame();
    AfterFrame();
  }
}

void SimHost::AfterFrame() {
  // A stalled frame runs no pumps; the first frame after it lets the
  // channels go on. The pumps run once per frame on the window's thread.
  if (pause_.Active()) return;
  if (channels_) channels_->Resume();
  window_.OnFrame();
}

bool SimHost::FindCandidate(uint32_t number, ChannelCandidate* candidate) {
  std::lock_guard<SlimLock> guard(lock_);
  for (const auto& connection : connections_) {
    if (connection->Number() == number && !connection->Finished()) {
      candidate->session = connection->SessionRef();
      candidate->route = connection->Route();
      return true;
    }
  }
  return false;
}

void SimHost::ChangeAircraft(const AircraftDescription& description) {
  aircraft_->Load(description);
  log_->Printf("aircraft changed to \"%s\" (%u variables)", aircraft_->Title().c_str(), static_cast<unsigned>(aircraft_->VariableCount()));
}

size_t SimHost::ConnectionCount() {
  std::lock_guard<SlimLock> guard(lock_);
  ReapFinished();
  return connections_.size();
}

bool SimHost::Disconnect(uint32_t number) {
  std::lock_guard<SlimLock> guard(lock_);
  for (const auto& connection : connections_) {
    if (connection->Number() == number && !connection->Finished()) {
      connection->RequestClose();
      return true;
    }
  }
  return false;
}


}  // namespace simhost
