// The process-wide counts of the in-process channel.
#include "channel_stats.h"

namespace simhost {

ChannelCounters& ChannelTotals() {
  static ChannelCounters* counters = new ChannelCounters;  // lives as long as the block pool
  return *counters;
}

ChannelStats ChannelSnapshot() {
  const ChannelCounters& c = ChannelTotals();
  ChannelStats s;
  s.unregisterRequests = c.unregisterRequests.load();
  s.pumpsRegistered = c.pumpsRegistered.load();
  s.pumpsUnregistered = c.pumpsUnregistered.load();
  s.pumpCalls = c.pumpCalls.load();
  s.offers = c.offers.load();
  s.attached = c.attached.load();
  s.refused = c.refused.load();
  s.ignoredRecords = c.ignoredRecords.load();
  s.allocated = c.allocated.load();
  s.allocateRefused = c.allocateRefused.load();
  s.submitted = c.submitted.load();
  s.submitDropped = c.submitDropped.load();
  s.discarded = c.discarded.load();
  s.delivered = c.delivered.load();
  s.deliveredToPipe = c.deliveredToPipe.load();
  s.released = c.released.load();
  s.badBlocks = c.badBlocks.load();
  return s;
}

ChannelStats ChannelDifference(const ChannelStats& now, const ChannelStats& since) {
  ChannelStats d;
  d.unregisterRequests = now.unregisterRequests - since.unregisterRequests;
  d.pumpsRegistered = now.pumpsRegistered - since.pumpsRegistered;
  d.pumpsUnregistered = now.pumpsUnregistered - since.pumpsUnregistered;
  d.pumpCalls = now.pumpCalls - since.pumpCalls;
  d.offers = now.offers - since.offers;
  d.attached = now.attached - since.attached;
  d.refused = now.refused - since.refused;
  d.ignoredRecords = now.ignoredRecords - since.ignoredRecords;
  d.allocated = now.allocated - since.allocated;
  d.allocateRefused = now.allocateRefused - since.allocateRefused;
  d.submitted = now.submitted - since.submitted;
  d.submitDropped = now.submitDropped - since.submitDropped;
  d.discarded = now.discarded - since.discarded;
  d.delivered = now.delivered - since.delivered;
  d.deliveredToPipe = now.deliveredToPipe - since.deliveredToPipe;
  d.released = now.released - since.released;
  d.badBlocks = now.badBlocks - since.badBlocks;
  return d;
}

}  // namespace simhost
