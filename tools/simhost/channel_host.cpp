// The records of the main window, the pumps, the channels and the functions
// lent to in-process clients.
#include "channel_host.h"

#include <cstring>
#include <deque>
#include <shared_mutex>

#include "block_pool.h"
#include "host_log.h"
#include "session.h"
#include "simconnect/protocol.h"
#include "simconnect/wire.h"

namespace simhost {

namespace {

namespace offer = inprocess::offer;
namespace small_record = inprocess::small_record;
namespace table = inprocess::table;

// How long an accepted offer waits for the pipe to write what it already
// holds before the client's messages take the channel.
constexpr uint32_t kDrainTimeoutMs = 1000;

// The host the lent functions serve. Held shared by every lent function that
// needs the host for the whole call (a submitted request is handled under
// it), exclusively to change it. Neither release nor discard takes it: they
// may run inside a delivery that a submit started on the same thread.
SlimLock& ActiveLock() {
  static SlimLock* lock = new SlimLock;
  return *lock;
}
ChannelHost* g_active = nullptr;  // guarded by ActiveLock()

template <typename Function>
Function FunctionAt(const uint8_t* record, uint32_t offset) {
  return reinterpret_cast<Function>(static_cast<uintptr_t>(wire::LoadU64(record + offset)));
}

template <typename Function>
uint64_t AddressOf(Function function) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(function));
}

// A channel client's messages, copied into pool blocks and handed to its
// deliver callback. Runs under the client's route lock, on the thread that
// produced the message. When the pool has no block, the message takes the
// pipe instead of being lost. While the host's pause lasts messages wait
// here; the first message or Flush after it hands them on first.
class ChannelSink : public MessageSink {
 public:
  ChannelSink(uint32_t number, uint32_t connectionId, inprocess::DeliverFn deliver,
              std::shared_ptr<MessageSink> pipe, const ReadPause& pause)
      : number_(number), connectionId_(connectionId), deliver_(deliver), pipe_(std::move(pipe)), pause_(pause) {}

  void Deliver(Message message) override {
    std::lock_guard<SlimLock> guard(lock_);
    if (!ended_ && pause_.Active()) {
      CountChannel(kDeliveryHeld);
      held_.push_back(std::move(message));
      return;
    }
    HandHeld();
    Hand(std::move(message));
  }

  // Hands on what a pause held, in order, once it has ended.
  void Flush() {
    std::lock_guard<SlimLock> guard(lock_);
    if (!pause_.Active()) HandHeld();
  }

  // The channel has ended: what is held, and every later message, takes the
  // pipe; the client's deliver callback is never called again.
  void End() {
    std::lock_guard<SlimLock> guard(lock_);
    ended_ = true;
    for (Message& message : held_) pipe_->Deliver(std::move(message));
    held_.clear();
  }

 private:
  void HandHeld() {  // lock_ held
    for (Message& message : held_) Hand(std::move(message));
    held_.clear();
  }

  void Hand(Message message) {  // lock_ held
    const uint32_t size = static_cast<uint32_t>(message.size());
    uint8_t* block = ended_ ? nullptr : BlockPool::Instance().Lend(size, BlockPool::Use::kMessage);
    if (block == nullptr) {
      CountChannel(kDeliveredToPipe);
      pipe_->Deliver(std::move(message));
      return;
    }
    std::memcpy(block, message.data(), size);
    CountChannel(kDelivered);
    deliver_(number_, connectionId_, size, block);
  }

  const uint32_t number_;
  const uint32_t connectionId_;
  const inprocess::DeliverFn deliver_;
  const std::shared_ptr<MessageSink> pipe_;
  const ReadPause& pause_;
  SlimLock lock_;
  std::deque<Message> held_;  // guarded by lock_
  bool ended_ = false;        // guarded by lock_
};

}  // namespace

struct ChannelHost::Channel {
  uint32_t number = 0;
  uint32_t connectionId = 0;
  std::shared_ptr<Session> session;
  std::shared_ptr<MessageRoute> route;
  std::shared_ptr<ChannelSink> sink;
  bool ended = false;  // guarded by ChannelHost::lock_
  SlimLock heldLock;
  std::deque<std::vector<uint8_t>> held;  // requests a pause held; guarded by heldLock
  bool draining = false;                  // a thread is handling requests; guarded by heldLock
};

