// LVAREntry: one record of the LVAR registry, a panel variable of the loaded
// aircraft or an MJC variable that the application asked to monitor.
#pragma once

#include <cstddef>
#include <cstdint>

// Names are stored cut to this many characters.
constexpr size_t kMaxEntryNameLength = 250;
constexpr uint32_t kDefaultIntervalMs = 1000;

struct LVAREntry {
  uint32_t id = 0;                           // panel variable id; for an MJC entry its MJC code
  uint32_t intervalMs = kDefaultIntervalMs;  // least time between two reads while monitored
  uint32_t lastUpdateTick = 0;               // tick of the last successful read
  uint32_t mjcTimeouts = 0;                  // consecutive MJC read time-outs
  double value = 0.0;                        // last value read
  char name[254] = {};                       // NUL-terminated, at most kMaxEntryNameLength characters
  bool monitored = false;                    // the application monitors this variable
  bool changed = false;                      // value is at least the threshold away from lastSentValue
  uint32_t mjcCode = 0;                      // nonzero: read and written through the MJC handshake
  bool removed = false;                      // marked for removal inside a scan
  double lastSentValue = 0.0;                // value last reported to the application

  // Stores `text` cut to kMaxEntryNameLength characters (null: empty).
  void SetName(const char* text);
};
