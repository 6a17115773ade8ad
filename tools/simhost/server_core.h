// The server without its I/O: the shared state (client-data areas, aircraft,
// frame clock, console), the list of sessions, the frame step that drives the
// periodic requests, and what the console does to clients (choose a menu item,
// send an exception or the quit message). Pipe and socket connections, and
// later clients fed from memory, attach sessions here. No OS calls.
//
// Lock order: ServerCore::lock_ is never held while a session is called.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "simconnect/slim_lock.h"

#include "client_data.h"
#include "session.h"

namespace simhost {

class ServerCore {
 public:
  ServerCore(AircraftHost& aircraft, HostLog& log, SimClock& clock);

  // A new client: a session with the next host connection number (1, 2, ...).
  std::shared_ptr<Session> Attach(std::shared_ptr<MessageSink> sink, const std::string& transport);
  // The client has gone (`reason` for the console, e.g. "left"); its session
  // ends. Safe to call twice.
  void Detach(const std::shared_ptr<Session>& session, const std::string& reason);

  // Moves the clock to the next frame and sends what periodic requests owe.
  void AdvanceFrame();

  std::vector<std::shared_ptr<Session>> Sessions();
  std::shared_ptr<Session> FindSession(uint32_t number);
  size_t SessionCount();

  // Sends the event of the menu entry at `path` ("Item" or "Item/Sub-item",
  // optionally prefixed "N:" to pick client N) to the client that added it;
  // the first client in connection order whose menu has the path wins.
  // False when no client has it.
  bool ChooseMenuItem(const std::string& path);
  // Sends the quit message to every client.
  void SendQuitToAll();

  ClientDataStore& ClientData() { return clientData_; }
  AircraftHost& Aircraft() { return aircraft_; }
  HostLog& Log() { return log_; }
  SimClock& Clock() { return clock_; }

 private:
  AircraftHost& aircraft_;
  HostLog& log_;
  SimClock& clock_;
  ClientDataStore clientData_;

  SlimLock lock_;
  std::vector<std::shared_ptr<Session>> sessions_;  // guarded by lock_, in connection order
  uint32_t nextNumber_ = 1;                         // guarded by lock_
};

}  // namespace simhost
