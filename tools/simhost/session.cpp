// One client's conversation: decoding, the open reply, the aircraft-title data
// requests, the menu and on-screen texts. Client-data requests are in
// session_client_data.cpp.
#include "session.h"

#include <cctype>
#include <cstring>
#include <utility>

#include "aircraft_host.h"
#include "host_log.h"
#include "host_protocol.h"
#include "sim_clock.h"

namespace simhost {

namespace {

bool IsTitle(const std::string& name) {
  const char* title = host_protocol::kTitleDatumName;
  if (name.size() != std::strlen(title)) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != title[i]) return false;
  }
  return true;
}

// Text for a console line: control characters become '?'.
std::string Printable(const uint8_t* text, size_t n) {
  std::string out;
  for (size_t i = 0; i < n && text[i] != 0; ++i) {
    out += text[i] < 0x20 || text[i] == 0x7F ? '?' : static_cast<char>(text[i]);
  }
  return out;
}

}  // namespace

Session::Session(uint32_t number, std::string transport, std::shared_ptr<MessageSink> sink, ServerContext context)
    : number_(number), transport_(std::move(transport)), sink_(std::move(sink)), context_(context) {}

void Session::HandleRequest(const uint8_t* request, uint32_t size) {
  std::lock_guard<SlimLock> guard(lock_);
  if (detached_) return;  // a request that was under way when the client went
  const DecodeResult decoded = DecodeRequest(request, size);
  uint32_t index = decoded.argumentIndex;
  uint32_t code = decoded.exceptionCode;
  if (decoded.ok()) {
    code = !opened_ && decoded.id != protocol::kOpenId ? host_protocol::kExceptionNotOpen
                                                        : Handle(decoded.id, RequestFields{request}, &index);
  }
  if (code != host_protocol::kExceptionNone) Reject(decoded.id, decoded.sendId, code, index);
}

uint32_t Session::Handle(uint32_t id, const RequestFields& r, uint32_t* index) {
  using namespace protocol;
  switch (id) {
    case kOpenId: return OnOpen(r);
    case kAddToDataDefinitionId: return OnAddToDataDefinition(r, index);
    case kRequestDataOnSimObjectId: return OnRequestDataOnSimObject(r, index);
    case kMenuAddItemId: {
      namespace f = menu_add_item;
      return LogMenu(menu_.AddItem(r.Text(f::kText), r.U32(f::kMenuEventId), r.U32(f::kData), index));
    }
    case kMenuAddSubItemId: {
      namespace f = menu_add_sub_item;
      return LogMenu(menu_.AddSubItem(r.U32(f::kMenuEventId), r.Text(f::kText), r.U32(f::kSubMenuEventId),
                                      r.U32(f::kData), index));
    }
    case kMenuRemoveSubItemId: {
      namespace f = menu_remove_sub_item;
      return LogMenu(menu_.RemoveSubItem(r.U32(f::kMenuEventId), r.U32(f::kSubMenuEventId), index));
    }
    case kMapClientDataNameToIdId: return OnMapClientDataNameToId(r, index);
    case kCreateClientDataId: return OnCreateClientData(r, index);
    case kAddToClientDataDefinitionId: return OnAddToClientDataDefinition(r, index);
    case kRequestClientDataId: return OnRequestClientData(r, index);
    case kSetClientDataId: return OnSetClientData(r, index);
    default: {  // kTextId, the only id left once the request fits a layout
      namespace f = protocol::text;
      const uint32_t type = r.U32(f::kTextType);
      context_.log.Printf("text from %s (type %u%s, %.1f s): %s", LabelLocked().c_str(), type,
                          type == 5 ? " scrolling yellow" : "", static_cast<double>(r.F32(f::kDisplayTime)),
                          Printable(r.At(f::kData), r.U32(f::kUnitSize)).c_str());
      return host_protocol::kExceptionNone;
    }
  }
}

void Session::Reject(uint32_t requestId, uint32_t sendId, uint32_t code, uint32_t index) {
  sink_->Deliver(BuildException(code, sendId, index));
  context_.log.Printf("exception %u (%s) to client %u: %s, SendID %u, argument %u", code,
                      host_protocol::ExceptionName(code), number_, RequestName(requestId), sendId, index);
}

uint32_t Session::OnOpen(const RequestFields& r) {
  if (opened_) return host_protocol::kExceptionBadOpen;
  opened_ = true;
  name_ = r.Text(protocol::open::kName);
  sink_->Deliver(BuildOpenReply(number_));
  context_.log.Printf("%s opened (%s)", LabelLocked().c_str(), transport_.c_str());
  return host_protocol::kExceptionNone;
}

