// The built module hosted as the simulator hosts it (simhost's add-on host and
// panel services), facing a simulator that sends bad bytes: a RawServer on the
// default pipe plays it. Whatever arrives, the process lives on, the worker
// keeps running until it is told to stop, and DLLStop completes with the
// worker's teardown inside its wait.
//
// Short client-data and event messages and a server that vanishes after the
// set-up are covered by the bridge's lifecycle test; here: garbage around the
// open reply, short object-data and exception messages, a title without its
// NUL, a message cut off by the server's close, and a stream that stops making
// sense right after the open reply.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "addon_host.h"
#include "aircraft_host.h"
#include "bridge/raw_simulator.h"
#include "bridge_log_file.h"
#include "host_log.h"
#include "hosted_bridge.h"
#include "panel_services.h"
#include "sim_clock.h"
#include "support/raw_server.h"

namespace {

using e2e::Lines;
using namespace raw_simulator;

Bytes8 Concat(std::initializer_list<Bytes8> parts) {
  Bytes8 all;
  for (const Bytes8& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// An object-data message of request `requestId` whose data is `text`, with or
// without its NUL, ending where the text does.
Bytes8 TitleMessage(uint32_t requestId, const std::string& text, bool withNul) {
  Bytes8 message = Message(8, static_cast<uint32_t>(40 + text.size() + (withNul ? 1 : 0)));
  wire::StoreU32(message.data() + 12, requestId);
  std::memcpy(message.data() + 40, text.data(), text.size());
  return message;
}

// True while the worker has not finished its teardown.
bool WorkerRunning() {
  HANDLE end = OpenEventA(SYNCHRONIZE, FALSE, "TAVO.quin.Bridge.End");
  if (end == nullptr) return false;
  bool running = WaitForSingleObject(end, 0) == WAIT_TIMEOUT;
  CloseHandle(end);
  return running;
}

class MalformedServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simhost::AircraftDescription aircraft;
    aircraft.title = "Raw Server Aircraft";
    simhost::Motion constant;
    constant.value = 3.0;
    aircraft.variables = {{"RAW_FIRST", constant}, {"RAW_SECOND", constant}};
    aircraftHost.Load(aircraft);
    panelTable = simhost::InstallPanelServices(&aircraftHost);
  }
  void TearDown() override { simhost::InstallPanelServices(nullptr); }

  // Loads the module and calls DLLStart, with a fresh server waiting on the
  // default pipe; the server has accepted the module and read its Open.
  bool StartModule() {
    server = RawServer::ListenPipe(kDefaultPipe);
    if (server == nullptr) return false;
    startedAt = std::time(nullptr);
    addon.reset(new simhost::AddonHost());
    std::string error;
    if (!addon->Load(e2e::BridgeModulePath(), panelTable, hostLog, &error)) {
      ADD_FAILURE() << error;
      return false;
    }
    addon->Start();
    if (!server->Accept()) return false;
    Bytes8 open = server->ReadMessage();
    EXPECT_EQ(open.size(), 296u);
    EXPECT_EQ(TextAt(open, 16), "TAVO.quin.Bridge");
    return open.size() == 296;
  }

  // DLLStop and FreeLibrary; the milliseconds they took.
  DWORD StopModule() {
    DWORD start = GetTickCount();
    addon->Stop();
    DWORD took = GetTickCount() - start;
    addon.reset();
    return took;
  }

  simhost::SimClock clock;
  simhost::AircraftHost aircraftHost{clock};
  const uint64_t* panelTable = nullptr;
  simhost::HostLog hostLog{[](const std::string&) {}};
  std::unique_ptr<simhost::AddonHost> addon;
  std::unique_ptr<RawServer> server;
  std::time_t startedAt = 0;
};

// The end of every run here: DLLStop found the worker still running (nothing
// ended it before), and the worker's teardown came inside DLLStop's wait.
void ExpectStoppedWithinTheWait(const Lines& lines) {
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(e2e::Slice(lines, lines.size() - 3, lines.size()),
            (Lines{"DLLSTOP", "SimConnect: SimConnect_Close ==> SUCCESS (SendID = -1)", "DLLSTOP DONE"}));
  EXPECT_EQ(e2e::IndexOf(lines, "Received QUIT Signal!"), -1);
  for (const std::string& line : lines) EXPECT_EQ(line.find("Excpetion"), std::string::npos) << line;
}

TEST_F(MalformedServerTest, ShortAndTruncatedMessagesAreDroppedAndTheWorkerWaitsForStop) {
  ASSERT_TRUE(StartModule());
  // Behind the open reply in the same write: a run of zero bytes (skipped as
  // padding), a message too short for a header, and one of a kind the module
  // does not know. The client library hands out no message shorter than a
  // header: the worker's drain stops there, and what lies behind it is served
  // at the following wake-up. The set-up requests follow as usual.
  Bytes8 tooShortForAHeader = {8, 0, 0, 0, 0xEF, 0xBE, 0xAD, 0xDE};
  ASSERT_TRUE(server->Write(Concat({Message(2, 308), Bytes8(7, 0), tooShortForAHeader, Message(0x77, 12)})));
  ASSERT_EQ(Requests(*server, kSetupRequestCount).size(), kSetupRequestCount);

  // Messages too short for the fields their kind has, and a title without its
  // NUL; then a good title and the About item show the stream still in step.
  Bytes8 shortTitle = Message(8, 39);
  wire::StoreU32(shortTitle.data() + 12, 10001);
  ASSERT_TRUE(server->Write(Concat({shortTitle, Message(1, 23), Message(4, 12),
                                    TitleMessage(10001, std::string(300, 'X'), false),
                                    TitleMessage(10002, "Raw Server Aircraft", true), MenuEvent(102)})));
  Bytes8 about = server->ReadMessage();
  EXPECT_EQ(TextAt(about, 32), "TAVO.quin Simulator Bridge Version 1.0.0.21");

  // A request cut off by the server's close: the half that came is never
  // served, and nothing more comes of the connection.
  Bytes8 connect = HostRequest(records::kCommandConnect, "", 0.0, 5, 0x99);
  ASSERT_TRUE(server->Write(connect.data(), connect.size() / 2));
  Sleep(200);  // the module's pending read takes the half before the close
  server->CloseClient();
  Sleep(300);
  EXPECT_TRUE(WorkerRunning());

  const DWORD took = StopModule();
  EXPECT_LT(took, 5000u);
  Lines lines = e2e::BridgeLogMessages(startedAt);
  auto logged = [&](const std::string& line) { return e2e::IndexOf(lines, line) >= 0; };
  EXPECT_FALSE(logged("SimConnectProcess message of 8 bytes too short"));
  EXPECT_TRUE(logged("SimConnectProcess 00000077"));
  EXPECT_TRUE(logged("SimConnectProcess 00000008 too short: 39 bytes"));
  EXPECT_TRUE(logged("SimConnectProcess 00000001 too short: 23 bytes"));
  EXPECT_TRUE(logged("SimConnectProcess 00000004 too short: 12 bytes"));
  // Only the well-formed title counts: one change of aircraft.
  int changed = e2e::IndexOf(lines, "LVARHandler::Update Aircraft changed to 19 Raw Server Aircraft");
  EXPECT_GE(changed, 0);
  EXPECT_EQ(e2e::IndexOf(lines, "LVARHandler::Update Aircraft changed to 300 " + std::string(300, 'X')), -1);
  ASSERT_GE(changed + 1, 1);
  EXPECT_EQ(lines[changed + 1], "2 Changes 2 added 0 deleted (Total Vars 2)");
  EXPECT_GT(e2e::IndexOf(lines, "onRecvEvent 102 (24)"), changed);
  EXPECT_EQ(e2e::IndexOf(lines, "LVARHandler::Connect 00000099"), -1);
  ExpectStoppedWithinTheWait(lines);
}

TEST_F(MalformedServerTest, GarbageRightAfterTheOpenReplyEndsTheConnectionButNotTheWorker) {
  ASSERT_TRUE(StartModule());
  // The first bytes after the reply read as a size far above what the module
  // accepts: it drops the connection. Its set-up requests go out into a
  // connection that has failed, or just before; either way nothing breaks.
  const char garbage[] = "garbage after the open reply";
  Bytes8 reply = Message(2, 308);
  ASSERT_TRUE(server->Write(Concat({reply, Bytes8(garbage, garbage + sizeof garbage)})));
  EXPECT_TRUE(server->WaitForClientClose());
  Sleep(300);
  EXPECT_TRUE(WorkerRunning());

  const DWORD took = StopModule();
  EXPECT_LT(took, 5000u);
  Lines lines = e2e::BridgeLogMessages(startedAt);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[2], e2e::Succeeded("SimConnect_Open", 1));
  EXPECT_EQ(lines[3], "SimConnect: OpenEvent");
  for (const std::string& line : lines) EXPECT_EQ(line.find("SimConnectProcess"), std::string::npos) << line;
  ExpectStoppedWithinTheWait(lines);
}

}  // namespace
