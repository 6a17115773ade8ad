#include "application.h"

#include <algorithm>

#include "bridge_message.h"

namespace soak {

namespace {

std::string Text(const char* field, size_t width) { return std::string(field, records::TextLength(field, width)); }

}  // namespace

Application::Application(const std::string& label, int reader, uint32_t peerId, PanelModel& model,
                         Failures& failures, AppFigures& figures)
    : label_(label), reader_(reader), peerId_(peerId), tag_(0x50AC0000u + peerId), model_(model),
      failures_(failures), figures_(figures) {}

bool Application::Open(DWORD timeoutMs) {
  std::string error;
  expected_.clear();
  if (!session_.Open(bridgectl::Endpoint(), &error) || !session_.Connect(tag_, peerId_, timeoutMs, &error)) {
    failures_.Fail(label_ + ": cannot connect to the bridge: " + error);
    session_.Close();
    return false;
  }
  open_ = true;
  return true;
}

bool Application::Reconnect(DWORD timeoutMs) {
  std::string error;
  if (!Checkpoint(timeoutMs)) return false;
  if (!session_.Connect(tag_, peerId_, timeoutMs, &error)) {
    failures_.Fail(label_ + ": the bridge did not answer Connect again: " + error);
    return false;
  }
  return true;
}

void Application::Close() {
  session_.Close();
  open_ = false;
  expected_.clear();
}

std::string Application::UnknownName() { return "SOAK_NONE_" + label_ + "_" + std::to_string(++uniqueNames_); }

bool Application::Send(uint32_t command, const std::string& name, uint32_t param, double value,
                       const std::string& what) {
  std::string error;
  ++sequence_;
  ++figures_.requestsSent;
  if (!session_.Send(command, name, param, value, &error)) {
    failures_.Fail(label_ + ": request " + what + " not sent: " + error);
    return false;
  }
  return true;
}

void Application::StartMonitoring(const std::string& name, uint32_t intervalMs) {
  const std::string what = "#" + std::to_string(sequence_ + 1) + " StartMonitoring " + name;
  if (!Send(records::kCommandStartMonitoring, name, 0, intervalMs, what)) return;
  if (model_.Known(name)) {
    model_.SetMonitored(name, true, intervalMs);
    model_.Solicit(name);
    Note({Expected::Kind::kVarData, name, 0, 0, false, 0.0, what});
  } else {
    Note({Expected::Kind::kEvent, name, records::kEventRefused, 0, true, records::kRefusedNotFound, what});
  }
}

void Application::StopMonitoring(const std::string& name) {
  const std::string what = "#" + std::to_string(sequence_ + 1) + " StopMonitoring " + name;
  if (!Send(records::kCommandStopMonitoring, name, 0, 0.0, what)) return;
  if (model_.Known(name)) {
    model_.SetMonitored(name, false, 0);
  } else {
    Note({Expected::Kind::kEvent, name, records::kEventRefused, 0, true, records::kRefusedNotMonitored, what});
  }
}

void Application::SetValue(const std::string& name, double value) {
  const std::string what = "#" + std::to_string(sequence_ + 1) + " SetValue " + name + " " + Number(value);
  if (!Send(records::kCommandSetValue, name, 0, value, what)) return;
  model_.Write(name, value);
}

void Application::ForceUpdate(const std::string& name) {
  const std::string what = "#" + std::to_string(sequence_ + 1) + " ForceUpdate " + name;
  if (!Send(records::kCommandForceUpdate, name, 0, 0.0, what)) return;
  const bool exact = !model_.IsRamp(name);
  model_.Solicit(name);
  Note({Expected::Kind::kVarData, name, 0, 0, exact, exact ? model_.Current(name) : 0.0, what});
}

void Application::RequestTitle() {
  const std::string what = "#" + std::to_string(sequence_ + 1) + " SendAircraftName";
  if (!Send(records::kCommandSendAircraftName, std::string(), 0, 0.0, what)) return;
  Note({Expected::Kind::kEvent, model_.Title(), records::kEventAircraftTitle, 0, false, 0.0, what});
}

void Application::RequestList() {
  const std::string what = "#" + std::to_string(sequence_ + 1) + " SendLVARS";
  if (!Send(records::kCommandSendLVARS, std::string(), 0, 0.0, what)) return;
  std::string names;
  for (const std::string& name : model_.Names()) names += name + ";";
  Note({Expected::Kind::kList, names, 0, 0, false, 0.0, what});
}

void Application::Rescan() {
  const std::string what = "#" + std::to_string(sequence_ + 1) + " Rebuild";
  if (!Send(records::kCommandRebuild, std::string(), 0, 0.0, what)) return;
  model_.EndAllMonitoring();
  for (const std::string& name : model_.Names()) {
    const bool exact = !model_.IsRamp(name);
    Note({Expected::Kind::kEvent, name, records::kEventVariableAdded, 0, exact, exact ? model_.Current(name) : 0.0,
          what + " (" + name + " added)"});
  }
}

void Application::Heartbeat() { Send(records::kCommandHeartbeat, std::string(), 0, 0.0, "heartbeat"); }

void Application::SendUnanswered(uint32_t command, const std::string& name) {
  probing_ = true;
  probeNames_.push_back(name);
  Send(command, name, 0, 0.0, "a request while access is disabled");
}

size_t Application::TakeForbiddenAnswers() {
  size_t n = forbidden_;
  forbidden_ = 0;
  probing_ = false;
  probeNames_.clear();
  return n;
}

bool Application::Checkpoint(DWORD timeoutMs) {
  pendingMarker_ = "SOAK_MARK_" + label_ + "_" + std::to_string(++uniqueNames_);
  const std::string what = "#" + std::to_string(sequence_ + 1) + " marker " + pendingMarker_;
  if (!Send(records::kCommandStopMonitoring, pendingMarker_, 0, 0.0, what)) return false;
  markerSeen_ = false;
  const DWORD start = GetTickCount();
  while (!markerSeen_) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs || !ReceiveOne(timeoutMs - elapsed)) break;
  }
  pendingMarker_.clear();
  if (markerSeen_ && reader_ == 0) model_.ConfirmQuiet();
  if (!markerSeen_) {
    std::string waiting = expected_.empty() ? std::string() : " (first unanswered: " + expected_.front().request + ")";
    failures_.Fail(label_ + ": no answer to the marker within " + std::to_string(timeoutMs) + " ms; " +
                   std::to_string(expected_.size()) + " answers outstanding" + waiting);
    expected_.clear();
    return false;
  }
  return true;
}

