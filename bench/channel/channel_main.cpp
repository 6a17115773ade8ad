// The in-process channel against the pipe, in one run: a client of the
// project's library talks to simhost in this process, first over the pipe
// (simhost without its window), then through the channel (simhost with its
// window). For each path: the median and 90th percentile of a request's round
// trip (a TITLE request answered at once), and the rate of a burst of 268-byte
// client-data writes that come back to the writer. Prints figures; asserts
// nothing. Uses the simulator's pipe name.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_host.h"
#include "clock.h"
#include "lvar/records.h"
#include "report.h"
#include "simconnect/SimConnect.h"
#include "simconnect/protocol.h"
#include "simconnect/wire.h"
#include "support/wait_until.h"

namespace {

constexpr int kRoundTrips = 400;
constexpr int kBurst = 2000;
constexpr uint32_t kTitleDefinition = 1;
constexpr uint32_t kArea = 5;
constexpr uint32_t kAreaDefinition = 6;
constexpr uint32_t kAreaRequest = 7;
constexpr char kClientName[] = "Bench";

// The next message of `kind`; false after 5 s without one.
bool WaitForKind(HANDLE handle, HANDLE event, uint32_t kind) {
  return NextDispatch(handle, event, 5000,
                      [kind](const uint8_t* message, uint32_t size) {
                        return size >= protocol::kReceivedHeaderSize &&
                               wire::LoadU32(message + protocol::kReceivedKindOffset) == kind;
                      });
}

struct Figures {
  double medianUs = 0;
  double p90Us = 0;
  double burstPerSecond = 0;
};

bool Measure(bool channel, Figures* figures) {
  bench::BenchHost host;
  bench::HostSettings settings;
  settings.channel = channel;
  std::string error;
  if (!host.Start(settings, &error)) {
    std::printf("simhost did not start: %s\n", error.c_str());
    return false;
  }
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE handle = nullptr;
  if (SimConnect_Open(&handle, kClientName, nullptr, 0, event, kConfigIndexDefault) != S_OK ||
      !WaitForKind(handle, event, protocol::kKindOpen)) {
    std::printf("the client did not open\n");
    return false;
  }
  if (channel && !host.WaitForChannel(kClientName)) {
    std::printf("the client is not on the channel\n");
    return false;
  }
  SimConnect_AddToDataDefinition(handle, kTitleDefinition, "TITLE", "", 10, 0.0f, records::kDatumIdUnused);
  SimConnect_MapClientDataNameToID(handle, "BENCH_AREA", kArea);
  SimConnect_CreateClientData(handle, kArea, 268, 0);
  SimConnect_AddToClientDataDefinition(handle, kAreaDefinition, 0, 268, 0.0f, records::kDatumIdUnused);
  SimConnect_RequestClientData(handle, kArea, kAreaRequest, kAreaDefinition, records::kPeriodOnSet, 0, 0, 0, 0);

  std::vector<double> trips;
  for (int i = 0; i < kRoundTrips; ++i) {
    const double start = bench::NowUs();
    SimConnect_RequestDataOnSimObject(handle, 100, kTitleDefinition, 0, 1, 0, 0, 0, 0);
    if (!WaitForKind(handle, event, protocol::kKindObjectData)) return false;
    trips.push_back(bench::NowUs() - start);
  }
  std::sort(trips.begin(), trips.end());
  figures->medianUs = trips[trips.size() / 2];
  figures->p90Us = trips[trips.size() * 9 / 10];

  uint8_t record[268] = {};
  const double start = bench::NowMs();
  int received = 0;
  for (int i = 0; i < kBurst; ++i) {
    record[0] = static_cast<uint8_t>(i);
    SimConnect_SetClientData(handle, kArea, kAreaDefinition, 0, 0, sizeof record, record);
    const void* message = nullptr;
    uint32_t size = 0;
    while (SimConnect_GetNextDispatch(handle, &message, &size) == S_OK) {
      if (wire::LoadU32(static_cast<const uint8_t*>(message) + protocol::kReceivedKindOffset) ==
          protocol::kKindClientData) {
        ++received;
      }
    }
  }
  for (; received < kBurst; ++received) {
    if (!WaitForKind(handle, event, protocol::kKindClientData)) return false;
  }
  figures->burstPerSecond = kBurst / ((bench::NowMs() - start) / 1000.0);

  SimConnect_Close(handle);
  CloseHandle(event);
  return true;
}

}  // namespace

int main() {
  if (FindWindowW(L"FS98MAIN", nullptr) != nullptr) {
    std::printf("another program has an FS98MAIN window open\n");
    return 1;
  }
  Figures pipe, channel;
  if (!Measure(false, &pipe) || !Measure(true, &channel)) return 1;
  bench::Heading("request round trip (TITLE, answered at once), " + std::to_string(kRoundTrips) + " trips");
  bench::Note("pipe     median %8.1f us   p90 %8.1f us", pipe.medianUs, pipe.p90Us);
  bench::Note("channel  median %8.1f us   p90 %8.1f us", channel.medianUs, channel.p90Us);
  bench::RatioRow("pipe median / channel median", pipe.medianUs, channel.medianUs);
  bench::Heading("client-data writes of 268 bytes coming back to the writer, burst of " + std::to_string(kBurst));
  bench::Row("pipe", pipe.burstPerSecond, "per second", 0);
  bench::Row("channel", channel.burstPerSecond, "per second", 0);
  bench::RatioRow("channel / pipe", channel.burstPerSecond, pipe.burstPerSecond);
  return 0;
}
