// bridgectl's OS-free parts: its own readings of a command line (and status 2
// with CLI11's message for its own checks), the variable list from VarDump
// chunks as they arrive in client-data messages (never read past their end),
// and what bridgectl prints.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <tuple>

#include "bridge_message.h"
#include "command_line.h"
#include "output_format.h"
#include "support/bytes.h"
#include "support/guarded_bytes.h"
#include "var_list.h"
#include "watch_table.h"

namespace {

using namespace bridgectl;

TEST(CommandLineTest, ArgumentsBecomeTheirValuesAndAWrongLineEndsWithStatus2) {
  // The last '@' ends a name; "-.5" is a number, not an option.
  ParseResult r = ParseCommandLine({"watch", "A@B@250", "F", "--peer", "7"});
  ASSERT_EQ(r.invocation.watch.size(), 2u);
  EXPECT_EQ(std::make_tuple(r.invocation.watch[0].name, r.invocation.watch[0].intervalMs,
                            r.invocation.watch[1].intervalMs, r.invocation.havePeer, r.invocation.haveTag),
            std::make_tuple(std::string("A@B"), 250u, 0u, true, false));
  EXPECT_EQ(ParseCommandLine({"set", "TRIM", "-.5"}).invocation.value, -0.5);
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"watch", "A@0"}, "NAME[@MS]: 'A@0': the interval after @ must be a whole number of milliseconds above 0"},
      {{"set", "A", "nan"}, "VALUE: 'nan' is not a number"},
      {{"keys", "ctrl+a"}, "KEYSTRING: 'ctrl+a' holds no key code (write decimal codes such as \"17,65\")"},
      {{"get", std::string(256, 'n')}, "NAME: the variable name is longer than 255 characters"},
      {{"--tcp", "host:65536", "list"}, "--tcp: takes HOST:PORT or [IPV6-ADDRESS]:PORT"},
  };
  for (const auto& c : refused) {
    r = ParseCommandLine(c.first);
    EXPECT_EQ(std::make_pair(r.status, r.err.substr(0, r.err.find('\n'))), std::make_pair(2, c.second));
  }
}

// Decodes a client-data message of subscription `requestId` carrying `record`,
// `cut` bytes short of its end, placed right before an inaccessible page.
BridgeMessage Decode(uint32_t requestId, const void* record, size_t size, size_t cut = 0) {
  Bytes message(40 + size);
  message.U32(0, static_cast<uint32_t>(40 + size)).U32(4, 6).U32(8, 16).U32(12, requestId).Raw(40, record, size);
  std::vector<uint8_t> bytes = message.vec();
  bytes.resize(bytes.size() - cut);
  const GuardedBytes guarded(bytes);
  return DecodeMessage(guarded.data(), guarded.size());
}

VarListAssembler::Status Feed(VarListAssembler& list, uint32_t firstId, const char* names) {
  records::VarDump dump = records::MakeVarDump(firstId, 5);
  records::SetText(dump.names, sizeof dump.names, names);
  uint8_t bytes[records::kVarDumpSize];
  records::EncodeVarDump(dump, bytes);
  const BridgeMessage message = Decode(kVarDumpRequestId, bytes, sizeof bytes);
  EXPECT_EQ(message.kind, MessageKind::kVarDump);
  return list.Feed(message.varDump);
}

