#include "echo_client.h"

#include <cstring>

#include "echo_areas.h"
#include "lvar/records.h"
#include "simconnect/SimConnect.h"
#include "simconnect/protocol.h"
#include "simconnect/wire.h"
#include "support/wait_until.h"

namespace bench {

namespace {

constexpr uint32_t kEchoRequestSubscription = 1;

}  // namespace

bool EchoClient::WaitForOpenReply(DWORD timeoutMs) {
  return NextDispatch(handle_, event_, timeoutMs, [](const uint8_t* message, uint32_t size) {
    return size >= protocol::kReceivedHeaderSize &&
           wire::LoadU32(message + protocol::kReceivedKindOffset) == protocol::kKindOpen;
  });
}

bool EchoClient::Start(std::string* error) {
  event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (SimConnect_Open(&handle_, kEchoClientName, nullptr, 0, event_, kConfigIndexDefault) != S_OK) {
    *error = "the echo client could not open";
    return false;
  }
  // The open reply is what moves a client of simhost's process onto the
  // in-process channel; the set-up requests follow it.
  if (!WaitForOpenReply(10000)) {
    *error = "no open reply for the echo client";
    return false;
  }
  bool ok = SimConnect_MapClientDataNameToID(handle_, kEchoRequestAreaName, kEchoRequestAreaId) == S_OK &&
            SimConnect_MapClientDataNameToID(handle_, kEchoRequestDefinitionName, kEchoRequestDefinitionId) == S_OK &&
            SimConnect_MapClientDataNameToID(handle_, kEchoReplyAreaName, kEchoReplyAreaId) == S_OK &&
            SimConnect_MapClientDataNameToID(handle_, kEchoReplyDefinitionName, kEchoReplyDefinitionId) == S_OK &&
            SimConnect_CreateClientData(handle_, kEchoRequestAreaId, records::kHostRequestSize, 0) == S_OK &&
            SimConnect_CreateClientData(handle_, kEchoReplyAreaId, records::kVarDataSize, 0) == S_OK &&
            SimConnect_AddToClientDataDefinition(handle_, kEchoRequestDefinitionId, 0, records::kHostRequestSize, 0.0f,
                                                 records::kDatumIdUnused) == S_OK &&
            SimConnect_AddToClientDataDefinition(handle_, kEchoReplyDefinitionId, 0, records::kVarDataSize, 0.0f,
                                                 records::kDatumIdUnused) == S_OK &&
            SimConnect_RequestClientData(handle_, kEchoRequestAreaId, kEchoRequestSubscription,
                                         kEchoRequestDefinitionId, records::kPeriodOnSet, 0, 0, 0, 0) == S_OK;
  if (!ok) {
    *error = "the echo client's set-up failed";
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void EchoClient::Run() {
  uint8_t reply[records::kVarDataSize];
  while (!stop_.load()) {
    WaitForSingleObject(event_, 50);
    const void* message = nullptr;
    uint32_t size = 0;
    while (SimConnect_GetNextDispatch(handle_, &message, &size) == S_OK) {
      const auto* bytes = static_cast<const uint8_t*>(message);
      if (size < protocol::data_msg::kData + records::kHostRequestSize ||
          wire::LoadU32(bytes + protocol::kReceivedKindOffset) != protocol::kKindClientData ||
          wire::LoadU32(bytes + protocol::data_msg::kRequestId) != kEchoRequestSubscription) {
        continue;
      }
      // The answer carries the request's name and value back, as a report would.
      records::HostRequest request;
      records::DecodeHostRequest(bytes + protocol::data_msg::kData, size - protocol::data_msg::kData, &request);
      records::EncodeVarData(records::MakeVarData(request.value, false, request.name), reply);
      SimConnect_SetClientData(handle_, kEchoReplyAreaId, kEchoReplyDefinitionId, 0, 0, records::kVarDataSize, reply);
      answered_.fetch_add(1);
    }
  }
}

void EchoClient::Stop() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  if (handle_ != nullptr) {
    SimConnect_Close(handle_);
    handle_ = nullptr;
  }
  if (event_ != nullptr) {
    CloseHandle(event_);
    event_ = nullptr;
  }
}

}  // namespace bench
