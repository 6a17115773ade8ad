#include "draining_server.h"

#include <vector>

#include "support/paths.h"

namespace bench {

namespace {

// How often a server waiting for its next client looks at Stop.
constexpr DWORD kAcceptStepMs = 100;
// A client sends until it closes its end; a read never waits this long.
constexpr DWORD kReadTimeoutMs = 600000;

std::unique_ptr<RawServer> Listen() { return RawServer::ListenPipe(endpoints::kDefaultPipePath); }

}  // namespace

bool DrainingServer::Start() {
  first_ = Listen();
  if (first_ == nullptr) return false;
  reached_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void DrainingServer::Stop() {
  if (reached_ == nullptr) return;
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  CloseHandle(reached_);
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
  std::unique_ptr<RawServer> server = std::move(first_);
  std::vector<char> buffer(65536);
  while (server != nullptr && !stop_.load()) {
    if (!server->Accept(kAcceptStepMs)) continue;
    size_t got = 0;
    while (server->ReadSome(buffer.data(), buffer.size(), kReadTimeoutMs, &got)) {
      uint64_t total = received_.fetch_add(got, std::memory_order_acq_rel) + got;
      if (total >= target_.load(std::memory_order_acquire)) SetEvent(reached_);
    }
    // The client has gone: a fresh instance for the next one.
    server.reset();
    server = Listen();
  }
}

}  // namespace bench
