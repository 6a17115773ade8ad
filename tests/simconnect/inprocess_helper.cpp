// A second program for the client library's channel test, run as a child
// process:
//   inprocess_helper window
//       a window of class "FS98MAIN" in this process that counts the records
//       sent to it; prints "ready", and at the end of its standard input
//       "records N".
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "simconnect/transport/inprocess_records.h"

namespace {

unsigned g_records = 0;  // the window thread's own

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && static_cast<uint64_t>(wParam) == inprocess::kCommandWParam) {
    ++g_records;
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI CloseAtEndOfInput(void* window) {
  char buffer[64];
  DWORD got = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0) {
  }
  PostMessageW(static_cast<HWND>(window), WM_CLOSE, 0, 0);
  return 0;
}

int RunWindow() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = CountingWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = inprocess::kWindowClass;
  if (RegisterClassExW(&windowClass) == 0) return 1;
  HWND window = CreateWindowExW(0, inprocess::kWindowClass, L"helper", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) return 1;
  // The end of standard input closes the window.
  HANDLE reader = CreateThread(nullptr, 0, CloseAtEndOfInput, window, 0, nullptr);
  std::printf("ready\n");
  std::fflush(stdout);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  std::printf("records %u\n", g_records);
  std::fflush(stdout);
  if (reader != nullptr) CloseHandle(reader);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "window") == 0) return RunWindow();
  std::fprintf(stderr, "usage: inprocess_helper window\n");
  return 3;
}
