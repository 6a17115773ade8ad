#include "simconnect/message_record.h"

#include <cstdlib>
#include <new>

#include "simconnect/critical_section.h"

MessageRecord* MessageRecord::Create(uint8_t* data, uint32_t size, uint32_t connectionId, uint32_t hostOwned) {
  return new (std::nothrow) MessageRecord(data, size, connectionId, hostOwned);
}

MessageRecord::MessageRecord(uint8_t* data, uint32_t size, uint32_t connectionId, uint32_t hostOwned)
    : data(data), size(size), connectionId(connectionId), hostOwned(hostOwned) {}

MessageRecord::~MessageRecord() {
  // A host-owned block has been handed back and `data` cleared before the last
  // reference went; whatever is still here belongs to the record.
  std::free(data);
}

void MessageRecord::Release() {
  if (refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

RecordQueue::RecordQueue() { InitializeCriticalSectionAndSpinCount(&lock_, 100); }

RecordQueue::~RecordQueue() {
  Clear();
  DeleteCriticalSection(&lock_);
}

bool RecordQueue::Push(MessageRecord* record) {
  Node* node = new (std::nothrow) Node{record, nullptr};
  if (node == nullptr) return false;
  record->AddRef();
  CriticalSectionGuard guard(lock_);
  if (tail_ != nullptr) {
    tail_->next = node;
  } else {
    head_ = node;
  }
  tail_ = node;
  ++count_;
  return true;
}

bool RecordQueue::Pop(MessageRecord*& slot) {
  Node* node = nullptr;
  {
    CriticalSectionGuard guard(lock_);
    if (count_ == 0) return false;
    node = head_;
    // The node's reference moves into the slot; the slot's previous record is
    // released, which may destroy it while the lock is held.
    MessageRecord* previous = slot;
    slot = node->record;
    head_ = node->next;
    if (head_ == nullptr) tail_ = nullptr;
    --count_;
    if (previous != nullptr) previous->Release();
  }
  delete node;
  return true;
}

void RecordQueue::Clear() {
  Node* node = nullptr;
  {
    CriticalSectionGuard guard(lock_);
    node = head_;
    head_ = nullptr;
    tail_ = nullptr;
    count_ = 0;
  }
  while (node != nullptr) {
    Node* next = node->next;
    node->record->Release();
    delete node;
    node = next;
  }
}

uint32_t RecordQueue::Count() {
  CriticalSectionGuard guard(lock_);
  return count_;
}
