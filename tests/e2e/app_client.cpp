#include "app_client.h"

#include <gtest/gtest.h>

#include <cstring>

#include "simconnect/SimConnect.h"
#include "simconnect/protocol.h"
#include "simconnect/wire.h"

namespace e2e {
bool AppClient::Check(HRESULT result, const char* what) {
  if (result == S_OK) return true;
  ADD_FAILURE() << "application: " << what << " failed with " << std::hex << static_cast<uint32_t>(result);
  return false;
}

bool AppClient::Open(const char* name, DWORD timeoutMs) {
  if (event_ == nullptr) event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!Check(SimConnect_Open(&handle_, name, nullptr, 0, event_, kConfigIndexDefault), "SimConnect_Open")) {
    return false;
  }
  if (!PumpUntil([this] { return opened_; }, timeoutMs)) {
    ADD_FAILURE() << "application: no open reply";
    return false;
  }
  for (const records::AppArea& area : records::kAppAreas) {
    if (!Check(SimConnect_MapClientDataNameToID(handle_, area.areaName, area.areaId), area.areaName) ||
        !Check(SimConnect_MapClientDataNameToID(handle_, area.definitionName, area.definitionId),
               area.definitionName) ||
        !Check(SimConnect_AddToClientDataDefinition(handle_, area.definitionId, 0, area.size, 0.0f,
                                                    records::kDatumIdUnused),
               area.definitionName)) {
      return false;
    }
  }
  for (const records::AppArea& area : records::kAppAreas) {
    if (area.requestId == 0) continue;
    if (!Check(SimConnect_RequestClientData(handle_, area.areaId, area.requestId, area.definitionId,
                                            records::kPeriodOnSet, 0, 0, 0, 0),
               area.areaName)) {
      return false;
    }
  }
  return true;
}

void AppClient::Close() {
  if (handle_ != nullptr) {
    SimConnect_Close(handle_);
    handle_ = nullptr;
  }
  if (event_ != nullptr) {
    CloseHandle(event_);
    event_ = nullptr;
  }
  opened_ = false;
}

bool AppClient::Send(uint32_t command, const char* name, double value, uint32_t param, uint32_t tag) {
  uint8_t bytes[records::kHostRequestSize];
  records::EncodeHostRequest(records::MakeHostRequest(tag, command, param, name, value), bytes);
  return Check(SimConnect_SetClientData(handle_, records::kHostRequestAreaId, records::kHostRequestDefinitionId, 0, 0,
                                        records::kHostRequestSize, bytes),
               "SetClientData HostRequest");
}

bool AppClient::ReceiveOne(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  const void* message = nullptr;
  uint32_t size = 0;
  while (SimConnect_GetNextDispatch(handle_, &message, &size) != S_OK) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    WaitForSingleObject(event_, timeoutMs - elapsed);
  }
  const auto* bytes = static_cast<const uint8_t*>(message);
  if (size < protocol::kReceivedHeaderSize) {
    ADD_FAILURE() << "application: a message of " << size << " bytes";
    return true;
  }
  switch (wire::LoadU32(bytes + protocol::kReceivedKindOffset)) {
    case protocol::kKindOpen:
      opened_ = true;
      break;
    case protocol::kKindQuit:
      quit_ = true;
      break;
    case protocol::kKindException:
      if (size >= protocol::exception_msg::kSize) {
        exceptions_.emplace_back(wire::LoadU32(bytes + protocol::exception_msg::kExceptionCode),
                                 wire::LoadU32(bytes + protocol::exception_msg::kSendId));
      }
      break;
    case protocol::kKindClientData: {
      if (size < protocol::data_msg::kData) break;
      const uint8_t* data = bytes + protocol::data_msg::kData;
      const size_t n = size - protocol::data_msg::kData;
      switch (wire::LoadU32(bytes + protocol::data_msg::kRequestId)) {
        case records::kAppVarDataRequestId: {
          records::VarData record;
          EXPECT_TRUE(records::DecodeVarData(data, n, &record)) << "VarData of " << n << " bytes";
          varData_.push_back(record);
          break;
        }
        case records::kAppVarDumpRequestId: {
          records::VarDump record;
          EXPECT_TRUE(records::DecodeVarDump(data, n, &record)) << "VarDump of " << n << " bytes";
          varDumps_.push_back(record);
          break;
        }
        case records::kAppHostEventRequestId: {
          records::HostEvent record;
          EXPECT_TRUE(records::DecodeHostEvent(data, n, &record)) << "HostEvent of " << n << " bytes";
          events_.push_back(record);
          break;
        }
        default:
          break;
      }
      break;
    }
    default:
      break;
  }
  return true;
}

bool AppClient::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    ReceiveOne(timeoutMs - elapsed);
  }
}

void AppClient::Pump(DWORD timeoutMs) {
  if (!ReceiveOne(timeoutMs)) return;
  while (ReceiveOne(0)) {
  }
}

void AppClient::DiscardReceived() {
  Pump();
  varData_.clear();
  varDumps_.clear();
  events_.clear();
}

namespace {

// Takes the first element of `queue` that `match` accepts.
template <typename Record>
bool TakeFirst(std::deque<Record>& queue, const std::function<bool(const Record&)>& match, Record* out) {
  for (auto it = queue.begin(); it != queue.end(); ++it) {
    if (match(*it)) {
      *out = *it;
      queue.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace

bool AppClient::TakeVarData(const std::function<bool(const records::VarData&)>& match, records::VarData* out,
                            DWORD timeoutMs) {
  return PumpUntil([&] { return TakeFirst(varData_, match, out); }, timeoutMs);
}

bool AppClient::TakeVarDataNamed(const std::string& name, records::VarData* out, DWORD timeoutMs) {
  return TakeVarData([&](const records::VarData& r) { return name == r.name; }, out, timeoutMs);
}

bool AppClient::TakeEvent(const std::function<bool(const records::HostEvent&)>& match, records::HostEvent* out,
                          DWORD timeoutMs) {
  return PumpUntil([&] { return TakeFirst(events_, match, out); }, timeoutMs);
}

bool AppClient::TakeEventCode(uint32_t code, records::HostEvent* out, DWORD timeoutMs) {
  return TakeEvent([code](const records::HostEvent& e) { return e.code == code; }, out, timeoutMs);
}

bool AppClient::TakeVarList(std::vector<records::VarDump>* chunks, DWORD timeoutMs) {
  chunks->clear();
  bool closed = PumpUntil(
      [&] {
        while (!varDumps_.empty()) {
          chunks->push_back(varDumps_.front());
          varDumps_.pop_front();
          if (chunks->back().firstId == records::kVarDumpClosingId) return true;
        }
        return false;
      },
      timeoutMs);
  return closed;
}

}  // namespace e2e
