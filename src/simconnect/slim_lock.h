// A lock for the module's long-lived state that owns no kernel object.
//
// std::mutex and std::shared_mutex of the statically linked runtime create an
// event or semaphores the first time they are contended, and nothing closes
// them: not the lock's destructor and not the unloading of the module. In the
// simulator's process, which loads and unloads the module at will, those
// handles would stay behind. A slim reader/writer lock needs no clean-up.
//
// Meets the standard's Lockable and SharedLockable requirements, so that
// std::lock_guard, std::unique_lock and std::shared_lock take it.
#pragma once

#include <windows.h>

class SlimLock {
 public:
  SlimLock() = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;

  void lock() { AcquireSRWLockExclusive(&lock_); }
  bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }

  void lock_shared() { AcquireSRWLockShared(&lock_); }
  bool try_lock_shared() { return TryAcquireSRWLockShared(&lock_) != 0; }
  void unlock_shared() { ReleaseSRWLockShared(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};
