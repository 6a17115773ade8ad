// The counts of what has crossed the in-process channel. They are kept for
// the whole process, because the functions lent to clients may run after the
// host that lent them is gone; a host reports the difference since it was
// made. Lock-free (atomic counters). No OS calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace simhost {

enum ChannelCount : size_t {
  kUnregisterRequests,  // command 5 answered
  kPumpsRegistered,     // command 4 taken
  kPumpsUnregistered,   // unregister with a registered pump
  kPumpCalls,           // pump-all calls made
  kOffers,              // command 1 received
  kAttached,            // offers whose attach callback took the table
  kRefused,             // offers refused by either side
  kIgnoredRecords,      // records of another size or command
  kAllocated,           // blocks lent by allocate
  kAllocateRefused,     // allocate answered null
  kSubmitted,           // requests taken through submit and handled
  kSubmitDropped,       // submitted blocks not handled (no channel, bad size field)
  kDiscarded,           // blocks given back by discard
  kDelivered,           // messages delivered as blocks
  kDeliveredToPipe,     // messages of a channel client sent over its pipe (pool empty)
  kReleased,            // delivered blocks given back
  kBadBlocks,           // discard, submit or release of a block not out for that use
  kSubmitHeld,          // submitted requests held by a pause (then handled in order)
  kDeliveryHeld,        // messages held by a pause (then delivered in order)
  kChannelCounts
};

// Each count, indexed by ChannelCount (since a host was made, or in the process).
using ChannelStats = std::array<uint64_t, kChannelCounts>;

// Adds one to the process's count.
void CountChannel(ChannelCount count);
// The process's counts now.
ChannelStats ChannelSnapshot();

}  // namespace simhost
