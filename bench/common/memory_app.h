// The application's side of the bridge as a client of simhost fed from
// memory: a session attached to simhost's server core, whose requests are
// handed over as bytes and whose messages arrive through a callback on the
// thread that produces them and are decoded with bridgectl's decoder. It maps
// the four areas, subscribes to the three that the bridge writes, and writes
// HostRequest records.
//
// A VarData therefore reaches it at the moment simhost handles the bridge's
// write: on the thread that reads the module's pipe, or, on the in-process
// channel, on the module's worker inside SimConnect_SetClientData. That is the
// instant a publication leaves the bridge, without the hop to an application
// process. The callbacks must be short and must not send requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "lvar/records.h"
#include "server_core.h"

namespace bench {

class MemoryApp {
 public:
  // (value, name, arrival time in NowMs) of each VarData.
  using VarDataHandler = std::function<void(double value, const char* name, double arrivedMs)>;

  explicit MemoryApp(simhost::ServerCore& core) : core_(core) {}
  ~MemoryApp() { Close(); }
  MemoryApp(const MemoryApp&) = delete;
  MemoryApp& operator=(const MemoryApp&) = delete;

  // Set before Open.
  void OnVarData(VarDataHandler handler) { onVarData_ = std::move(handler); }

  // Attaches the session, opens it and sets the areas up; false when simhost
  // answered any of it with an exception.
  bool Open(const char* name);
  void Close();

  // Writes one HostRequest into the host-request area.
  void Send(uint32_t command, const char* name = "", double value = 0.0, uint32_t param = 0, uint32_t tag = 0);
  // Connect (7) and wait for the version reply.
  bool Connect(uint32_t timeoutMs = 10000);
  // SendLVARS (1) and wait for the closing record; its totalCount.
  bool ListVariables(uint32_t* totalCount, uint32_t timeoutMs = 20000);

  uint64_t VarDataCount() const { return varData_.load(); }
  uint64_t Exceptions() const { return exceptions_.load(); }

 private:
  class Sink;
  void Deliver(const uint8_t* message, size_t size);
  void Request(uint8_t* request, uint32_t size);

  simhost::ServerCore& core_;
  std::shared_ptr<Sink> sink_;
  std::shared_ptr<simhost::Session> session_;
  VarDataHandler onVarData_;
  uint32_t nextSendId_ = 1;  // the requesting thread's
  std::atomic<uint64_t> varData_{0};
  std::atomic<uint64_t> exceptions_{0};
  std::atomic<uint64_t> connectReplies_{0};
  std::atomic<uint64_t> closingRecords_{0};
  std::atomic<uint32_t> lastTotalCount_{0};
};

}  // namespace bench
