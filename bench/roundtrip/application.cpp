#include "application.h"

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "bridge_session.h"
#include "clock.h"
#include "echo_areas.h"
#include "lvar/records.h"
#include "pipe_floor.h"
#include "report.h"
#include "simconnect/SimConnect.h"
#include "simconnect/protocol.h"
#include "simconnect/wire.h"
#include "stats.h"
#include "support/wait_until.h"

namespace bench {

namespace {

// The request id of the echo connection's subscription to the reply area.
constexpr uint32_t kEchoReplyRequest = 11;
constexpr DWORD kAnswerTimeoutMs = 10000;
// The application's Connect, and the HostRequest fields of every request.
constexpr uint32_t kTag = 0x1234;
constexpr uint32_t kParam = 0x42;

// Sizes on the wire: the SetClientData request that carries a HostRequest,
// and the client-data message that carries a VarData.
constexpr size_t kRequestBytes = protocol::set_client_data::kFixedSize + records::kHostRequestSize;  // 312
constexpr size_t kAnswerBytes = protocol::data_msg::kData + records::kVarDataSize;                   // 308

// The bridge's side: bridgectl's session, as the application uses it.
class BridgeSide {
 public:
  bool Open(std::string* error) {
    return session_.Open(bridgectl::Endpoint(), error) && session_.Connect(kTag, kParam, kAnswerTimeoutMs, error);
  }

  // One ForceUpdate to the bridge until its VarData; microseconds, or -1.
  double RoundTrip(const std::string& variable) {
    std::string error;
    const double start = NowUs();
    if (!session_.Send(records::kCommandForceUpdate, variable, kParam, 0.0, &error)) return -1.0;
    bridgectl::BridgeMessage message;
    while (session_.Next(&message, kAnswerTimeoutMs, &error) == bridgectl::BridgeSession::Wait::kMessage) {
      if (message.kind == bridgectl::MessageKind::kVarData) return NowUs() - start;
    }
    return -1.0;
  }

 private:
  bridgectl::BridgeSession session_;
};

// The echo client's side: a connection of the project's SimConnect library of
// its own that writes the same HostRequest bytes into the echo client's
// request area and waits for its answer in the reply area.
class EchoSide {
 public:
  ~EchoSide() {
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
    for (const records::Area& a : {kEchoRequestArea, kEchoReplyArea}) {
      if (SimConnect_MapClientDataNameToID(handle_, a.areaName, a.areaId) != S_OK ||
          SimConnect_MapClientDataNameToID(handle_, a.definitionName, a.definitionId) != S_OK ||
          SimConnect_AddToClientDataDefinition(handle_, a.definitionId, 0, a.size, 0.0f, records::kDatumIdUnused) !=
              S_OK) {
        return false;
      }
    }
    return SimConnect_RequestClientData(handle_, kEchoReplyAreaId, kEchoReplyRequest, kEchoReplyDefinitionId,
                                        records::kPeriodOnSet, 0, 0, 0, 0) == S_OK;
  }

  // The same request bytes to the echo client until its answer; microseconds, or -1.
  double RoundTrip(const std::string& variable) {
    uint8_t record[records::kHostRequestSize];
    records::EncodeHostRequest(records::MakeHostRequest(kTag, records::kCommandForceUpdate, kParam, variable.c_str(), 0.0),
                               record);
    const double start = NowUs();
    if (SimConnect_SetClientData(handle_, kEchoRequestAreaId, kEchoRequestDefinitionId, 0, 0, records::kHostRequestSize,
                                 record) != S_OK ||
        !WaitFor([](const uint8_t* m, uint32_t size) {
          return size >= protocol::data_msg::kData &&
                 wire::LoadU32(m + protocol::kReceivedKindOffset) == protocol::kKindClientData &&
                 wire::LoadU32(m + protocol::data_msg::kRequestId) == kEchoReplyRequest;
        })) {
      return -1.0;
    }
    return NowUs() - start;
  }

 private:
  // Hands out messages until `match` accepts one (the others are dropped).
  template <typename Match>
  bool WaitFor(Match match) {
    return NextDispatch(handle_, event_, kAnswerTimeoutMs, [&](const uint8_t* message, uint32_t size) {
      return size >= protocol::kReceivedHeaderSize && match(message, size);
    });
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
  BridgeSide bridgeSide;
  EchoSide echoSide;
  std::string error;
  if (!bridgeSide.Open(&error) || !echoSide.Open()) {
    std::printf("application: could not open or connect to the bridge %s\n", error.c_str());
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
          b = bridgeSide.RoundTrip(settings.variable);
          break;
        case 1:
          e = echoSide.RoundTrip(settings.variable);
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
