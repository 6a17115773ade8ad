// The soak's events: their kinds, how often each comes (weights of a seeded
// draw), and how many of each ran.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace soak {

enum class EventKind {
  kStartMonitoring,  // random variables, random intervals
  kStopMonitoring,
  kSetAndRead,       // set values, read them back
  kPanelWrite,       // the soak writes monitored variables in the panel
  kBurst,            // hundreds of requests at once
  kRescan,           // the list (command 1) or a rebuild (command 0)
  kTitle,
  kAircraftChange,
  kTakeover,         // a second application connects with another peer id
  kRogue,
  kMenuToggle,       // Disable LVAR Access, then Enable again
  kStall,            // a stalled frame: no pipe or socket read, the in-process channel stands still
  kRestart,          // quit, DLLStop, FreeLibrary, a fresh load
  kSettle,           // every monitored change has been reported
  kCount,
};

const char* KindName(EventKind kind);

class EventMix {
 public:
  explicit EventMix(std::mt19937& random) : random_(random) {}
  // The next event's kind; restarts come at most once per `restartEveryMs`
  // of the run (`elapsedMs`).
  EventKind Next(uint32_t elapsedMs, uint32_t restartEveryMs);
  void Count(EventKind kind) { ++counts_[static_cast<int>(kind)]; }
  uint64_t CountOf(EventKind kind) const { return counts_[static_cast<int>(kind)]; }

 private:
  std::mt19937& random_;
  uint64_t counts_[static_cast<int>(EventKind::kCount)] = {};
  uint32_t lastRestartMs_ = 0;
};

}  // namespace soak
