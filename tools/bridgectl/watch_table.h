// The live table of `watch` on a console: one row per watched variable with its
// latest value, when it arrived and how many reports came, and a status line
// below. This is the model and its text; the console layer draws the lines in
// place. OS-free.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bridgectl {

class WatchTable {
 public:
  explicit WatchTable(const std::vector<std::string>& names);

  // Records a report for the row of `name` (matched without regard to case;
  // the row takes the bridge's spelling). False when no row has that name.
  bool Update(const std::string& name, double value, const std::string& timeText);
  // Shows `note` in the row's value column until the next report ("unknown").
  bool Mark(const std::string& name, const std::string& note);
  void SetStatus(const std::string& text) { status_ = text; }

  // Header, one line per row, a blank line and the status line. Every line
  // has the same width, so that drawing them over an older table leaves no
  // characters of it behind.
  std::vector<std::string> Render() const;
  size_t LineCount() const { return rows_.size() + 3; }

 private:
  struct Row {
    std::string name;
    std::string value = "-";
    std::string time = "-";
    uint32_t reports = 0;
  };
  Row* Find(const std::string& name);

  std::vector<Row> rows_;
  std::string status_;
};

}  // namespace bridgectl
