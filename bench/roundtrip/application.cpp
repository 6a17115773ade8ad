#include "application.h"

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <vector>

#include "clock.h"
#include "echo_areas.h"
#include "lvar/records.h"
#include "pipe_floor.h"
#include "report.h"
#include "simconnect/SimConnect.h"
#include "simconnect/protocol.h"
#include "simconnect/wire.h"
#include "stats.h"

namespace bench {

namespace {

// The application's request ids for its subscriptions.
constexpr uint32_t kVarDataRequest = 1;
constexpr uint32_t kHostEventRequest = 3;
constexpr uint32_t kEchoReplyRequest = 11;
constexpr DWORD kAnswerTimeoutMs = 10000;

// Sizes on the wire: the SetClientData request that carries a HostRequest,
// and the client-data message that carries a VarData.
constexpr size_t kRequestBytes = protocol::set_client_data::kFixedSize + records::kHostRequestSize;  // 312
constexpr size_t kAnswerBytes = protocol::data_msg::kData + records::kVarDataSize;                   // 308

class Application {
 public:
  ~Application() {
    if (handle_ != nullptr) SimConnect_Close(handle_);
    if (event_ != nullptr) CloseHandle(event_);
  }

  bool Open() {
    event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (SimConnect_Open(&handle_, kApplicationName, nullptr, 0, event_, kConfigIndexDefault) != S_OK) return false;
    if (!WaitFor([](const uint8_t* m, uint32_t) {
          return wire::LoadU32(m + protocol::kReceivedKindOffset) == protocol::kKindOpen;
        })) {
      return false;
    }
    struct Subscription : records::Area {
      uint32_t request;  // 0: an area the application writes
    };
    const Subscription areas[] = {
        {records::kVarDataArea, kVarDataRequest},
        {records::kHostRequestArea, 0},
        {records::kHostEventArea, kHostEventRequest},
        {kEchoRequestArea, 0},
        {kEchoReplyArea, kEchoReplyRequest},
    };
    for (const Subscription& a : areas) {
      if (SimConnect_MapClientDataNameToID(handle_, a.areaName, a.areaId) != S_OK ||
          SimConnect_MapClientDataNameToID(handle_, a.definitionName, a.definitionId) != S_OK ||
          SimConnect_AddToClientDataDefinition(handle_, a.definitionId, 0, a.size, 0.0f, records::kDatumIdUnused) !=
              S_OK) {
        return false;
      }
      if (a.request != 0 && SimConnect_RequestClientData(handle_, a.areaId, a.request, a.definitionId, records::kPeriodOnSet,
                                                         0, 0, 0, 0) != S_OK) {
        return false;
      }
    }
    return true;
  }

  bool Connect() {
    if (!Write(records::kHostRequestAreaId, records::kHostRequestDefinitionId, records::kCommandConnect, "")) {
      return false;
    }
    return WaitFor([](const uint8_t* m, uint32_t size) {
      return IsClientData(m, size, kHostEventRequest) && size >= protocol::data_msg::kData + records::kHostEventSize &&
             wire::LoadU32(m + protocol::data_msg::kData + offsetof(records::HostEvent, code)) ==
                 records::kEventConnectReply;
    });
  }

  // One ForceUpdate to the bridge until its VarData; microseconds, or -1.
  double BridgeRoundTrip(const char* variable) {
    double start = NowUs();
    if (!Write(records::kHostRequestAreaId, records::kHostRequestDefinitionId, records::kCommandForceUpdate,
               variable) ||
        !WaitFor([](const uint8_t* m, uint32_t size) { return IsClientData(m, size, kVarDataRequest); })) {
      return -1.0;
    }
    return NowUs() - start;
  }

  // The same request bytes to the echo client until its answer; microseconds, or -1.
  double EchoRoundTrip(const char* variable) {
    double start = NowUs();
    if (!Write(kEchoRequestAreaId, kEchoRequestDefinitionId, records::kCommandForceUpdate, variable) ||
        !WaitFor([](const uint8_t* m, uint32_t size) { return IsClientData(m, size, kEchoReplyRequest); })) {
      return -1.0;
    }
    return NowUs() - start;
  }

