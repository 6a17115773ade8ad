// Client-data areas, shared by all clients of the server: each area has a
// name, a size and its bytes, and a list of subscriptions, each of which
// delivers the area's contents (through the subscriber's own definition) to
// the subscriber's sink. Clients reach an area by the name they mapped to an
// id of their own. Thread-safe; the lock is a leaf except for the sinks'
// Deliver, which never calls back. No OS calls.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "simconnect/slim_lock.h"

#include "message_sink.h"

namespace simhost {

// One block of a client-data definition: `size` bytes at `offset` in the area.
struct ClientDataDatum {
  uint32_t offset;
  uint32_t size;
};

// Total number of bytes a definition carries.
uint32_t DefinitionSize(const std::vector<ClientDataDatum>& datums);

struct ClientDataSubscription {
  const void* owner;                  // the subscribing session (a key only)
  std::shared_ptr<MessageSink> sink;  // where its messages go
  uint32_t requestId;
  uint32_t clientDataId;              // the subscriber's id for the area
  uint32_t definitionId;
  std::vector<ClientDataDatum> datums;  // copied when the request was made
  uint32_t period;                    // host_protocol::kPeriodFrame (on set) or kPeriodSecond
  uint64_t nextFrame;                 // kPeriodSecond: the frame of the next message
};

class ClientDataStore {
 public:
  // Each returns host_protocol::kExceptionNone or an exception code with the
  // argument index (API order of the request named) in *argumentIndex.

  // CreateClientData: a new area of `size` zero bytes. Creating an area that
  // exists with the same size is accepted, so both peers may create it,
  // whichever comes first; another size is refused.
  // *isNew tells whether this call created it.
  uint32_t Create(const std::string& name, uint32_t size, uint32_t* argumentIndex, bool* isNew);
  // SetClientData: stores the n bytes of `data` through `datums` and sends a
  // client-data message to every subscriber of the area with period "on set",
  // the writer included when it subscribed.
  uint32_t Set(const std::string& name, const std::vector<ClientDataDatum>& datums, const uint8_t* data,
               uint32_t n, uint32_t* argumentIndex);
  // RequestClientData with period 1: sends the area's contents once.
  uint32_t SendOnce(const std::string& name, const ClientDataSubscription& request, uint32_t* argumentIndex);
  // RequestClientData with period 3 or 4: replaces the owner's subscription
  // with the same request id, if any. The area need not exist yet.
  uint32_t Subscribe(const std::string& name, ClientDataSubscription subscription, uint32_t* argumentIndex);
  // RequestClientData with period 0: ends the owner's subscription with this
  // request id, whichever area it is on. Nothing happens when there is none.
  void Unsubscribe(const void* owner, uint32_t requestId);
  // Drops every subscription of a leaving client. Its areas stay.
  void RemoveOwner(const void* owner);
  // Sends the areas' contents to every once-a-second subscription that is due.
  void OnFrame(uint64_t frame, uint32_t frameRate);

  struct AreaInfo {
    std::string name;
    uint32_t size;
    size_t subscriptions;
  };
  std::vector<AreaInfo> Areas();

 private:
  struct Area {
    bool created = false;
    std::vector<uint8_t> bytes;
    std::vector<ClientDataSubscription> subscriptions;
  };
  // Sends the area's bytes, as seen through the subscription's definition.
  static void SendContents(const Area& area, const ClientDataSubscription& subscription);

  SlimLock lock_;
  std::map<std::string, Area> areas_;  // guarded by lock_; key: the name as given, case kept
};

}  // namespace simhost
