// The process-wide counts of the in-process channel.
#include "channel_stats.h"

#include <atomic>

namespace simhost {

namespace {

// Lives as long as the block pool: never destroyed.
std::atomic<uint64_t>* const counters = new std::atomic<uint64_t>[kChannelCounts]();

}  // namespace

void CountChannel(ChannelCount count) { counters[count].fetch_add(1, std::memory_order_relaxed); }

ChannelStats ChannelSnapshot() {
  ChannelStats stats;
  for (size_t i = 0; i < kChannelCounts; ++i) stats[i] = counters[i].load(std::memory_order_relaxed);
  return stats;
}

}  // namespace simhost
