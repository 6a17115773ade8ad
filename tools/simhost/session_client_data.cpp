// One client's client-data requests: names mapped to its own ids, areas
// created in the shared store, its definitions, subscriptions and writes.
#include <utility>

#include "host_log.h"
#include "host_protocol.h"
#include "session.h"
#include "sim_clock.h"

namespace simhost {

const std::string* Session::AreaName(uint32_t clientDataId) const {
  auto found = clientDataNames_.find(clientDataId);
  return found == clientDataNames_.end() ? nullptr : &found->second;
}

uint32_t Session::On(const MapClientDataNameToIdRequest& r, uint32_t* index) {
  if (r.name.empty()) {
    *index = 1;
    return host_protocol::kExceptionInvalidArgument;
  }
  const std::string* mapped = AreaName(r.clientDataId);
  if (mapped != nullptr) {
    if (*mapped == r.name) return host_protocol::kExceptionNone;  // the same mapping again
    *index = 2;
    return host_protocol::kExceptionDuplicateId;
  }
  for (const auto& entry : clientDataNames_) {
    if (entry.second == r.name) {
      *index = 1;
      return host_protocol::kExceptionDuplicateId;
    }
  }
  if (clientDataNames_.size() >= host_protocol::kMaxClientDataNames) {
    *index = 2;
    return host_protocol::kExceptionLimitReached;
  }
  clientDataNames_.emplace(r.clientDataId, r.name);
  return host_protocol::kExceptionNone;
}

uint32_t Session::On(const CreateClientDataRequest& r, uint32_t* index) {
  // The flags (read-only areas) are not enforced: every client may write.
  const std::string* name = AreaName(r.clientDataId);
  if (name == nullptr) {
    *index = 1;
    return host_protocol::kExceptionUnknownClientData;
  }
  bool isNew = false;
  uint32_t code = context_.clientData.Create(*name, r.size, index, &isNew);
  if (code == host_protocol::kExceptionNone && isNew) {
    context_.log.Printf("client data \"%s\" (%u bytes) created by %s", name->c_str(), r.size,
                        LabelLocked().c_str());
  }
  return code;
}

uint32_t Session::On(const AddToClientDataDefinitionRequest& r, uint32_t* index) {
  // sizeOrType is a size in bytes; the epsilon and datum id are not used.
  if (r.sizeOrType == 0 || r.sizeOrType > host_protocol::kMaxClientDataSize) {
    *index = 3;
    return host_protocol::kExceptionInvalidArgument;
  }
  if (uint64_t{r.offset} + r.sizeOrType > host_protocol::kMaxClientDataSize) {
    *index = 2;
    return host_protocol::kExceptionClientDataSize;
  }
  auto found = clientDataDefinitions_.find(r.definitionId);
  if (found == clientDataDefinitions_.end()) {
    if (clientDataDefinitions_.size() >= host_protocol::kMaxDefinitions) {
      *index = 1;
      return host_protocol::kExceptionLimitReached;
    }
    found = clientDataDefinitions_.emplace(r.definitionId, std::vector<ClientDataDatum>()).first;
  }
  if (found->second.size() >= host_protocol::kMaxDatumsPerDefinition) {
    *index = 1;
    return host_protocol::kExceptionLimitReached;
  }
  found->second.push_back(ClientDataDatum{r.offset, r.sizeOrType});
  return host_protocol::kExceptionNone;
}

uint32_t Session::On(const RequestClientDataRequest& r, uint32_t* index) {
  if (r.period == host_protocol::kPeriodNever) {
    context_.clientData.Unsubscribe(this, r.requestId);
    clientDataRequests_.erase(r.requestId);
    return host_protocol::kExceptionNone;
  }
  const std::string* name = AreaName(r.clientDataId);
  if (name == nullptr) {
    *index = 1;
    return host_protocol::kExceptionUnknownClientData;
  }
  auto definition = clientDataDefinitions_.find(r.definitionId);
  if (definition == clientDataDefinitions_.end()) {
    *index = 3;
    return host_protocol::kExceptionUnknownDefinition;
  }
  // The flags, origin, interval and limit arguments are not used.
  ClientDataSubscription subscription{this, sink_, r.requestId, r.clientDataId, r.definitionId, definition->second,
                                      r.period, context_.clock.Frame() + 1};
  switch (r.period) {
    case host_protocol::kPeriodOnce:
      return context_.clientData.SendOnce(*name, subscription, index);
    case host_protocol::kPeriodFrame:
    case host_protocol::kPeriodSecond: {
      if (clientDataRequests_.count(r.requestId) == 0 && clientDataRequests_.size() >= host_protocol::kMaxDataRequests) {
        *index = 2;
        return host_protocol::kExceptionLimitReached;
      }
      uint32_t code = context_.clientData.Subscribe(*name, std::move(subscription), index);
      if (code == host_protocol::kExceptionNone) clientDataRequests_.insert(r.requestId);
      return code;
    }
    default:
      *index = 4;
      return host_protocol::kExceptionInvalidPeriod;
  }
}

uint32_t Session::On(const SetClientDataRequest& r, uint32_t* index) {
  // The flags and the reserved field are not used.
  const std::string* name = AreaName(r.clientDataId);
  if (name == nullptr) {
    *index = 1;
    return host_protocol::kExceptionUnknownClientData;
  }
  auto definition = clientDataDefinitions_.find(r.definitionId);
  if (definition == clientDataDefinitions_.end()) {
    *index = 2;
    return host_protocol::kExceptionUnknownDefinition;
  }
  return context_.clientData.Set(*name, definition->second, r.data, r.unitSize, index);
}

}  // namespace simhost
