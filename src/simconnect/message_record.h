// MessageRecord: one block of message bytes shared by reference.
// RecordQueue: a locked first-in, first-out queue of record references.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

class MessageRecord {
 public:
  // Makes a record that owns `data` (malloc'd) unless hostOwned is 1. The
  // reference count starts at 1, held by the creator. Null when out of memory.
  static MessageRecord* Create(uint8_t* data, uint32_t size, uint32_t connectionId, uint32_t hostOwned);

  // Relaxed increment; acquire-release decrement; the holder that drops the
  // count to zero destroys the record.
  void AddRef() { refCount.fetch_add(1, std::memory_order_relaxed); }
  void Release();

  std::atomic<uint32_t> refCount{1};
  uint8_t* data;
  uint32_t size;
  uint32_t connectionId;
  // 1 when the block belongs to the in-process host: the holder gives it back
  // through the host's release function and clears `data` before releasing.
  uint32_t hostOwned;

 protected:
  MessageRecord(uint8_t* data, uint32_t size, uint32_t connectionId, uint32_t hostOwned);
  // Frees the block the record still points to.
  virtual ~MessageRecord();
};

class RecordQueue {
 public:
  RecordQueue();  // lock with spin count 100
  ~RecordQueue();  // clears the queue, then deletes the lock
  RecordQueue(const RecordQueue&) = delete;
  RecordQueue& operator=(const RecordQueue&) = delete;

  // Appends a new reference to `record`; false when no node could be allocated.
  bool Push(MessageRecord* record);
  // Moves the head's reference into `slot`, releasing what the slot held before.
  // False (slot untouched) when the queue is empty.
  bool Pop(MessageRecord*& slot);
  // Releases every queued reference.
  void Clear();
  uint32_t Count();

 private:
  struct Node {
    MessageRecord* record;
    Node* next;
  };
  Node* head_ = nullptr;  // guarded by lock_
  Node* tail_ = nullptr;  // guarded by lock_
  uint32_t count_ = 0;    // guarded by lock_
  CRITICAL_SECTION lock_;
};
