// Key strings: decimal codes, one separator after each, read the way formatted
// stream extraction reads them; and the flags each code is injected with.
#include "bridge/key_string.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<int32_t> Parse(const std::string& text) { return key_string::ParseCodes(text.c_str(), text.size()); }
using Codes = std::vector<int32_t>;

TEST(KeyStringTest, AnySingleSeparatorBetweenCodesAndNoneAfterTheLast) {
  EXPECT_EQ(Parse("17,65"), (Codes{17, 65}));
  EXPECT_EQ(Parse("17+65"), (Codes{17, 65}));
  EXPECT_EQ(Parse("17, 65"), (Codes{17, 65}));
  EXPECT_EQ(Parse("  17 ;\t65;"), (Codes{17, 65}));
  EXPECT_EQ(Parse("16+17+18+65"), (Codes{16, 17, 18, 65}));
  EXPECT_EQ(Parse("65"), (Codes{65}));
  EXPECT_EQ(Parse("007,+8"), (Codes{7, 8}));
}

TEST(KeyStringTest, TheCharacterAfterACodeIsAlwaysTakenAsItsSeparator) {
  // Blanks are skipped before the separator, so the next code loses its first digit.
  EXPECT_EQ(Parse("65 66"), (Codes{65, 6}));
  EXPECT_EQ(Parse("65 6"), (Codes{65}));
  // Codes are decimal: the x is the separator.
  EXPECT_EQ(Parse("0x41"), (Codes{0, 41}));
  // A separator may be a minus sign, and a code may carry its own.
  EXPECT_EQ(Parse("17--65"), (Codes{17, -65}));
}

TEST(KeyStringTest, TheListEndsAtTheFirstItemThatIsNoNumber) {
  EXPECT_EQ(Parse(""), Codes{});
  EXPECT_EQ(Parse("   "), Codes{});
  EXPECT_EQ(Parse("A"), Codes{});
  EXPECT_EQ(Parse("+"), Codes{});
  EXPECT_EQ(Parse("- 5"), Codes{});
  EXPECT_EQ(Parse("65,,66"), (Codes{65}));
  EXPECT_EQ(Parse("65,x66"), (Codes{65}));
  EXPECT_EQ(Parse("17,65,ctrl"), (Codes{17, 65}));
}

TEST(KeyStringTest, NumbersOutsideThe32BitRangeEndTheList) {
  EXPECT_EQ(Parse("2147483647,-2147483648"), (Codes{2147483647, -2147483647 - 1}));
  EXPECT_EQ(Parse("2147483648"), Codes{});
  EXPECT_EQ(Parse("17,-2147483649,65"), (Codes{17}));
  EXPECT_EQ(Parse("17,99999999999999999999999"), (Codes{17}));
}

TEST(KeyStringTest, TheTextEndsAtItsLengthOrItsFirstNul) {
  const char text[] = {'1', '7', ',', '6', '5', '\0', ',', '6', '6'};
  EXPECT_EQ(key_string::ParseCodes(text, sizeof text), (Codes{17, 65}));
  EXPECT_EQ(key_string::ParseCodes("17,65", 4), (Codes{17, 6}));
  EXPECT_EQ(key_string::ParseCodes(nullptr, 10), Codes{});
}

// The reading the parser stands in for: formatted extraction of an int, then
// of one char, as long as ints keep coming.
Codes StreamReading(const std::string& text) {
  std::istringstream in(text);
  Codes codes;
  int code = 0;
  char separator = 0;
  if (!(in >> code)) return codes;
  do {
    in >> separator;
    codes.push_back(code);
  } while (in >> code);
  return codes;
}

TEST(KeyStringTest, AgreesWithStreamExtractionOnGeneratedStrings) {
  const std::string alphabet = "0123456789012345 \t+-,;x";
  std::mt19937 random(20261205);
  std::uniform_int_distribution<size_t> length(0, 16);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  int withCodes = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (size_t n = length(random); n > 0; --n) text += alphabet[pick(random)];
    Codes expected = StreamReading(text);
    withCodes += expected.empty() ? 0 : 1;
    ASSERT_EQ(Parse(text), expected) << "'" << text << "'";
  }
  EXPECT_GT(withCodes, 5000);  // most strings hold codes, so the comparison is not about empty lists
  for (const char* text : {"99999999999", "2147483648,1", "-2147483648", "1,99999999999", "+-1", "1\v2"}) {
    EXPECT_EQ(Parse(text), StreamReading(text)) << text;
  }
}

TEST(KeyStringTest, ExactlyTheFifteenExtendedKeysGetTheFlag) {
  const std::vector<int32_t> extended = {33, 34, 35, 36, 37, 38, 39, 40, 44, 45, 46, 111, 144, 163, 165};
  int count = 0;
  for (int32_t code = -1; code <= 300; ++code) {
    bool expected = std::find(extended.begin(), extended.end(), code) != extended.end();
    EXPECT_EQ(key_string::IsExtendedKey(code), expected) << code;
    count += key_string::IsExtendedKey(code) ? 1 : 0;
  }
  EXPECT_EQ(count, 15);
  // Control, left Windows, right Windows, Applications, keypad Enter's code, Alt.
  for (int32_t code : {17, 91, 92, 93, 13, 18, 162, 164}) EXPECT_FALSE(key_string::IsExtendedKey(code)) << code;
}

TEST(KeyStringTest, PressAndReleaseFlags) {
  EXPECT_EQ(key_string::InputFlags(false, false), 8u);
  EXPECT_EQ(key_string::InputFlags(true, false), 9u);
  EXPECT_EQ(key_string::InputFlags(false, true), 10u);
  EXPECT_EQ(key_string::InputFlags(true, true), 11u);
}

}  // namespace
