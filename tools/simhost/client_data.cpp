// Client-data areas shared by all clients.
#include "client_data.h"

#include <algorithm>
#include <cstring>

#include "host_protocol.h"

namespace simhost {

namespace {

bool Fits(const std::vector<ClientDataDatum>& datums, size_t areaSize) {
  for (const ClientDataDatum& d : datums) {
    if (uint64_t{d.offset} + d.size > areaSize) return false;
  }
  return true;
}

uint32_t Refuse(uint32_t code, uint32_t index, uint32_t* argumentIndex) {
  *argumentIndex = index;
  return code;
}

}  // namespace

uint32_t DefinitionSize(const std::vector<ClientDataDatum>& datums) {
  uint64_t total = 0;
  for (const ClientDataDatum& d : datums) total += d.size;
  return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(total);
}

void ClientDataStore::SendContents(const Area& area, const ClientDataSubscription& subscription) {
  std::vector<uint8_t> data(DefinitionSize(subscription.datums), 0);
  size_t at = 0;
  for (const ClientDataDatum& d : subscription.datums) {
    // A datum beyond the area's end (an area created smaller than the
    // subscriber's definition) reads as zero bytes.
    if (d.offset < area.bytes.size()) {
      size_t n = std::min<size_t>(d.size, area.bytes.size() - d.offset);
      std::memcpy(data.data() + at, area.bytes.data() + d.offset, n);
    }
    at += d.size;
  }
  DataMessageFields fields{subscription.requestId, subscription.clientDataId, subscription.definitionId, 0,
                           static_cast<uint32_t>(subscription.datums.size())};
  subscription.sink->Deliver(BuildClientData(fields, data.data(), data.size()));
}

uint32_t ClientDataStore::Create(const std::string& name, uint32_t size, uint32_t* argumentIndex, bool* isNew) {
  *isNew = false;
  if (size == 0 || size > host_protocol::kMaxClientDataSize) {
    return Refuse(host_protocol::kExceptionInvalidArgument, 2, argumentIndex);
  }
  std::lock_guard<SlimLock> guard(lock_);
  Area& area = areas_[name];
  if (area.created) {
    if (area.bytes.size() != size) return Refuse(host_protocol::kExceptionInvalidArgument, 2, argumentIndex);
    return host_protocol::kExceptionNone;
  }
  area.created = true;
  area.bytes.assign(size, 0);
  *isNew = true;
  return host_protocol::kExceptionNone;
}

uint32_t ClientDataStore::Set(const std::string& name, const std::vector<ClientDataDatum>& datums,
                              const uint8_t* data, uint32_t n, uint32_t* argumentIndex) {
  std::lock_guard<SlimLock> guard(lock_);
  auto found = areas_.find(name);
  if (found == areas_.end() || !found->second.created) {
    return Refuse(host_protocol::kExceptionUnknownClientData, 1, argumentIndex);
  }
  Area& area = found->second;
  if (n != DefinitionSize(datums)) return Refuse(host_protocol::kExceptionInvalidArgument, 5, argumentIndex);
  if (!Fits(datums, area.bytes.size())) return Refuse(host_protocol::kExceptionInvalidArgument, 2, argumentIndex);
  size_t at = 0;
  for (const ClientDataDatum& d : datums) {
    if (d.size != 0) std::memcpy(area.bytes.data() + d.offset, data + at, d.size);
    at += d.size;
  }
  for (const ClientDataSubscription& subscription : area.subscriptions) {
    if (subscription.period == host_protocol::kPeriodFrame) SendContents(area, subscription);
  }
  return host_protocol::kExceptionNone;
}

uint32_t ClientDataStore::SendOnce(const std::string& name, const ClientDataSubscription& request,
                                   uint32_t* argumentIndex) {
  std::lock_guard<SlimLock> guard(lock_);
  auto found = areas_.find(name);
  if (found == areas_.end() || !found->second.created) {
    return Refuse(host_protocol::kExceptionUnknownClientData, 1, argumentIndex);
  }
  if (!Fits(request.datums, found->second.bytes.size())) {
    return Refuse(host_protocol::kExceptionInvalidArgument, 3, argumentIndex);
  }
  SendContents(found->second, request);
  return host_protocol::kExceptionNone;
}

uint32_t ClientDataStore::Subscribe(const std::string& name, ClientDataSubscription subscription,
                                    uint32_t* argumentIndex) {
  std::lock_guard<SlimLock> guard(lock_);
  Area& area = areas_[name];
  if (area.created && !Fits(subscription.datums, area.bytes.size())) {
    return Refuse(host_protocol::kExceptionInvalidArgument, 3, argumentIndex);
  }
  // A request id names one subscription per client, on whichever area.
  for (auto& other : areas_) {
    auto& list = other.second.subscriptions;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const ClientDataSubscription& s) {
                                return s.owner == subscription.owner && s.requestId == subscription.requestId;
                              }),
               list.end());
  }
  area.subscriptions.push_back(std::move(subscription));
  return host_protocol::kExceptionNone;
}

void ClientDataStore::Unsubscribe(const void* owner, uint32_t requestId) {
  std::lock_guard<SlimLock> guard(lock_);
  for (auto& area : areas_) {
    auto& list = area.second.subscriptions;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const ClientDataSubscription& s) {
                                return s.owner == owner && s.requestId == requestId;
                              }),
               list.end());
  }
}

void ClientDataStore::RemoveOwner(const void* owner) {
  std::lock_guard<SlimLock> guard(lock_);
  for (auto& area : areas_) {
    auto& list = area.second.subscriptions;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const ClientDataSubscription& s) { return s.owner == owner; }),
               list.end());
  }
}

void ClientDataStore::OnFrame(uint64_t frame, uint32_t frameRate) {
  std::lock_guard<SlimLock> guard(lock_);
  for (auto& entry : areas_) {
    Area& area = entry.second;
    if (!area.created) continue;
    for (ClientDataSubscription& subscription : area.subscriptions) {
      if (subscription.period != host_protocol::kPeriodSecond || frame < subscription.nextFrame) continue;
      SendContents(area, subscription);
      subscription.nextFrame = frame + frameRate;
    }
  }
}

std::vector<ClientDataStore::AreaInfo> ClientDataStore::Areas() {
  std::lock_guard<SlimLock> guard(lock_);
  std::vector<AreaInfo> infos;
  for (const auto& entry : areas_) {
    if (!entry.second.created) continue;
    infos.push_back(AreaInfo{entry.first, static_cast<uint32_t>(entry.second.bytes.size()),
                             entry.second.subscriptions.size()});
  }
  return infos;
}

}  // namespace simhost
