#include "simconnect/received_string.h"

#include <cstddef>

namespace received_string {

bool Find(const uint8_t* message, uint32_t messageSize, const uint8_t* text, uint32_t* paddedSize) {
  if (message == nullptr || messageSize == 0 || text == nullptr) return false;
  // A string that starts before the message or at or past its end has no room.
  uintptr_t start = reinterpret_cast<uintptr_t>(message);
  uintptr_t at = reinterpret_cast<uintptr_t>(text);
  if (at < start || at - start >= messageSize) return false;
  uint32_t room = messageSize - static_cast<uint32_t>(at - start);
  for (uint32_t length = 0; length < room; ++length) {
    if (text[length] == 0) {
      if (paddedSize != nullptr) *paddedSize = (length & ~3u) + 4;
      return true;
    }
  }
  return false;
}

}  // namespace received_string
