// The application's side of the bridge, as the TAVO.quin application plays it:
// a SimConnect connection made with the project's client library that maps the
// four client-data areas, subscribes to the three the bridge writes, writes
// HostRequest records into the fourth, and decodes what comes back into
// VarData, VarDump and HostEvent records, each kept in arrival order.
//
// Everything runs on the test's thread: the receive queue is drained whenever
// the test waits for something.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "lvar/records.h"

namespace e2e {

class AppClient {
 public:
  AppClient() = default;
  ~AppClient() { Close(); }
  AppClient(const AppClient&) = delete;
  AppClient& operator=(const AppClient&) = delete;

  // Opens the connection (the default chain, so the simulator's own pipe),
  // waits for the open reply, then maps the eight names and defines and
  // subscribes to the areas. False when any of that fails.
  bool Open(const char* name, DWORD timeoutMs = 10000);
  void Close();

  // Writes one HostRequest into the host-request area.
  bool Send(uint32_t command, const char* name = "", double value = 0.0, uint32_t param = 0, uint32_t tag = 0);

  // The first record received (or arriving within `timeoutMs`) that `match`
  // accepts; it is taken out, the others stay. False on time-out.
  bool TakeVarData(const std::function<bool(const records::VarData&)>& match, records::VarData* out,
                   DWORD timeoutMs = 5000);
  bool TakeVarDataNamed(const std::string& name, records::VarData* out, DWORD timeoutMs = 5000);
  bool TakeEvent(const std::function<bool(const records::HostEvent&)>& match, records::HostEvent* out,
                 DWORD timeoutMs = 5000);
  bool TakeEventCode(uint32_t code, records::HostEvent* out, DWORD timeoutMs = 5000);
  // Every VarDump chunk up to and including the closing record, in order;
  // false when the closing record does not come in time.
  bool TakeVarList(std::vector<records::VarDump>* chunks, DWORD timeoutMs = 10000);

  // Drains what has arrived so far, waiting up to `timeoutMs` for the first.
  void Pump(DWORD timeoutMs = 0);
  // Records received and not taken.
  const std::deque<records::VarData>& VarDataQueue() const { return varData_; }
  const std::deque<records::HostEvent>& EventQueue() const { return events_; }
  void DiscardReceived();
  // Exception messages (code, SendID) the server answered this client's
  // requests with; a correct client gets none.
  const std::vector<std::pair<uint32_t, uint32_t>>& Exceptions() const { return exceptions_; }
  // The quit message has arrived.
  bool QuitReceived() const { return quit_; }

 private:
  // Hands out the next message of the receive queue into the record queues;
  // false when none arrived within `timeoutMs`.
  bool ReceiveOne(DWORD timeoutMs);
  // Runs ReceiveOne until `done` holds or `timeoutMs` has passed.
  bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
  bool Check(HRESULT result, const char* what);

  HANDLE handle_ = nullptr;
  HANDLE event_ = nullptr;
  bool opened_ = false;
  bool quit_ = false;
  std::deque<records::VarData> varData_;
  std::deque<records::VarDump> varDumps_;
  std::deque<records::HostEvent> events_;
  std::vector<std::pair<uint32_t, uint32_t>> exceptions_;
};

}  // namespace e2e