void Application::Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms || !ReceiveOne(ms - elapsed)) return;
  }
}

void Application::AwaitTitle(const std::string& title) {
  awaitedTitle_ = title;
  titleSeen_ = false;
}

bool Application::WaitForTitle(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!titleSeen_) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs || !ReceiveOne(timeoutMs - elapsed)) break;
  }
  awaitedTitle_.clear();
  return titleSeen_;
}

bool Application::ReceiveOne(DWORD timeoutMs) {
  bridgectl::BridgeMessage message;
  std::string error;
  switch (session_.Next(&message, timeoutMs, &error)) {
    case bridgectl::BridgeSession::Wait::kMessage:
      break;
    case bridgectl::BridgeSession::Wait::kTimeout:
      return false;
    default:
      failures_.Fail(label_ + ": the session ended: " + error);
      open_ = false;
      return false;
  }
  switch (message.kind) {
    case bridgectl::MessageKind::kVarData:
      OnVarData(message.varData);
      break;
    case bridgectl::MessageKind::kHostEvent:
      OnEvent(message.hostEvent);
      break;
    case bridgectl::MessageKind::kVarDump:
      OnVarDump(message.varDump);
      break;
    case bridgectl::MessageKind::kException:
      failures_.Fail(label_ + ": the server refused request SendID " + std::to_string(message.sendId) +
                     " (exception " + std::to_string(message.exception) + ")");
      break;
    case bridgectl::MessageKind::kMalformed:
      failures_.Fail(label_ + ": a malformed message of kind " + std::to_string(message.receivedKind));
      break;
    default:
      break;
  }
  return true;
}

void Application::Answered() {
  expected_.pop_front();
  ++figures_.requestsAnswered;
}

