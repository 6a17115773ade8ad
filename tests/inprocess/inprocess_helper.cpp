// A second program for the in-process tests, run as a child process:
//   inprocess_helper window
//       a window of class "FS98MAIN" in this process that counts the records
//       sent to it; prints "ready", and at the end of its standard input
//       "records N".
//   inprocess_helper client NAME TAG
//       an application of the bridge in this process, through the default
//       chain of attempts: prints its connection's channelState, then the
//       bridge's answer to a Connect request with TAG (hexadecimal). Exit code
//       0 with the answer, 1 when the open failed, 2 without an answer.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bridge_app.h"
#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
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

int RunClient(const char* name, uint32_t tag) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE handle = nullptr;
  if (SimConnect_Open(&handle, name, nullptr, 0, event, kConfigIndexDefault) != S_OK) return 1;
  std::printf("channelState %u\n", static_cast<SimConnectClient*>(handle)->channelState.load());
  std::fflush(stdout);
  if (bridge_app::SetUp(handle) != S_OK || bridge_app::Connect(handle, tag, 3) != S_OK) return 2;
  DWORD start = GetTickCount();
  while (GetTickCount() - start < 15000) {
    const void* message = nullptr;
    uint32_t size = 0;
    if (SimConnect_GetNextDispatch(handle, &message, &size) != S_OK) {
      WaitForSingleObject(event, 100);
      continue;
    }
    records::HostEvent reply;
    if (bridge_app::ReadHostEvent(message, size, &reply) && reply.reference == tag) {
      std::printf("connect reply code %u reference 0x%x value %.2f text %s\n", reply.code, reply.reference,
                  reply.value, reply.text);
      std::printf("channelState %u after the exchange\n", static_cast<SimConnectClient*>(handle)->channelState.load());
      std::fflush(stdout);
      SimConnect_Close(handle);
      return 0;
    }
  }
  SimConnect_Close(handle);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "window") == 0) return RunWindow();
  if (argc == 4 && std::strcmp(argv[1], "client") == 0) {
    return RunClient(argv[2], static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 16)));
  }
  std::fprintf(stderr, "usage: inprocess_helper window | client NAME TAG\n");
  return 3;
}
