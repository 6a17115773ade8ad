// What the fuzz targets share: a check that aborts with its place, little-endian
// reads and writes apart from the code under test, exact heap copies, an input reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

// A failed check prints the condition and aborts: libFuzzer writes the input.
#define FUZZ_CHECK(condition) ((condition) ? void(0) : fuzz::Fail(#condition, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void Fail(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

inline uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> 8 * i);
}

template <typename To, typename From>
To BitCast(From from) {
  static_assert(sizeof(To) == sizeof(From), "same size");
  To to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}

// `size` bytes on the heap, a copy of `data` (zeros when null): ASan reports any access past them.
inline std::unique_ptr<uint8_t[]> Exact(const void* data, size_t size) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size]());
  if (data != nullptr && size != 0) std::memcpy(copy.get(), data, size);
  return copy;
}

// Reads the input from front to back; past its end every read gives zeros (or
// a shorter run), so a target never rejects an input for being short.
class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // Low part first: the operands of | are not sequenced.
  uint16_t U16() { const uint16_t low = Byte(); return static_cast<uint16_t>(low | Byte() << 8); }
  uint32_t U32() { const uint32_t low = U16(); return low | uint32_t{U16()} << 16; }

  // Up to `n` bytes (fewer at the end of the input); *taken receives how many.
  const uint8_t* Take(size_t n, size_t* taken) {
    *taken = n < size_ - pos_ ? n : size_ - pos_;
    pos_ += *taken;
    return data_ + pos_ - *taken;
  }

  // `length` bytes of text: what the input still has, then a filler pattern.
  std::string Text(size_t length) {
    size_t taken = 0;
    const uint8_t* p = Take(length, &taken);
    std::string text(reinterpret_cast<const char*>(p), taken);
    for (size_t i = taken; i < length; ++i) text.push_back(static_cast<char>('A' + i % 26));
    return text;
  }

 private:
  const uint8_t* data_;
  const size_t size_;
  size_t pos_ = 0;
};

}  // namespace fuzz
