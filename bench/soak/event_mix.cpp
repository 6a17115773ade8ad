#include "event_mix.h"

namespace soak {

namespace {

struct KindInfo {
  const char* name;
  int weight;
};

// Weights: requests and monitoring most of the time, the heavier chaos now and then.
constexpr KindInfo kKinds[] = {
    {"start-monitoring", 14}, {"stop-monitoring", 6}, {"set-and-read", 14}, {"panel-write", 10},
    {"burst", 8},             {"rescan", 4},          {"title", 4},         {"aircraft-change", 4},
    {"takeover", 3},          {"rogue", 5},           {"menu-toggle", 3},   {"stall", 3},
    {"restart", 0},           {"settle", 6},
};
static_assert(sizeof kKinds / sizeof kKinds[0] == static_cast<size_t>(EventKind::kCount), "one entry per kind");

}  // namespace

const char* KindName(EventKind kind) { return kKinds[static_cast<int>(kind)].name; }

EventKind EventMix::Next(uint32_t elapsedMs, uint32_t restartEveryMs) {
  if (elapsedMs - lastRestartMs_ >= restartEveryMs) {
    lastRestartMs_ = elapsedMs;
    return EventKind::kRestart;
  }
  int total = 0;
  for (const KindInfo& info : kKinds) total += info.weight;
  int pick = std::uniform_int_distribution<int>(0, total - 1)(random_);
  for (int i = 0; i < static_cast<int>(EventKind::kCount); ++i) {
    pick -= kKinds[i].weight;
    if (pick < 0) return static_cast<EventKind>(i);
  }
  return EventKind::kSettle;
}

}  // namespace soak
