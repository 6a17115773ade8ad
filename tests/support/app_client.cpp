#include "app_client.h"

#include <gtest/gtest.h>

#include <algorithm>

bool AppClient::Open(uint32_t peerId, const bridgectl::Endpoint& endpoint) {
  std::string error;
  const bool open = session_.Open(endpoint, &error) && session_.Connect(0x7E57, peerId, 20000, &error);
  EXPECT_TRUE(open) << error;
  return open;
}

bool AppClient::Send(uint32_t command, const std::string& name, double value, uint32_t param) {
  std::string error;
  const bool sent = session_.Send(command, name, param, value, &error);
  EXPECT_TRUE(sent) << error;
  return sent;
}

bool AppClient::ReceiveOne(DWORD timeoutMs) {
  bridgectl::BridgeMessage message;
  std::string error;
  if (session_.Next(&message, timeoutMs, &error) != bridgectl::BridgeSession::Wait::kMessage) return false;
  switch (message.kind) {
    case bridgectl::MessageKind::kVarData:
      varData_.push_back(message.varData);
      break;
    case bridgectl::MessageKind::kVarDump:
      varDumps_.push_back(message.varDump);
      break;
    case bridgectl::MessageKind::kHostEvent:
      events_.push_back(message.hostEvent);
      break;
    case bridgectl::MessageKind::kException:
      exceptions_.push_back(message.exception);
      break;
    default:
      break;
  }
  return true;
}

bool AppClient::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    ReceiveOne(timeoutMs - elapsed);
  }
}

void AppClient::Pump(DWORD timeoutMs) {
  if (!ReceiveOne(timeoutMs)) return;
  while (ReceiveOne(0)) {
  }
}

template <typename Record, typename Match>
bool AppClient::TakeFirst(std::deque<Record>& records, Match match, Record* out, DWORD timeoutMs) {
  auto found = records.end();
  if (!PumpUntil([&] { return (found = std::find_if(records.begin(), records.end(), match)) != records.end(); },
                 timeoutMs)) {
    return false;
  }
  *out = *found;
  records.erase(found);
  return true;
}

bool AppClient::TakeVarData(const std::string& name, records::VarData* out, DWORD timeoutMs) {
  return TakeFirst(varData_, [&](const records::VarData& v) { return name == v.name; }, out, timeoutMs);
}

bool AppClient::TakeEvent(uint32_t code, records::HostEvent* out, DWORD timeoutMs) {
  return TakeFirst(events_, [&](const records::HostEvent& e) { return e.code == code; }, out, timeoutMs);
}

bool AppClient::TakeVarList(std::vector<records::VarDump>* chunks, DWORD timeoutMs) {
  auto closing = [&] {
    return std::find_if(varDumps_.begin(), varDumps_.end(),
                        [](const records::VarDump& d) { return d.firstId == 0xFFFFFFFF; });
  };
  if (!PumpUntil([&] { return closing() != varDumps_.end(); }, timeoutMs)) return false;
  auto end = closing() + 1;
  chunks->assign(varDumps_.begin(), end);
  varDumps_.erase(varDumps_.begin(), end);
  return true;
}

std::vector<std::string> AppClient::ListedNames(const std::vector<records::VarDump>& chunks) {
  std::vector<std::string> names;
  for (const records::VarDump& chunk : chunks) {
    const std::string text(chunk.names);
    size_t start = 0;
    for (size_t end; (end = text.find(';', start)) != std::string::npos; start = end + 1) {
      names.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "a chunk's text does not end in \";\"";
  }
  return names;
}
