// One application session with the bridge over the project's SimConnect client:
// open the connection, set up the client-data areas, Connect, send requests,
// receive the bridge's records, and keep the heartbeat while waiting.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bridge_message.h"
#include "command_line.h"
#include "simconnect/owners.h"

namespace bridgectl {

// The bridge forgets an application after 60 s without a request; a heartbeat
// goes out after this long without one.
constexpr DWORD kHeartbeatPeriodMs = 15000;
// Connect is sent again after this long without an answer (the bridge may not
// have created its areas yet).
constexpr DWORD kConnectRetryMs = 1000;
// Waits without a time-out.
constexpr uint32_t kWaitForever = 0xFFFFFFFF;

class BridgeSession {
 public:
  BridgeSession();
  ~BridgeSession();
  BridgeSession(const BridgeSession&) = delete;
  BridgeSession& operator=(const BridgeSession&) = delete;

  // Opens the connection to `endpoint` under the client name "bridgectl",
  // maps the four area names, adds the four definitions and subscribes to
  // the VarData, VarDump and HostEvent areas. False with a one-line `error`
  // when no server can be reached.
  bool Open(const Endpoint& endpoint, std::string* error);

  // Sends Connect with `tag` and `peerId` until the bridge answers with the
  // version event that carries `tag`, or `timeoutMs` passes. Once connected,
  // waiting keeps the heartbeat.
  bool Connect(uint32_t tag, uint32_t peerId, uint32_t timeoutMs, std::string* error);

  // Writes one HostRequest. False with `error` when the connection failed.
  bool Send(uint32_t command, const std::string& name, uint32_t param, double value, std::string* error);

  enum class Wait {
    kMessage,  // *message holds the next received message
    kTimeout,  // nothing arrived within the time
    kStopped,  // the stop event was set
    kEnded,    // the server quit or the connection failed (error says which)
  };
  // The next received message, waiting up to `timeoutMs` (kWaitForever: no
  // limit). Exceptions and the open reply are handed out as well.
  Wait Next(BridgeMessage* message, uint32_t timeoutMs, std::string* error);

  // Asks the bridge for the aircraft title (a request it always answers, in
  // order after every request sent before) and collects the messages that
  // arrive before that answer into `before`. So every answer to the requests
  // sent before is in `before`, and a missing one is not coming. `title`
  // receives the title. False with `error` on time-out or a lost connection.
  bool Sync(std::vector<BridgeMessage>* before, std::string* title, uint32_t timeoutMs, std::string* error);

  // Ctrl+C: Next returns kStopped once this event is set.
  void SetStopEvent(HANDLE event) { stop_ = event; }

  // The name the server gave in its open reply (empty until it arrives).
  const std::string& serverName() const { return serverName_; }
  // The text of the bridge's answer to Connect ("TAVO.quin Bridge Version ...").
  const std::string& bridgeVersion() const { return bridgeVersion_; }

  // Closes the connection; safe to call twice.
  void Close();

 private:
  bool Subscribe(std::string* error);
  // Takes messages until `accept` takes one (kMessage, in *accepted), for up
  // to `timeoutMs` (kTimeout), or until the wait is stopped or the connection
  // ends (`error` set). The messages not taken go to `others` when not null.
  Wait NextAccepted(const std::function<bool(const BridgeMessage&)>& accept, uint32_t timeoutMs,
                    std::vector<BridgeMessage>* others, BridgeMessage* accepted, std::string* error);
  void NoteException(const BridgeMessage& message);

  HANDLE handle_ = nullptr;  // the SimConnect handle; closed by Close
  UniqueHandle notify_;      // auto-reset event the library sets per message
  HANDLE stop_ = nullptr;    // not owned
  bool connected_ = false;
  uint32_t tag_ = 0;
  DWORD lastRequestTick_ = 0;
  std::string serverName_;
  std::string bridgeVersion_;
  // SendIDs of recent HostRequest writes and of the subscriptions, to tell
  // which request an exception names.
  std::vector<uint32_t> requestSendIds_;
  std::vector<uint32_t> subscriptionSendIds_;
  bool requestRejected_ = false;       // the server refused a HostRequest write
  uint32_t requestException_ = 0;
  bool subscriptionRejected_ = false;  // subscribe again before the next Connect
};

}  // namespace bridgectl
