// The handler's creation, the registry scan and the reaction to a change of
// aircraft.
#include <cstring>
#include <memory>

#include "lvar/bridge_services.h"
#include "lvar/lvar_handler.h"
#include "lvar/panel_services.h"
#include "lvar/variable_names.h"

LVARHandler::LVARHandler() {
  records::SetText(aircraftTitle, sizeof aircraftTitle, kUnknownAircraftTitle);
}

void LVARHandler::ResolveMJCIds() {
  mjcReadValueId = panels::LookupVariableId(variable_names::kMjcReadValue);
  mjcReadCodeId = panels::LookupVariableId(variable_names::kMjcReadCode);
  mjcWriteValueId = panels::LookupVariableId(variable_names::kMjcWriteValue);
  mjcWriteCodeId = panels::LookupVariableId(variable_names::kMjcWriteCode);
}

void LVARHandler::LogMJCIds() const {
  // Greater than 0, not "not -1": an aircraft whose READ_VALUE has id 0 is
  // served all the same but not logged.
  if (mjcReadValueId <= 0) return;
  LogMessage("MJC_VAR_READ_VALUE = %d", mjcReadValueId);
  LogMessage("MJC_VAR_READ_CODE = %d", mjcReadCodeId);
  LogMessage("MJC_VAR_WRITE_VALUE = %d", mjcWriteValueId);
  LogMessage("MJC_VAR_WRITE_CODE = %d", mjcWriteCodeId);
}

void LVARHandler::ScanLVARS(bool keep, bool notify) {
  if (!keep) registry.Clear();
  int changes = 0;
  int added = 0;
  int deleted = 0;
  if (!panels::Available()) return;

  ResolveMJCIds();

  // Revalidate what is known.
  for (auto& owned : registry) {
    LVAREntry& entry = *owned;
    // MJC entries stand while the aircraft offers the handshake.
    if (mjcReadValueId != -1 && entry.mjcCode != 0) continue;
    int32_t id = panels::LookupVariableId(entry.name);
    if (id == -1) {
      entry.monitored = false;
      entry.removed = true;
      ++deleted;
      ++changes;
      LogMessage("%s no longer exists. Removing.", entry.name);
      if (notify && connected) SendToClient(records::kEventVariableRemoved, 0.0, "%s", entry.name);
    } else if (static_cast<uint32_t>(id) != entry.id) {
      LogMessage("%s changed it's index!", entry.name);
      entry.id = static_cast<uint32_t>(id);
    }
  }
  registry.RemoveMarked();

  // Discover: every id below the limit; an id without a name does not end the walk.
  for (int32_t id = 0; id < panels::kVariableIdLimit; ++id) {
    const char* name = panels::GetVariableName(id);
    if (name == nullptr || name[0] == '\0') continue;
    if (registry.Find(name) != nullptr) continue;
    if (variable_names::HasMjcPrefix(name)) continue;
    double value = panels::ReadVariableValue(id);
    ++changes;
    ++added;
    auto entry = std::make_unique<LVAREntry>();
    entry->id = static_cast<uint32_t>(id);
    entry->SetName(name);
    entry->value = value;
    if (notify && connected) SendToClient(records::kEventVariableAdded, value, "%s", entry->name);
    registry.Append(std::move(entry));
  }

  LogMJCIds();
  if (changes > 0) {
    LogMessage("%d Changes %d added %d deleted (Total Vars %d)", changes, added, deleted,
               static_cast<int>(registry.size()));
  }
}

void LVARHandler::OnAircraftTitle(const char* title) {
  if (!panels::Available()) {
    LogMessage("No PANELS, no fish!");
    return;
  }
  if (title == nullptr || title[0] == '\0' || variable_names::EqualFolded(title, aircraftTitle)) return;

  LogMessage("LVARHandler::Update Aircraft changed to %d %s", static_cast<int>(std::strlen(title)), title);
  // Stored cut to kMaxTitleLength characters.
  records::SetText(aircraftTitle, kMaxTitleLength + 1, title);

  ResolveMJCIds();
  LogMJCIds();
  ScanLVARS(false, false);
  if (connected) SendAircraftName();
}
