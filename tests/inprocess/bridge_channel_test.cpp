// The built TVOBridge64.dll hosted by simhost with its main window, in this
// process: the module's connection takes the in-process channel, and
// everything the module does still works through it. An application in this
// process (a second client library, with a pump of its own) takes the channel
// too; an application in another process stays on its pipe.
#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "block_pool.h"
#include "bridge_app.h"
#include "child_process.h"
#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "simhost/simhost_test_env.h"
#include "support/test_env.h"

namespace {

// The module's Windows path: the build path on drive Z:, as Wine maps it.
std::wstring ModulePath() {
  std::string unixPath = TVO_BRIDGE_DLL;
  std::wstring path = L"Z:";
  for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

// The module's log file, its lines without their timestamps.
std::vector<std::string> BridgeLogMessages() {
  char folder[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, folder);
  std::ifstream file(std::string(folder) + "\\TAVO.quin\\logs\\TVOBridge.log", std::ios::binary);
  std::vector<std::string> messages;
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    messages.push_back(line.size() > 20 ? line.substr(20) : line);  // "dd:mm:yyyy hh:mm:ss "
  }
  return messages;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Messages handed to the application's dispatch callback, with the thread.
struct Dispatched {
  std::mutex lock;
  std::vector<records::HostEvent> events;  // guarded by lock
  std::vector<DWORD> threads;              // guarded by lock
};

void CollectHostEvents(const void* message, uint32_t size, void* context) {
  auto* dispatched = static_cast<Dispatched*>(context);
  records::HostEvent event;
  if (!bridge_app::ReadHostEvent(message, size, &event)) return;
  std::lock_guard<std::mutex> guard(dispatched->lock);
  dispatched->events.push_back(event);
  dispatched->threads.push_back(GetCurrentThreadId());
}

// Waits for the HostEvent with `reference` among what GetNextDispatch hands out.
bool NextHostEvent(HANDLE handle, HANDLE event, uint32_t reference, records::HostEvent* found) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < 15000) {
    const void* message = nullptr;
    uint32_t size = 0;
    if (SimConnect_GetNextDispatch(handle, &message, &size) != S_OK) {
      WaitForSingleObject(event, 100);
      continue;
    }
    if (bridge_app::ReadHostEvent(message, size, found) && found->reference == reference) return true;
  }
  return false;
}

