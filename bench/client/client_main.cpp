// The client library: SimConnect_SetClientData of 268 bytes through the pipe
// to a server that only drains, against raw overlapped WriteFile of the same
// 304 request bytes (each write waited for, on the same pipe; and each write
// issued from the completion routine of the one before, as the library's
// write chain does, on a pipe of the program's own); then the stream framing (framing::ExtractMessage) on a
// stream of mixed message sizes, against the copy of the same bytes alone.
//
//   bench_client [--messages 20000] [--rounds 3] [--stream-mib 32]
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <initializer_list>
#include <vector>

#include "clock.h"
#include "draining_server.h"
#include "framing_stream.h"
#include "pipe_floor.h"
#include "report.h"
#include "simconnect/SimConnect.h"
#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"
#include "simconnect/wire.h"
#include "stats.h"
#include "support/paths.h"

namespace {

using namespace bench;

constexpr uint32_t kRecordSize = 268;
constexpr uint32_t kRequestSize = protocol::set_client_data::kFixedSize + kRecordSize;  // 304
constexpr DWORD kDrainTimeoutMs = 120000;

// The server makes its next pipe instance once the previous client has gone.
void WaitForListeningServer() { WaitNamedPipeW(endpoints::kDefaultPipePath, 5000); }

// Requests per second through the library: from the first call until the
// server has read every byte. *callRate: calls per second (they only queue).
double LibraryRate(DrainingServer& server, uint32_t messages, double* callRate) {
  HANDLE handle = nullptr;
  uint64_t base = server.Received();
  WaitForListeningServer();
  if (SimConnect_Open(&handle, "TVO.Bench.Client", nullptr, 0, nullptr, kConfigIndexDefault) != S_OK) return 0.0;
  base += protocol::open::kSize;
  server.WaitForBytes(base, 10000);
  std::vector<uint8_t> record(kRecordSize, 0x5A);
  const double start = NowUs();
  for (uint32_t i = 0; i < messages; ++i) {
    SimConnect_SetClientData(handle, 1, 2, 0, 0, kRecordSize, record.data());
  }
  *callRate = messages / ((NowUs() - start) / 1e6);
  bool all = server.WaitForBytes(base + static_cast<uint64_t>(messages) * kRequestSize, kDrainTimeoutMs);
  const double end = NowUs();
  SimConnect_Close(handle);
  return all ? messages / ((end - start) / 1e6) : 0.0;
}

std::vector<uint8_t> EncodedRequest() {
  std::vector<uint8_t> request(kRequestSize, 0);
  std::vector<uint8_t> record(kRecordSize, 0x5A);
  wire::StoreU32(request.data() + protocol::kRequestSendIdOffset, 7);
  request_encoding::WriteSetClientData(request.data(), 1, 2, 0, 0, kRecordSize, record.data());
  return request;
}

// The raw floor writes through a bare handle rather than the support layer's
// RawClient, whose per-write event reset would be a wineserver call inside
// the very loop being measured.
HANDLE OpenRawPipe() {
  WaitForListeningServer();
  return CreateFileW(endpoints::kDefaultPipePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                     nullptr);
}

// Raw overlapped writes, each waited for before the next.
double RawWaitedRate(DrainingServer& server, uint32_t messages) {
  HANDLE pipe = OpenRawPipe();
  if (pipe == INVALID_HANDLE_VALUE) return 0.0;
  const uint64_t base = server.Received();
  std::vector<uint8_t> request = EncodedRequest();
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const double start = NowUs();
  for (uint32_t i = 0; i < messages; ++i) {
    DWORD written = 0;
    if (!WriteFile(pipe, request.data(), kRequestSize, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
      break;
    }
    GetOverlappedResult(pipe, &overlapped, &written, TRUE);
  }
  bool all = server.WaitForBytes(base + static_cast<uint64_t>(messages) * kRequestSize, kDrainTimeoutMs);
  const double end = NowUs();
  CloseHandle(overlapped.hEvent);
  CloseHandle(pipe);
  return all ? messages / ((end - start) / 1e6) : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args(argc, argv);
  const uint32_t messages = static_cast<uint32_t>(args.Number("--messages", 20000));
  const int rounds = static_cast<int>(args.Number("--rounds", 3));
  const size_t streamMiB = static_cast<size_t>(args.Number("--stream-mib", 32));

  Heading("Client library: SimConnect_SetClientData (268 bytes) to a draining server, pipe");
  DrainingServer server;
  if (!server.Start()) {
    std::printf("the simulator's pipe name is taken\n");
    return 2;
  }
  std::vector<double> library, waited, chained, chainedRead, calls;
  for (int round = 0; round < rounds; ++round) {
    double callRate = 0.0;
    library.push_back(LibraryRate(server, messages, &callRate));
    calls.push_back(callRate);
    waited.push_back(RawWaitedRate(server, messages));
    chained.push_back(PipeChainedWriteRate(kRequestSize, messages, false));
    chainedRead.push_back(PipeChainedWriteRate(kRequestSize, messages, true));
  }
  server.Stop();
  const double lib = Summarize(library).median, raw = Summarize(waited).median, chain = Summarize(chained).median;
  Note("%u requests of 304 bytes per run, median of %d interleaved runs", messages, rounds);
  Row("SimConnect_SetClientData, drained", lib, "requests/s", 0);
  Row("  the calls alone (they queue)", Summarize(calls).median, "calls/s", 0);
  Row("floor: raw overlapped WriteFile, each waited", raw, "writes/s", 0);
  Row("raw overlapped WriteFile, chained by completion", chain, "writes/s", 0);
  Row("  the same with a read pending on the handle", Summarize(chainedRead).median, "writes/s", 0);
  Row("SetClientData throughput", lib * kRequestSize / 1048576.0, "MiB/s", 2);
  Row("raw pipe throughput (waited writes)", raw * kRequestSize / 1048576.0, "MiB/s", 2);
  RatioRow("library / raw waited writes", lib, raw);
  RatioRow("library / raw chained writes", lib, chain);
  Goal("at least half the raw pipe rate", lib >= 0.5 * raw);

  Heading("Framing: framing::ExtractMessage on a stream of mixed sizes");
  FramingFigures f4 = MeasureFraming(streamMiB, 4096);
  FramingFigures f64 = MeasureFraming(streamMiB, 65536);
  for (const FramingFigures* f : {&f4, &f64}) {
    Note("reads of %zu bytes, %zu MiB, %zu messages (sizes 12 to 16384 bytes):", f->readSize, streamMiB, f->messages);
    Row("  framing", f->framingMiBs, "MiB/s", 0);
    Row("  floor: copying the reads alone", f->copyMiBs, "MiB/s", 0);
    Row("  framing", f->messagesPerSecond / 1e6, "million messages/s", 2);
    RatioRow("  framing / copy alone", f->framingMiBs, f->copyMiBs);
    RatioRow("  framing / raw pipe throughput", f->framingMiBs, raw * kRequestSize / 1048576.0);
    if (!f->intact) Note("WARNING: the framing did not give back every message intact");
  }
  return 0;
}
