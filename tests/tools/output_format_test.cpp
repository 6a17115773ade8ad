// What bridgectl prints: values that read back exactly, JSON lines that any
// JSON reader takes, the bridge's events and refusals in plain words, the
// variable list, and the live table of watch.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "lvar/records.h"
#include "output_format.h"
#include "watch_table.h"

namespace {

using namespace bridgectl;

ClockTime SampleTime() {
  ClockTime time;
  time.year = 2024;
  time.month = 5;
  time.day = 1;
  time.hour = 7;
  time.minute = 3;
  time.second = 9;
  time.millisecond = 45;
  return time;
}

TEST(OutputFormatTest, ValuesAreTheShortestTextThatReadsBackExactly) {
  EXPECT_EQ(FormatValue(84.2), "84.2");
  EXPECT_EQ(FormatValue(1200.0), "1200");
  EXPECT_EQ(FormatValue(-0.5), "-0.5");
  EXPECT_EQ(FormatValue(35000.0), "35000");
  EXPECT_EQ(FormatValue(0.000125), "0.000125");
  EXPECT_EQ(FormatValue(1e20), "1e+20");
  EXPECT_EQ(FormatValue(1.5e-7), "1.5e-07");
  EXPECT_EQ(FormatValue(0.1 + 0.2), "0.30000000000000004");
  // The bridge's change threshold, the single-precision 0.01 widened.
  EXPECT_EQ(FormatValue(static_cast<double>(0.01f)), "0.009999999776482582");
  for (double value : {3.141592653589793, 1.0 / 3.0, -123456.789, 5e-324, 1.7976931348623157e308}) {
    EXPECT_EQ(std::strtod(FormatValue(value).c_str(), nullptr), value) << FormatValue(value);
  }
  EXPECT_EQ(FormatValue(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(FormatValue(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(JsonNumber(std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(JsonNumber(2.5), "2.5");

  EXPECT_EQ(FormatTimeOfDay(SampleTime()), "07:03:09.045");
  EXPECT_EQ(FormatIsoTime(SampleTime()), "2024-05-01T07:03:09.045");
}

TEST(OutputFormatTest, JsonLinesForValuesAndEvents) {
  EXPECT_EQ(JsonString("plain"), "\"plain\"");
  EXPECT_EQ(JsonString("a\"b\\c\nd\te\x01"), "\"a\\\"b\\\\c\\nd\\te\\u0001\"");
  // Single-byte texts: bytes above 0x7F stand for U+0080..U+00FF.
  EXPECT_EQ(JsonString("caf\xe9"), "\"caf\\u00e9\"");

  EXPECT_EQ(JsonVarData(SampleTime(), records::MakeVarData(84.2, false, "ENG1_N1")),
            "{\"time\":\"2024-05-01T07:03:09.045\",\"name\":\"ENG1_N1\",\"value\":84.2,\"mjc\":false}");
  EXPECT_EQ(JsonVarData(SampleTime(), records::MakeVarData(std::nan(""), true, "MJC_1001")),
            "{\"time\":\"2024-05-01T07:03:09.045\",\"name\":\"MJC_1001\",\"value\":null,\"mjc\":true}");

  const std::string time = "{\"time\":\"2024-05-01T07:03:09.045\",";
  EXPECT_EQ(JsonEvent(SampleTime(), records::MakeHostEvent(0, 8, 1.21, "TAVO Twinjet 320")),
            time + "\"event\":\"aircraft\",\"title\":\"TAVO Twinjet 320\"}");
  EXPECT_EQ(JsonEvent(SampleTime(), records::MakeHostEvent(0, 12, 3.5, "NEW_VAR")),
            time + "\"event\":\"added\",\"name\":\"NEW_VAR\",\"value\":3.5}");
  EXPECT_EQ(JsonEvent(SampleTime(), records::MakeHostEvent(0, 15, 0.0, "OLD_VAR")),
            time + "\"event\":\"removed\",\"name\":\"OLD_VAR\"}");
  EXPECT_EQ(JsonEvent(SampleTime(), records::MakeHostEvent(0, 13, -1.0, "NOPE")),
            time + "\"event\":\"refused\",\"name\":\"NOPE\",\"reason\":-1,\"message\":\"unknown variable NOPE\"}");
  EXPECT_EQ(JsonEvent(SampleTime(), records::MakeHostEvent(5, 7, 1.21, records::kVersionText)),
            time + "\"event\":\"connected\",\"text\":\"TAVO.quin Bridge Version 1.0.0.21\"}");
  EXPECT_EQ(JsonEvent(SampleTime(), records::MakeHostEvent(0, 99, 2.0, "x")),
            time + "\"event\":\"event-99\",\"value\":2,\"text\":\"x\"}");
}

TEST(OutputFormatTest, EventsAndRefusalsInPlainWords) {
  EXPECT_EQ(DescribeEvent(records::MakeHostEvent(0, 8, 1.21, "TAVO Twinjet 320")), "aircraft: TAVO Twinjet 320");
  EXPECT_EQ(DescribeEvent(records::MakeHostEvent(0, 12, 0.25, "NEW_VAR")), "variable added: NEW_VAR = 0.25");
  EXPECT_EQ(DescribeEvent(records::MakeHostEvent(0, 15, 0.0, "OLD_VAR")), "variable removed: OLD_VAR");
  EXPECT_EQ(DescribeEvent(records::MakeHostEvent(0, 13, -5.0, "MJC_VAR_READ_CODE")),
            "refused: MJC_VAR_READ_CODE: names that begin with MJC_VAR_ belong to the MJC handshake and cannot be "
            "monitored");

  records::HostEvent notFound = records::MakeHostEvent(0, 13, -1.0, "FLAPS");
  records::HostEvent minusTwo = records::MakeHostEvent(0, 13, -2.0, "FLAPS");
  EXPECT_EQ(RefusalMessage(notFound, false), "unknown variable FLAPS");
  EXPECT_EQ(RefusalMessage(notFound, true), "unknown variable FLAPS");
  EXPECT_EQ(RefusalMessage(minusTwo, true), "the aircraft offers no MJC write handshake (FLAPS)");
  EXPECT_EQ(RefusalMessage(minusTwo, false), "unknown variable FLAPS (it cannot stop being monitored)");
  EXPECT_EQ(RefusalMessage(records::MakeHostEvent(0, 13, -9.0, "X"), false), "the bridge refused X (reason -9)");
  EXPECT_EQ(EventName(7), "connected");
}

TEST(OutputFormatTest, TheListWithItsTotal) {
  EXPECT_EQ(ListingText({"A", "B"}, 2), "A\nB\n2 variables\n");
  EXPECT_EQ(ListingText({"A"}, 1), "A\n1 variable\n");
  EXPECT_EQ(ListingText({"A", "B"}, 4),
            "A\nB\n2 variables (the bridge counts 4: MJC variables are counted but not listed)\n");
  EXPECT_EQ(ListingText({}, 0), "0 variables\n");
  EXPECT_EQ(JsonListing({"A", "B\""}, 3), "{\"count\":2,\"total\":3,\"names\":[\"A\",\"B\\\"\"]}");

  EXPECT_TRUE(SameName("eng1_n1", "ENG1_N1"));
  EXPECT_FALSE(SameName("ENG1_N1", "ENG1_N2"));
  EXPECT_FALSE(SameName("ENG1", "ENG1_N1"));
}

TEST(WatchTableTest, RowsFollowTheReportsAndLinesKeepOneWidth) {
  WatchTable table({"ENG1_N1", "gear_handle"});
  table.SetStatus("aircraft: TAVO Twinjet 320");
  std::vector<std::string> empty = table.Render();
  ASSERT_EQ(empty.size(), table.LineCount());
  EXPECT_EQ(empty[0].rfind("NAME", 0), 0u);
  EXPECT_NE(empty[1].find("ENG1_N1"), std::string::npos);
  EXPECT_NE(empty[1].find(" - "), std::string::npos);  // no value yet
  EXPECT_NE(empty[4].find("aircraft: TAVO Twinjet 320"), std::string::npos);

  // Names match without regard to case; the row takes the bridge's spelling.
  EXPECT_TRUE(table.Update("GEAR_HANDLE", 1.0, "12:00:00.100"));
  EXPECT_TRUE(table.Update("GEAR_HANDLE", 0.5, "12:00:00.200"));
  EXPECT_TRUE(table.Update("ENG1_N1", 84.2, "12:00:00.150"));
  EXPECT_FALSE(table.Update("FLAPS", 1.0, "12:00:00.300"));
  EXPECT_TRUE(table.Mark("eng1_n1", "(unknown)"));

  std::vector<std::string> lines = table.Render();
  const std::string& gear = lines[2];
  EXPECT_EQ(gear.rfind("GEAR_HANDLE", 0), 0u) << gear;
  EXPECT_NE(gear.find("0.5"), std::string::npos);
  EXPECT_NE(gear.find("12:00:00.200"), std::string::npos);
  EXPECT_EQ(gear.substr(gear.find_last_not_of(' ') - 1, 2), " 2") << gear;  // two reports
  EXPECT_NE(lines[1].find("(unknown)"), std::string::npos);
  for (const std::string& line : lines) EXPECT_EQ(line.size(), lines[0].size()) << line;

  // A longer status widens every line, so a redraw covers the old table.
  table.SetStatus(std::string(120, 's'));
  for (const std::string& line : table.Render()) EXPECT_EQ(line.size(), 120u);
}

}  // namespace
