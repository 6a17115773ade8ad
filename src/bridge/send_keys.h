// Key injection for the application's SendKeys request.
#pragma once

namespace bridge {

// Presses the keys of `keyString` (decimal virtual-key codes, see
// key_string.h) in order, waits 50 ms and releases them in the same order.
// Each key is one SendInput call with one keyboard record carrying the key's
// hardware scan code (flag 8, plus 1 for the extended keys, plus 2 on release),
// so the keys reach whatever window has the focus. Logs "SendKeys %s", then
// "KeyDown %d %d" and "KeyUp %d %d" with the scan code and the extended flag
// of each key. Blocks the calling thread for the pause, even when the string
// holds no key.
void SendKeys(const char* keyString);

}  // namespace bridge
