// Bytes placed so that their last byte is the last one before an inaccessible
// page (VirtualAlloc + PAGE_NOACCESS): any read past their end faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class GuardedBytes {
 public:
  explicit GuardedBytes(const std::vector<uint8_t>& bytes);
  ~GuardedBytes();
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  // False when the pages could not be had (data() is then null).
  bool ok() const { return data_ != nullptr; }
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  uint8_t* region_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};
