// Applications that push the module hard through simhost. Two subscribers to
// the values stop reading their pipes: simhost keeps what it owes them, so the
// module is never held up; the one that reads again gets every value in
// order, the one that stays stalled past simhost's backlog is dropped and the
// module carries on. Then the application writes thousands of requests in one
// burst without waiting for an answer: every one is served in the order
// written. Then the simulator quits and the module ends cleanly, leaving
// nothing behind.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"
#include "simconnect/wire.h"
#include "support/app_client.h"
#include "support/bytes.h"
#include "support/hosted_module.h"
#include "support/module_log.h"
#include "support/paths.h"
#include "support/raw_endpoints.h"
#include "support/wait_until.h"

namespace {

using module_log::Lines;

constexpr size_t kMoving = 60;  // at 30 frames a second, up to 1800 values a second
constexpr size_t kFixed = 5;
constexpr size_t kReports = 3000;
constexpr size_t kSets = 1000;

std::string Moving(size_t i) { return "MOVING_" + std::to_string(i); }
std::string Fixed(size_t i) { return "FIXED_" + std::to_string(i % kFixed); }
double FixedValue(size_t i) { return 1.5 + static_cast<double>(i % kFixed); }

// A subscriber to the values that reads its pipe only when told: written byte
// by byte, since the client library would go on reading into its own queue.
class Subscriber {
 public:
  bool Subscribe(const char* name) {
    std::vector<uint8_t> open(protocol::open::kSize, 0);
    request_encoding::WriteOpen(open.data(), name);
    std::vector<uint8_t> map(protocol::map_client_data_name_to_id::kSize, 0);
    request_encoding::WriteMapClientDataNameToId(map.data(), records::kVarDataAreaName, 1);
    std::vector<uint8_t> define(protocol::add_to_client_data_definition::kSize, 0);
    request_encoding::WriteAddToClientDataDefinition(define.data(), 2, 0, records::kVarDataSize, 0.0f,
                                                     records::kDatumIdUnused);
    std::vector<uint8_t> subscribe(protocol::request_client_data::kSize, 0);
    request_encoding::WriteRequestClientData(subscribe.data(), 1, 7, 2, records::kPeriodOnSet, 0, 0, 0, 0);
    if (!pipe_.ConnectPipe(endpoints::kDefaultPipePath)) return false;
    uint32_t sendId = 0;
    for (std::vector<uint8_t>* request : {&open, &map, &define, &subscribe}) {
      wire::StoreU32(request->data() + protocol::kRequestSendIdOffset, ++sendId);
      if (!pipe_.Write(*request)) return false;
    }
    const std::vector<uint8_t> reply = pipe_.ReadMessage();
    return reply.size() >= 12 && U32At(reply, 8) == protocol::kKindOpen;
  }
  // The values received until none comes for `quietMs`.
  std::vector<records::VarData> ReadValues(DWORD quietMs) {
    std::vector<records::VarData> values;
    for (std::vector<uint8_t> message; !(message = pipe_.ReadMessage(quietMs)).empty();) {
      values.emplace_back();
      EXPECT_TRUE(U32At(message, 8) == protocol::kKindClientData &&
                  records::DecodeVarData(message.data() + 40, message.size() - 40, &values.back()))
          << "message of kind " << U32At(message, 8);
    }
    return values;
  }