ChannelHost::ChannelHost(HostLog& log, FindCandidate find, const ReadPause& pause)
    : log_(log), find_(std::move(find)), pause_(pause), baseline_(ChannelSnapshot()) {}

ChannelHost::~ChannelHost() { Deactivate(); }

bool ChannelHost::Activate() {
  std::unique_lock<SlimLock> guard(ActiveLock());
  if (g_active != nullptr && g_active != this) return false;
  g_active = this;
  return true;
}

void ChannelHost::Deactivate() {
  std::unique_lock<SlimLock> guard(ActiveLock());
  if (g_active == this) g_active = nullptr;
}

void ChannelHost::OnRecord(uint8_t* record) {
  if (record == nullptr) return;
  const uint32_t size = wire::LoadU32(record + inprocess::kSizeField);
  const uint32_t command = wire::LoadU32(record + inprocess::kCommandField);
  if (command == inprocess::kCommandUnregister && size == small_record::kSize) {
    OnUnregisterRequest(record);
  } else if (command == inprocess::kCommandPump && size == small_record::kSize) {
    OnPump(record);
  } else if (command == inprocess::kCommandOffer && size == offer::kSize) {
    OnOffer(record);
  } else {
    CountChannel(kIgnoredRecords);
  }
}

void ChannelHost::OnUnregisterRequest(uint8_t* record) {
  // The client reads the address as soon as its SendMessageW returns.
  wire::StoreU64(record + small_record::kAddress, AddressOf(&ChannelHost::Unregister));
  CountChannel(kUnregisterRequests);
}

void ChannelHost::OnPump(const uint8_t* record) {
  auto pump = FunctionAt<inprocess::PumpFn>(record, small_record::kAddress);
  if (pump == nullptr) {
    CountChannel(kIgnoredRecords);
    return;
  }
  size_t count = 0;
  {
    std::lock_guard<SlimLock> guard(lock_);
    for (inprocess::PumpFn registered : pumps_) {
      if (registered == pump) return;  // one client library registers once
    }
    pumps_.push_back(pump);
    count = pumps_.size();
  }
  CountChannel(kPumpsRegistered);
  log_.Printf("in-process pump registered (%u in all)", static_cast<unsigned>(count));
}

void ChannelHost::OnOffer(const uint8_t* record) {
  CountChannel(kOffers);
  auto channel = std::make_shared<Channel>();
  channel->number = wire::LoadU32(record + offer::kHostConnectionId);
  channel->connectionId = wire::LoadU32(record + offer::kConnectionId);
  auto attach = FunctionAt<inprocess::AttachFn>(record, offer::kAttach);
  auto deliver = FunctionAt<inprocess::DeliverFn>(record, offer::kDeliver);

  const char* refusal = nullptr;
  ChannelCandidate candidate;
  if (attach == nullptr || deliver == nullptr) {
    refusal = "an offer without callbacks";
  } else if (!find_(channel->number, &candidate) || !candidate.session || !candidate.route ||
             !candidate.session->Opened()) {
    refusal = "no open client has that number";
  }
  if (refusal == nullptr) {
    channel->session = candidate.session;
    channel->route = candidate.route;
    channel->sink = std::make_shared<ChannelSink>(channel->number, channel->connectionId, deliver,
                                                  candidate.route->Pipe(), pause_);
    std::lock_guard<SlimLock> guard(lock_);
    // Registered before the table goes out: the client may allocate as soon
    // as it has taken the table, before attach returns.
    if (!channels_.emplace(channel->number, channel).second) refusal = "it is on the channel already";
  }
  if (refusal != nullptr) {
    CountChannel(kRefused);
    log_.Printf("in-process offer for client %u refused: %s", channel->number, refusal);
    return;
  }

  uint8_t functions[table::kSize] = {};
  wire::StoreU32(functions + inprocess::kSizeField, table::kSize);
  wire::StoreU32(functions + inprocess::kCommandField, inprocess::kCommandTable);
  wire::StoreU32(functions + table::kHostConnectionId, channel->number);
  wire::StoreU32(functions + table::kConnectionId, channel->connectionId);
  wire::StoreU64(functions + table::kAllocate, AddressOf(&ChannelHost::Allocate));
  wire::StoreU64(functions + table::kDiscard, AddressOf(&ChannelHost::Discard));
  wire::StoreU64(functions + table::kSubmit, AddressOf(&ChannelHost::Submit));
  wire::StoreU64(functions + table::kRelease, AddressOf(&ChannelHost::Release));
  if (attach(functions) != 1) {
    {
      std::lock_guard<SlimLock> guard(lock_);
      channels_.erase(channel->number);
    }
    CountChannel(kRefused);
    log_.Printf("%s refused the in-process channel", channel->session->Label().c_str());
    return;
  }
  CountChannel(kAttached);
  channel->route->Divert(channel->sink, kDrainTimeoutMs);
  log_.Printf("%s on the in-process channel", channel->session->Label().c_str());
}

