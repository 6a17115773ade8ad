// SendKeys (see send_keys.h): the parsed codes turned into injected keyboard
// input.
#include "bridge/send_keys.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "bridge/key_string.h"
#include "lvar/bridge_services.h"

namespace bridge {
namespace {

constexpr UINT kMapVirtualKeyToScanCode = 0;  // MAPVK_VK_TO_VSC

// Maps, logs and injects one key event. A code without a scan code goes out
// with scan code 0; the result of SendInput is not looked at (a refused
// injection has no one to be reported to).
void InjectKey(int32_t code, bool release) {
  UINT scan = MapVirtualKeyA(static_cast<UINT>(code), kMapVirtualKeyToScanCode);
  bool extended = key_string::IsExtendedKey(code);
  WORD scanCode = static_cast<WORD>(scan & 0xFFFF);
  LogMessage(release ? "KeyUp %d %d" : "KeyDown %d %d", static_cast<int>(scanCode), extended ? 1 : 0);

  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = 0;
  input.ki.wScan = scanCode;
  input.ki.dwFlags = key_string::InputFlags(extended, release);
  input.ki.time = 0;
  input.ki.dwExtraInfo = 0;
  SendInput(1, &input, sizeof(INPUT));
}

}  // namespace

void SendKeys(const char* keyString) {
  if (keyString == nullptr) keyString = "";
  LogMessage("SendKeys %s", keyString);
  std::vector<int32_t> codes = key_string::ParseCodes(keyString, std::strlen(keyString));
  for (int32_t code : codes) InjectKey(code, false);
  SleepEx(key_string::kPressReleasePauseMs, FALSE);
  // First pressed, first released.
  for (int32_t code : codes) InjectKey(code, true);
}

}  // namespace bridge
