#include "bridge_app.h"

#include "simconnect/SimConnect.h"
#include "simconnect/wire.h"

namespace bridge_app {

namespace {

constexpr uint32_t kKindClientData = 16;
constexpr uint32_t kRequestIdOffset = 12;
constexpr uint32_t kDataOffset = 40;
constexpr uint32_t kPeriodOnSet = 3;

}  // namespace

HRESULT SetUp(HANDLE handle) {
  HRESULT results[] = {
      SimConnect_MapClientDataNameToID(handle, records::kHostRequestAreaName, kRequestArea),
      SimConnect_MapClientDataNameToID(handle, records::kHostEventAreaName, kEventArea),
      SimConnect_AddToClientDataDefinition(handle, kRequestDefinition, 0, records::kHostRequestSize, 0.0f,
                                           records::kDatumIdUnused),
      SimConnect_AddToClientDataDefinition(handle, kEventDefinition, 0, records::kHostEventSize, 0.0f,
                                           records::kDatumIdUnused),
      SimConnect_RequestClientData(handle, kEventArea, kEventRequestId, kEventDefinition, kPeriodOnSet, 0, 0, 0, 0),
  };
  for (HRESULT result : results) {
    if (result != S_OK) return result;
  }
  return S_OK;
}

HRESULT Connect(HANDLE handle, uint32_t tag, uint32_t peerId) {
  uint8_t bytes[records::kHostRequestSize];
  records::EncodeHostRequest(records::MakeHostRequest(tag, records::kCommandConnect, peerId, "", 0.0), bytes);
  return SimConnect_SetClientData(handle, kRequestArea, kRequestDefinition, 0, 0, sizeof bytes, bytes);
}

bool ReadHostEvent(const void* message, uint32_t size, records::HostEvent* event) {
  const auto* bytes = static_cast<const uint8_t*>(message);
  if (size < kDataOffset + records::kHostEventSize) return false;
  if (wire::LoadU32(bytes + 8) != kKindClientData || wire::LoadU32(bytes + kRequestIdOffset) != kEventRequestId) {
    return false;
  }
  return records::DecodeHostEvent(bytes + kDataOffset, size - kDataOffset, event);
}

}  // namespace bridge_app
