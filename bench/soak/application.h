// One application on bridgectl's session, as the soak drives it: each request
// it sends notes the answer the protocol gives (if any), and Checkpoint proves
// that every noted answer came, in order, before the answer to a marker
// request sent last. Every record received on the way is checked against the
// panel model.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "bridge_session.h"
#include "invariants.h"

namespace soak {

struct AppFigures {
  uint64_t requestsSent = 0;
  uint64_t requestsAnswered = 0;  // answers that came, in order
  uint64_t valuesChecked = 0;     // VarData and variable-added values checked against the panel
  uint64_t varData = 0;
  uint64_t unsolicitedEvents = 0;
};

class Application {
 public:
  // `reader` 0 or 1: the application's own marks in the panel model.
  Application(const std::string& label, int reader, uint32_t peerId, PanelModel& model, Failures& failures,
              AppFigures& figures);
  // Opens the session on the simulator's pipe and connects with the peer id.
  bool Open(DWORD timeoutMs);
  // Connect again (after another application took the bridge over).
  bool Reconnect(DWORD timeoutMs);
  void Close();
  bool IsOpen() const { return open_; }

  // The requests, each noting its answer.
  void StartMonitoring(const std::string& name, uint32_t intervalMs);
  void StopMonitoring(const std::string& name);
  void SetValue(const std::string& name, double value);
  void ForceUpdate(const std::string& name);
  void RequestTitle();
  void RequestList();
  void Rescan();
  void Heartbeat();
  // A request whose answer, if it had one, must not come (access disabled).
  void SendUnanswered(uint32_t command, const std::string& name);

  // Sends a marker (a stop of a name nobody has, answered by a refusal that
  // names it) and reads until its answer. Fails for every noted answer that
  // did not come first, or came out of order. False when the marker's answer
  // did not come within `timeoutMs`.
  bool Checkpoint(DWORD timeoutMs);
  // Reads and checks what arrives for `ms`.
  void Pump(DWORD ms);
  // From now on a title event with `title` is awaited (not an answer to a
  // request); WaitForTitle reads until it has come, false after `timeoutMs`.
  void AwaitTitle(const std::string& title);
  bool WaitForTitle(DWORD timeoutMs);
  // Answers that came although nothing should have been answered (markers and
  // titles), since the last call.
  size_t TakeForbiddenAnswers();
  // Names refused with -1 or -2 get unique names of their own.
  std::string UnknownName();

 private:
  struct Expected {
    enum class Kind { kVarData, kEvent, kList } kind;
    std::string name;        // the variable, or the event's text
    uint32_t code = 0;       // kEvent
    uint32_t reference = 0;  // kEvent
    bool exact = false;      // kVarData, kEvent 12: `value` exactly
    double value = 0.0;
    std::string request;     // for the failure: "#42 ForceUpdate SOAK1_C3"
  };
  bool Send(uint32_t command, const std::string& name, uint32_t param, double value, const std::string& what);
  void Note(Expected expected) { expected_.push_back(std::move(expected)); }
  // Reads one message (waiting up to `timeoutMs`); false on time-out or end.
  bool ReceiveOne(DWORD timeoutMs);
  void OnVarData(const records::VarData& record);
  void OnEvent(const records::HostEvent& record);
  void OnVarDump(const records::VarDump& record);
  bool Matches(const Expected& expected, const records::HostEvent& record) const;
  void Answered();

  std::string label_;
  int reader_;
  uint32_t peerId_;
  uint32_t tag_;
  PanelModel& model_;
  Failures& failures_;
  AppFigures& figures_;
  bridgectl::BridgeSession session_;
  bool open_ = false;
  uint64_t sequence_ = 0;
  uint64_t uniqueNames_ = 0;
  std::deque<Expected> expected_;
  std::string pendingMarker_;
  bool markerSeen_ = false;
  std::string listNames_;  // the names of a list being received
  std::string awaitedTitle_;  // AwaitTitle
  bool titleSeen_ = false;
  bool probing_ = false;             // SendUnanswered since TakeForbiddenAnswers
  std::vector<std::string> probeNames_;
  size_t forbidden_ = 0;
};

}  // namespace soak
