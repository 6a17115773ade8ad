// The application's side of the bridge as the TAVO.quin application plays it,
// for tests: bridgectl's session (its connection, subscriptions, Connect and
// heartbeat) with every record it receives kept in arrival order until a test
// takes it. Everything runs on the test's thread; the session's queue is read
// whenever the test waits for something.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "bridge_session.h"
#include "lvar/records.h"

class AppClient {
 public:
  // Opens the session (the default chain unless `endpoint` says otherwise)
  // and connects with `peerId`. False (with a test failure) otherwise.
  bool Open(uint32_t peerId = 1, const bridgectl::Endpoint& endpoint = bridgectl::Endpoint());
  void Close() { session_.Close(); }

  // Writes one HostRequest.
  bool Send(uint32_t command, const std::string& name = "", double value = 0.0, uint32_t param = 0);

  // The first record received (or arriving within `timeoutMs`) that matches;
  // it is taken out, the others stay. False on time-out.
  bool TakeVarData(const std::string& name, records::VarData* out, DWORD timeoutMs = 5000);
  bool TakeEvent(uint32_t code, records::HostEvent* out, DWORD timeoutMs = 5000);
  // Every VarDump chunk up to and including the closing record, in order.
  bool TakeVarList(std::vector<records::VarDump>* chunks, DWORD timeoutMs = 10000);
  // The names of such a list, in order (every chunk's text split at ";").
  static std::vector<std::string> ListedNames(const std::vector<records::VarDump>& chunks);

  // Reads what has arrived, waiting up to `timeoutMs` for the first message.
  void Pump(DWORD timeoutMs = 0);
  std::deque<records::VarData>& VarData() { return varData_; }
  // Exceptions the server answered this client's requests with (a correct
  // client gets none).
  const std::vector<uint32_t>& Exceptions() const { return exceptions_; }
  bridgectl::BridgeSession& Session() { return session_; }

 private:
  // Reads until `done` holds or `timeoutMs` has passed.
  bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
  bool ReceiveOne(DWORD timeoutMs);
  // Takes the first of `records` that `match` accepts, pumping until one is there.
  template <typename Record, typename Match>
  bool TakeFirst(std::deque<Record>& records, Match match, Record* out, DWORD timeoutMs);

  bridgectl::BridgeSession session_;
  std::deque<records::VarData> varData_;
  std::deque<records::VarDump> varDumps_;
  std::deque<records::HostEvent> events_;
  std::vector<uint32_t> exceptions_;
};
