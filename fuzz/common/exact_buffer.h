// A heap copy of exactly the bytes under test: AddressSanitizer reports any
// read or write one byte past its end (or before its start).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace fuzz {

class ExactBuffer {
 public:
  // `size` zero bytes.
  explicit ExactBuffer(size_t size) : bytes_(new uint8_t[size]()), size_(size) {}
  ExactBuffer(const uint8_t* data, size_t size) : ExactBuffer(size) {
    if (size != 0) std::memcpy(bytes_.get(), data, size);
  }

  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }
  size_t size() const { return size_; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  size_t size_;
};

}  // namespace fuzz
