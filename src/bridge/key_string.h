// Key strings of the application's SendKeys request: a list of decimal
// virtual-key codes, and the keyboard-input flags each code is sent with.
// Plain text in, numbers out: no OS calls, so the parser also builds natively
// for fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace key_string {

// Reads the codes of a key string of `length` bytes (the text stops earlier at
// a NUL). The rules are those of formatted stream extraction:
//   - an item is optional whitespace, an optional sign and decimal digits, and
//     must fit a signed 32-bit integer;
//   - each code is followed by one separator character, read after optional
//     whitespace; it may be anything, a digit included, and may be missing
//     after the last code;
//   - the list ends at the first item that does not read as a number.
// So "17+65" and "17, 65" give 17 and 65, "65 66" gives 65 and 6 (the 6 is
// taken as the separator), "0x41" gives 0 and 41, "65,,66" gives 65 alone and
// an empty string or one that does not begin with a number gives nothing.
std::vector<int32_t> ParseCodes(const char* text, size_t length);

// True for the virtual-key codes that are sent with the extended-key flag:
// Page Up, Page Down, End, Home, the four arrows, Print Screen, Insert, Delete,
// keypad Divide, Num Lock, right Control and right Alt.
bool IsExtendedKey(int32_t code);

// Keyboard-input flags: the scan code identifies the key (8), plus key-up (2)
// for a release, plus extended key (1).
constexpr uint32_t kFlagExtendedKey = 0x1;
constexpr uint32_t kFlagKeyUp = 0x2;
constexpr uint32_t kFlagScanCode = 0x8;

// 8 or 9 for a press, 10 or 11 for a release.
constexpr uint32_t InputFlags(bool extended, bool release) {
  return kFlagScanCode | (release ? kFlagKeyUp : 0u) | (extended ? kFlagExtendedKey : 0u);
}

// Pause between the last press and the first release, in milliseconds.
constexpr uint32_t kPressReleasePauseMs = 50;

}  // namespace key_string
