// One client of the server: its conversation state (open or not, its name,
// data definitions and requests, client-data names and definitions, menu) and
// the handling of each request it sends. A session takes whole requests as
// bytes and gives whole messages to its sink; it knows nothing of pipes or
// sockets, so a pipe connection, a socket connection or a client fed from
// memory blocks can all drive one. No OS calls.
//
// Threads: HandleRequest runs on the client's own thread (requests of the
// in-process channel that a pause held: on the thread that resumes), OnFrame
// on the frame clock's, the Send* and menu functions on the console's. Lock order:
// Session::lock_, then ClientDataStore's lock or AircraftHost's lock, then the
// sinks' own locks.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "simconnect/slim_lock.h"

#include "client_data.h"
#include "menu.h"
#include "message_sink.h"
#include "request_decoder.h"

namespace simhost {

class AircraftHost;
class HostLog;
class SimClock;

// What every session of a server shares.
struct ServerContext {
  ClientDataStore& clientData;
  AircraftHost& aircraft;
  HostLog& log;
  const SimClock& clock;
};

class Session {
 public:
  // `number` is the host connection number sent in the open reply (never 0)
  // and the client's number on the console; `transport` names how it came
  // ("pipe", "tcp6", "tcp4", "memory").
  Session(uint32_t number, std::string transport, std::shared_ptr<MessageSink> sink, ServerContext context);

  // Handles one whole request (its size field equal to `size`, at least 16).
  // Every rejected request is answered with an exception message.
  void HandleRequest(const uint8_t* request, uint32_t size);
  // Sends what the object-data requests owe at this frame.
  void OnFrame(uint64_t frame, uint32_t frameRate);
  // The client has gone: its subscriptions end and nothing more is sent.
  void Detach();

  uint32_t Number() const { return number_; }
  const std::string& Transport() const { return transport_; }
  bool Opened();
  // The name given in Open; empty before.
  std::string Name();
  // `client 3 "name"` for console lines.
  std::string Label();

  // The console's side.
  bool FindMenuItem(const std::string& path, ClientMenu::Entry* entry);
  void SendEvent(uint32_t eventId, uint32_t data);
  void SendException(uint32_t code, uint32_t sendId, uint32_t argumentIndex);
  void SendQuit();

 private:
  struct ObjectRequest {
    uint32_t definitionId;
    uint32_t datumCount;
    uint32_t period;
    uint32_t flags;
    uint64_t nextFrame;
  };

  // Request handlers, called with lock_ held, for a request that fits its
  // layout. Each returns host_protocol::kExceptionNone or the exception code,
  // with the argument index in *index.
  uint32_t Handle(uint32_t id, const RequestFields& r, uint32_t* index);
  uint32_t OnOpen(const RequestFields& r);
  uint32_t OnAddToDataDefinition(const RequestFields& r, uint32_t* index);
  uint32_t OnRequestDataOnSimObject(const RequestFields& r, uint32_t* index);
  uint32_t OnMapClientDataNameToId(const RequestFields& r, uint32_t* index);
  uint32_t OnCreateClientData(const RequestFields& r, uint32_t* index);
  uint32_t OnAddToClientDataDefinition(const RequestFields& r, uint32_t* index);
  uint32_t OnRequestClientData(const RequestFields& r, uint32_t* index);
  uint32_t OnSetClientData(const RequestFields& r, uint32_t* index);

  void Reject(uint32_t requestId, uint32_t sendId, uint32_t code, uint32_t index);  // lock_ held
  void SendObjectData(uint32_t requestId, const ObjectRequest& request);
  // Logs the menu after a change that `code` (kExceptionNone) accepted; returns `code`.
  uint32_t LogMenu(uint32_t code);
  // The area name this client mapped to `clientDataId`; null when none.
  const std::string* AreaName(uint32_t clientDataId) const;
  std::string LabelLocked() const;

  const uint32_t number_;
  const std::string transport_;
  const std::shared_ptr<MessageSink> sink_;
  ServerContext context_;

  SlimLock lock_;
  bool opened_ = false;                                  // guarded by lock_
  bool detached_ = false;                                // guarded by lock_
  std::string name_;                                     // guarded by lock_
  std::map<uint32_t, uint32_t> dataDefinitions_;         // definition id -> TITLE datums; guarded by lock_
  std::map<uint32_t, ObjectRequest> objectRequests_;     // by request id; guarded by lock_
  std::map<uint32_t, std::string> clientDataNames_;      // client-data id -> area name; guarded by lock_
  std::map<uint32_t, std::vector<ClientDataDatum>> clientDataDefinitions_;  // guarded by lock_
  ClientMenu menu_;                                      // guarded by lock_
};

}  // namespace simhost
