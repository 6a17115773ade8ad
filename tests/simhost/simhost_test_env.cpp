#include "simhost_test_env.h"

#include <algorithm>
#include <fstream>

#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"
#include "simconnect/wire.h"
#include "support/test_env.h"

simhost::SimHostOptions TestHostOptions(const std::wstring& pipeName, LogCapture& log) {
  simhost::SimHostOptions options;
  options.pipeName = pipeName;
  options.tcp6 = options.tcp4 = false;
  options.manualClock = true;
  options.logSink = log.Sink();
  options.quitGraceMs = 2000;
  return options;
}

std::wstring UniquePipeName(const char* tag) { return PipeNameOf(UniquePipePath(tag)); }

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

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

RawPipeClient::~RawPipeClient() {
  if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
}

bool RawPipeClient::Connect(const std::wstring& pipeName, DWORD timeoutMs) {
  const std::wstring path = L"\\\\.\\pipe\\" + pipeName;
  return WaitUntil(
      [&] {
        pipe_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        return pipe_ != INVALID_HANDLE_VALUE;
      },
      timeoutMs);
}

bool RawPipeClient::Write(const std::vector<uint8_t>& bytes) {
  DWORD written = 0;
  return WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
}

bool RawPipeClient::ReadExact(uint8_t* buffer, size_t n, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (size_t got = 0; got < n;) {
    DWORD available = 0, chunk = 0;
    if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) {
      if (GetTickCount() - start >= timeoutMs) return false;
      Sleep(1);
    } else if (!ReadFile(pipe_, buffer + got, static_cast<DWORD>(std::min<size_t>(n - got, available)), &chunk,
                         nullptr)) {
      return false;
    } else {
      got += chunk;
    }
  }
  return true;
}

bool RawPipeClient::Read(Received* message, DWORD timeoutMs) {
  uint8_t sizeField[4];
  if (!ReadExact(sizeField, 4, timeoutMs)) return false;
  const uint32_t size = wire::LoadU32(sizeField);
  if (size < 4 || size > 1000000) return false;
  message->bytes.assign(sizeField, sizeField + 4);
  message->bytes.resize(size);
  return ReadExact(message->bytes.data() + 4, size - 4, timeoutMs);
}

std::vector<uint8_t> OpenRequestBytes(const char* name, uint32_t sendId) {
  std::vector<uint8_t> request(protocol::open::kSize, 0);
  wire::StoreU32(request.data() + protocol::kRequestSendIdOffset, sendId);
  request_encoding::WriteOpen(request.data(), name);
  return request;
}
