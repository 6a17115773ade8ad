// The in-process channel of one connection, negotiated with the simulator's
// "FS98MAIN" window when the client runs inside the simulator's own process.
// Each connection object holds one (SimConnectClient::Channel).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "simconnect/transport/inprocess_records.h"

class InProcessChannel {
 public:
  enum class State : uint32_t { None = 0, Registered = 1, OfferSent = 2 };

  // After a successful connection attempt: registers with the window when it
  // belongs to this process (command 5, and command 4 for the only connection).
  void Register();
  // Shown every received message of at least 12 bytes before it is handed on;
  // acts only on the 308-byte open reply, which brings the host's number for
  // the connection `connectionId`: sends the attach offer.
  void OnOpenReply(const uint8_t* message, uint32_t size, uint32_t connectionId);
  // At the start of ShutdownConnection: unregisters the pump when this is the
  // last connection.
  void Unregister();
  // Takes the host function table (command 2) unless one was taken before;
  // true when taken. Takes sendLock.
  bool TakeTable(const uint8_t* table);

  bool Active() const { return active_.load(std::memory_order_acquire); }
  uint32_t HostConnectionId() const { return hostConnectionId_.load(std::memory_order_acquire); }

  // The request path, with sendLock held. Allocate: a zeroed block of `size`
  // bytes lent by the host, kept pending until SubmitPending; null when the
  // channel is not active or the host lent nothing.
  uint8_t* Allocate(uint32_t connectionId, uint32_t size);
  // Gives a pending block back unsent; false when `block` is not one.
  bool Discard(uint32_t connectionId, uint8_t* block, uint32_t size);
  // Submits the pending blocks in order and forgets them.
  void SubmitPending(uint32_t connectionId);
  // Gives a block that the host delivered back to it.
  void ReleaseBlock(uint32_t connectionId, void* block) const;

 private:
  struct PendingBlock {
    uint8_t* block;
    uint32_t size;
  };

  // Written on the client's thread (the open and the open reply), read by the
  // host's callbacks on the simulator's thread.
  std::atomic<uint32_t> hostConnectionId_{0};
  std::atomic<State> state_{State::None};
  HWND window_ = nullptr;  // client's thread only
  uint8_t pumpRecord_[24] = {};
  uint8_t offerRecord_[32] = {};
  uint8_t unregisterRecord_[24] = {};
  // The host's functions: written once by TakeTable (under sendLock), read by
  // the request path and by whichever thread gives a block back.
  std::atomic<inprocess::AllocateFn> allocate_{nullptr};
  std::atomic<inprocess::DiscardFn> discard_{nullptr};
  std::atomic<inprocess::SubmitFn> submit_{nullptr};
  std::atomic<inprocess::ReleaseFn> release_{nullptr};
  inprocess::UnregisterFn unregister_ = nullptr;  // client's thread only
  std::atomic<bool> active_{false};
  std::vector<PendingBlock> pending_;  // guarded by sendLock
};
