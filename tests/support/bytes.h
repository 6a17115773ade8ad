// Building expected byte images in tests with literal offsets, independent of
// the library's own layout definitions.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

class Bytes {
 public:
  explicit Bytes(size_t size) : bytes_(size, 0) {}
  Bytes& U32(size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
    return *this;
  }
  Bytes& F32(size_t offset, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return U32(offset, bits);
  }
  Bytes& Text(size_t offset, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) bytes_.at(offset + i) = static_cast<uint8_t>(text[i]);
    return *this;
  }
  Bytes& Raw(size_t offset, const void* data, size_t n) {
    if (n != 0) std::memcpy(&bytes_.at(offset), data, n);
    return *this;
  }
  // A request header: size, version 37, id, sendId.
  Bytes& Header(uint32_t id, uint32_t sendId) {
    return U32(0, static_cast<uint32_t>(bytes_.size())).U32(4, 37).U32(8, id).U32(12, sendId);
  }
  const std::vector<uint8_t>& vec() const { return bytes_; }
  operator const std::vector<uint8_t>&() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

inline uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset) {
  return static_cast<uint32_t>(bytes.at(offset)) | (static_cast<uint32_t>(bytes.at(offset + 1)) << 8) |
         (static_cast<uint32_t>(bytes.at(offset + 2)) << 16) | (static_cast<uint32_t>(bytes.at(offset + 3)) << 24);
}
