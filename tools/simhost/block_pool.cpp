// The process-wide pool of blocks lent to in-process clients.
#include "block_pool.h"

#include <new>

namespace simhost {

namespace {

// The smallest class whose blocks hold `size` bytes (size <= kLargestBlock).
int ClassOf(uint32_t size) {
  int sizeClass = 0;
  uint32_t capacity = BlockPool::kSmallestBlock;
  while (capacity < size) {
    capacity <<= 1;
    ++sizeClass;
  }
  return sizeClass;
}

uint32_t CapacityOf(int sizeClass) { return BlockPool::kSmallestBlock << sizeClass; }

}  // namespace

BlockPool& BlockPool::Instance() {
  // Never destroyed: blocks may come back at any time before the process ends.
  static BlockPool* pool = new BlockPool;
  return *pool;
}

uint8_t* BlockPool::Lend(uint32_t size, Use use) {
  if (size == 0 || size > kLargestBlock || use == Use::kFree) return nullptr;
  const int sizeClass = ClassOf(size);
  std::lock_guard<SlimLock> guard(lock_);
  uint8_t* block = nullptr;
  if (!free_[sizeClass].empty()) {
    block = free_[sizeClass].back();
    free_[sizeClass].pop_back();
  } else {
    const uint32_t capacity = CapacityOf(sizeClass);
    if (madeBytes_ + capacity > kLimitBytes) return nullptr;
    block = new (std::nothrow) uint8_t[capacity];
    if (block == nullptr) return nullptr;
    blocks_[block] = Block{static_cast<uint8_t>(sizeClass), Use::kFree};
    madeBytes_ += capacity;
  }
  blocks_[block].use = use;
  ++(use == Use::kRequest ? outForRequest_ : outForMessage_);
  return block;
}

bool BlockPool::TakeBack(const void* block, Use use) {
  if (block == nullptr || use == Use::kFree) return false;
  std::lock_guard<SlimLock> guard(lock_);
  auto found = blocks_.find(block);
  if (found == blocks_.end() || found->second.use != use) return false;
  found->second.use = Use::kFree;
  --(use == Use::kRequest ? outForRequest_ : outForMessage_);
  // The map's key is the block as made; the cast only drops the const the
  // lookup needed.
  free_[found->second.sizeClass].push_back(static_cast<uint8_t*>(const_cast<void*>(found->first)));
  return true;
}

bool BlockPool::Capacity(const void* block, Use use, uint32_t* capacity) {
  std::lock_guard<SlimLock> guard(lock_);
  auto found = blocks_.find(block);
  if (found == blocks_.end() || found->second.use != use || use == Use::kFree) return false;
  *capacity = CapacityOf(found->second.sizeClass);
  return true;
}

BlockPool::Counts BlockPool::Count() {
  std::lock_guard<SlimLock> guard(lock_);
  return Counts{blocks_.size(), madeBytes_, outForRequest_, outForMessage_};
}

}  // namespace simhost
