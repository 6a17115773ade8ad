// The one-shot commands: list, get, set, keys, title, attention, rescan. Each
// sends its requests and then uses BridgeSession::Sync to learn that the bridge
// has served them, so that an answer the bridge does not give (ForceUpdate of
// an unknown name is answered by nothing) is known to be missing at once.
#include "commands.h"

#include <nlohmann/json.hpp>
#include <vector>

#include "bridge/key_string.h"
#include "console.h"
#include "lvar/records.h"
#include "output_format.h"
#include "var_list.h"

namespace bridgectl {

namespace {

std::string NameOf(const records::VarData& record) {
  return std::string(record.name, records::TextLength(record.name, sizeof record.name));
}

std::string TextOf(const records::HostEvent& event) {
  return std::string(event.text, records::TextLength(event.text, sizeof event.text));
}

// Reads each variable once: ForceUpdate for every name, then Sync. found[i]
// is false for a name the bridge does not know.
bool ReadValues(BridgeSession& session, const std::vector<std::string>& names, uint32_t timeoutMs,
                std::vector<records::VarData>* values, std::vector<bool>* found, std::string* error) {
  for (const std::string& name : names) {
    if (!session.Send(records::kCommandForceUpdate, name, 0, 0.0, error)) return false;
  }
  std::vector<BridgeMessage> before;
  if (!session.Sync(&before, nullptr, timeoutMs, error)) return false;
  values->assign(names.size(), records::VarData{});
  found->assign(names.size(), false);
  for (size_t i = 0; i < names.size(); ++i) {
    for (const BridgeMessage& message : before) {
      if (message.kind == MessageKind::kVarData && SameName(NameOf(message.varData), names[i])) {
        (*values)[i] = message.varData;
        (*found)[i] = true;
        break;
      }
    }
  }
  return true;
}

std::string JsonValue(const records::VarData& record) {
  return JsonLine({{"name", JsonText(NameOf(record))}, {"value", record.value}, {"mjc", record.isMjc != 0}});
}

}  // namespace

int RunList(BridgeSession& session, const Invocation& invocation, std::string* error) {
  if (!session.Send(records::kCommandSendLVARS, std::string(), 0, 0.0, error)) return kExitFailure;
  VarListAssembler list;
  for (;;) {
    BridgeMessage message;
    switch (session.Next(&message, invocation.timeoutMs, error)) {
      case BridgeSession::Wait::kMessage:
        break;
      case BridgeSession::Wait::kTimeout:
        *error = "the bridge did not send the variable list within " + std::to_string(invocation.timeoutMs) + " ms";
        return kExitFailure;
      default:
        return kExitFailure;
    }
    if (message.kind != MessageKind::kVarDump) continue;
    VarListAssembler::Status status = list.Feed(message.varDump);
    if (status == VarListAssembler::Status::kError) {
      *error = list.error();
      return kExitFailure;
    }
    if (status == VarListAssembler::Status::kDone) break;
  }
  if (invocation.verbose) {
    PrintErrorLine("bridgectl: the list came in " + std::to_string(list.chunkCount()) + " chunk(s)");
  }
  if (invocation.json) {
    PrintLine(JsonListing(list.names(), list.totalCount()));
  } else {
    std::string text = ListingText(list.names(), list.totalCount());
    text.pop_back();  // PrintLine adds the newline
    PrintLine(text);
  }
  return kExitSuccess;
}

int RunGet(BridgeSession& session, const Invocation& invocation, std::string* error) {
  std::vector<records::VarData> values;
  std::vector<bool> found;
  if (!ReadValues(session, invocation.names, invocation.timeoutMs, &values, &found, error)) return kExitFailure;
  for (size_t i = 0; i < values.size(); ++i) {
    if (!found[i]) continue;
    PrintLine(invocation.json ? JsonValue(values[i]) : NameOf(values[i]) + " = " + FormatValue(values[i].value));
  }
  for (size_t i = 0; i < found.size(); ++i) {
    if (!found[i]) {
      *error = "unknown variable " + invocation.names[i];
      return kExitFailure;
    }
  }
  return kExitSuccess;
}

int RunSet(BridgeSession& session, const Invocation& invocation, std::string* error) {
  const std::string& name = invocation.names[0];
  if (invocation.mjcCode != 0) {
    // The bridge writes MJC variables through the aircraft's handshake; the
    // one refusal it reports is an aircraft without the write handshake.
    if (!session.Send(records::kCommandSetValue, name, invocation.mjcCode, invocation.value, error)) {
      return kExitFailure;
    }
    std::vector<BridgeMessage> before;
    if (!session.Sync(&before, nullptr, invocation.timeoutMs, error)) return kExitFailure;
    for (const BridgeMessage& message : before) {
      if (message.kind == MessageKind::kHostEvent && message.hostEvent.code == records::kEventRefused &&
          SameName(TextOf(message.hostEvent), name)) {
        *error = RefusalMessage(message.hostEvent, true);
        return kExitFailure;
      }
    }
    // The aircraft's answer to the handshake (done, "data not found", no
    // answer) reaches only the bridge's log: the write is reported as sent.
    PrintLine(invocation.json ? JsonLine({{"name", JsonText(name)},
                                          {"mjc", invocation.mjcCode},
                                          {"value", invocation.value},
                                          {"sent", true}})
                              : "sent " + name + " = " + FormatValue(invocation.value) + " to MJC code " +
                                    std::to_string(invocation.mjcCode));
    return kExitSuccess;
  }

  // An unknown name is only logged by the bridge's SetValue, so the name is
  // read first: that tells an unknown name and gives the old value.
  std::vector<records::VarData> values;
  std::vector<bool> found;
  if (!ReadValues(session, {name}, invocation.timeoutMs, &values, &found, error)) return kExitFailure;
  if (!found[0]) {
    *error = "unknown variable " + name;
    return kExitFailure;
  }
  const records::VarData old = values[0];
  if (old.isMjc != 0) {
    *error = NameOf(old) + " is an MJC variable: write it with --mjc CODE";
    return kExitFailure;
  }
  if (!session.Send(records::kCommandSetValue, name, 0, invocation.value, error)) return kExitFailure;
  if (!ReadValues(session, {name}, invocation.timeoutMs, &values, &found, error)) return kExitFailure;
  if (!found[0]) {
    *error = "unknown variable " + name + " (it disappeared while it was set)";
    return kExitFailure;
  }
  const records::VarData now = values[0];
  PrintLine(invocation.json ? JsonLine({{"name", JsonText(NameOf(now))}, {"old", old.value}, {"value", now.value}})
                            : NameOf(now) + " = " + FormatValue(old.value) + " -> " + FormatValue(now.value));
  return kExitSuccess;
}

int RunKeys(BridgeSession& session, const Invocation& invocation, std::string* error) {
  // The bridge's own reading of the key string, shown so that a string like
  // "65 66" (read as 65 and 6) is no surprise.
  // (The command line was refused when the string holds no code at all.)
  std::vector<int32_t> codes = key_string::ParseCodes(invocation.keys.data(), invocation.keys.size());
  if (!session.Send(records::kCommandSendKeys, invocation.keys, 0, 0.0, error)) return kExitFailure;
  if (!session.Sync(nullptr, nullptr, invocation.timeoutMs, error)) return kExitFailure;
  std::string spaced;
  for (int32_t code : codes) spaced += (spaced.empty() ? "" : " ") + std::to_string(code);
  PrintLine(invocation.json ? JsonLine({{"keys", codes}}) : "pressed " + spaced);
  return kExitSuccess;
}

int RunTitle(BridgeSession& session, const Invocation& invocation, std::string* error) {
  std::string title;
  if (!session.Sync(nullptr, &title, invocation.timeoutMs, error)) return kExitFailure;
  PrintLine(invocation.json ? JsonLine({{"title", JsonText(title)}}) : title);
  return kExitSuccess;
}

int RunAttention(BridgeSession& session, const Invocation& invocation, std::string* error) {
  if (!session.Send(records::kCommandAttention, std::string(), 0, 0.0, error)) return kExitFailure;
  if (!session.Sync(nullptr, nullptr, invocation.timeoutMs, error)) return kExitFailure;
  PrintLine(invocation.json ? JsonLine({{"attention", true}})
                            : "the simulator shows \"TAVO.quin needs your attention!\"");
  return kExitSuccess;
}

int RunRescan(BridgeSession& session, const Invocation& invocation, std::string* error) {
  if (!session.Send(records::kCommandRebuild, std::string(), 0, 0.0, error)) return kExitFailure;
  std::vector<BridgeMessage> before;
  if (!session.Sync(&before, nullptr, invocation.timeoutMs, error)) return kExitFailure;
  size_t announced = 0;
  for (const BridgeMessage& message : before) {
    if (message.kind != MessageKind::kHostEvent || message.hostEvent.code != records::kEventVariableAdded) continue;
    ++announced;
    PrintLine(invocation.json ? JsonEvent(Now(), message.hostEvent)
                              : TextOf(message.hostEvent) + " = " + FormatValue(message.hostEvent.value));
  }
  if (!invocation.json) PrintLine("the bridge rebuilt its list: " + std::to_string(announced) + " variables");
  return kExitSuccess;
}

}  // namespace bridgectl
