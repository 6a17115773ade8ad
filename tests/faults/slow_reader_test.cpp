// An application that does not read its pipe while the module publishes.
// simhost keeps what it owes such a client in the client's outbox, so the
// module is never held up: once the application reads again it gets every
// value the module published, in order. Past simhost's backlog limit the
// client is dropped instead; the module does not notice, serves the next
// application as before, and stops cleanly when the simulator quits.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app_client.h"
#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"
#include "simconnect/wire.h"
#include "bridge_log_file.h"
#include "fault_cycle.h"
#include "lvar/records.h"
#include "support/test_env.h"

namespace {

using e2e::Lines;

// Thirty variables that move at every frame (30 a second): up to 900 values
// a second go out.
constexpr size_t kVariables = 30;
constexpr int kCycles = 2;
// As in the other fault programs: one object that the system creates once
// may appear while the cycles run; a leak per cycle exceeds it.
constexpr size_t kSlack = 1;

const simhost::AircraftDescription& Aircraft() {
  static const simhost::AircraftDescription aircraft =
      faults::RampAircraft("Slow Reader Aircraft", "SLOW_", kVariables, 100.0);
  return aircraft;
}

std::string Name(size_t i) { return "SLOW_" + std::to_string(i); }

// A second application that subscribes to the values and then reads its pipe
// only when the test says so: written byte by byte, so that nothing reads on
// its behalf (the client library would keep reading into its own queue).
class StalledSubscriber {
 public:
  static constexpr uint32_t kRequestId = 7;

  bool Subscribe(const char* name) {
    if (!pipe_.Connect(simhost::kDefaultPipeName)) return false;
    uint32_t sendId = 0;
    std::vector<uint8_t> open = OpenRequestBytes(name, ++sendId);
    std::vector<uint8_t> map(protocol::map_client_data_name_to_id::kSize, 0);
    request_encoding::WriteMapClientDataNameToId(map.data(), records::kVarDataAreaName, 1);
    std::vector<uint8_t> define(protocol::add_to_client_data_definition::kSize, 0);
    request_encoding::WriteAddToClientDataDefinition(define.data(), 2, 0, records::kVarDataSize, 0.0f,
                                                     records::kDatumIdUnused);
    std::vector<uint8_t> subscribe(protocol::request_client_data::kSize, 0);
    request_encoding::WriteRequestClientData(subscribe.data(), 1, kRequestId, 2, records::kPeriodOnSet, 0, 0, 0, 0);
    for (std::vector<uint8_t>* request : {&open, &map, &define, &subscribe}) {
      wire::StoreU32(request->data() + protocol::kRequestSendIdOffset, ++sendId);
      if (!pipe_.Write(*request)) return false;
    }
    Received reply;
    return pipe_.Read(&reply) && reply.Kind() == protocol::kKindOpen;
  }
  // The values received until none comes for `quietMs`; any other message
  // (an exception) fails the test.
  std::vector<records::VarData> ReadValues(DWORD quietMs) {
    std::vector<records::VarData> values;
    Received message;
    while (pipe_.Read(&message, quietMs)) {
      if (message.Kind() != protocol::kKindClientData || message.U32(protocol::data_msg::kRequestId) != kRequestId) {
        ADD_FAILURE() << "message of kind " << message.Kind();
        continue;
      }
      records::VarData value{};
      EXPECT_TRUE(records::DecodeVarData(message.bytes.data() + protocol::data_msg::kData,
                                         message.bytes.size() - protocol::data_msg::kData, &value));
      values.push_back(value);
    }
    return values;
  }

