#include "simhost_test_env.h"

#include <atomic>
#include <cstring>
#include <fstream>

#include "simconnect/SimConnect.h"
#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"
#include "simconnect/wire.h"

simhost::SimHostOptions TestHostOptions(const std::wstring& pipeName, LogCapture& log) {
  simhost::SimHostOptions options;
  options.pipeName = pipeName;
  options.tcp6 = false;
  options.tcp4 = false;
  options.manualClock = true;
  options.logSink = log.Sink();
  options.quitGraceMs = 2000;
  return options;
}

std::wstring UniquePipeName(const char* tag) {
  static std::atomic<unsigned> counter{0};
  std::wstring name = L"tvo-simhost-test-" + std::to_wstring(GetCurrentProcessId()) + L"-";
  for (const char* p = tag; *p != '\0'; ++p) name += static_cast<wchar_t>(*p);
  return name + L"-" + std::to_wstring(counter.fetch_add(1));
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow += static_cast<char>(c);
  return narrow;
}

bool WriteClientConfig(const std::vector<ConfigSection>& sections) {
  std::ofstream file("SimConnect.cfg", std::ios::binary | std::ios::trunc);
  for (const ConfigSection& s : sections) {
    file << "[SimConnect." << s.index << "]\r\nProtocol=" << s.protocol << "\r\nAddress=" << s.address
         << "\r\nPort=" << s.port << "\r\n";
  }
  return static_cast<bool>(file);
}

uint32_t Received::Size() const { return U32(protocol::kReceivedSizeOffset); }
uint32_t Received::Kind() const { return U32(protocol::kReceivedKindOffset); }
uint32_t Received::U32(size_t offset) const {
  return offset + 4 <= bytes.size() ? wire::LoadU32(bytes.data() + offset) : 0xDEADBEEF;
}
std::string Received::Text(size_t offset) const {
  std::string text;
  for (size_t i = offset; i < bytes.size() && bytes[i] != 0; ++i) text += static_cast<char>(bytes[i]);
  return text;
}

LibraryClient::~LibraryClient() { Close(); }

HRESULT LibraryClient::Open(const char* name, uint32_t configIndex) {
  if (event_ == nullptr) event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return SimConnect_Open(&handle_, name, nullptr, 0, event_, configIndex);
}

uint32_t LibraryClient::LastSendId() const {
  uint32_t sendId = 0;
  SimConnect_GetLastSentPacketID(handle_, &sendId);
  return sendId;
}

bool LibraryClient::Pull(Received* message, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    const void* data = nullptr;
    uint32_t size = 0;
    if (SimConnect_GetNextDispatch(handle_, &data, &size) == S_OK) {
      const auto* bytes = static_cast<const uint8_t*>(data);
      message->bytes.assign(bytes, bytes + size);
      return true;
    }
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    WaitForSingleObject(event_, timeoutMs - elapsed);
  }
}

bool LibraryClient::Next(Received* message, DWORD timeoutMs) {
  if (!skipped.empty()) {
    *message = skipped.front();
    skipped.pop_front();
    return true;
  }
  return Pull(message, timeoutMs);
}

bool LibraryClient::NextOfKind(uint32_t kind, Received* message, DWORD timeoutMs) {
  for (size_t i = 0; i < skipped.size(); ++i) {
    if (skipped[i].Kind() == kind) {
      *message = skipped[i];
      skipped.erase(skipped.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  DWORD start = GetTickCount();
  for (;;) {
    DWORD elapsed = GetTickCount() - start;
    Received next;
    if (elapsed >= timeoutMs || !Pull(&next, timeoutMs - elapsed)) return false;
    if (next.Kind() == kind) {
      *message = next;
      return true;
    }
    skipped.push_back(next);
  }
}

bool LibraryClient::CollectUntilMarker(uint32_t definitionId, uint32_t requestId, std::vector<Received>* before) {
  if (SimConnect_RequestDataOnSimObject(handle_, requestId, definitionId, 0, 1, 0, 0, 0, 0) != S_OK) return false;
  before->clear();
  while (!skipped.empty()) {
    before->push_back(skipped.front());
    skipped.pop_front();
  }
  Received message;
  while (Next(&message)) {
    if (message.Kind() == protocol::kKindObjectData && message.U32(protocol::data_msg::kRequestId) == requestId) {
      return true;
    }
    before->push_back(message);
  }
  return false;
}

void LibraryClient::Close() {
  if (handle_ != nullptr) SimConnect_Close(handle_);
  handle_ = nullptr;
  if (event_ != nullptr) CloseHandle(event_);
  event_ = nullptr;
}

RawPipeClient::~RawPipeClient() {
  if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
}

bool RawPipeClient::Connect(const std::wstring& pipeName, DWORD timeoutMs) {
  std::wstring path = L"\\\\.\\pipe\\" + pipeName;
  DWORD start = GetTickCount();
  for (;;) {
    pipe_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe_ != INVALID_HANDLE_VALUE) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    if (GetLastError() == ERROR_PIPE_BUSY) {
      WaitNamedPipeW(path.c_str(), 100);
    } else {
      Sleep(5);
    }
  }
}

bool RawPipeClient::Write(const std::vector<uint8_t>& bytes) {
  DWORD written = 0;
  return WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool RawPipeClient::ReadExact(uint8_t* buffer, size_t n, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  size_t got = 0;
  while (got < n) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) {
      if (GetTickCount() - start >= timeoutMs) return false;
      Sleep(1);
      continue;
    }
    DWORD chunk = 0;
    DWORD want = static_cast<DWORD>(n - got < available ? n - got : available);
    if (!ReadFile(pipe_, buffer + got, want, &chunk, nullptr)) return false;
    got += chunk;
  }
  return true;
}

bool RawPipeClient::Read(Received* message, DWORD timeoutMs) {
  uint8_t sizeField[4];
  if (!ReadExact(sizeField, 4, timeoutMs)) return false;
  uint32_t size = wire::LoadU32(sizeField);
  if (size < 4 || size > 1000000) return false;
  message->bytes.assign(size, 0);
  std::memcpy(message->bytes.data(), sizeField, 4);
  return ReadExact(message->bytes.data() + 4, size - 4, timeoutMs);
}

bool RawPipeClient::WaitForClose(DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr)) return true;
    if (available > 0) {
      // Drain what the server sent before it closed.
      std::vector<uint8_t> sink(available);
      DWORD got = 0;
      if (!ReadFile(pipe_, sink.data(), available, &got, nullptr)) return true;
    } else if (GetTickCount() - start >= timeoutMs) {
      return false;
    } else {
      Sleep(2);
    }
  }
}

std::vector<uint8_t> OpenRequestBytes(const char* name, uint32_t sendId) {
  std::vector<uint8_t> request(protocol::open::kSize, 0);
  wire::StoreU32(request.data() + protocol::kRequestSendIdOffset, sendId);
  request_encoding::WriteOpen(request.data(), name);
  return request;
}
