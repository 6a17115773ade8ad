// The set-up that follows a successful open, the dispatcher of received
// simulator messages and the add-on menu. All of it runs on the worker thread.
#pragma once

#include <cstdint>

namespace bridge {

// Identifiers the bridge chooses.
constexpr uint32_t kMenuTopEvent = 1;         // "TAVO.quin", parent of the sub-items
constexpr uint32_t kMenuEnableEvent = 100;    // "Enable LVAR Access"
constexpr uint32_t kMenuDisableEvent = 101;   // "Disable LVAR Access"
constexpr uint32_t kMenuAboutEvent = 102;     // "About"
constexpr uint32_t kTitleDefinition = 1;      // the one variable "TITLE"
constexpr uint32_t kTitleRequestPeriodic = 10001;
constexpr uint32_t kTitleRequestOnce = 10002;
constexpr uint32_t kTextEvent = 10007;
constexpr uint32_t kUserAircraft = 0;
constexpr uint32_t kDataTypeString260 = 10;
constexpr uint32_t kDatumIdUnused = 0xFFFFFFFF;
constexpr uint32_t kPeriodNever = 0;
constexpr uint32_t kPeriodOnce = 1;
constexpr uint32_t kPeriodSimFrame = 3;
constexpr uint32_t kPeriodSecond = 4;
constexpr uint32_t kTextTypeScrollingYellow = 5;
constexpr float kTextSeconds = 30.0f;

// Adds the menu, defines and requests the aircraft title, creates the
// LVARHandler and runs its Startup. Every call goes out whatever the results
// of the ones before it; failures leave only their log lines.
void SetupConnection();

// Routes one received message (never the quit message) by its kind. The
// message belongs to the receive queue and is only read; a message too short
// for the fields its kind carries is logged with kind and size and dropped.
void SimConnectProcess(const void* message, uint32_t size);

// A menu item was chosen (kind 4): "Enable LVAR Access", "Disable LVAR
// Access" or "About". `size` is the size of the received message, which the
// dispatcher has checked to hold the event id.
void onRecvEvent(const void* message, uint32_t size);

// Logs a message of `kind` too short (`size` bytes) for the fields it carries.
void LogTooShort(uint32_t kind, uint32_t size);

// Shows `text` on the simulator's screen as scrolling yellow text for 30
// seconds, with event 10007; the result is logged as "SimConnect_Text".
void ShowText(const char* text);

}  // namespace bridge
