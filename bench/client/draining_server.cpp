#include "draining_server.h"

#include <vector>

namespace bench {

const wchar_t kSimulatorPipePath[] = L"\\\\.\\pipe\\Lockheed Martin Prepar3D v6\\SimConnect";

namespace {

constexpr DWORD kPipeBufferSize = 65536;

HANDLE MakeInstance(bool first) {
  DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  return CreateNamedPipeW(kSimulatorPipePath, openMode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                          PIPE_UNLIMITED_INSTANCES, kPipeBufferSize, kPipeBufferSize, 0, nullptr);
}

// Cancels the operation of `overlapped` and waits until it has ended, so that
// its OVERLAPPED may go.
void CancelPending(HANDLE pipe, OVERLAPPED* overlapped) {
  CancelIo(pipe);
  DWORD ignored = 0;
  GetOverlappedResult(pipe, overlapped, &ignored, TRUE);
}

}  // namespace

bool DrainingServer::Start() {
  firstInstance_ = MakeInstance(true);
  if (firstInstance_ == INVALID_HANDLE_VALUE) return false;
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  reached_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void DrainingServer::Stop() {
  if (stop_ == nullptr) return;
  SetEvent(stop_);
  if (thread_.joinable()) thread_.join();
  CloseHandle(stop_);
  CloseHandle(reached_);
  stop_ = nullptr;
  reached_ = nullptr;
}

bool DrainingServer::WaitForBytes(uint64_t bytes, DWORD timeoutMs) {
  target_.store(bytes, std::memory_order_release);
  bool reached =
      Received() >= bytes || WaitForSingleObject(reached_, timeoutMs) == WAIT_OBJECT_0 || Received() >= bytes;
  target_.store(UINT64_MAX, std::memory_order_release);
  ResetEvent(reached_);
  return reached;
}

void DrainingServer::Run() {
  HANDLE pipe = firstInstance_;
  firstInstance_ = INVALID_HANDLE_VALUE;
  while (pipe != INVALID_HANDLE_VALUE) {
    bool goOn = Serve(pipe);
    CloseHandle(pipe);
    pipe = goOn ? MakeInstance(false) : INVALID_HANDLE_VALUE;
  }
}

bool DrainingServer::Serve(HANDLE pipe) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE waits[2] = {overlapped.hEvent, stop_};
  bool stopped = false;
  if (!ConnectNamedPipe(pipe, &overlapped)) {
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelPending(pipe, &overlapped);
        stopped = true;
      }
    } else if (error != ERROR_PIPE_CONNECTED) {
      stopped = WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0;
    }
  }
  std::vector<char> buffer(65536);
  while (!stopped) {
    ResetEvent(overlapped.hEvent);
    DWORD got = 0;
    if (!ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      break;  // the client has gone
    }
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      CancelPending(pipe, &overlapped);
      stopped = true;
      break;
    }
    if (!GetOverlappedResult(pipe, &overlapped, &got, FALSE) || got == 0) break;
    uint64_t total = received_.fetch_add(got, std::memory_order_acq_rel) + got;
    if (total >= target_.load(std::memory_order_acquire)) SetEvent(reached_);
  }
  CloseHandle(overlapped.hEvent);
  return !stopped;
}

}  // namespace bench
