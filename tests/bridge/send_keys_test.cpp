// Key injection observed from outside: a low-level keyboard hook of this
// process sees every injected event with its scan code and flags, in order.
#include "bridge/send_keys.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge_test_env.h"

namespace {

struct SeenKey {
  DWORD scanCode;
  DWORD flags;  // LLKHF_*
  DWORD time;
};

std::vector<SeenKey> seen;  // hook thread only, read after it has ended

LRESULT CALLBACK RecordKey(int code, WPARAM message, LPARAM data) {
  if (code == HC_ACTION) {
    const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
    seen.push_back({key->scanCode, key->flags, key->time});
  }
  return CallNextHookEx(nullptr, code, message, data);
}

// Runs a message loop with the hook installed until WM_QUIT.
DWORD WINAPI HookThread(LPVOID ready) {
  HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, RecordKey, GetModuleHandleW(nullptr), 0);
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here on
  SetEvent(static_cast<HANDLE>(ready));
  if (hook == nullptr) return 1;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  UnhookWindowsHookEx(hook);
  return 0;
}

constexpr DWORD kExtended = LLKHF_EXTENDED;
constexpr DWORD kUp = LLKHF_UP;

TEST(SendKeysTest, PressesInOrderPausesThenReleasesInTheSameOrder) {
  bridge_test::StartLog();
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, 0, HookThread, ready, 0, &threadId);
  ASSERT_EQ(WaitForSingleObject(ready, 5000), WAIT_OBJECT_0);

  // Control, right Control (extended), A.
  bridge::SendKeys("17,163+65");
  Sleep(200);  // the hook runs on its own thread's message loop
  PostThreadMessageW(threadId, WM_QUIT, 0, 0);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  GetExitCodeThread(thread, &exitCode);
  ASSERT_EQ(exitCode, 0u) << "no low-level hook";
  CloseHandle(thread);
  CloseHandle(ready);

  const DWORD control = MapVirtualKeyA(17, 0);
  const DWORD rightControl = MapVirtualKeyA(163, 0);
  const DWORD letterA = MapVirtualKeyA(65, 0);
  ASSERT_EQ(seen.size(), 6u);
  const DWORD expectedScan[6] = {control, rightControl, letterA, control, rightControl, letterA};
  const DWORD expectedFlags[6] = {0, kExtended, 0, kUp, kUp | kExtended, kUp};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(seen[i].scanCode, expectedScan[i]) << i;
    EXPECT_EQ(seen[i].flags & (kExtended | kUp), expectedFlags[i]) << i;
    EXPECT_TRUE(seen[i].flags & LLKHF_INJECTED) << i;
  }
  // The pause lies between the last press and the first release (event times
  // come from the system tick, which moves in steps of several milliseconds).
  EXPECT_GE(seen[3].time - seen[2].time, 40u);

  std::vector<std::string> lines = bridge_test::LogMessages();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "SendKeys 17,163+65");
  EXPECT_EQ(lines[2], "KeyDown " + std::to_string(rightControl & 0xFFFF) + " 1");
  EXPECT_EQ(lines[6], "KeyUp " + std::to_string(letterA & 0xFFFF) + " 0");
  bridge_test::StopLog();
}

TEST(SendKeysTest, AStringWithoutCodesInjectsNothingButStillPauses) {
  bridge_test::StartLog();
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  bridge::SendKeys("ctrl+a");
  QueryPerformanceCounter(&end);
  EXPECT_GE((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart, 45);
  EXPECT_EQ(bridge_test::LogMessages(), (std::vector<std::string>{"SendKeys ctrl+a"}));
  bridge_test::StopLog();
}

}  // namespace