uint32_t Session::OnAddToDataDefinition(const RequestFields& r, uint32_t* index) {
  namespace f = protocol::add_to_data_definition;
  if (!IsTitle(r.Text(f::kDatumName))) {
    *index = 2;
    return host_protocol::kExceptionInvalidArgument;
  }
  if (r.U32(f::kDatumType) != host_protocol::kDatumTypeString260) {
    *index = 4;
    return host_protocol::kExceptionInvalidArgument;
  }
  ++dataDefinitions_[r.U32(f::kDefinitionId)];
  return host_protocol::kExceptionNone;
}

uint32_t Session::OnRequestDataOnSimObject(const RequestFields& r, uint32_t* index) {
  namespace f = protocol::request_data_on_sim_object;
  const uint32_t requestId = r.U32(f::kRequestId), period = r.U32(f::kPeriod);
  if (period == host_protocol::kPeriodNever) {
    objectRequests_.erase(requestId);  // nothing to cancel is no fault
    return host_protocol::kExceptionNone;
  }
  auto definition = dataDefinitions_.find(r.U32(f::kDefinitionId));
  if (definition == dataDefinitions_.end()) {
    *index = 2;
    return host_protocol::kExceptionUnknownDefinition;
  }
  if (r.U32(f::kObjectId) != 0) {
    *index = 3;
    return host_protocol::kExceptionInvalidArgument;
  }
  // The origin, interval and limit arguments are not used: a request sends at
  // every period from the next frame on, until it is replaced or cancelled.
  ObjectRequest request{definition->first, definition->second, period, r.U32(f::kFlags), context_.clock.Frame() + 1};
  switch (period) {
    case host_protocol::kPeriodOnce:
      objectRequests_.erase(requestId);
      SendObjectData(requestId, request);
      return host_protocol::kExceptionNone;
    case host_protocol::kPeriodFrame:
    case host_protocol::kPeriodSecond:
      objectRequests_[requestId] = request;
      return host_protocol::kExceptionNone;
    default:
      *index = 4;
      return host_protocol::kExceptionInvalidArgument;
  }
}

void Session::SendObjectData(uint32_t requestId, const ObjectRequest& request) {
  // Every datum of a definition is the title: a NUL-terminated text in a
  // 260-byte field, cut to 259 characters.
  std::string title = context_.aircraft.Title();
  if (title.size() >= host_protocol::kTitleFieldSize) title.resize(host_protocol::kTitleFieldSize - 1);
  std::vector<uint8_t> data(size_t{host_protocol::kTitleFieldSize} * request.datumCount, 0);
  for (uint32_t i = 0; i < request.datumCount; ++i) {
    std::memcpy(data.data() + size_t{i} * host_protocol::kTitleFieldSize, title.data(), title.size());
  }
  DataMessageFields fields{requestId, host_protocol::kUserObjectId, request.definitionId, request.flags,
                           request.datumCount};
  sink_->Deliver(BuildObjectData(fields, data.data(), data.size()));
}

void Session::OnFrame(uint64_t frame, uint32_t frameRate) {
  std::lock_guard<SlimLock> guard(lock_);
  if (detached_) return;
  for (auto& entry : objectRequests_) {
    ObjectRequest& request = entry.second;
    if (frame < request.nextFrame) continue;
    SendObjectData(entry.first, request);
    request.nextFrame = frame + (request.period == host_protocol::kPeriodSecond ? frameRate : 1);
  }
}

uint32_t Session::LogMenu(uint32_t code) {
  if (code == host_protocol::kExceptionNone) {
    context_.log.Printf("menu of %s: %s", LabelLocked().c_str(), menu_.Render().c_str());
  }
  return code;
}

void Session::Detach() {
  context_.clientData.RemoveOwner(this);
  std::lock_guard<SlimLock> guard(lock_);
  detached_ = true;
}

bool Session::Opened() {
  std::lock_guard<SlimLock> guard(lock_);
  return opened_;
}

std::string Session::Name() {
  std::lock_guard<SlimLock> guard(lock_);
  return name_;
}

std::string Session::Label() {
  std::lock_guard<SlimLock> guard(lock_);
  return LabelLocked();
}

std::string Session::LabelLocked() const {
  return "client " + std::to_string(number_) + (opened_ ? " \"" + name_ + "\"" : std::string());
}

bool Session::FindMenuItem(const std::string& path, ClientMenu::Entry* entry) {
  std::lock_guard<SlimLock> guard(lock_);
  return !detached_ && menu_.Find(path, entry);
}

void Session::SendEvent(uint32_t eventId, uint32_t data) { sink_->Deliver(BuildEvent(eventId, data)); }

void Session::SendException(uint32_t code, uint32_t sendId, uint32_t argumentIndex) {
  sink_->Deliver(BuildException(code, sendId, argumentIndex));
}

void Session::SendQuit() { sink_->Deliver(BuildQuit()); }

}  // namespace simhost
