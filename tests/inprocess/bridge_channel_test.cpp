// The built module hosted in this process with simhost's main window: its
// connection takes the in-process channel, and the module works through it.
// An application in this process takes the channel too; one in another
// process (bridgectl.exe) finds the window but stays on its pipe. After the
// quit every block the channel lent is back.
#include <gtest/gtest.h>

#include "block_pool.h"
#include "support/app_client.h"
#include "support/child_process.h"
#include "support/hosted_module.h"
#include "support/module_log.h"
#include "support/paths.h"
#include "support/wait_until.h"

namespace {

TEST(BridgeChannelTest, TheModuleAndAnApplicationOfItsProcessWorkThroughTheChannelAnotherProcessThroughItsPipe) {
  ASSERT_EQ(FindWindowW(L"FS98MAIN", nullptr), nullptr) << "another program has an FS98MAIN window open";
  ServedOptions options;
  options.aircraft = RampAircraft("Channel Aircraft", "CHANNEL_", 3, 10.0, {{"LIGHT_NAV", 1.0}});
  options.window = true;
  options.runFrames = true;
  ServedModule sim;
  ASSERT_TRUE(sim.Start(options));
  LogCapture& console = sim.Console();
  simhost::ChannelHost& channels = *sim.Host().Channels();

  // The module registers its pump, opens over the pipe and takes the channel
  // once it has dispatched its open reply.
  ASSERT_TRUE(console.WaitForLine("client 1 \"TAVO.quin.Bridge\" on the in-process channel"));
  EXPECT_TRUE(console.HasLine("in-process pump registered (1 in all)"));
  EXPECT_TRUE(sim.Host().OnChannel(1));
  // The About item reaches the module as a block; its text comes back through submit.
  simhost::ChannelStats before = channels.Stats();
  ASSERT_TRUE(sim.Choose("TAVO.quin/About", "TAVO.quin Simulator Bridge Version 1.0.0.21"));
  EXPECT_GT(channels.Stats()[simhost::kDelivered], before[simhost::kDelivered]);
  // A submit is counted once it has returned, after the text is shown.
  EXPECT_TRUE(WaitUntil([&] { return channels.Stats()[simhost::kSubmitted] > before[simhost::kSubmitted]; }));

  // An application of this process: its library registers a pump of its own
  // and takes the channel; its requests and the module's answers cross it.
  AppClient app;
  ASSERT_TRUE(app.Open(9));
  EXPECT_TRUE(console.WaitForLine("client 2 \"bridgectl\" on the in-process channel"));
  EXPECT_TRUE(sim.Host().OnChannel(2));
  EXPECT_EQ(channels.PumpCount(), 2u);
  before = channels.Stats();
  ASSERT_TRUE(app.Send(records::kCommandForceUpdate, "LIGHT_NAV"));
  records::VarData data{};
  ASSERT_TRUE(app.TakeVarData("LIGHT_NAV", &data));
  EXPECT_EQ(data.value, 1.0);
  // Both crossed the channel (a submit is counted once it has returned).
  EXPECT_TRUE(WaitUntil([&] {
    const simhost::ChannelStats now = channels.Stats();
    return now[simhost::kSubmitted] - before[simhost::kSubmitted] >= 2 &&
           now[simhost::kDelivered] - before[simhost::kDelivered] >= 2;
  }));

  // An application of another process finds the window but stays on its
  // pipe: not one record of it reaches the window.
  auto records = [&] {
    const simhost::ChannelStats now = channels.Stats();
    return now[simhost::kUnregisterRequests] + now[simhost::kPumpsRegistered] + now[simhost::kOffers] +
           now[simhost::kIgnoredRecords];
  };
  const uint64_t recordsBefore = records();
  ChildProcess remote;
  ASSERT_TRUE(remote.Start(WindowsPath(TVO_BRIDGECTL_EXE), L"get LIGHT_NAV"));
  EXPECT_EQ(remote.Wait(30000), 0) << remote.Output();
  EXPECT_EQ(WithoutCarriageReturns(remote.Output()), "LIGHT_NAV = 1\n");
  EXPECT_TRUE(console.HasLine("client 3 \"bridgectl\" opened (pipe)"));
  EXPECT_FALSE(console.HasLine("client 3 \"bridgectl\" on the in-process channel"));
  EXPECT_EQ(records(), recordsBefore);
  EXPECT_EQ(channels.Stats()[simhost::kDeliveredToPipe], 0u);

  // The application's close unregisters its library's pump.
  app.Close();
  EXPECT_EQ(channels.PumpCount(), 1u);
  EXPECT_TRUE(console.HasLine("in-process pump unregistered (1 left)"));

  // Every block came back through its own call, once.
  EXPECT_EQ(channels.Stats()[simhost::kBadBlocks], 0u);
  EXPECT_EQ(channels.Stats()[simhost::kSubmitDropped], 0u);

  // The quit reaches the module as a block; it closes and unregisters its
  // pump; every block lent has come back.
  sim.QuitAndStop();
  EXPECT_TRUE(console.HasLine("in-process pump unregistered (0 left)"));
  const simhost::BlockPool::Counts out = simhost::BlockPool::Instance().Count();
  EXPECT_EQ(out.outForRequest, 0u);
  EXPECT_EQ(out.outForMessage, 0u);
}

}  // namespace
