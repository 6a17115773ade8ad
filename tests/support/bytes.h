// Byte images in tests: an expected-bytes builder with literal offsets (kept
// independent of the library's own layout definitions), readers at offsets,
// and the messages a simulator sends.
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
  Bytes& U64(size_t offset, uint64_t value) {
    return U32(offset, static_cast<uint32_t>(value)).U32(offset + 4, static_cast<uint32_t>(value >> 32));
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

// Little-endian reads; an offset past the end throws (the test fails).
uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset);
uint64_t U64At(const std::vector<uint8_t>& bytes, size_t offset);
// The text at `offset`, up to its NUL or the end of the bytes.
std::string TextAt(const std::vector<uint8_t>& bytes, size_t offset);

// A received message of `size` bytes: size, version 4, kind, then zeros.
std::vector<uint8_t> MakeReceived(uint32_t kind, uint32_t size);
// The event message (kind 4) of a menu item's event id.
std::vector<uint8_t> MenuEvent(uint32_t eventId);
// The 316-byte client-data message (kind 16) that carries a HostRequest record
// at offset 40, as the simulator relays the application's write to the
// host-request area (request id 10000).
std::vector<uint8_t> HostRequestMessage(uint32_t command, const std::string& name = "", double value = 0.0,
                                        uint32_t param = 0, uint32_t tag = 0x1234, uint32_t requestId = 10000);

// A function's address as the 64-bit number a record carries.
template <typename Function>
uint64_t AddressOf(Function* function) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(function));
}
