// One application session with the bridge.
#include "bridge_session.h"

#include <algorithm>
#include <functional>

#include "config_section.h"
#include "lvar/records.h"
#include "private_config.h"
#include "simconnect/SimConnect.h"

namespace bridgectl {

namespace {

constexpr char kClientName[] = "bridgectl";
// How many recent SendIDs are kept to match exceptions against.
constexpr size_t kRememberedSendIds = 64;

constexpr char kConnectionLost[] = "the connection to the simulator was lost";

void Remember(std::vector<uint32_t>& sendIds, HANDLE handle) {
  uint32_t sendId = 0;
  if (SimConnect_GetLastSentPacketID(handle, &sendId) != S_OK) return;
  if (sendIds.size() >= kRememberedSendIds) sendIds.erase(sendIds.begin());
  sendIds.push_back(sendId);
}

bool Contains(const std::vector<uint32_t>& values, uint32_t value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

// Whether the local pipe exists. The library goes on from a missing local
// pipe to TCP on the registry ports and to the default pipe, which would
// connect an explicit --pipe to another server; bridgectl reports the missing
// pipe instead. (A pipe whose instances are all busy exists.)
bool LocalPipeExists(const std::string& pipeName) {
  std::wstring path = L"\\\\.\\pipe\\";
  for (char c : pipeName) path += static_cast<wchar_t>(static_cast<unsigned char>(c));
  SetLastError(ERROR_SUCCESS);
  if (WaitNamedPipeW(path.c_str(), 1)) return true;
  DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_BAD_PATHNAME && error != ERROR_INVALID_NAME;
}

}  // namespace

BridgeSession::BridgeSession() : notify_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

BridgeSession::~BridgeSession() { Close(); }

void BridgeSession::Close() {
  if (handle_ != nullptr) SimConnect_Close(handle_);
  handle_ = nullptr;
  connected_ = false;
}

bool BridgeSession::Open(const Endpoint& endpoint, std::string* error) {
  if (!notify_.Valid()) {
    *error = "cannot create an event (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  HRESULT result = E_FAIL;
  switch (endpoint.kind) {
    case EndpointKind::kDefault:
      result = SimConnect_Open(&handle_, kClientName, nullptr, 0, notify_.Get(), kConfigIndexDefault);
      break;
    case EndpointKind::kConfigIndex:
      result = SimConnect_Open(&handle_, kClientName, nullptr, 0, notify_.Get(), endpoint.configIndex);
      if (result == E_INVALIDARG) {
        *error = "no section [SimConnect." + std::to_string(endpoint.configIndex) +
                 "] in SimConnect.cfg (Public Documents, Documents or the current folder)";
        return false;
      }
      break;
    case EndpointKind::kPipe:
    case EndpointKind::kTcp: {
      if (endpoint.kind == EndpointKind::kPipe && endpoint.server.empty() && !LocalPipeExists(endpoint.pipeName)) {
        *error = NoServerMessage(endpoint);
        return false;
      }
      PrivateConfig config;
      if (!config.Write(PrivateConfigText(endpoint, kPrivateConfigIndex), error)) return false;
      result = config.RunInFolder(
          [&] { return SimConnect_Open(&handle_, kClientName, nullptr, 0, notify_.Get(), kPrivateConfigIndex); });
      break;
    }
  }
  if (result != S_OK || handle_ == nullptr) {
    handle_ = nullptr;
    *error = NoServerMessage(endpoint);
    return false;
  }

  // The bridge creates the areas; the application only maps their names and
  // describes each as one block of the record's size.
  for (const records::AppArea& area : records::kAppAreas) {
    if (SimConnect_MapClientDataNameToID(handle_, area.areaName, area.areaId) != S_OK ||
        SimConnect_AddToClientDataDefinition(handle_, area.definitionId, 0, area.size, 0.0f,
                                             records::kDatumIdUnused) != S_OK) {
      *error = kConnectionLost;
      return false;
    }
  }
  return Subscribe(error);
}

bool BridgeSession::Subscribe(std::string* error) {
  subscriptionRejected_ = false;
  for (const records::AppArea& area : records::kAppAreas) {
    if (area.requestId == 0) continue;
    if (SimConnect_RequestClientData(handle_, area.areaId, area.requestId, area.definitionId, records::kPeriodOnSet,
                                     0, 0, 0, 0) != S_OK) {
      *error = kConnectionLost;
      return false;
    }
    Remember(subscriptionSendIds_, handle_);
  }
  return true;
}

bool BridgeSession::Send(uint32_t command, const std::string& name, uint32_t param, double value,
                         std::string* error) {
  if (handle_ == nullptr) {
    *error = kConnectionLost;
    return false;
  }
  records::HostRequest request = records::MakeHostRequest(tag_, command, param, name.c_str(), value);
  uint8_t bytes[records::kHostRequestSize];
  records::EncodeHostRequest(request, bytes);
  if (SimConnect_SetClientData(handle_, records::kHostRequestAreaId, records::kHostRequestDefinitionId, 0, 0,
                               static_cast<uint32_t>(records::kHostRequestSize), bytes) != S_OK) {
    *error = kConnectionLost;
    return false;
  }
  Remember(requestSendIds_, handle_);
  lastRequestTick_ = GetTickCount();
  return true;
}

void BridgeSession::NoteException(const BridgeMessage& message) {
  if (Contains(requestSendIds_, message.sendId)) {
    requestRejected_ = true;
    requestException_ = message.exception;
  }
  if (Contains(subscriptionSendIds_, message.sendId)) subscriptionRejected_ = true;
}

BridgeSession::Wait BridgeSession::Next(BridgeMessage* message, uint32_t timeoutMs, std::string* error) {
  const DWORD start = GetTickCount();
  for (;;) {
    // Ctrl+C and the heartbeat come first, so that a steady stream of
    // messages cannot hold them back.
    if (stop_ != nullptr && WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) return Wait::kStopped;
    if (connected_ && GetTickCount() - lastRequestTick_ >= kHeartbeatPeriodMs) {
      if (!Send(records::kCommandHeartbeat, std::string(), 0, 0.0, error)) return Wait::kEnded;
    }
    const void* data = nullptr;
    uint32_t size = 0;
    HRESULT result = SimConnect_GetNextDispatch(handle_, &data, &size);
    if (result == S_OK) {
      *message = DecodeMessage(static_cast<const uint8_t*>(data), size);
      switch (message->kind) {
        case MessageKind::kException:
          NoteException(*message);
          break;
        case MessageKind::kOpen:
          serverName_ = message->serverName;
          break;
        case MessageKind::kQuit:
          *error = "the simulator is shutting down";
          return Wait::kEnded;
        default:
          break;
      }
      return Wait::kMessage;
    }
    // E_FAIL: nothing queued. Any other code is the failure the transport
    // recorded when the connection broke.
    if (result != E_FAIL) {
      *error = kConnectionLost;
      return Wait::kEnded;
    }

    const DWORD now = GetTickCount();
    DWORD wait = INFINITE;
    if (timeoutMs != kWaitForever) {
      const DWORD elapsed = now - start;
      if (elapsed >= timeoutMs) return Wait::kTimeout;
      wait = timeoutMs - elapsed;
    }
    if (connected_) {
      const DWORD sinceRequest = now - lastRequestTick_;
      wait = std::min<DWORD>(wait, sinceRequest >= kHeartbeatPeriodMs ? 0 : kHeartbeatPeriodMs - sinceRequest);
    }
    HANDLE events[2] = {notify_.Get(), stop_};
    DWORD count = stop_ != nullptr ? 2 : 1;
    DWORD signalled = WaitForMultipleObjects(count, events, FALSE, wait);
    if (signalled == WAIT_OBJECT_0 + 1) return Wait::kStopped;
    if (signalled == WAIT_FAILED) {
      *error = "waiting failed (error " + std::to_string(GetLastError()) + ")";
      return Wait::kEnded;
    }
  }
}

BridgeSession::Wait BridgeSession::NextAccepted(const std::function<bool(const BridgeMessage&)>& accept,
                                                 uint32_t timeoutMs, std::vector<BridgeMessage>* others,
                                                 BridgeMessage* accepted, std::string* error) {
  const DWORD start = GetTickCount();
  for (DWORD elapsed = 0; elapsed < timeoutMs; elapsed = GetTickCount() - start) {
    switch (Next(accepted, timeoutMs - elapsed, error)) {
      case Wait::kMessage:
        if (accept(*accepted)) return Wait::kMessage;
        if (others != nullptr) others->push_back(*accepted);
        break;
      case Wait::kTimeout:
        break;
      case Wait::kStopped:
        *error = "interrupted";
        return Wait::kStopped;
      case Wait::kEnded:
        return Wait::kEnded;
    }
  }
  return Wait::kTimeout;
}

bool BridgeSession::Connect(uint32_t tag, uint32_t peerId, uint32_t timeoutMs, std::string* error) {
  tag_ = tag;
  const DWORD start = GetTickCount();
  auto isReply = [tag](const BridgeMessage& m) {
    return m.kind == MessageKind::kHostEvent && m.hostEvent.code == records::kEventConnectReply &&
           m.hostEvent.reference == tag;
  };
  for (DWORD elapsed = 0; elapsed < timeoutMs; elapsed = GetTickCount() - start) {
    if (subscriptionRejected_ && !Subscribe(error)) return false;
    if (!Send(records::kCommandConnect, std::string(), peerId, 0.0, error)) return false;
    BridgeMessage reply;
    switch (NextAccepted(isReply, std::min<DWORD>(timeoutMs - elapsed, kConnectRetryMs), nullptr, &reply, error)) {
      case Wait::kMessage:
        connected_ = true;
        bridgeVersion_.assign(reply.hostEvent.text, records::TextLength(reply.hostEvent.text, sizeof reply.hostEvent.text));
        return true;
      case Wait::kTimeout:
        break;
      default:
        return false;
    }
  }
  if (requestRejected_) {
    *error = "no bridge: the simulator refused requests to " + std::string(records::kHostRequestAreaName) +
             " (exception " + std::to_string(requestException_) + "); is TVOBridge64.dll loaded?";
  } else {
    *error = "the bridge did not answer Connect within " + std::to_string(timeoutMs) +
             " ms (is TVOBridge64.dll loaded, and LVAR access enabled in the simulator's TAVO.quin menu?)";
  }
  return false;
}

bool BridgeSession::Sync(std::vector<BridgeMessage>* before, std::string* title, uint32_t timeoutMs,
                         std::string* error) {
  if (!Send(records::kCommandSendAircraftName, std::string(), 0, 0.0, error)) return false;
  auto isTitle = [](const BridgeMessage& m) {
    return m.kind == MessageKind::kHostEvent && m.hostEvent.code == records::kEventAircraftTitle &&
           m.hostEvent.reference == 0;
  };
  BridgeMessage answer;
  switch (NextAccepted(isTitle, timeoutMs, before, &answer, error)) {
    case Wait::kMessage:
      if (title != nullptr) {
        title->assign(answer.hostEvent.text, records::TextLength(answer.hostEvent.text, sizeof answer.hostEvent.text));
      }
      return true;
    case Wait::kTimeout:
      *error = "the bridge stopped answering (no answer within " + std::to_string(timeoutMs) +
               " ms; is LVAR access disabled in the simulator's TAVO.quin menu?)";
      return false;
    default:
      return false;
  }
}

}  // namespace bridgectl
