// Little-endian reads and writes of fixed-width fields at byte offsets.
// Plain functions over byte pointers: no OS calls, usable natively and on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wire {

inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t LoadU64(const uint8_t* p) {
  return static_cast<uint64_t>(LoadU32(p)) | (static_cast<uint64_t>(LoadU32(p + 4)) << 32);
}

inline void StoreU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline void StoreU64(uint8_t* p, uint64_t v) {
  StoreU32(p, static_cast<uint32_t>(v));
  StoreU32(p + 4, static_cast<uint32_t>(v >> 32));
}

inline float LoadF32(const uint8_t* p) {
  uint32_t bits = LoadU32(p);
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

inline void StoreF32(uint8_t* p, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  StoreU32(p, bits);
}

inline double LoadF64(const uint8_t* p) {
  uint64_t bits = LoadU64(p);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

inline void StoreF64(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  StoreU64(p, bits);
}

// Copies a NUL-terminated 8-bit string into a fixed field of `width` bytes that
// the caller has zeroed. A null string leaves the field zero. Returns false when
// the text does not fit (width - 1 characters at most); the field then holds the
// first width - 1 characters and a NUL.
inline bool StoreFixedString(uint8_t* field, size_t width, const char* text) {
  if (text == nullptr) return true;
  size_t i = 0;
  for (; i + 1 < width && text[i] != '\0'; ++i) field[i] = static_cast<uint8_t>(text[i]);
  field[i] = 0;
  return text[i] == '\0';
}

// Length of the text in a fixed field, never reading past `width`.
inline size_t FixedStringLength(const uint8_t* field, size_t width) {
  size_t n = 0;
  while (n < width && field[n] != 0) ++n;
  return n;
}

}  // namespace wire
