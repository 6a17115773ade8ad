// Key strings and their injection: the codes a string gives, the keys sent
// with the extended-key flag, and SendKeys' log lines and pause.
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bridge/key_string.h"
#include "bridge/send_keys.h"
#include "linked_bridge.h"

namespace {

using Codes = std::vector<int32_t>;

TEST(KeyStringTest, CodesAreReadAsFormattedStreamExtractionReadsThem) {
  const std::pair<const char*, Codes> cases[] = {
      {"17,65", {17, 65}}, {"17, 65", {17, 65}}, {"  17 ;\t65;", {17, 65}}, {"16+17+18+65", {16, 17, 18, 65}},
      {"007,+8", {7, 8}},
      // The character after a code is its separator, whatever it is.
      {"65 66", {65, 6}}, {"65 6", {65}}, {"0x41", {0, 41}}, {"17--65", {17, -65}},
      // The list ends at the first item that is no number...
      {"", {}}, {"   ", {}}, {"A", {}}, {"+", {}}, {"- 5", {}}, {"65,,66", {65}}, {"17,65,ctrl", {17, 65}},
      // ... or does not fit a signed 32-bit integer.
      {"2147483647,-2147483648", {2147483647, -2147483647 - 1}}, {"2147483648", {}}, {"17,-2147483649", {17}},
      {"17,99999999999999999999999,65", {17}},
  };
  for (const auto& c : cases) EXPECT_EQ(key_string::ParseCodes(c.first, std::strlen(c.first)), c.second) << c.first;
  // The text ends at its length or at its first NUL.
  const char text[] = {'1', '7', ',', '6', '5', '\0', ',', '6', '6'};
  EXPECT_EQ(key_string::ParseCodes(text, sizeof text), (Codes{17, 65}));
  EXPECT_EQ(key_string::ParseCodes("17,65", 4), (Codes{17, 6}));
  EXPECT_EQ(key_string::ParseCodes(nullptr, 10), Codes{});
}

TEST(KeyStringTest, ExactlyTheFifteenExtendedKeysGetTheFlag) {
  // Page Up, Page Down, End, Home, the arrows, Print Screen, Insert, Delete,
  // keypad Divide, Num Lock, right Control, right Alt.
  const std::set<int32_t> extended = {33, 34, 35, 36, 37, 38, 39, 40, 44, 45, 46, 111, 144, 163, 165};
  for (int32_t code = -1; code <= 300; ++code) {
    EXPECT_EQ(key_string::IsExtendedKey(code), extended.count(code) == 1) << code;
  }
}

TEST(SendKeysTest, PressesInOrderPausesThenReleasesInTheSameOrder) {
  linked_bridge::StartLog();
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  for (const char* keys : {"17,45+65", "ctrl+a"}) {
    QueryPerformanceCounter(&start);
    bridge::SendKeys(keys);
    QueryPerformanceCounter(&end);
    EXPECT_GE((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart, 45) << keys;
  }
  // Control, Insert (extended) and A by their scan codes.
  EXPECT_EQ(linked_bridge::NewLines(),
            (linked_bridge::Lines{"SendKeys 17,45+65", "KeyDown 29 0", "KeyDown 82 1", "KeyDown 30 0", "KeyUp 29 0", "KeyUp 82 1",
                   "KeyUp 30 0", "SendKeys ctrl+a"}));
}

}  // namespace
