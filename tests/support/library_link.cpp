#include "support/library_link.h"

#include <atomic>

#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "support/paths.h"

SimConnectClient* ConnectClientToPipe(const std::wstring& path, HANDLE notifyEvent, uint32_t maxReceiveSize) {
  SimConnectClient* client = SimConnectClient::Create(TransportKind::Pipe);
  if (client == nullptr) return nullptr;
  client->SetNotifyTargets(nullptr, 0, notifyEvent);
  std::wstring name = PipeNameOf(path);
  if (!ConnectTransport(client, 0, L".", name.c_str(), maxReceiveSize, false)) {
    ShutdownConnection(client);
    return nullptr;
  }
  return client;
}

LibraryLink::LibraryLink(const char* tag, uint32_t maxReceiveSize, Via via) {
  static std::atomic<uint32_t> sections{100};
  const std::wstring path = UniquePipePath(tag);
  server = RawServer::ListenPipe(path);
  if (server == nullptr) return;
  if (via == kTransport) {
    handle = ConnectClientToPipe(path, event.handle, maxReceiveSize);
    if (handle != nullptr && !server->Accept()) Close();
    return;
  }
  const uint32_t index = sections++;
  if (!files.Write(ConfigFolder::kCurrent, PipeSection(index, path)) ||
      SimConnect_Open(&handle, tag, nullptr, 0, event.handle, index) != S_OK) {
    handle = nullptr;
    return;
  }
  if (!server->Accept() || server->ReadMessage().size() != 296) Close();
}

LibraryLink::~LibraryLink() { Close(); }

HRESULT LibraryLink::Close() {
  HRESULT result = SimConnect_Close(handle);
  handle = nullptr;
  return result;
}

bool LibraryLink::Failed() const { return handle != nullptr && static_cast<SimConnectClient*>(handle)->HasFailed(); }

std::vector<uint8_t> LibraryLink::Next(DWORD timeoutMs, const void** address) {
  std::vector<uint8_t> next;
  const uint8_t* at = nullptr;
  NextDispatch(handle, event.handle, timeoutMs, [&](const uint8_t* bytes, uint32_t size) {
    next.assign(bytes, bytes + size);
    at = bytes;
    return true;
  });
  if (address != nullptr) *address = at;
  return next;
}
