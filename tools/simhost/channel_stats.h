// The counts of what has crossed the in-process channel. They are kept for
// the whole process, because the functions lent to clients may run after the
// host that lent them is gone; a host reports the difference since it was
// made. Lock-free (atomic counters). No OS calls.
#pragma once

#include <atomic>
#include <cstdint>

namespace simhost {

// What has crossed the channel (since a host was made, or in the process).
struct ChannelStats {
  uint64_t unregisterRequests = 0;  // command 5 answered
  uint64_t pumpsRegistered = 0;     // command 4 taken
  uint64_t pumpsUnregistered = 0;   // unregister with a registered pump
  uint64_t pumpCalls = 0;           // pump-all calls made
  uint64_t offers = 0;              // command 1 received
  uint64_t attached = 0;            // offers whose attach callback took the table
  uint64_t refused = 0;             // offers refused by either side
  uint64_t ignoredRecords = 0;      // records of another size or command
  uint64_t allocated = 0;           // blocks lent by allocate
  uint64_t allocateRefused = 0;     // allocate answered null
  uint64_t submitted = 0;           // requests taken through submit and handled
  uint64_t submitDropped = 0;       // submitted blocks not handled (no channel, bad size field)
  uint64_t discarded = 0;           // blocks given back by discard
  uint64_t delivered = 0;           // messages delivered as blocks
  uint64_t deliveredToPipe = 0;     // messages of a channel client sent over its pipe (pool empty)
  uint64_t released = 0;            // delivered blocks given back
  uint64_t badBlocks = 0;           // discard, submit or release of a block not out for that use
};

// The process-wide counters behind ChannelStats, one per field.
struct ChannelCounters {
  std::atomic<uint64_t> unregisterRequests{0};
  std::atomic<uint64_t> pumpsRegistered{0};
  std::atomic<uint64_t> pumpsUnregistered{0};
  std::atomic<uint64_t> pumpCalls{0};
  std::atomic<uint64_t> offers{0};
  std::atomic<uint64_t> attached{0};
  std::atomic<uint64_t> refused{0};
  std::atomic<uint64_t> ignoredRecords{0};
  std::atomic<uint64_t> allocated{0};
  std::atomic<uint64_t> allocateRefused{0};
  std::atomic<uint64_t> submitted{0};
  std::atomic<uint64_t> submitDropped{0};
  std::atomic<uint64_t> discarded{0};
  std::atomic<uint64_t> delivered{0};
  std::atomic<uint64_t> deliveredToPipe{0};
  std::atomic<uint64_t> released{0};
  std::atomic<uint64_t> badBlocks{0};
};

// The process's counters; never destroyed.
ChannelCounters& ChannelTotals();
// Their values now.
ChannelStats ChannelSnapshot();
// Field by field, `now` minus `since`.
ChannelStats ChannelDifference(const ChannelStats& now, const ChannelStats& since);

}  // namespace simhost
