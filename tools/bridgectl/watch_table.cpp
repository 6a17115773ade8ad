// The live table of `watch`. OS-free.
#include "watch_table.h"

#include <algorithm>

#include "output_format.h"

namespace bridgectl {

namespace {

constexpr size_t kValueWidth = 20;
constexpr size_t kTimeWidth = 12;
constexpr size_t kMinimumWidth = 60;

std::string Pad(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

WatchTable::WatchTable(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    Row row;
    row.name = name;
    rows_.push_back(row);
  }
}

WatchTable::Row* WatchTable::Find(const std::string& name) {
  for (Row& row : rows_) {
    if (SameName(row.name, name)) return &row;
  }
  return nullptr;
}

bool WatchTable::Update(const std::string& name, double value, const std::string& timeText) {
  Row* row = Find(name);
  if (row == nullptr) return false;
  row->name = name;
  row->value = FormatValue(value);
  row->time = timeText;
  ++row->reports;
  return true;
}

bool WatchTable::Mark(const std::string& name, const std::string& note) {
  Row* row = Find(name);
  if (row == nullptr) return false;
  row->value = note;
  return true;
}

std::vector<std::string> WatchTable::Render() const {
  size_t nameWidth = 4;
  for (const Row& row : rows_) nameWidth = std::max(nameWidth, row.name.size());
  nameWidth += 2;

  std::vector<std::string> lines;
  lines.push_back(Pad("NAME", nameWidth) + Pad("VALUE", kValueWidth) + Pad("UPDATED", kTimeWidth + 2) + "REPORTS");
  for (const Row& row : rows_) {
    lines.push_back(Pad(row.name, nameWidth) + Pad(row.value, kValueWidth) + Pad(row.time, kTimeWidth + 2) +
                    std::to_string(row.reports));
  }
  lines.push_back("");
  lines.push_back(status_);

  size_t width = kMinimumWidth;
  for (const std::string& line : lines) width = std::max(width, line.size());
  for (std::string& line : lines) line = Pad(line, width);
  return lines;
}

}  // namespace bridgectl
