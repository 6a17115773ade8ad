// Parsing of key strings (see key_string.h). The scanner reproduces what
// `stream >> int` and `stream >> char` do in the "C" locale, without a stream.
#include "bridge/key_string.h"

#include <cstdint>

namespace key_string {
namespace {

// A cursor over the text that ends at `length` bytes or the first NUL.
class Scanner {
 public:
  Scanner(const char* text, size_t length) : text_(text), length_(text == nullptr ? 0 : length) {}

  bool AtEnd() const { return pos_ >= length_ || text_[pos_] == '\0'; }
  char Peek() const { return text_[pos_]; }

  void SkipWhitespace() {
    while (!AtEnd() && IsSpace(Peek())) ++pos_;
  }

  // `stream >> int`: whitespace, an optional sign, at least one digit. Fails on
  // no digit or a value outside the signed 32-bit range.
  bool ReadInt(int32_t* out) {
    SkipWhitespace();
    bool negative = false;
    if (!AtEnd() && (Peek() == '+' || Peek() == '-')) {
      negative = Peek() == '-';
      ++pos_;
    }
    // Magnitude limit: 2147483647, or 2147483648 for a negative number.
    const uint64_t limit = negative ? uint64_t{2147483648u} : uint64_t{2147483647u};
    uint64_t magnitude = 0;
    bool anyDigit = false;
    bool overflow = false;
    while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
      anyDigit = true;
      if (!overflow) {
        magnitude = magnitude * 10 + static_cast<uint64_t>(Peek() - '0');
        if (magnitude > limit) overflow = true;
      }
      ++pos_;
    }
    if (!anyDigit || overflow) return false;
    *out = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
    return true;
  }

  // `stream >> char`: whitespace, then any one character.
  bool ReadChar() {
    SkipWhitespace();
    if (AtEnd()) return false;
    ++pos_;
    return true;
  }

 private:
  static bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  }

  const char* text_;
  size_t length_;
  size_t pos_ = 0;
};

}  // namespace

std::vector<int32_t> ParseCodes(const char* text, size_t length) {
  std::vector<int32_t> codes;
  Scanner scanner(text, length);
  int32_t code = 0;
  if (!scanner.ReadInt(&code)) return codes;
  do {
    // The separator after a code; the last one may be missing.
    scanner.ReadChar();
    codes.push_back(code);
  } while (scanner.ReadInt(&code));
  return codes;
}

bool IsExtendedKey(int32_t code) {
  switch (code) {
    case 33:   // Page Up
    case 34:   // Page Down
    case 35:   // End
    case 36:   // Home
    case 37:   // Left arrow
    case 38:   // Up arrow
    case 39:   // Right arrow
    case 40:   // Down arrow
    case 44:   // Print Screen
    case 45:   // Insert
    case 46:   // Delete
    case 111:  // numeric keypad Divide
    case 144:  // Num Lock
    case 163:  // right Control
    case 165:  // right Alt
      return true;
    default:
      return false;
  }
}

}  // namespace key_string
