// Locating a NUL-terminated string inside a received message without reading
// past the message's end. Plain function: no OS calls.
#pragma once

#include <cstdint>

namespace received_string {

// True when `text` lies inside the `messageSize` bytes at `message` and a NUL
// follows it before the message ends. paddedSize (when not null) then receives
// the string's length rounded down to a multiple of 4, plus 4.
bool Find(const uint8_t* message, uint32_t messageSize, const uint8_t* text, uint32_t* paddedSize);

}  // namespace received_string