 private:
  RawClient pipe_;
};

void Monitor(AppClient& app, uint32_t command) {
  for (size_t i = 0; i < kMoving; ++i) app.Send(command, Moving(i), 5.0);
}
bool WaitForPublished(size_t count) {
  return WaitUntil([count] { return module_log::PublishedByUpdate(module_log::SoFar()) >= count; }, 30000);
}
// Waits until `count` values have come, then a while more: no other follows.
void ReceiveExactly(AppClient& app, size_t count) {
  EXPECT_TRUE(WaitUntil([&] { app.Pump(20); return app.VarData().size() >= count; }, 30000));
  app.Pump(200);
  EXPECT_EQ(app.VarData().size(), count);
}

void SlowReaders(ServedModule& sim, AppClient& app) {
  auto late = std::make_unique<Subscriber>();
  Subscriber stalled;
  ASSERT_TRUE(late->Subscribe("late reader"));
  ASSERT_TRUE(stalled.Subscribe("stalled reader"));
  // Some hundreds of values go out, read by the application only: each
  // reader is owed about 100 KB, below the backlog limit.
  Monitor(app, records::kCommandStartMonitoring);
  ASSERT_TRUE(WaitForPublished(300));
  Monitor(app, records::kCommandStopMonitoring);
  ASSERT_TRUE(module_log::WaitFor("LVARHandler::StopMonitoring " + Moving(kMoving - 1) + " : success"));
  const size_t sent = module_log::PublishedByUpdate(module_log::SoFar()) + kMoving;  // and a first report each
  ReceiveExactly(app, sent);

  // The late reader reads now: the same values in the same order.
  const std::vector<records::VarData> values = late->ReadValues(300);
  ASSERT_EQ(values.size(), sent);
  for (size_t i = 0; i < sent; ++i) {
    if (std::string(values[i].name) != app.VarData()[i].name || values[i].value != app.VarData()[i].value) {
      ADD_FAILURE() << "value " << i << ": " << values[i].name << " = " << values[i].value;
      break;
    }
  }
  EXPECT_EQ(sim.Console().IndexOf("does not read"), -1);
  late.reset();

  // Monitoring again: the stalled reader passes the limit and is dropped;
  // the module goes on publishing to the application.
  Monitor(app, records::kCommandStartMonitoring);
  ASSERT_TRUE(sim.Console().WaitForLine("\"stalled reader\" dropped: it does not read its messages", 30000));
  app.VarData().clear();
  records::VarData value{};
  EXPECT_TRUE(app.TakeVarData(Moving(kMoving - 1), &value));
  EXPECT_TRUE(WaitForPublished(module_log::PublishedByUpdate(module_log::SoFar()) + 100));
  Monitor(app, records::kCommandStopMonitoring);
  ASSERT_TRUE(module_log::WaitFor("LVARHandler::StopMonitoring " + Moving(kMoving - 1) + " : success", 2));
  // What simhost still holds for the application comes; then nothing more.
  for (size_t before = 1; app.VarData().size() != before;) {
    before = app.VarData().size();
    app.Pump(300);
  }
  app.VarData().clear();
}

void Flood(AppClient& app) {
  // A burst of reports over five variables: every answer, in order.
  for (size_t i = 0; i < kReports; ++i) ASSERT_TRUE(app.Send(records::kCommandForceUpdate, Fixed(i)));
  ReceiveExactly(app, kReports);
  for (size_t i = 0; i < app.VarData().size(); ++i) {
    const records::VarData& value = app.VarData()[i];
    if (value.name != Fixed(i) || value.value != FixedValue(i) || value.isMjc != 0) {
      ADD_FAILURE() << "answer " << i << ": " << value.name << " = " << value.value;
      break;
    }
  }
  app.VarData().clear();
  // A burst of sets of one variable, then one report: the last set wins.
  for (size_t k = 1; k <= kSets; ++k) {
    ASSERT_TRUE(app.Send(records::kCommandSetValue, "TARGET", static_cast<double>(k)));
  }
  ASSERT_TRUE(app.Send(records::kCommandForceUpdate, "TARGET"));
  ReceiveExactly(app, 1);
  EXPECT_EQ(app.VarData().front().value, static_cast<double>(kSets));
}

void BusyCycle() {
  ServedOptions options;
  std::vector<std::pair<std::string, double>> constants;
  for (size_t i = 0; i < kFixed; ++i) constants.emplace_back(Fixed(i), FixedValue(i));
  constants.emplace_back("TARGET", 0.0);
  options.aircraft = RampAircraft("Busy Aircraft", "MOVING_", kMoving, 100.0, constants);
  options.runFrames = true;
  options.maxPendingBytes = 512 * 1024;
  ServedModule sim;
  ASSERT_TRUE(sim.Start(options));
  AppClient app;
  ASSERT_TRUE(app.Open(21));
  SlowReaders(sim, app);
  if (::testing::Test::HasFatalFailure()) return;
  Flood(app);
  EXPECT_TRUE(app.Exceptions().empty());
  app.Close();

  const Lines lines = sim.QuitAndStop();
  EXPECT_EQ(module_log::CountOf(lines, "LVARHandler::Connect 00007e57"), 1u);
  EXPECT_EQ(module_log::CountStartingWith(lines, "LVARHandler::ForceUpdate FIXED_"), kReports);
  // The sets were served in the order written.
  size_t k = 0;
  for (const std::string& line : lines) {
    if (line.compare(0, 30, "LVARHandler::SetValue TARGET =") != 0) continue;
    if (line != "LVARHandler::SetValue TARGET = " + std::to_string(static_cast<double>(++k)) + " : SUCCESS") {
      ADD_FAILURE() << "set " << k << ": " << line;
      break;
    }
  }
  EXPECT_EQ(k, kSets);
}

TEST(BusyApplicationTest, StalledReadersAndABurstOfRequestsNeverHoldTheModuleUp) {
  // An unnamed event appears once, in whichever counted cycle (five cycles
  // leave one as well): one of slack, and two cycles to tell a leak from it.
  CyclesLeaveNothingBehind(2, 1, BusyCycle);
}

}  // namespace
