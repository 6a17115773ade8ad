#include "support/test_env.h"

#include <atomic>

#include "simconnect/client.h"
#include "simconnect/protocol.h"
#include "simconnect/wire.h"

std::wstring UniquePipePath(const char* tag) {
  static std::atomic<unsigned> counter{0};
  std::wstring path = L"\\\\.\\pipe\\tvo-test-" + std::to_wstring(GetCurrentProcessId()) + L"-";
  for (const char* p = tag; *p != '\0'; ++p) path += static_cast<wchar_t>(*p);
  return path + L"-" + std::to_wstring(counter.fetch_add(1));
}

std::wstring PipeNameOf(const std::wstring& path) {
  const std::wstring folder = L"\\pipe\\";
  size_t at = path.find(folder);
  return at == std::wstring::npos ? path : path.substr(at + folder.size());
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) return condition();
    Sleep(1);
  }
}

std::vector<uint8_t> MakeReceived(uint32_t kind, uint32_t size) {
  std::vector<uint8_t> message(size, 0);
  if (size >= 4) wire::StoreU32(message.data() + protocol::kReceivedSizeOffset, size);
  if (size >= 8) wire::StoreU32(message.data() + protocol::kReceivedVersionOffset, 4);
  if (size >= 12) wire::StoreU32(message.data() + protocol::kReceivedKindOffset, kind);
  return message;
}

SimConnectClient* ConnectClientToPipe(const std::wstring& path, HANDLE notifyEvent, uint32_t maxReceiveSize) {
  SimConnectClient* client = SimConnectClient::Create(TransportKind::Pipe);
  if (client == nullptr) return nullptr;
  client->SetNotifyTargets(nullptr, 0, notifyEvent);
  std::wstring name = PipeNameOf(path);
  if (ConnectTransport(client, 0, L".", name.c_str(), maxReceiveSize, false) != 0) {
    ShutdownConnection(client);
    return nullptr;
  }
  return client;
}

HANDLE StartChild(const std::wstring& program, const std::wstring& arguments, HANDLE input, HANDLE output,
                  HANDLE error) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = error;
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
    return nullptr;
  }
  CloseHandle(info.hThread);
  return info.hProcess;
}
