// Switching a client's messages between its pipe and the in-process channel.
#include "message_route.h"

#include <chrono>
#include <thread>

namespace simhost {

MessageRoute::MessageRoute(std::shared_ptr<MessageSink> pipe, std::function<bool()> pipeDrained)
    : pipe_(std::move(pipe)), pipeDrained_(std::move(pipeDrained)) {}

void MessageRoute::Deliver(Message message) {
  std::lock_guard<SlimLock> guard(lock_);
  if (closed_) return;
  if (channel_) {
    channel_->Deliver(std::move(message));
  } else {
    pipe_->Deliver(std::move(message));
  }
}

bool MessageRoute::Divert(std::shared_ptr<MessageSink> channel, uint32_t drainTimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(drainTimeoutMs);
  for (;;) {
    {
      std::lock_guard<SlimLock> guard(lock_);
      if (closed_ || channel_) return false;
      // Checked under the lock: no message can reach the outbox between this
      // check and the switch.
      if (pipeDrained_() || std::chrono::steady_clock::now() >= deadline) {
        channel_ = std::move(channel);
        return true;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void MessageRoute::Restore() {
  std::lock_guard<SlimLock> guard(lock_);
  channel_.reset();
}

void MessageRoute::Close() {
  std::lock_guard<SlimLock> guard(lock_);
  closed_ = true;
  channel_.reset();
}

bool MessageRoute::Diverted() {
  std::lock_guard<SlimLock> guard(lock_);
  return channel_ != nullptr;
}

}  // namespace simhost
