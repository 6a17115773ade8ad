// Figures for the in-process channel against the pipe, in one run: a client
// of the project's library talks to simhost in this process, first over a
// pipe (simhost without its window), then through the channel (simhost with
// its window). For each path: the median and 90th percentile of a request's
// round trip (a TITLE request answered at once), and the rate of a burst of
// 268-byte client-data writes that come back to the writer. Prints figures;
// asserts nothing. Run it under Wine from an empty folder (it writes
// SimConnect.cfg there).
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "simhost/simhost_test_env.h"

namespace {

constexpr int kRoundTrips = 400;
constexpr int kBurst = 2000;
constexpr uint32_t kTitleDefinition = 1;
constexpr uint32_t kArea = 5;
constexpr uint32_t kAreaDefinition = 6;
constexpr uint32_t kAreaRequest = 7;

double Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  return 1e6 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The next message of `kind`; false after 5 s without one.
bool WaitForKind(HANDLE handle, HANDLE event, uint32_t kind) {
  DWORD start = GetTickCount();
  for (;;) {
    const void* message = nullptr;
    uint32_t size = 0;
    if (SimConnect_GetNextDispatch(handle, &message, &size) == S_OK) {
      if (static_cast<const uint32_t*>(message)[2] == kind) return true;
      continue;
    }
    if (GetTickCount() - start > 5000) return false;
    WaitForSingleObject(event, 5);
  }
}

struct Figures {
  double medianUs = 0;
  double p90Us = 0;
  double burstPerSecond = 0;
};

bool Measure(bool window, Figures* figures) {
  LogCapture log;
  std::wstring pipe = UniquePipeName(window ? "bench-channel" : "bench-pipe");
  simhost::SimHostOptions options = TestHostOptions(pipe, log);
  options.window = window;
  simhost::SimHost host;
  std::string error;
  if (!host.Start(options, &error) || !WriteClientConfig({{1, "Pipe", ".", Narrow(pipe)}})) {
    std::fprintf(stderr, "cannot start: %s\n", error.c_str());
    return false;
  }
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE handle = nullptr;
  if (SimConnect_Open(&handle, "Bench", nullptr, 0, event, 1) != S_OK || !WaitForKind(handle, event, 2)) return false;
  if (window != static_cast<SimConnectClient*>(handle)->channelActive.load()) {
    std::fprintf(stderr, "the client is %son the channel\n", window ? "not " : "");
    return false;
  }
  SimConnect_AddToDataDefinition(handle, kTitleDefinition, "TITLE", "", 10, 0.0f, 0xFFFFFFFF);
  SimConnect_MapClientDataNameToID(handle, "BENCH_AREA", kArea);
  SimConnect_CreateClientData(handle, kArea, 268, 0);
  SimConnect_AddToClientDataDefinition(handle, kAreaDefinition, 0, 268, 0.0f, 0xFFFFFFFF);
  SimConnect_RequestClientData(handle, kArea, kAreaRequest, kAreaDefinition, 3, 0, 0, 0, 0);

  std::vector<double> trips;
  for (int i = 0; i < kRoundTrips; ++i) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    SimConnect_RequestDataOnSimObject(handle, 100, kTitleDefinition, 0, 1, 0, 0, 0, 0);
    if (!WaitForKind(handle, event, 8)) return false;
    QueryPerformanceCounter(&end);
    trips.push_back(Microseconds(start, end));
  }
  std::sort(trips.begin(), trips.end());
  figures->medianUs = trips[trips.size() / 2];
  figures->p90Us = trips[trips.size() * 9 / 10];

  uint8_t record[268] = {};
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  int received = 0;
  for (int i = 0; i < kBurst; ++i) {
    record[0] = static_cast<uint8_t>(i);
    SimConnect_SetClientData(handle, kArea, kAreaDefinition, 0, 0, sizeof record, record);
    const void* message = nullptr;
    uint32_t size = 0;
    while (SimConnect_GetNextDispatch(handle, &message, &size) == S_OK) {
      if (static_cast<const uint32_t*>(message)[2] == 16) ++received;
    }
  }
  while (received < kBurst) {
    if (!WaitForKind(handle, event, 16)) return false;
    ++received;
  }
  QueryPerformanceCounter(&end);
  figures->burstPerSecond = kBurst / (Microseconds(start, end) / 1e6);

  SimConnect_Close(handle);
  CloseHandle(event);
  host.Stop();
  DeleteFileW(L"SimConnect.cfg");
  return true;
}

}  // namespace

int main() {
  if (FindWindowW(L"FS98MAIN", nullptr) != nullptr) {
    std::fprintf(stderr, "another program has an FS98MAIN window open\n");
    return 1;
  }
  Figures pipe, channel;
  if (!Measure(false, &pipe) || !Measure(true, &channel)) return 1;
  std::printf("request round trip (TITLE, answered at once), %d trips:\n", kRoundTrips);
  std::printf("  pipe     median %8.1f us   p90 %8.1f us\n", pipe.medianUs, pipe.p90Us);
  std::printf("  channel  median %8.1f us   p90 %8.1f us   (%.1fx faster)\n", channel.medianUs, channel.p90Us,
              pipe.medianUs / channel.medianUs);
  std::printf("client-data writes of 268 bytes coming back to the writer, burst of %d:\n", kBurst);
  std::printf("  pipe     %9.0f per second\n", pipe.burstPerSecond);
  std::printf("  channel  %9.0f per second   (%.1fx)\n", channel.burstPerSecond,
              channel.burstPerSecond / pipe.burstPerSecond);
  return 0;
}