TEST(MessageTest, OurListIsJoinedAfterTheTailOfAnotherAndNoFieldIsReadPastTheEnd) {
  using Status = VarListAssembler::Status;
  VarListAssembler list;
  EXPECT_EQ(Feed(list, 333, "LATE_A;LATE_B;"), Status::kMore);  // another application's list
  EXPECT_EQ(Feed(list, records::kVarDumpClosingId, ""), Status::kMore);
  EXPECT_EQ(Feed(list, 0, "A;B;"), Status::kMore);
  EXPECT_EQ(Feed(list, 0x7FFF, "C;"), Status::kMore);  // later chunks start at any id
  EXPECT_EQ(Feed(list, records::kVarDumpClosingId, ""), Status::kDone);
  EXPECT_EQ(list.names(), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(std::make_pair(list.totalCount(), list.chunkCount()), std::make_pair(5u, 2u));
  VarListAssembler mjcOnly;
  EXPECT_EQ(Feed(mjcOnly, records::kVarDumpClosingId, ""), Status::kDone);
  EXPECT_TRUE(mjcOnly.names().empty());

  uint8_t data[records::kVarDataSize], event[records::kHostEventSize];
  records::EncodeVarData(records::MakeVarData(84.25, true, "ENG1_N1"), data);
  records::EncodeHostEvent(records::MakeHostEvent(0xC0FFEE, 7, 1.21, records::kVersionText), event);
  EXPECT_EQ(Decode(999, data, sizeof data).kind, MessageKind::kOther);
  for (size_t cut = 1; cut <= 40 + sizeof data; ++cut) {
    ASSERT_EQ(Decode(kVarDataRequestId, data, sizeof data, cut).kind, MessageKind::kMalformed) << cut;
  }
  for (size_t cut = 1; cut <= 40 + sizeof event; cut += 7) {
    ASSERT_EQ(Decode(kHostEventRequestId, event, sizeof event, cut).kind, MessageKind::kMalformed) << cut;
  }
}

TEST(OutputFormatTest, ValuesEventsListsAndTheLiveTableAsPrinted) {
  std::string printed;  // the shortest text that reads back exactly
  for (double v : {84.2, 1.2e7, -0.5, 0.000125, 1e20, 1.5e-7, 0.1 + 0.2, double{0.01f}, std::nan(""), -HUGE_VAL}) {
    printed += FormatValue(v) + " ";
  }
  EXPECT_EQ(printed, "84.2 12000000 -0.5 0.000125 1e+20 1.5e-07 0.30000000000000004 0.009999999776482582 nan -inf ");
  ClockTime time;
  time.year = 2024, time.month = 5, time.day = 1, time.hour = 7, time.minute = 3, time.second = 9;
  time.millisecond = 45;
  EXPECT_EQ(FormatTimeOfDay(time), "07:03:09.045");
  // JSON keys in their order; the bridge's single-byte texts as U+0000..U+00FF.
  EXPECT_EQ(JsonVarData(time, records::MakeVarData(std::nan(""), true, "a\"b\x01\xe9")),
            "{\"time\":\"2024-05-01T07:03:09.045\",\"name\":\"a\\\"b\\u0001\\u00e9\",\"value\":null,\"mjc\":true}");
  EXPECT_EQ(DescribeEvent(records::MakeHostEvent(0, 12, 3.5, "NEW")), "variable added: NEW = 3.5");
  EXPECT_EQ(ListingText({"A", "B"}, 4),
            "A\nB\n2 variables (the bridge counts 4: MJC variables are counted but not listed)\n");

  // The live table of watch on a console: the bridge's spelling wins, and
  // every line keeps one width so that a redraw covers the old table.
  WatchTable table({"ENG1_N1", "gear_handle"});
  EXPECT_TRUE(table.Update("GEAR_HANDLE", 1.0, "12:00:00.100"));
  EXPECT_TRUE(table.Update("GEAR_HANDLE", 0.5, "12:00:00.200"));
  EXPECT_TRUE(table.Mark("eng1_n1", "(unknown)"));
  const std::vector<std::string> lines = table.Render();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2].substr(0, lines[2].find_last_not_of(' ') + 1), "GEAR_HANDLE  0.5                 12:00:00.200  2");
  EXPECT_NE(lines[1].find("(unknown)"), std::string::npos);
  for (const std::string& line : lines) EXPECT_EQ(line.size(), lines[0].size()) << line;
  table.SetStatus(std::string(120, 's'));
  for (const std::string& line : table.Render()) EXPECT_EQ(line.size(), 120u);
}

}  // namespace
