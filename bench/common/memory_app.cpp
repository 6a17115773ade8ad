#include "memory_app.h"

#include <cstring>
#include <vector>

#include "bench_host.h"
#include "bridge_message.h"
#include "clock.h"
#include "message_sink.h"
#include "session.h"
#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"
#include "simconnect/wire.h"

namespace bench {

class MemoryApp::Sink : public simhost::MessageSink {
 public:
  explicit Sink(MemoryApp* app) : app_(app) {}
  void Deliver(simhost::Message message) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (app_ != nullptr) app_->Deliver(message.data(), message.size());
  }
  void Disconnect() {
    std::lock_guard<std::mutex> guard(lock_);
    app_ = nullptr;
  }

 private:
  std::mutex lock_;
  MemoryApp* app_;  // guarded by lock_
};

bool MemoryApp::Open(const char* name) {
  sink_ = std::make_shared<Sink>(this);
  session_ = core_.Attach(sink_, "memory");
  std::vector<uint8_t> request(protocol::open::kSize, 0);
  request_encoding::WriteOpen(request.data(), name);
  Request(request.data(), protocol::open::kSize);
  for (const records::AppArea& area : records::kAppAreas) {
    uint8_t map[protocol::map_client_data_name_to_id::kSize] = {};
    request_encoding::WriteMapClientDataNameToId(map, area.areaName, area.areaId);
    Request(map, sizeof map);
    std::memset(map, 0, sizeof map);
    request_encoding::WriteMapClientDataNameToId(map, area.definitionName, area.definitionId);
    Request(map, sizeof map);
    uint8_t define[protocol::add_to_client_data_definition::kSize] = {};
    request_encoding::WriteAddToClientDataDefinition(define, area.definitionId, 0, area.size, 0.0f,
                                                     records::kDatumIdUnused);
    Request(define, sizeof define);
  }
  for (const records::AppArea& area : records::kAppAreas) {
    if (area.requestId == 0) continue;
    uint8_t subscribe[protocol::request_client_data::kSize] = {};
    request_encoding::WriteRequestClientData(subscribe, area.areaId, area.requestId, area.definitionId,
                                             records::kPeriodOnSet, 0, 0, 0, 0);
    Request(subscribe, sizeof subscribe);
  }
  return exceptions_.load() == 0;
}

void MemoryApp::Close() {
  if (sink_ != nullptr) sink_->Disconnect();
  if (session_ != nullptr) core_.Detach(session_, "left");
  session_.reset();
  sink_.reset();
}

void MemoryApp::Request(uint8_t* request, uint32_t size) {
  wire::StoreU32(request + protocol::kRequestSendIdOffset, nextSendId_++);
  session_->HandleRequest(request, size);
}

void MemoryApp::Send(uint32_t command, const char* name, double value, uint32_t param, uint32_t tag) {
  uint8_t record[records::kHostRequestSize];
  records::EncodeHostRequest(records::MakeHostRequest(tag, command, param, name, value), record);
  uint8_t request[protocol::set_client_data::kFixedSize + records::kHostRequestSize] = {};
  request_encoding::WriteSetClientData(request, records::kHostRequestAreaId, records::kHostRequestDefinitionId, 0, 0,
                                       records::kHostRequestSize, record);
  Request(request, sizeof request);
}

bool MemoryApp::Connect(uint32_t timeoutMs) {
  uint64_t before = connectReplies_.load();
  Send(records::kCommandConnect, "", 0.0, 0x42, 0x1234);
  return WaitUntil([&] { return connectReplies_.load() > before; }, timeoutMs);
}

bool MemoryApp::ListVariables(uint32_t* totalCount, uint32_t timeoutMs) {
  uint64_t before = closingRecords_.load();
  Send(records::kCommandSendLVARS);
  bool closed = WaitUntil([&] { return closingRecords_.load() > before; }, timeoutMs);
  *totalCount = lastTotalCount_.load();
  return closed;
}

void MemoryApp::Deliver(const uint8_t* message, size_t size) {
  const double arrived = NowMs();
  // bridgectl's decoder, as the application uses it; on the channel it runs on
  // the module's worker, which it costs well under a microsecond per message.
  const bridgectl::BridgeMessage decoded = bridgectl::DecodeMessage(message, size);
  switch (decoded.kind) {
    case bridgectl::MessageKind::kException:
      exceptions_.fetch_add(1);
      break;
    case bridgectl::MessageKind::kVarData:
      varData_.fetch_add(1, std::memory_order_relaxed);
      if (onVarData_) onVarData_(decoded.varData.value, decoded.varData.name, arrived);
      break;
    case bridgectl::MessageKind::kVarDump:
      if (decoded.varDump.firstId == records::kVarDumpClosingId) {
        lastTotalCount_.store(decoded.varDump.totalCount);
        closingRecords_.fetch_add(1);
      }
      break;
    case bridgectl::MessageKind::kHostEvent:
      if (decoded.hostEvent.code == records::kEventConnectReply) connectReplies_.fetch_add(1);
      break;
    default:
      break;
  }
}

}  // namespace bench