TEST(BridgeOnTheChannel, TheHostedModuleWorksThroughTheChannelAndAnotherProcessStaysOnItsPipe) {
  ASSERT_EQ(FindWindowW(L"FS98MAIN", nullptr), nullptr) << "another program has an FS98MAIN window open";
  simhost::BlockPool& pool = simhost::BlockPool::Instance();
  LogCapture log;
  simhost::SimHostOptions options;  // the default pipe, which the module opens
  options.tcp6 = false;
  options.tcp4 = false;
  options.logSink = log.Sink();
  options.quitGraceMs = 3000;
  options.window = true;
  options.addonPath = ModulePath();
  simhost::SimHost host;
  std::string error;
  ASSERT_TRUE(host.Start(options, &error)) << error;
  simhost::ChannelHost& channels = *host.Channels();

  // The module registers its pump, opens over the pipe, and takes the channel
  // once it has dispatched its open reply; its set-up is complete.
  ASSERT_TRUE(log.WaitForLine("client 1 \"TAVO.quin.Bridge\" on the in-process channel", 15000));
  ASSERT_TRUE(log.WaitForLine("menu of client 1 \"TAVO.quin.Bridge\": TAVO.quin [About | Disable LVAR Access]"));
  ASSERT_TRUE(log.WaitForLine("client data \"TAVO_SC_DYN_HOSTRESQUEST_ID\" (276 bytes) created by client 1 "
                              "\"TAVO.quin.Bridge\""));
  EXPECT_TRUE(log.HasLine("in-process pump registered (1 in all)"));
  EXPECT_TRUE(host.OnChannel(1));
  simhost::ChannelStats stats = channels.Stats();
  EXPECT_EQ(stats.unregisterRequests, 1u);
  EXPECT_EQ(stats.pumpsRegistered, 1u);
  EXPECT_EQ(stats.offers, 1u);
  EXPECT_EQ(stats.attached, 1u);

  // The About item: the event reaches the module as a block, its text
  // request comes back through submit.
  simhost::ChannelStats before = channels.Stats();
  ASSERT_TRUE(host.Core().ChooseMenuItem("TAVO.quin/About"));
  ASSERT_TRUE(log.WaitForLine("text from client 1 \"TAVO.quin.Bridge\" (type 5 scrolling yellow, 30.0 s): "
                              "TAVO.quin Simulator Bridge Version 1.0.0.21"));
  stats = channels.Stats();
  EXPECT_GT(stats.delivered, before.delivered);
  EXPECT_GT(stats.submitted, before.submitted);

  // An application in this process: its own client library finds the window,
  // registers its own pump, and takes the channel after its open reply.
  TestEvent appEvent;
  HANDLE app = nullptr;
  ASSERT_EQ(SimConnect_Open(&app, "Test Application", nullptr, 0, appEvent.handle, kConfigIndexDefault), S_OK);
  auto* appClient = static_cast<SimConnectClient*>(app);
  EXPECT_EQ(appClient->channelState, 1u);
  ASSERT_TRUE(WaitUntil([&] {
    const void* message = nullptr;
    uint32_t size = 0;
    SimConnect_GetNextDispatch(app, &message, &size);  // the open reply brings the offer
    return appClient->channelActive.load();
  }));
  EXPECT_EQ(appClient->channelState, 2u);
  EXPECT_EQ(appClient->hostConnectionId, 2u);
  EXPECT_TRUE(log.HasLine("client 2 \"Test Application\" on the in-process channel"));
  EXPECT_EQ(channels.PumpCount(), 2u);

  before = channels.Stats();
  ASSERT_EQ(bridge_app::SetUp(app), S_OK);
  ASSERT_EQ(bridge_app::Connect(app, 0x77, 9), S_OK);
  records::HostEvent reply;
  ASSERT_TRUE(NextHostEvent(app, appEvent.handle, 0x77, &reply));
  EXPECT_EQ(reply.code, records::kEventConnectReply);
  EXPECT_EQ(reply.marker, 1u);
  EXPECT_EQ(reply.value, 1.21);
  EXPECT_STREQ(reply.text, "TAVO.quin Bridge Version 1.0.0.21");
  // The application's six requests and the module's answer all came through
  // submit (the answer is counted once its submit has returned).
  EXPECT_TRUE(WaitUntil([&] { return channels.Stats().submitted - before.submitted >= 7; }));

  // Once dispatched with a callback, the application is pumped by simhost's
  // window once per frame, on the window's thread.
  Dispatched dispatched;
  ASSERT_EQ(SimConnect_CallDispatch(app, &CollectHostEvents, &dispatched), S_OK);
  // (Another peer id: the module answers a repeated Connect of one peer once.)
  ASSERT_EQ(bridge_app::Connect(app, 0x78, 10), S_OK);
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::lock_guard<std::mutex> guard(dispatched.lock);
        for (const auto& event : dispatched.events) {
          if (event.reference == 0x78) return true;
        }
        return false;
      },
      10000));
  {
    std::lock_guard<std::mutex> guard(dispatched.lock);
    for (DWORD thread : dispatched.threads) EXPECT_EQ(thread, host.WindowThreadId());
  }

  // An application in another process finds the window but stays on its pipe.
  ChildProcess remote;
  ASSERT_TRUE(remote.Start(L"client Remote 79"));
  EXPECT_EQ(remote.Wait(30000), 0) << remote.Output();
  EXPECT_NE(remote.Output().find("channelState 0\r\n"), std::string::npos) << remote.Output();
  EXPECT_NE(remote.Output().find("connect reply code 7 reference 0x79 value 1.21 text TAVO.quin Bridge Version 1.0.0.21"),
            std::string::npos)
      << remote.Output();
  EXPECT_NE(remote.Output().find("channelState 0 after the exchange"), std::string::npos);
  EXPECT_TRUE(log.HasLine("client 3 \"Remote\" opened (pipe)"));
  EXPECT_EQ(channels.Stats().offers, 2u) << "no offer from the other process";

  // The application's close unregisters its library's pump.
  EXPECT_EQ(SimConnect_Close(app), S_OK);
  EXPECT_EQ(channels.PumpCount(), 1u);
  EXPECT_TRUE(log.HasLine("in-process pump unregistered (1 left)"));

  // Stop: the quit message reaches the module as a block; the module closes
  // and unregisters its pump; every block lent has come back.
  host.Stop();
  EXPECT_TRUE(log.HasLine("in-process pump unregistered (0 left)"));
  stats = channels.Stats();
  EXPECT_EQ(stats.pumpsUnregistered, 2u);
  EXPECT_EQ(stats.released, stats.delivered);
  EXPECT_EQ(stats.allocated, stats.submitted + stats.discarded);
  EXPECT_EQ(stats.deliveredToPipe, 0u);
  EXPECT_EQ(stats.submitDropped, 0u);
  EXPECT_EQ(stats.badBlocks, 0u);
  EXPECT_GT(stats.pumpCalls, 0u);
  simhost::BlockPool::Counts out = pool.Count();
  EXPECT_EQ(out.outForRequest, 0u);
  EXPECT_EQ(out.outForMessage, 0u);

  // The module's own account of the session.
  std::vector<std::string> lines = BridgeLogMessages();
  std::ostringstream all;
  for (const auto& line : lines) all << line << "\n";
  EXPECT_TRUE(Contains(lines, "SimConnect: SimConnect_Open ==> SUCCESS (SendID = 1)")) << all.str();
  EXPECT_TRUE(Contains(lines, "onRecvEvent 102 (24)")) << all.str();
  EXPECT_TRUE(Contains(lines, "SimConnect: SimConnect_Text ==> SUCCESS (SendID = 25)")) << all.str();
  EXPECT_TRUE(Contains(lines, "Received QUIT Signal!")) << all.str();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "DLLSTOP DONE");
}

}  // namespace
