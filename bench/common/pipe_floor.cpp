#include "pipe_floor.h"

#include <atomic>
#include <cstring>
#include <string>

#include "clock.h"

namespace bench {

namespace {

constexpr DWORD kPipeBufferSize = 65536;  // as simhost's pipe

std::wstring UniquePipePath(const wchar_t* tag) {
  static std::atomic<unsigned> counter{0};
  return L"\\\\.\\pipe\\tvo-bench-" + std::wstring(tag) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(counter.fetch_add(1));
}

bool ReadAll(HANDLE pipe, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    DWORD got = 0;
    if (!ReadFile(pipe, buffer + done, static_cast<DWORD>(size - done), &got, nullptr) || got == 0) return false;
    done += got;
  }
  return true;
}

bool WriteAll(HANDLE pipe, const char* buffer, size_t size) {
  DWORD written = 0;
  return WriteFile(pipe, buffer, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

// A connected pair of ends: the server end and a client end of one instance,
// opened with `clientFlags`.
bool MakePair(const wchar_t* tag, HANDLE* server, HANDLE* client, DWORD clientFlags = 0) {
  std::wstring path = UniquePipePath(tag);
  *server = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                             kPipeBufferSize, kPipeBufferSize, 0, nullptr);
  if (*server == INVALID_HANDLE_VALUE) return false;
  *client = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, clientFlags, nullptr);
  if (*client == INVALID_HANDLE_VALUE) {
    CloseHandle(*server);
    *server = INVALID_HANDLE_VALUE;
    return false;
  }
  // The client is there already: ConnectNamedPipe reports ERROR_PIPE_CONNECTED.
  ConnectNamedPipe(*server, nullptr);
  return true;
}

// A thread that reads and discards `total` bytes from `server`; `finished`
// receives the time it had them all.
std::thread Drain(HANDLE server, size_t total, std::atomic<double>* finished) {
  return std::thread([server, total, finished] {
    std::vector<char> buffer(65536);
    size_t received = 0;
    while (received < total) {
      DWORD got = 0;
      if (!ReadFile(server, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) || got == 0) break;
      received += got;
    }
    finished->store(NowUs());
  });
}

// The chained writes: OVERLAPPED first, so that the completion routine finds
// the chain from it; the pending read has its own.
struct Chain {
  OVERLAPPED overlapped;
  HANDLE pipe;
  const char* message;
  DWORD size;
  size_t left;
  HANDLE done;
};

struct PendingRead {
  OVERLAPPED overlapped;
  HANDLE done;
  char buffer[4096];
};

PendingRead* pendingRead = nullptr;  // of the run under way

void CALLBACK ChainCompleted(DWORD error, DWORD, LPOVERLAPPED overlapped) {
  if (pendingRead != nullptr && overlapped == &pendingRead->overlapped) {
    SetEvent(pendingRead->done);
    return;
  }
  auto* chain = reinterpret_cast<Chain*>(overlapped);
  if (error != 0 || --chain->left == 0) {
    SetEvent(chain->done);
    return;
  }
  std::memset(&chain->overlapped, 0, sizeof chain->overlapped);
  if (!WriteFile(chain->pipe, chain->message, chain->size, nullptr, &chain->overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    SetEvent(chain->done);
  }
}

}  // namespace

bool PipePingPong::Start(size_t requestSize, size_t replySize) {
  request_.assign(requestSize, 'q');
  reply_.assign(replySize, 'r');
  if (!MakePair(L"pingpong", &server_, &client_)) return false;
  HANDLE server = server_;
  answerer_ = std::thread([server, requestSize, replySize] {
    std::vector<char> in(requestSize), out(replySize, 'a');
    while (ReadAll(server, in.data(), in.size()) && WriteAll(server, out.data(), out.size())) {
    }
  });
  return true;
}

double PipePingPong::RoundTripUs() {
  double start = NowUs();
  if (!WriteAll(client_, request_.data(), request_.size()) || !ReadAll(client_, reply_.data(), reply_.size())) {
    return -1.0;
  }
  return NowUs() - start;
}

void PipePingPong::Stop() {
  if (client_ != INVALID_HANDLE_VALUE) {
    CloseHandle(client_);  // the answerer's read fails and it ends
    client_ = INVALID_HANDLE_VALUE;
  }
  if (answerer_.joinable()) answerer_.join();
  if (server_ != INVALID_HANDLE_VALUE) {
    CloseHandle(server_);
    server_ = INVALID_HANDLE_VALUE;
  }
}

double PipeWriteRate(size_t size, size_t count) {
  HANDLE server = INVALID_HANDLE_VALUE, client = INVALID_HANDLE_VALUE;
  if (!MakePair(L"writerate", &server, &client)) return 0.0;
  std::atomic<double> finished{0.0};
  std::thread reader = Drain(server, size * count, &finished);
  std::vector<char> message(size, 'w');
  double start = NowUs();
  for (size_t i = 0; i < count; ++i) {
    if (!WriteAll(client, message.data(), message.size())) break;
  }
  reader.join();
  CloseHandle(client);
  CloseHandle(server);
  double seconds = (finished.load() - start) / 1e6;
  return seconds > 0 ? static_cast<double>(count) / seconds : 0.0;
}

double PipeChainedWriteRate(size_t size, size_t count, bool readPending) {
  HANDLE server = INVALID_HANDLE_VALUE, client = INVALID_HANDLE_VALUE;
  if (count == 0 || !MakePair(L"chainrate", &server, &client, FILE_FLAG_OVERLAPPED)) return 0.0;
  if (!BindIoCompletionCallback(client, ChainCompleted, 0)) {
    CloseHandle(client);
    CloseHandle(server);
    return 0.0;
  }
  PendingRead read{};
  read.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (readPending) {
    pendingRead = &read;
    if (!ReadFile(client, read.buffer, sizeof read.buffer, nullptr, &read.overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      SetEvent(read.done);
    }
  }
  std::atomic<double> finished{0.0};
  std::thread reader = Drain(server, size * count, &finished);
  std::vector<char> message(size, 'w');
  Chain chain{};
  chain.pipe = client;
  chain.message = message.data();
  chain.size = static_cast<DWORD>(size);
  chain.left = count;
  chain.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const double start = NowUs();
  bool complete = false;
  if (WriteFile(client, message.data(), chain.size, nullptr, &chain.overlapped) || GetLastError() == ERROR_IO_PENDING) {
    complete = WaitForSingleObject(chain.done, 120000) == WAIT_OBJECT_0 && chain.left == 0;
  }
  if (!complete) CloseHandle(client);  // the reader's wait for the rest ends
  reader.join();
  if (complete) CloseHandle(client);
  // The read completes once the handle is closed; its record must outlive that.
  if (readPending) WaitForSingleObject(read.done, 5000);
  pendingRead = nullptr;
  CloseHandle(server);
  CloseHandle(read.done);
  CloseHandle(chain.done);
  const double seconds = (finished.load() - start) / 1e6;
  return complete && seconds > 0 ? static_cast<double>(count) / seconds : 0.0;
}

}  // namespace bench
