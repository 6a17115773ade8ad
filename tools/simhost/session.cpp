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
  DecodeResult decoded = DecodeRequest(request, size);
  const DecodedRequest& r = decoded.request;
  uint32_t index = decoded.argumentIndex;
  uint32_t code = decoded.exceptionCode;
  if (decoded.ok()) {
    if (!opened_ && r.id != protocol::kOpenId) {
      code = host_protocol::kExceptionNotOpen;
    } else {
      std::visit([&](const auto& body) { code = On(body, &index); }, r.body);
    }
  }
  if (code != host_protocol::kExceptionNone) Reject(r.id, r.sendId, code, index);
}

void Session::Reject(uint32_t requestId, uint32_t sendId, uint32_t code, uint32_t index) {
  sink_->Deliver(BuildException(code, sendId, index));
  context_.log.Printf("exception %u (%s) to client %u: %s, SendID %u, argument %u", code,
                      host_protocol::ExceptionName(code), number_, RequestName(requestId), sendId, index);
}

uint32_t Session::On(const OpenRequest& r, uint32_t* index) {
  if (opened_) return host_protocol::kExceptionAlreadyOpen;
  opened_ = true;
  name_ = r.name;
  sink_->Deliver(BuildOpenReply(number_));
  context_.log.Printf("%s opened (%s)", LabelLocked().c_str(), transport_.c_str());
  return host_protocol::kExceptionNone;
}

uint32_t Session::On(const AddToDataDefinitionRequest& r, uint32_t* index) {
  if (!IsTitle(r.datumName)) {
    *index = 2;
    return host_protocol::kExceptionUnrecognizedDatum;
  }
  if (r.datumType != host_protocol::kDatumTypeString260) {
    *index = 4;
    return host_protocol::kExceptionUnrecognizedDatum;
  }
  auto found = dataDefinitions_.find(r.definitionId);
  if (found == dataDefinitions_.end()) {
    if (dataDefinitions_.size() >= host_protocol::kMaxDefinitions) {
      *index = 1;
      return host_protocol::kExceptionLimitReached;
    }
    found = dataDefinitions_.emplace(r.definitionId, 0).first;
  }
  if (found->second >= host_protocol::kMaxDatumsPerDefinition) {
    *index = 1;
    return host_protocol::kExceptionLimitReached;
  }
  ++found->second;
  return host_protocol::kExceptionNone;
}

uint32_t Session::On(const RequestDataOnSimObjectRequest& r, uint32_t* index) {
  if (r.period == host_protocol::kPeriodNever) {
    objectRequests_.erase(r.requestId);  // nothing to cancel is no fault
    return host_protocol::kExceptionNone;
  }
  auto definition = dataDefinitions_.find(r.definitionId);
  if (definition == dataDefinitions_.end()) {
    *index = 2;
    return host_protocol::kExceptionUnknownDefinition;
  }
  if (r.objectId != 0) {
    *index = 3;
    return host_protocol::kExceptionUnknownObject;
  }
  // The origin, interval and limit arguments are not used: a request sends at
  // every period from the next frame on, until it is replaced or cancelled.
  ObjectRequest request{r.definitionId, definition->second, r.period, r.flags, context_.clock.Frame() + 1};
  switch (r.period) {
    case host_protocol::kPeriodOnce:
      objectRequests_.erase(r.requestId);
      SendObjectData(r.requestId, request);
      return host_protocol::kExceptionNone;
    case host_protocol::kPeriodFrame:
    case host_protocol::kPeriodSecond:
      if (objectRequests_.count(r.requestId) == 0 && objectRequests_.size() >= host_protocol::kMaxDataRequests) {
        *index = 1;
        return host_protocol::kExceptionLimitReached;
      }
      objectRequests_[r.requestId] = request;
      return host_protocol::kExceptionNone;
    default:
      *index = 4;
      return host_protocol::kExceptionInvalidPeriod;
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

uint32_t Session::On(const MenuAddItemRequest& r, uint32_t* index) {
  uint32_t code = menu_.AddItem(r.text, r.menuEventId, r.data, index);
  if (code == host_protocol::kExceptionNone) LogMenu();
  return code;
}

uint32_t Session::On(const MenuAddSubItemRequest& r, uint32_t* index) {
  uint32_t code = menu_.AddSubItem(r.menuEventId, r.text, r.subMenuEventId, r.data, index);
  if (code == host_protocol::kExceptionNone) LogMenu();
  return code;
}

uint32_t Session::On(const MenuRemoveSubItemRequest& r, uint32_t* index) {
  uint32_t code = menu_.RemoveSubItem(r.menuEventId, r.subMenuEventId, index);
  if (code == host_protocol::kExceptionNone) LogMenu();
  return code;
}

void Session::LogMenu() { context_.log.Printf("menu of %s: %s", LabelLocked().c_str(), menu_.Render().c_str()); }

uint32_t Session::On(const TextRequest& r, uint32_t* index) {
  context_.log.Printf("text from %s (type %u%s, %.1f s): %s", LabelLocked().c_str(), r.textType,
                      r.textType == 5 ? " scrolling yellow" : "", static_cast<double>(r.displaySeconds),
                      Printable(r.data, r.unitSize).c_str());
  return host_protocol::kExceptionNone;
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

std::string Session::MenuText() {
  std::lock_guard<SlimLock> guard(lock_);
  return menu_.Render();
}

std::vector<std::string> Session::MenuPaths() {
  std::lock_guard<SlimLock> guard(lock_);
  return menu_.Paths();
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
