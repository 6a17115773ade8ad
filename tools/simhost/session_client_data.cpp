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

uint32_t Session::OnMapClientDataNameToId(const RequestFields& r, uint32_t* index) {
  namespace f = protocol::map_client_data_name_to_id;
  const std::string name = r.Text(f::kName);
  const uint32_t id = r.U32(f::kClientDataId);
  if (name.empty()) {
    *index = 1;
    return host_protocol::kExceptionInvalidArgument;
  }
  const std::string* mapped = AreaName(id);
  if (mapped != nullptr && *mapped != name) {
    *index = 2;
    return host_protocol::kExceptionInvalidArgument;
  }
  clientDataNames_.emplace(id, name);  // the same mapping again changes nothing
  return host_protocol::kExceptionNone;
}

uint32_t Session::OnCreateClientData(const RequestFields& r, uint32_t* index) {
  namespace f = protocol::create_client_data;
  // The flags (read-only areas) are not enforced: every client may write.
  const std::string* name = AreaName(r.U32(f::kClientDataId));
  if (name == nullptr) {
    *index = 1;
    return host_protocol::kExceptionUnknownClientData;
  }
  bool isNew = false;
  const uint32_t size = r.U32(f::kDataSize);
  uint32_t code = context_.clientData.Create(*name, size, index, &isNew);
  if (code == host_protocol::kExceptionNone && isNew) {
    context_.log.Printf("client data \"%s\" (%u bytes) created by %s", name->c_str(), size, LabelLocked().c_str());
  }
  return code;
}

uint32_t Session::OnAddToClientDataDefinition(const RequestFields& r, uint32_t* index) {
  namespace f = protocol::add_to_client_data_definition;
  // The size-or-type field is a size in bytes; the epsilon and datum id are not used.
  const uint32_t offset = r.U32(f::kOffset), size = r.U32(f::kSizeOrType);
  if (size == 0 || uint64_t{offset} + size > host_protocol::kMaxClientDataSize) {
    *index = size == 0 || size > host_protocol::kMaxClientDataSize ? 3 : 2;
    return host_protocol::kExceptionInvalidArgument;
  }
  clientDataDefinitions_[r.U32(f::kDefinitionId)].push_back(ClientDataDatum{offset, size});
  return host_protocol::kExceptionNone;
}

uint32_t Session::OnRequestClientData(const RequestFields& r, uint32_t* index) {
  namespace f = protocol::request_client_data;
  const uint32_t requestId = r.U32(f::kRequestId), period = r.U32(f::kPeriod);
  if (period == host_protocol::kPeriodNever) {
    context_.clientData.Unsubscribe(this, requestId);
    return host_protocol::kExceptionNone;
  }
  const std::string* name = AreaName(r.U32(f::kClientDataId));
  if (name == nullptr) {
    *index = 1;
    return host_protocol::kExceptionUnknownClientData;
  }
  auto definition = clientDataDefinitions_.find(r.U32(f::kDefinitionId));
  if (definition == clientDataDefinitions_.end()) {
    *index = 3;
    return host_protocol::kExceptionUnknownDefinition;
  }
  // The flags, origin, interval and limit arguments are not used.
  ClientDataSubscription subscription{this, sink_, requestId, r.U32(f::kClientDataId), definition->first,
                                      definition->second, period, context_.clock.Frame() + 1};
  switch (period) {
    case host_protocol::kPeriodOnce:
      return context_.clientData.SendOnce(*name, subscription, index);
    case host_protocol::kPeriodFrame:
    case host_protocol::kPeriodSecond:
      return context_.clientData.Subscribe(*name, std::move(subscription), index);
    default:
      *index = 4;
      return host_protocol::kExceptionInvalidArgument;
  }
}

uint32_t Session::OnSetClientData(const RequestFields& r, uint32_t* index) {
  namespace f = protocol::set_client_data;
  // The flags and the reserved field are not used.
  const std::string* name = AreaName(r.U32(f::kClientDataId));
  if (name == nullptr) {
    *index = 1;
    return host_protocol::kExceptionUnknownClientData;
  }
  auto definition = clientDataDefinitions_.find(r.U32(f::kDefinitionId));
  if (definition == clientDataDefinitions_.end()) {
    *index = 2;
    return host_protocol::kExceptionUnknownDefinition;
  }
  return context_.clientData.Set(*name, definition->second, r.At(f::kData), r.U32(f::kUnitSize), index);
}

}  // namespace simhost
