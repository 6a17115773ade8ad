// The soak itself: simhost hosting the built module in this process (on the
// main window's in-process channel, on the pipe only and on TCP, in turn by
// cycle), the applications, the rogue, and the seeded mix of events, with the
// invariants checked as it goes and the figures printed at the end.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "application.h"
#include "event_mix.h"
#include "invariants.h"
#include "log_texts.h"
#include "resource_sampler.h"
#include "sim_host.h"

namespace soak {

constexpr DWORD kConnectTimeoutMs = 15000;
constexpr char kBridgeClientName[] = "TAVO.quin.Bridge";

// The way the module's connection takes in a cycle, in this order by cycle.
// In a TCP cycle simhost has no pipe of the default name, so the module and
// the applications fall through to TCP on the registry's ports; the rogue
// keeps a pipe of another name.
enum class CycleMode { kChannel, kPipe, kTcp, kCount };
constexpr wchar_t kTcpCycleRoguePipe[] = L"TAVO soak rogue";
const char* ModeName(CycleMode mode);  // "channel", "pipe", "tcp"

// A number drawn evenly from [low, high].
template <typename T>
T Between(std::mt19937& random, T low, T high) {
  return std::uniform_int_distribution<T>(low, high)(random);
}

struct SoakOptions {
  uint32_t seconds = 60;
  uint32_t seed = 1;
  uint32_t restartEverySeconds = 20;  // a quit, DLLStop and fresh load this often
  std::wstring addonPath;
  // Private bytes and handles after the warm-up may rise by at most this much
  // a minute (least-squares slopes, see resource_sampler.h). Within a cycle
  // the heap's committed size follows the peaks that bursts and stalls reach,
  // and simhost's name pool keeps every name of the cycle's aircraft: the
  // limit is above that. The slope within cycles is judged only for cycles of
  // at least `shortestJudgedCycleSeconds`: in shorter ones a single step (a
  // takeover's session, a burst's peak) reads as a steep slope.
  double maxPrivateBytesSlope = 5.0 * 1024 * 1024;
  uint32_t shortestJudgedCycleSeconds = 60;
  // Handles are judged across cycles (each cycle's median), and by what a
  // cycle leaves open between two quiet points (its application connected at
  // the start, its checkpoint passed at the end): sessions and rogue
  // connections come and go within a cycle, so the samples there are noise.
  double maxHandlesSlope = 5.0;
  size_t maxHandlesLeftPerCycle = 8;
  bool strict = false;  // the module's known faults (findings) fail the run too
};

class Soak {
 public:
  explicit Soak(const SoakOptions& options);
  // Runs for the given time; 0 when every invariant held.
  int Run();
  // For the crash handler and the watchdog.
  const Failures& FailureRecord() const { return failures_; }
  DWORD LastProgressTick() const { return lastProgress_; }

 private:
  bool StartHost();
  // Fails unless the module's connection takes the cycle's way.
  void CheckModuleWay();
  void StopHost(bool quit = true);
  void Begin(EventKind kind, const std::string& details);
  void Execute(EventKind kind);
  void Checkpoint(DWORD timeoutMs = 30000);

  // The events (soak_events.cpp).
  void StartMonitoring();
  void StopMonitoring();
  void SetAndRead();
  void PanelWrite();
  void Burst(int count);
  void Rescan();
  void AircraftChange();
  void Takeover();
  void Rogue();
  void MenuToggle();
  void Stall();
  void Settle();

  std::string RandomName(bool allowUnknown);
  std::string RandomConstant();
  double NewValue();
  bool ChooseMenu(const std::string& item, const std::string& expectNext);
  void PrintFigures(double seconds);

  SoakOptions options_;
  std::mt19937 random_;
  Failures failures_;
  PanelModel model_;
  AppFigures figures_;
  Application app_;
  Application second_;
  simhost::SimHost host_;
  LogChecker log_;
  ResourceSampler sampler_;
  EventMix mix_;
  DWORD startTick_ = 0;
  volatile DWORD lastProgress_ = 0;
  uint64_t eventNumber_ = 0;
  uint32_t aircraftIndex_ = 0;
  uint32_t cycles_ = 0;
  CycleMode mode_ = CycleMode::kChannel;
  uint32_t cyclesByMode_[static_cast<int>(CycleMode::kCount)] = {};
  uint32_t stallsByMode_[static_cast<int>(CycleMode::kCount)] = {};
  std::vector<DWORD> dllStopMs_;
  uint32_t restarts_ = 0;
  uint32_t stopsWithoutQuit_ = 0;
  bool hostUp_ = false;
  size_t failuresBeforeCycle_ = 0;
  bool titleEveryFrame_ = false;         // access was enabled again in this cycle
  std::vector<uintptr_t> cycleHandles_;  // open once the cycle's application connected
};

}  // namespace soak
