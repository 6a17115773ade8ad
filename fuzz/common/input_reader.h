// Reading a fuzz input from front to back: bytes, little-endian numbers and
// byte runs. Past the end every read gives zeros (or a shorter run), so a target
// never has to reject an input for being short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace fuzz {

class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  size_t Remaining() const { return size_ - pos_; }

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  uint16_t U16() {
    uint16_t v = Byte();
    return static_cast<uint16_t>(v | (Byte() << 8));
  }

  uint32_t U32() {
    uint32_t v = U16();
    return v | (static_cast<uint32_t>(U16()) << 16);
  }

  float F32() {
    uint32_t bits = U32();
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

  double F64() {
    uint64_t bits = U32();
    bits |= static_cast<uint64_t>(U32()) << 32;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

  // Up to `n` bytes (fewer at the end of the input); *taken receives how many.
  const uint8_t* Take(size_t n, size_t* taken) {
    size_t k = n < Remaining() ? n : Remaining();
    const uint8_t* p = data_ + pos_;
    pos_ += k;
    *taken = k;
    return p;
  }

  // `length` bytes of text: as many as the input still has, then a filler
  // pattern, so that a short input can still ask for a long string.
  std::string Text(size_t length) {
    size_t taken = 0;
    const uint8_t* p = Take(length, &taken);
    std::string text(reinterpret_cast<const char*>(p), taken);
    for (size_t i = taken; i < length; ++i) text.push_back(static_cast<char>('A' + i % 26));
    return text;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Little-endian reads for the checks, written apart from the code under test.
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

inline uint64_t Le64(const uint8_t* p) { return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32; }

}  // namespace fuzz