std::shared_ptr<ChannelHost::Channel> ChannelHost::Find(uint32_t number, uint32_t connectionId, bool open) {
  std::lock_guard<SlimLock> guard(lock_);
  auto found = channels_.find(number);
  if (found == channels_.end() || found->second->connectionId != connectionId) return nullptr;
  if (open && found->second->ended) return nullptr;
  return found->second;
}

void ChannelHost::PumpAll() {
  std::vector<inprocess::PumpFn> pumps;
  {
    std::lock_guard<SlimLock> guard(lock_);
    pumps = pumps_;
  }
  for (inprocess::PumpFn pump : pumps) {
    pump(nullptr, reinterpret_cast<inprocess::DispatchFn>(inprocess::kPumpAllCallback),
         reinterpret_cast<void*>(inprocess::kPumpAllContext));
    CountChannel(kPumpCalls);
  }
}

void ChannelHost::EndAll() {
  std::vector<std::shared_ptr<Channel>> ending;
  {
    std::lock_guard<SlimLock> guard(lock_);
    for (auto& entry : channels_) {
      if (entry.second->ended) continue;
      entry.second->ended = true;
      ending.push_back(entry.second);
    }
    pumps_.clear();
  }
  // Once both have returned no delivery into the client is under way.
  for (auto& channel : ending) {
    channel->sink->End();
    channel->route->Restore();
  }
}

void ChannelHost::Resume() {
  if (pause_.Active()) return;
  std::vector<std::shared_ptr<Channel>> channels;
  {
    std::lock_guard<SlimLock> guard(lock_);
    for (auto& entry : channels_) channels.push_back(entry.second);
  }
  for (auto& channel : channels) {
    channel->sink->Flush();
    Drain(*channel, false);
  }
}

void ChannelHost::Drain(Channel& channel, bool haveTurn) {
  for (;;) {
    std::vector<uint8_t> request;
    {
      std::lock_guard<SlimLock> guard(channel.heldLock);
      if (!haveTurn && channel.draining) return;
      if (channel.held.empty() || pause_.Active()) {
        if (haveTurn) channel.draining = false;
        return;
      }
      channel.draining = haveTurn = true;
      request = std::move(channel.held.front());
      channel.held.pop_front();
    }
    channel.session->HandleRequest(request.data(), static_cast<uint32_t>(request.size()));
    CountChannel(kSubmitted);
  }
}

void ChannelHost::Forget(uint32_t number) {
  std::shared_ptr<Channel> gone;
  {
    std::lock_guard<SlimLock> guard(lock_);
    auto found = channels_.find(number);
    if (found == channels_.end()) return;
    gone = std::move(found->second);
    channels_.erase(found);
  }
  // A delivery under way holds its own references; the rest goes here,
  // outside the lock.
  gone.reset();
}

bool ChannelHost::OnChannel(uint32_t number) {
  std::shared_ptr<Channel> channel;
  {
    std::lock_guard<SlimLock> guard(lock_);
    auto found = channels_.find(number);
    if (found == channels_.end() || found->second->ended) return false;
    channel = found->second;
  }
  return channel->route->Diverted();
}

size_t ChannelHost::PumpCount() {
  std::lock_guard<SlimLock> guard(lock_);
  return pumps_.size();
}

size_t ChannelHost::ChannelCount() {
  std::lock_guard<SlimLock> guard(lock_);
  return channels_.size();
}

ChannelStats ChannelHost::Stats() {
  ChannelStats stats = ChannelSnapshot();
  for (size_t i = 0; i < kChannelCounts; ++i) stats[i] -= baseline_[i];
  return stats;
}