void Application::OnVarData(const records::VarData& record) {
  ++figures_.varData;
  const std::string name = Text(record.name, sizeof record.name);
  std::string problem;
  ++figures_.valuesChecked;
  if (!model_.CheckReport(reader_, name, record.value, &problem)) {
    // Until the bridge sees the new title, it reads the variables it monitors
    // through their old ids, which the new aircraft gave to other variables.
    const std::string owner = model_.ReadThroughOldId(name, record.value);
    if (owner.empty()) {
      failures_.Fail(label_ + ": VarData " + problem);
    } else {
      failures_.Finding("old ids read after an aircraft change",
                        label_ + ": VarData " + name + " = " + Number(record.value) +
                            ", read through its id, which in the new aircraft is " + owner);
    }
  }
  if (!expected_.empty() && expected_.front().kind == Expected::Kind::kVarData && expected_.front().name == name) {
    const Expected& head = expected_.front();
    if (!head.exact || head.value == record.value) Answered();
  }
}

bool Application::Matches(const Expected& expected, const records::HostEvent& record) const {
  if (expected.kind != Expected::Kind::kEvent || expected.code != record.code) return false;
  if (expected.name != Text(record.text, sizeof record.text)) return false;
  return expected.code == records::kEventVariableAdded || expected.code == records::kEventAircraftTitle ||
         expected.value == record.value;
}

void Application::OnEvent(const records::HostEvent& record) {
  const std::string text = Text(record.text, sizeof record.text);
  if (record.code == records::kEventAircraftTitle && !awaitedTitle_.empty() && text == awaitedTitle_) {
    titleSeen_ = true;
    return;
  }
  if (probing_ && (record.code == records::kEventAircraftTitle ||
                   std::find(probeNames_.begin(), probeNames_.end(), text) != probeNames_.end())) {
    ++forbidden_;
    return;
  }
  if (record.code == records::kEventVariableAdded) {
    ++figures_.valuesChecked;
    if (!model_.HeldEver(text, record.value)) {
      failures_.Fail(label_ + ": variable added " + text + " = " + Number(record.value) +
                     ", a value the panel never held");
    }
  }
  if (!expected_.empty() && Matches(expected_.front(), record)) {
    const Expected& head = expected_.front();
    if (head.code == records::kEventVariableAdded && head.exact && head.value != record.value) {
      failures_.Fail(label_ + ": " + head.request + " gave " + Number(record.value) + ", the panel holds " +
                     Number(head.value));
    }
    Answered();
  } else if (record.code == records::kEventRefused && text == pendingMarker_) {
    if (!expected_.empty()) {
      failures_.Fail(label_ + ": " + std::to_string(expected_.size()) + " answers missing before the marker; first: " +
                     expected_.front().request);
      expected_.clear();
    }
    markerSeen_ = true;
    ++figures_.requestsAnswered;
  } else {
    // An answer noted further back came before the ones noted first.
    for (size_t i = 1; i < expected_.size(); ++i) {
      if (Matches(expected_[i], record) && record.code == records::kEventRefused) {
        failures_.Fail(label_ + ": " + expected_[i].request + " answered before " + expected_.front().request);
        expected_.erase(expected_.begin() + static_cast<std::ptrdiff_t>(i));
        return;
      }
    }
    ++figures_.unsolicitedEvents;
    if (record.code == records::kEventAircraftTitle && !model_.KnownTitle(text)) {
      failures_.Fail(label_ + ": a title event for an aircraft never loaded: \"" + text + "\"");
    }
  }
}

void Application::OnVarDump(const records::VarDump& record) {
  if (expected_.empty() || expected_.front().kind != Expected::Kind::kList) {
    if (record.firstId == records::kVarDumpClosingId) ++figures_.unsolicitedEvents;
    return;
  }
  if (record.firstId != records::kVarDumpClosingId) {
    listNames_ += Text(record.names, sizeof record.names);
    return;
  }
  if (listNames_ != expected_.front().name) {
    failures_.Fail(label_ + ": " + expected_.front().request + " listed \"" + listNames_.substr(0, 200) +
                   "...\", the aircraft has \"" + expected_.front().name.substr(0, 200) + "...\"");
  }
  listNames_.clear();
  Answered();
}

}  // namespace soak
