// Where a pipe or socket client's messages go: to its connection's outbox, or,
// once the client has taken the in-process channel, to the channel. The
// session delivers to the route and never learns which way a message took.
//
// Order: a message delivered after Divert never overtakes one given to the
// outbox before it. Divert moves the route only once the outbox has written
// everything it was given (or after a time-out), and deliveries wait on the
// route's lock meanwhile. Lock order: the route's lock, then the lock of the
// sink it delivers to (the outbox's, or the channel's pool and the client's
// deliver callback). No OS calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "simconnect/slim_lock.h"

#include "message_sink.h"

namespace simhost {

class MessageRoute : public MessageSink {
 public:
  // `pipe` is the connection's outbox; `pipeDrained` tells whether it has
  // written every message it was given.
  MessageRoute(std::shared_ptr<MessageSink> pipe, std::function<bool()> pipeDrained);

  // Hands the message to the channel when diverted, else to the pipe; drops
  // it once the route is closed. Called with the route's lock held: the sink
  // must not call back into the route.
  void Deliver(Message message) override;

  // Sends every later message to `channel`, once the pipe has drained or
  // `drainTimeoutMs` has passed. False (nothing changes) when the route is
  // closed or already diverted.
  bool Divert(std::shared_ptr<MessageSink> channel, uint32_t drainTimeoutMs);
  // Messages go to the pipe again (the channel has ended).
  void Restore();
  // The client has gone: every later message is dropped.
  void Close();

  bool Diverted();
  // The pipe's sink, for a channel that cannot take a message.
  const std::shared_ptr<MessageSink>& Pipe() const { return pipe_; }

 private:
  const std::shared_ptr<MessageSink> pipe_;
  const std::function<bool()> pipeDrained_;
  SlimLock lock_;
  std::shared_ptr<MessageSink> channel_;  // guarded by lock_; null: the pipe
  bool closed_ = false;                   // guarded by lock_
};

}  // namespace simhost
