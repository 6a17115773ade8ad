// One pipe or socket client: its session, its outbox and the thread that runs
// all of its I/O. The thread reads the request stream, cuts it, hands each
// request to the session, and writes what the outbox holds, several messages
// per write. A slow client delays only itself: other threads only append to
// its outbox. The session delivers through a route, which the in-process
// channel may divert from the outbox (channel_host.h).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "simconnect/slim_lock.h"

#include "io_channel.h"
#include "message_route.h"
#include "message_sink.h"
#include "read_pause.h"
#include "simconnect/transport/framing.h"
#include "win_handles.h"

namespace simhost {

class ServerCore;
class Session;

// A client's messages waiting to be written. Deliver may be called from any
// thread; it signals Event(). Past `maxPendingBytes` the outbox overflows: the
// client does not read its messages and is dropped.
class Outbox : public MessageSink {
 public:
  static constexpr size_t kDefaultMaxPendingBytes = 16 * 1024 * 1024;

  explicit Outbox(size_t maxPendingBytes = kDefaultMaxPendingBytes);
  void Deliver(Message message) override;

  // Moves whole queued messages, at least one and as many as fit in
  // `maxBytes`, into `batch`. False when nothing is queued.
  bool TakeBatch(std::vector<uint8_t>* batch, size_t maxBytes);
  // `n` bytes of a taken batch went out.
  void Written(size_t n);
  // Every delivered byte has gone out.
  bool Drained() const { return unwrittenBytes_.load(std::memory_order_acquire) == 0; }
  bool Overflowed();
  // From now on deliveries are dropped.
  void Close();
  HANDLE Event() const { return event_.Get(); }

 private:
  UniqueHandle event_;  // auto-reset: something was queued
  const size_t maxPendingBytes_;
  SlimLock lock_;
  std::deque<Message> queue_;  // guarded by lock_
  size_t queuedBytes_ = 0;     // guarded by lock_
  bool overflowed_ = false;    // guarded by lock_
  bool closed_ = false;        // guarded by lock_
  std::atomic<size_t> unwrittenBytes_{0};  // delivered and not yet written
};

class Connection {
 public:
  // `transport` is "pipe", "tcp6" or "tcp4"; past `maxPendingBytes` waiting
  // to be written the client is dropped. While `pause` lasts (a stalled
  // frame) the connection reads and writes nothing: the read in progress
  // completes, the next one waits.
  Connection(std::unique_ptr<IoChannel> channel, ServerCore& core, const char* transport, size_t maxPendingBytes,
             const ReadPause& pause);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Attaches the session and starts the thread.
  void Start();
  // Asks the thread to close the connection; Join waits for it.
  void RequestClose();
  void Join();
  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  // The client's number (its host connection number); 0 before Start.
  uint32_t Number() const;
  // Every message delivered so far has been written (or the client is gone).
  bool Drained() const { return finished_.load(std::memory_order_acquire) || outbox_->Drained(); }
  // The session (null before Start) and the route its messages take.
  std::shared_ptr<Session> SessionRef() const { return session_; }
  const std::shared_ptr<MessageRoute>& Route() const { return route_; }

 private:
  void Run();
  // Cuts the `n` bytes just read into requests for the session; false when
  // the stream is malformed.
  bool HandleReceived(uint32_t n, std::string* reason);
  // A read into the receive buffer's free end.
  bool StartRead();
  bool StartNextWrite();

  static constexpr size_t kMaxWriteBatch = 65536;

  std::unique_ptr<IoChannel> channel_;
  ServerCore& core_;
  const std::string transport_;
  std::shared_ptr<Outbox> outbox_;
  std::shared_ptr<MessageRoute> route_;  // the session's sink: outbox_ unless diverted
  std::shared_ptr<Session> session_;
  UniqueHandle stopEvent_;  // manual-reset
  std::thread thread_;
  std::atomic<bool> finished_{false};
  const ReadPause& pause_;

  // The connection thread's own state.
  framing::ReceiveBuffer receive_;  // malloc'd; reads go to its free end
  framing::ReceivedMessage request_;
  std::vector<uint8_t> writeBuffer_;
  size_t writeOffset_ = 0;
  bool writing_ = false;
};

}  // namespace simhost
