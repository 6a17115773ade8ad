#include "lvar/client_data.h"

#include <cstdint>

#include "lvar/bridge_services.h"
#include "simconnect/SimConnect.h"

namespace {

HRESULT Write(uint32_t areaId, uint32_t definitionId, const uint8_t* bytes, size_t size) {
  return SimConnect_SetClientData(SimConnectHandle(), areaId, definitionId, 0, 0, static_cast<uint32_t>(size), bytes);
}

}  // namespace

HRESULT WriteVarData(const records::VarData& record) {
  uint8_t bytes[records::kVarDataSize];
  records::EncodeVarData(record, bytes);
  return Write(records::kVarDataAreaId, records::kVarDataDefinitionId, bytes, sizeof bytes);
}

HRESULT WriteVarDump(const records::VarDump& record) {
  uint8_t bytes[records::kVarDumpSize];
  records::EncodeVarDump(record, bytes);
  return Write(records::kVarDumpAreaId, records::kVarDumpDefinitionId, bytes, sizeof bytes);
}

HRESULT WriteHostEvent(const records::HostEvent& record) {
  uint8_t bytes[records::kHostEventSize];
  records::EncodeHostEvent(record, bytes);
  return Write(records::kHostEventAreaId, records::kHostEventDefinitionId, bytes, sizeof bytes);
}
