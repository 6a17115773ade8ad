// The simulator's side of the in-process channel. A client in simhost's own
// process registers with the main window "FS98MAIN" by records it sends there
// (inprocess_records.h): command 5 asks for the unregister function, command 4
// registers the client library's pump, command 1 offers the client's attach
// and deliver callbacks for the connection with a given host number. The host
// answers the offer with its function table: from then on the client builds
// its requests in blocks the host lends (allocate), hands them over whole
// (submit) or gives them back unused (discard), and receives its messages as
// blocks through its deliver callback, which it gives back with release. The
// session behind the connection stays the same: submitted requests are
// decoded by the same code as pipe traffic, and its messages are diverted from
// the pipe's outbox (MessageRoute).
//
// While the host's pause lasts (a stalled frame, read_pause.h) a channel
// handles none of the requests submitted to it and delivers nothing: both
// wait. Resume (the first frame after the pause), or the next submit or
// message if it comes first, lets them go on, each in the order it came and
// before anything newer.
//
// Threads: records and the pumps run on the window's thread; the lent
// functions run on the client's threads; deliveries run on whichever thread
// produces a message (a session's request, a frame, the console), and what a
// pause held on the thread that resumes. No lock of this file is held while a
// session runs. Lock order: the client's own send lock (held around allocate,
// discard and submit), then the session's lock and what it takes, then the
// route's lock, then the channel's delivery lock (held while a message goes to
// the client's deliver callback), then the pool's lock; ChannelHost::lock_
// and a channel's lock for held requests are leaves. No OS calls.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "simconnect/slim_lock.h"

#include "channel_stats.h"
#include "message_route.h"
#include "read_pause.h"
#include "simconnect/transport/inprocess_records.h"

namespace simhost {

class HostLog;
class Session;

// A pipe or socket client that may move to the channel.
struct ChannelCandidate {
  std::shared_ptr<Session> session;
  std::shared_ptr<MessageRoute> route;
};


class ChannelHost {
 public:
  // `find` looks up the open pipe or socket client with a host number.
  using FindCandidate = std::function<bool(uint32_t number, ChannelCandidate* candidate)>;

  // `pause` is the host's: while it lasts the channels stand still.
  ChannelHost(HostLog& log, FindCandidate find, const ReadPause& pause);
  ~ChannelHost();  // Deactivate
  ChannelHost(const ChannelHost&) = delete;
  ChannelHost& operator=(const ChannelHost&) = delete;

  // Makes this host the one the lent functions serve; a process has one main
  // window, so one host at a time. False when another host is active.
  bool Activate();
  // From now on the lent functions serve no host: allocate lends nothing and
  // submitted requests are dropped, while blocks still go back to the pool.
  // Waits for calls under way. Safe to call twice.
  void Deactivate();

  // Handles one record sent to the window (WM_COMMAND, wParam 0x2002A, lParam
  // the record). Window thread.
  void OnRecord(uint8_t* record);
  // Runs every registered pump once: pump(null, -2, -3). Window thread, once
  // per simulation frame.
  void PumpAll();
  // Before the hosting add-on is unloaded: every channel ends (its messages go
  // back to its pipe and allocate lends it nothing more; blocks already out
  // still come back) and every pump is forgotten.
  void EndAll();

  // Unless the pause still lasts: every channel delivers the messages it held
  // and then handles the requests submitted meanwhile, in order (until a new
  // pause begins). Any thread but a client's.
  void Resume();

  // Client `number` has left: its channel, if it took one, is dropped with
  // what it holds (its session, its route and the route's pipe outbox).
  // Requests it submits after this are dropped; blocks still come back.
  void Forget(uint32_t number);

  // Whether client `number` has taken the channel (and it has not ended).
  bool OnChannel(uint32_t number);
  size_t PumpCount();
  // The channels held, ended ones included.
  size_t ChannelCount();
  ChannelStats Stats();

  // The functions lent to clients; they serve the active host.
  static void* Allocate(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size);
  static void Discard(uint32_t hostConnectionId, uint32_t connectionId, void* block);
  static void Submit(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size, void* block);
  static void Release(uint32_t hostConnectionId, uint32_t connectionId, void* block);
  static void Unregister(void* pump);

 private:
  struct Channel;

  void OnUnregisterRequest(uint8_t* record);
  void OnPump(const uint8_t* record);
  void OnOffer(const uint8_t* record);
  // The channel of (number, connectionId), or null; `open` asks for one that
  // has not ended.
  std::shared_ptr<Channel> Find(uint32_t number, uint32_t connectionId, bool open);
  void* AllocateFor(uint32_t number, uint32_t connectionId, uint32_t size);
  void SubmitFor(uint32_t number, uint32_t connectionId, uint32_t size, uint8_t* block);
  // Handles the requests `channel` holds, in order, until none is left or a
  // pause begins. One thread at a time: `haveTurn` says that the caller has
  // just handled a request of its own; otherwise it returns at once when
  // another thread is at it.
  void Drain(Channel& channel, bool haveTurn);
  void UnregisterPump(void* pump);

  HostLog& log_;
  const FindCandidate find_;
  const ReadPause& pause_;
  const ChannelStats baseline_;  // the process-wide counts when the host was made

  SlimLock lock_;
  std::map<uint32_t, std::shared_ptr<Channel>> channels_;  // by host number; guarded by lock_
  std::vector<inprocess::PumpFn> pumps_;                   // guarded by lock_
};

}  // namespace simhost
