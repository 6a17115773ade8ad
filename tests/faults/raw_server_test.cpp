// The module hosted here facing a raw server that plays the simulator byte
// by byte on its pipe: bad bytes after the open reply and after the set-up, a
// message cut off by the server's close, and a burst of two thousand requests
// whose replies the server does not read before it closes its end or sends a
// size field that no message can have. Whatever comes, the process lives on,
// the worker waits for DLLStop, DLLStop ends it within its bound, and each
// load, serve and unload gives back exactly the handles and threads it took.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "lvar/records.h"
#include "simconnect/wire.h"
#include "support/bytes.h"
#include "support/hosted_module.h"
#include "support/module_log.h"
#include "support/wait_until.h"

namespace {

using module_log::Lines;
using Message = std::vector<uint8_t>;

Message Concat(std::initializer_list<Message> parts) {
  Message all;
  for (const Message& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}
// An object-data message for request `requestId` whose data is `text`,
// with or without its NUL.
Message Title(uint32_t requestId, const std::string& text, bool withNul) {
  Message message = MakeReceived(8, static_cast<uint32_t>(40 + text.size() + (withNul ? 1 : 0)));
  wire::StoreU32(message.data() + 12, requestId);
  std::copy(text.begin(), text.end(), message.begin() + 40);
  return message;
}
// Whether `request` is the Text request of the About item, NUL included.
bool IsAboutText(const Message& request) {
  const std::string text = "TAVO.quin Simulator Bridge Version 1.0.0.21";
  return request.size() > 32 && std::string(request.begin() + 32, request.end()) == text + '\0';
}

ServedOptions RawOptions() {
  ServedOptions options;
  options.server = ServedOptions::Server::kRaw;
  options.aircraft = RampAircraft("Raw Server Aircraft", "RAW_", 4, 10.0);  // no frames: all at 0
  return options;
}

// The worker runs on after whatever the server did; DLLStop ends it within
// its bound, and the log ends the stop way. The whole log.
Lines ExpectStoppedByDllStop(ServedModule& sim) {
  Sleep(300);
  return sim.StopRunning();
}

TEST(RawServerTest, BadBytesAreDroppedOrEndTheConnectionButNeverTheWorker) {
  {
    // Right behind the open reply, in the same write: bytes that read as a
    // size far above any message. The module drops the connection; its
    // set-up requests go out into a failed connection, or just before.
    ServedOptions options = RawOptions();
    options.rawSetUp = false;
    ServedModule sim;
    ASSERT_TRUE(sim.Start(options));
    const std::string garbage = "garbage after the open reply";
    ASSERT_TRUE(sim.Raw().Write(Concat({MakeReceived(2, 308), Message(garbage.begin(), garbage.end())})));
    EXPECT_TRUE(sim.Raw().WaitForClientClose());
    const Lines lines = ExpectStoppedByDllStop(sim);
    EXPECT_EQ(module_log::Slice(lines, 2, 4),
              (Lines{module_log::Succeeded("SimConnect_Open", 1), "SimConnect: OpenEvent"}));
    EXPECT_EQ(module_log::CountStartingWith(lines, "SimConnectProcess"), 0u);
  }

  const Resources before = TakeResources();  // after a first load and unload
  {
    ServedModule sim;
    ASSERT_TRUE(sim.Start(RawOptions()));
    // A run of zero bytes (skipped as padding), a message too short for a
    // header, one of a kind the module does not know, messages too short for
    // their kind's fields, a title without its NUL; then a good title and the
    // About item show the stream still in step.
    Message shortTitle = MakeReceived(8, 39);
    wire::StoreU32(shortTitle.data() + 12, 10001);
    ASSERT_TRUE(sim.Raw().Write(Concat({Message(7, 0), {8, 0, 0, 0, 0xEF, 0xBE, 0xAD, 0xDE}, MakeReceived(0x77, 12),
                                        shortTitle, MakeReceived(1, 23), MakeReceived(4, 12),
                                        Title(10001, std::string(300, 'X'), false),
                                        Title(10002, "Raw Server Aircraft", true), MenuEvent(102)})));
    // A record too short to be a message ends the module's drain, and what is
    // queued behind it waits for the next message: the same title again,
    // which changes nothing.
    bool about = IsAboutText(sim.Raw().ReadMessage(1000));
    for (int nudge = 0; nudge < 2 && !about; ++nudge) {
      ASSERT_TRUE(sim.Raw().Write(Title(10002, "Raw Server Aircraft", true)));
      about = IsAboutText(sim.Raw().ReadMessage(2000));
    }
    EXPECT_TRUE(about);
    // A request cut off by the server's abrupt close is never served.
    const Message connect = HostRequestMessage(records::kCommandConnect, "", 0.0, 5, 0x99);
    ASSERT_TRUE(sim.Raw().Write(connect.data(), connect.size() / 2));
    Sleep(200);  // the module's pending read takes the half before the close
    sim.Raw().CloseClient();

    const Lines lines = ExpectStoppedByDllStop(sim);
    for (const char* line : {"SimConnectProcess 00000077", "SimConnectProcess 00000008 too short: 39 bytes",
                             "SimConnectProcess 00000001 too short: 23 bytes",
                             "SimConnectProcess 00000004 too short: 12 bytes"}) {
      EXPECT_EQ(module_log::CountOf(lines, line), 1u) << line;
    }
    EXPECT_EQ(module_log::CountStartingWith(lines, "SimConnectProcess message of"), 0u);
    // Only the well-formed title counts: one change of aircraft.
    const int changed = module_log::IndexOf(lines, "LVARHandler::Update Aircraft changed to 19 Raw Server Aircraft");
    ASSERT_GE(changed, 0);
    EXPECT_EQ(lines[changed + 1], "4 Changes 4 added 0 deleted (Total Vars 4)");
    EXPECT_EQ(module_log::CountStartingWith(lines, "LVARHandler::Update Aircraft changed to"), 1u);
    EXPECT_GT(module_log::IndexOf(lines, "onRecvEvent 102 (24)"), changed);
    EXPECT_EQ(module_log::CountStartingWith(lines, "LVARHandler::Connect"), 0u);
  }
  ExpectNothingLeft(before, 0, "after the malformed stream");
}

// One cycle: load, set-up, About; two thousand reports asked in one write and
// none read, so that the replies (about 600 KB) overflow the pipe's buffer and
// the module's write waits with the rest queued behind it; then the server
// closes its end, or sends a size field of 2 and an About that must not be
// served. The outstanding write does not keep the connection open.
void FloodThenBreak(bool badSize) {
  constexpr size_t kReports = 2000;
  ServedModule sim;
  ASSERT_TRUE(sim.Start(RawOptions()));
  ASSERT_TRUE(sim.Raw().Write(MenuEvent(102)));
  EXPECT_TRUE(IsAboutText(sim.Raw().ReadMessage()));
  Message burst = HostRequestMessage(records::kCommandConnect, "", 0.0, 5, 0xB0B);
  for (size_t i = 0; i < kReports; ++i) {
    const Message report = HostRequestMessage(records::kCommandForceUpdate, "RAW_" + std::to_string(i % 4));
    burst.insert(burst.end(), report.begin(), report.end());
  }
  ASSERT_TRUE(sim.Raw().Write(burst));
  auto served = [] { return module_log::CountStartingWith(module_log::SoFar(), "LVARHandler::ForceUpdate RAW_"); };
  ASSERT_TRUE(WaitUntil([&] { return served() == kReports; }, 30000)) << served() << " of " << kReports;
  if (badSize) {
    ASSERT_TRUE(sim.Raw().Write(Concat({{2, 0, 0, 0}, MenuEvent(102)})));
    // Draining the pipe lets no further reply through: the module has
    // closed its end, pending write and send queue included.
    EXPECT_TRUE(sim.Raw().WaitForClientClose(10000));
  } else {
    sim.Raw().CloseClient();
  }
  const Lines lines = ExpectStoppedByDllStop(sim);
  EXPECT_EQ(module_log::CountOf(lines, "onRecvEvent 102 (24)"), 1u);
  EXPECT_EQ(module_log::CountOf(lines, "LVARHandler::Connect 00000b0b"), 1u);
  // Every report was served, in the order asked, with its variable's value.
  size_t i = 0;
  for (const std::string& line : lines) {
    if (line.compare(0, 25, "LVARHandler::ForceUpdate ") != 0) continue;
    const std::string expected = "LVARHandler::ForceUpdate RAW_" + std::to_string(i % 4) + " = 0.000000 : success";
    if (line != expected) ADD_FAILURE() << "report " << i << ": " << line;
    if (line != expected || ++i > kReports) break;
  }
  EXPECT_EQ(i, kReports);
}

TEST(RawServerTest, ABrokenStreamWhileAWriteIsOutstandingLeavesExactlyNothingBehind) {
  int cycle = 0;
  CyclesLeaveNothingBehind(2, 0, [&] {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    FloodThenBreak(cycle++ % 2 == 1);
  });
}

}  // namespace
