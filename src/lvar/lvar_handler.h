// LVARHandler: the one object of the LVAR bridge. It keeps the registry of the
// loaded aircraft's panel variables and of the MJC variables the application
// monitors, runs the client-data channel to the application, monitors
// variables and serves the application's requests.
//
// Every operation runs on the worker thread; the handler has no lock. The
// operations that need a connected application (SendLVARS, StartMonitoring,
// SetValue, ForceUpdate) test `connected` themselves and return at once,
// logging nothing, while it is false (SendLVARS logs its first line before it
// tests), so the request dispatcher calls them unconditionally.
#pragma once

#include <cstdint>

#include "lvar/lvar_entry.h"
#include "lvar/lvar_registry.h"
#include "lvar/records.h"

// A read value at least this far from the value last sent is a change: the
// single-precision 0.01 widened to double.
constexpr double kChangeThreshold = 0.009999999776482582;
constexpr uint32_t kHeartbeatTimeoutMs = 60000;
constexpr uint32_t kRescanPeriodMs = 30000;
// Update's result when nothing is due: wait without limit.
constexpr uint32_t kNoTimeout = 0xFFFFFFFF;
constexpr size_t kMaxTitleLength = 1000;
// Flow control over a connection whose writes queue up (pipe or TCP): once
// kHoldHighWaterBytes of requests wait to be written, Update publishes no more
// VarData until at most kHoldLowWaterBytes wait, and meanwhile looks at the
// queue every kHoldPollMs. 64 KiB are some 200 VarData, a few tens of
// milliseconds of a pipe's work under Wine: a value that goes out is never
// more than that behind its read. Higher marks bought no more throughput in
// measurements, only older values.
constexpr uint32_t kHoldHighWaterBytes = 64 * 1024;
constexpr uint32_t kHoldLowWaterBytes = 16 * 1024;
constexpr uint32_t kHoldPollMs = 2;
constexpr char kUnknownAircraftTitle[] = "AIRCRAFT NOT KNOWN";

class LVARHandler {
 public:
  LVARHandler();
  ~LVARHandler() = default;
  LVARHandler(const LVARHandler&) = delete;
  LVARHandler& operator=(const LVARHandler&) = delete;

  // ---- Registry and discovery ----
  // Brings the registry into line with the panel services. keep false: rebuild
  // from scratch; notify true: tell a connected application about every
  // variable added (event 12) or removed (event 15).
  void ScanLVARS(bool keep, bool notify);
  // Looks the four MJC handshake variables up and stores their ids (-1: none).
  void ResolveMJCIds();

  // ---- Client-data channel ----
  // Maps, creates, defines and subscribes the four areas; starts the heartbeat.
  void Startup();
  // HostRequest command 7: the version reply, unless already connected with
  // the same peer id.
  void Connect(const records::HostRequest& request);
  // Formats the text printf-style (at most 1023 characters) and writes one
  // HostEvent with reference 0. Pass a variable's name as "%s", name.
  void SendToClient(uint32_t code, double value, const char* format, ...);
  // HostRequest command 9: the aircraft title as event 8, connected or not.
  void SendAircraftName();
  // HostRequest command 1: rescan, then the variable list in VarDump chunks
  // and the closing record.
  void SendLVARS();

  // ---- Monitoring ----
  void StartMonitoring(const records::HostRequest& request);  // command 2
  void StopMonitoring(const records::HostRequest& request);   // command 3
  void SetValue(const records::HostRequest& request);         // command 4
  void ForceUpdate(const records::HostRequest& request);      // command 5
  // Sets lastHeartbeatTick to the current tick: every request of the
  // application, and command 14 once more.
  void Heartbeat();
  // The periodic pass: reads the monitored entries that are due, reports the
  // changed ones, runs the heartbeat test and the 30-second rescan. Returns the
  // milliseconds until the soonest monitored entry is due, kHoldPollMs while
  // publishing is held, or kNoTimeout.
  uint32_t Update();
  // The user aircraft's title (null when the message held none). A new title
  // rebuilds the registry.
  void OnAircraftTitle(const char* title);

  // ---- MJC handshake ----
  // Reads an MJC entry's value through the handshake; false on failure (the
  // entry's value then stands and counts as sent).
  bool ReadMJCValue(LVAREntry& entry);
  // The SetValue of a request with a nonzero param (the MJC code).
  void WriteMJCValue(const records::HostRequest& request);

  // ---- State (fields in their documented order) ----
  LVARRegistry registry;                // the known variables, in insertion order
  char aircraftTitle[1024];             // at most kMaxTitleLength characters
  uint32_t lastScanTick = 0;            // when Update last rescanned
  uint32_t lastHeartbeatTick = 0;       // when the last request arrived; set by Startup
  bool connected = false;               // the application has connected
  int32_t mjcReadValueId = 0;           // id of "MJC_VAR_READ_VALUE"; -1 when missing
  int32_t mjcReadCodeId = 0;            // id of "MJC_VAR_READ_CODE"
  int32_t mjcWriteValueId = 0;          // id of "MJC_VAR_WRITE_VALUE"
  int32_t mjcWriteCodeId = 0;           // id of "MJC_VAR_WRITE_CODE"
  uint32_t peerId = 0xFFFFFFFF;         // peer id of the connected application

 private:
  // Reads one entry for Update and ForceUpdate; false only when an MJC read
  // failed.
  bool ReadEntry(LVAREntry& entry);
  // Logs the four handshake ids when the aircraft offers MJC_VAR_READ_VALUE.
  void LogMJCIds() const;
  // Builds a VarData from the entry and counts its value as sent (lastSentValue
  // = value, changed cleared); writes it when `write` is true, result ignored.
  void ReportEntry(LVAREntry& entry, bool write);
  // Update's flow control: true while the connection's write queue holds too
  // much (see kHoldHighWaterBytes), with the two marks as hysteresis.
  bool PublishingHeld();

  bool publishingHeld_ = false;
  // Where the next pass starts: after a pass that a hold cut short, the entry
  // after the last one published, so that every entry gets its turn; else 0.
  size_t resumeIndex_ = 0;
};