 private:
  RawPipeClient pipe_;
};

void ConnectAndMonitor(e2e::AppClient& app, const char* name, uint32_t peer) {
  ASSERT_TRUE(app.Open(name));
  ASSERT_TRUE(app.Send(records::kCommandConnect, "", 0.0, peer, peer));
  records::HostEvent reply{};
  ASSERT_TRUE(app.TakeEventCode(records::kEventConnectReply, &reply));
  for (size_t i = 0; i < kVariables; ++i) ASSERT_TRUE(app.Send(records::kCommandStartMonitoring, Name(i).c_str(), 5.0));
}

// Waits until the module has published at least `count` values by Update.
bool WaitForPublished(size_t count, DWORD timeoutMs) {
  return WaitUntil([count] { return faults::PublishedByUpdate(faults::LogSoFar()) >= count; },
                   timeoutMs);
}

TEST(SlowReaderTest, AnApplicationThatReadsLateStillGetsEveryValueInOrder) {
  faults::ServedModule module;
  ASSERT_TRUE(module.Start(Aircraft()));
  // The late reader subscribes first, so that it is owed every value the
  // module publishes to the application that drives it.
  StalledSubscriber late;
  ASSERT_TRUE(late.Subscribe("faults late reader"));
  e2e::AppClient app;
  ConnectAndMonitor(app, "faults driving application", 21);
  // The late reader reads nothing while well over a thousand values go out.
  ASSERT_TRUE(WaitForPublished(1500, 30000));
  for (size_t i = 0; i < kVariables; ++i) ASSERT_TRUE(app.Send(records::kCommandStopMonitoring, Name(i).c_str()));
  ASSERT_TRUE(e2e::WaitForLogMessage("LVARHandler::StopMonitoring " + Name(kVariables - 1) + " : success"));

  // What the module sent: the first report of each variable, then Update's.
  const size_t sent = faults::PublishedByUpdate(faults::LogSoFar()) + kVariables;
  EXPECT_TRUE(WaitUntil(
      [&] {
        app.Pump(20);
        return app.VarDataQueue().size() >= sent;
      },
      30000));
  app.Pump(200);
  EXPECT_EQ(app.VarDataQueue().size(), sent);

  // Now the late reader reads: the same values, in the same order.
  const std::vector<records::VarData> values = late.ReadValues(1000);
  ASSERT_EQ(values.size(), sent);
  std::map<std::string, double> last;
  for (size_t i = 0; i < sent; ++i) {
    const records::VarData& record = values[i];
    if (std::string(record.name) != app.VarDataQueue()[i].name || record.value != app.VarDataQueue()[i].value) {
      ADD_FAILURE() << "value " << i << ": " << record.name << " = " << record.value;
      break;
    }
    // Each variable only ramps up during the test: its values arrive rising.
    auto seen = last.find(record.name);
    if (seen != last.end() && !(record.value > seen->second)) {
      ADD_FAILURE() << record.name << ": " << record.value << " after " << seen->second;
      break;
    }
    last[record.name] = record.value;
  }
  EXPECT_EQ(last.size(), kVariables);
  EXPECT_EQ(module.Console().IndexOf("does not read"), -1);
  app.Close();

  EXPECT_LT(module.StopModule(), faults::kStopBoundMs);
  faults::ExpectEndedByStop(e2e::BridgeLogMessages(module.StartedAt()));
}

// One cycle: a subscriber that never reads is dropped by simhost; the module
// and the application that reads carry on; the simulator quits.
void DroppedReader(int cycle) {
  SCOPED_TRACE("cycle " + std::to_string(cycle));
  faults::ServedModule module;
  ASSERT_TRUE(module.Start(Aircraft(), /*manualClock=*/false, /*maxPendingBytes=*/256 * 1024));
  StalledSubscriber stalled;
  ASSERT_TRUE(stalled.Subscribe("faults stalled reader"));
  e2e::AppClient app;
  ConnectAndMonitor(app, "faults driving application", 31);
  ASSERT_TRUE(module.Console().WaitForLine("\"faults stalled reader\" dropped: it does not read its messages", 30000));

  // The module goes on publishing, and the application reading it gets it.
  app.DiscardReceived();
  records::VarData value{};
  EXPECT_TRUE(app.TakeVarDataNamed(Name(kVariables - 1), &value));
  const size_t before = faults::PublishedByUpdate(faults::LogSoFar());
  EXPECT_TRUE(WaitForPublished(before + 100, 10000));
  app.Close();

  const Lines lines = faults::QuitAndStop(module);
  EXPECT_EQ(e2e::CountOf(lines, "LVARHandler::Connect 0000001f"), 1u);
}

TEST(SlowReaderTest, AReaderPastTheBacklogLimitIsDroppedAndTheModuleCarriesOn) {
  DroppedReader(0);  // what the process creates once
  if (HasFailure()) return;
  const faults::Resources before = faults::TakeResources();
  for (int cycle = 1; cycle <= kCycles && !HasFailure(); ++cycle) DroppedReader(cycle);
  faults::ExpectNothingLeft(before, kSlack, "after the cycles");
}

}  // namespace
