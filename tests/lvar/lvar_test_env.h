// The module-wide services the LVAR code expects from the module, as the test
// programs provide them: a captured log, a controllable tick, a settable
// SimConnect handle and Stop event. The panel table is fake_panels.h's.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lvar_test {

// Every line LogMessage wrote since the last ClearLog, in order.
const std::vector<std::string>& LogLines();
void ClearLog();
// The lines without the "SimConnect: ..." and "gnDisplay ..." lines that
// CheckResult writes.
std::vector<std::string> HandlerLines();
// True when some line equals `line`.
bool Logged(const std::string& line);

// The tick CurrentTick returns; it moves only when a test moves it.
void SetTick(uint32_t tick);
void AdvanceTick(uint32_t ms);
uint32_t Tick();

// The handle SimConnectHandle returns (null at start).
void SetHandle(HANDLE handle);
// StopRequested: true while the flag is raised (as DLLStop raises it), and,
// when asked to test the event, while `event` is set (null at start).
void SetStopEvent(HANDLE event);
void SetStopFlag(bool raised);

}  // namespace lvar_test
