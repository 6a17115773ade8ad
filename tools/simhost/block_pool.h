// The memory blocks the simulator lends its in-process clients: blocks in
// which a client builds a request (lent by allocate, taken back by submit or
// discard) and blocks that carry a message to the client (taken back by
// release). Blocks come in sizes of 64 bytes doubled up to the largest
// request; a block that comes back is kept for reuse, never freed.
//
// The pool is process-wide and lives as long as the process: a client may
// hand a block back after the server that lent it has stopped, and a block is
// never freed under a client that still reads it. A pointer the pool did not
// lend, or a block handed back twice, is refused without touching memory.
// Thread-safe; its lock is a leaf. No OS calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "simconnect/slim_lock.h"

namespace simhost {

class BlockPool {
 public:
  // What a lent block is for.
  enum class Use : uint8_t {
    kFree = 0,
    kRequest = 1,  // allocate: the client builds a request in it
    kMessage = 2,  // deliver: it carries a message to the client
  };

  static constexpr uint32_t kSmallestBlock = 64;
  static constexpr uint32_t kLargestBlock = 131072;  // the largest request a client may send
  // Blocks are made until this many bytes exist; then only reuse.
  static constexpr size_t kLimitBytes = 64u * 1024 * 1024;

  // The process's pool.
  static BlockPool& Instance();

  // A block of at least `size` bytes (its contents undefined), or null when
  // `size` is 0 or above kLargestBlock, or no block is free and the limit is
  // reached. `use` must not be kFree.
  uint8_t* Lend(uint32_t size, Use use);
  // Takes back a block lent for `use`. False, and nothing changes, when the
  // pool did not lend `block` or it is not out for `use`.
  bool TakeBack(const void* block, Use use);
  // The usable size of a block out for `use`; false as for TakeBack.
  bool Capacity(const void* block, Use use, uint32_t* capacity);

  struct Counts {
    size_t blocks;        // blocks made so far
    size_t bytes;         // their bytes
    size_t outForRequest; // lent by allocate, not yet back
    size_t outForMessage; // delivered, not yet released
  };
  Counts Count();

  BlockPool(const BlockPool&) = delete;
  BlockPool& operator=(const BlockPool&) = delete;

 private:
  BlockPool() = default;

  struct Block {
    uint8_t sizeClass;
    Use use;
  };
  static constexpr int kClasses = 12;  // 64 << 11 == kLargestBlock
  static_assert((kSmallestBlock << (kClasses - 1)) == kLargestBlock, "size classes end at the largest block");

  SlimLock lock_;
  std::unordered_map<const void*, Block> blocks_;  // every block made; guarded by lock_
  std::vector<uint8_t*> free_[kClasses];           // guarded by lock_
  size_t madeBytes_ = 0;                           // guarded by lock_
  size_t outForRequest_ = 0;                       // guarded by lock_
  size_t outForMessage_ = 0;                       // guarded by lock_
};

}  // namespace simhost