 private:
  static bool IsClientData(const uint8_t* m, uint32_t size, uint32_t request) {
    return size >= protocol::data_msg::kData &&
           wire::LoadU32(m + protocol::kReceivedKindOffset) == protocol::kKindClientData &&
           wire::LoadU32(m + protocol::data_msg::kRequestId) == request;
  }

  bool Write(uint32_t area, uint32_t definition, uint32_t command, const char* name) {
    uint8_t record[records::kHostRequestSize];
    records::EncodeHostRequest(records::MakeHostRequest(0x1234, command, 0x42, name, 0.0), record);
    return SimConnect_SetClientData(handle_, area, definition, 0, 0, records::kHostRequestSize, record) == S_OK;
  }

  // Hands out messages until `match` accepts one (the others are dropped).
  template <typename Match>
  bool WaitFor(Match match) {
    const DWORD start = GetTickCount();
    for (;;) {
      const void* message = nullptr;
      uint32_t size = 0;
      while (SimConnect_GetNextDispatch(handle_, &message, &size) == S_OK) {
        if (size >= protocol::kReceivedHeaderSize && match(static_cast<const uint8_t*>(message), size)) return true;
      }
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= kAnswerTimeoutMs) return false;
      WaitForSingleObject(event_, kAnswerTimeoutMs - elapsed);
    }
  }

  HANDLE handle_ = nullptr;
  HANDLE event_ = nullptr;
};

}  // namespace

int RunApplication(const RoundTripSettings& settings) {
  PipePingPong raw;
  if (!raw.Start(kRequestBytes, kAnswerBytes)) {
    std::printf("application: the raw pipe could not be made\n");
    return 2;
  }
  Application app;
  if (!app.Open() || !app.Connect()) {
    std::printf("application: could not open or connect to the bridge\n");
    return 2;
  }
  std::vector<double> bridge, echo, pipe;
  const uint32_t total = settings.warmup + settings.count;
  for (uint32_t i = 0; i < total; ++i) {
    double b = 0, e = 0, p = 0;
    // The order turns with each request, so that none of the three always
    // follows the same one.
    for (uint32_t k = 0; k < 3; ++k) {
      switch ((i + k) % 3) {
        case 0:
          b = app.BridgeRoundTrip(settings.variable.c_str());
          break;
        case 1:
          e = app.EchoRoundTrip(settings.variable.c_str());
          break;
        default:
          p = raw.RoundTripUs();
          break;
      }
    }
    if (b < 0 || e < 0 || p < 0) {
      std::printf("application: request %u got no answer (bridge %.0f, echo %.0f, raw %.0f)\n", i, b, e, p);
      return 2;
    }
    if (i < settings.warmup) continue;
    bridge.push_back(b);
    echo.push_back(e);
    pipe.push_back(p);
  }
  const Summary sb = Summarize(bridge), se = Summarize(echo), sp = Summarize(pipe);
  Note("%u requests of each kind after %u of warm-up, interleaved", settings.count, settings.warmup);
  SummaryRow("bridge: ForceUpdate -> VarData", sb, "us", 0);
  SummaryRow("floor (a): echo client in the bridge's place", se, "us", 0);
  SummaryRow("floor (b): raw pipe ping-pong, two threads", sp, "us", 0);
  RatioRow("bridge / floor (a), median", sb.median, se.median);
  RatioRow("bridge / floor (a), p99", sb.p99, se.p99);
  RatioRow("bridge / floor (b), median", sb.median, sp.median);
  RatioRow("bridge / floor (b), p99", sb.p99, sp.p99);
  Goal("at most 1.5x floor (a), median and p99 (" + settings.label + ")",
       sb.median <= 1.5 * se.median && sb.p99 <= 1.5 * se.p99);
  return 0;
}

}  // namespace bench
