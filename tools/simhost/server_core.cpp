// Sessions, the frame step and the console's actions on clients.
#include "server_core.h"

#include <algorithm>
#include <cstdlib>

#include "host_log.h"
#include "sim_clock.h"

namespace simhost {

ServerCore::ServerCore(AircraftHost& aircraft, HostLog& log, SimClock& clock)
    : aircraft_(aircraft), log_(log), clock_(clock) {}

std::shared_ptr<Session> ServerCore::Attach(std::shared_ptr<MessageSink> sink, const std::string& transport) {
  uint32_t number;
  {
    std::lock_guard<SlimLock> guard(lock_);
    number = nextNumber_++;
    if (nextNumber_ == 0) nextNumber_ = 1;  // the host connection number is never 0
  }
  auto session = std::make_shared<Session>(number, transport, std::move(sink),
                                           ServerContext{clientData_, aircraft_, log_, clock_});
  {
    std::lock_guard<SlimLock> guard(lock_);
    sessions_.push_back(session);
  }
  log_.Printf("client %u connected (%s)", number, transport.c_str());
  return session;
}

void ServerCore::Detach(const std::shared_ptr<Session>& session, const std::string& reason) {
  bool found = false;
  {
    std::lock_guard<SlimLock> guard(lock_);
    auto at = std::find(sessions_.begin(), sessions_.end(), session);
    if (at != sessions_.end()) {
      sessions_.erase(at);
      found = true;
    }
  }
  if (!found) return;
  session->Detach();
  log_.Printf("%s %s", session->Label().c_str(), reason.c_str());
}

void ServerCore::AdvanceFrame() {
  uint64_t frame = clock_.Advance();
  for (const auto& session : Sessions()) session->OnFrame(frame, clock_.FrameRate());
  clientData_.OnFrame(frame, clock_.FrameRate());
}

std::vector<std::shared_ptr<Session>> ServerCore::Sessions() {
  std::lock_guard<SlimLock> guard(lock_);
  return sessions_;
}

std::shared_ptr<Session> ServerCore::FindSession(uint32_t number) {
  std::lock_guard<SlimLock> guard(lock_);
  for (const auto& session : sessions_) {
    if (session->Number() == number) return session;
  }
  return nullptr;
}

size_t ServerCore::SessionCount() {
  std::lock_guard<SlimLock> guard(lock_);
  return sessions_.size();
}

bool ServerCore::ChooseMenuItem(const std::string& path) {
  uint32_t only = 0;
  std::string itemPath = path;
  size_t colon = path.find(':');
  if (colon != std::string::npos && colon > 0 &&
      path.find_first_not_of("0123456789") == colon) {
    only = static_cast<uint32_t>(std::strtoul(path.substr(0, colon).c_str(), nullptr, 10));
    itemPath = path.substr(colon + 1);
  }
  for (const auto& session : Sessions()) {
    if (only != 0 && session->Number() != only) continue;
    ClientMenu::Entry entry;
    if (!session->FindMenuItem(itemPath, &entry)) continue;
    session->SendEvent(entry.eventId, entry.data);
    log_.Printf("menu item \"%s\" chosen: event %u to %s", itemPath.c_str(), entry.eventId,
                session->Label().c_str());
    return true;
  }
  return false;
}

void ServerCore::SendQuitToAll() {
  for (const auto& session : Sessions()) session->SendQuit();
}

}  // namespace simhost