// ---- The functions lent to clients -------------------------------------------

void* ChannelHost::Allocate(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size) {
  std::shared_lock<SlimLock> guard(ActiveLock());
  if (g_active == nullptr) {
    CountChannel(kAllocateRefused);
    return nullptr;
  }
  return g_active->AllocateFor(hostConnectionId, connectionId, size);
}

void* ChannelHost::AllocateFor(uint32_t number, uint32_t connectionId, uint32_t size) {
  uint8_t* block = nullptr;
  if (size >= protocol::kRequestHeaderSize && Find(number, connectionId, true) != nullptr) {
    block = BlockPool::Instance().Lend(size, BlockPool::Use::kRequest);
  }
  // Null sends the client's request through its own buffer and its pipe.
  CountChannel(block != nullptr ? kAllocated : kAllocateRefused);
  return block;
}

void ChannelHost::Discard(uint32_t hostConnectionId, uint32_t connectionId, void* block) {
  bool back = BlockPool::Instance().TakeBack(block, BlockPool::Use::kRequest);
  CountChannel(back ? kDiscarded : kBadBlocks);
}

void ChannelHost::Submit(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size, void* block) {
  std::shared_lock<SlimLock> guard(ActiveLock());
  if (g_active != nullptr) {
    g_active->SubmitFor(hostConnectionId, connectionId, size, static_cast<uint8_t*>(block));
    return;
  }
  bool back = BlockPool::Instance().TakeBack(block, BlockPool::Use::kRequest);
  CountChannel(back ? kSubmitDropped : kBadBlocks);
}

void ChannelHost::SubmitFor(uint32_t number, uint32_t connectionId, uint32_t size, uint8_t* block) {
  BlockPool& pool = BlockPool::Instance();
  uint32_t capacity = 0;
  if (!pool.Capacity(block, BlockPool::Use::kRequest, &capacity)) {
    CountChannel(kBadBlocks);  // not a block we lent for a request: not ours to read
    return;
  }
  // A channel that has ended still takes requests built before it ended.
  std::shared_ptr<Channel> channel = Find(number, connectionId, false);
  const bool whole = size >= protocol::kRequestHeaderSize && size <= capacity &&
                     wire::LoadU32(block + protocol::kRequestSizeOffset) == size;
  if (channel != nullptr && whole) {
    // At once, unless a pause holds it (and what came before it).
    bool now = false;
    {
      std::lock_guard<SlimLock> guard(channel->heldLock);
      now = !channel->draining && channel->held.empty() && !pause_.Active();
      if (now) {
        channel->draining = true;
      } else {
        channel->held.emplace_back(block, block + size);
        CountChannel(kSubmitHeld);
      }
    }
    if (now) {
      channel->session->HandleRequest(block, size);
      CountChannel(kSubmitted);
    }
    Drain(*channel, now);
  } else {
    CountChannel(kSubmitDropped);
    log_.Printf("in-process request of client %u dropped: %s", number,
                channel == nullptr ? "no such channel" : "its size field does not match the block");
  }
  pool.TakeBack(block, BlockPool::Use::kRequest);
}

void ChannelHost::Release(uint32_t hostConnectionId, uint32_t connectionId, void* block) {
  bool back = BlockPool::Instance().TakeBack(block, BlockPool::Use::kMessage);
  CountChannel(back ? kReleased : kBadBlocks);
}

void ChannelHost::Unregister(void* pump) {
  std::shared_lock<SlimLock> guard(ActiveLock());
  if (g_active != nullptr) g_active->UnregisterPump(pump);
}

void ChannelHost::UnregisterPump(void* pump) {
  size_t left = 0;
  {
    std::lock_guard<SlimLock> guard(lock_);
    auto found = pumps_.end();
    for (auto it = pumps_.begin(); it != pumps_.end(); ++it) {
      if (reinterpret_cast<void*>(*it) == pump) found = it;
    }
    if (found == pumps_.end()) return;  // not registered, or forgotten already
    pumps_.erase(found);
    left = pumps_.size();
  }
  CountChannel(kPumpsUnregistered);
  log_.Printf("in-process pump unregistered (%u left)", static_cast<unsigned>(left));
}

}  // namespace simhost
