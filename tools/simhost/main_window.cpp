// The main window's thread and window procedure.
#include "main_window.h"

#include "channel_host.h"
#include "simconnect/transport/inprocess_records.h"
#include "win_handles.h"

namespace simhost {

namespace {

constexpr UINT kRunTask = WM_APP + 1;  // lParam: const std::function<void()>*
constexpr UINT kFrame = WM_APP + 2;
constexpr UINT kClose = WM_APP + 3;

const wchar_t kTitle[] = L"Prepar3D v6 (simhost)";

std::string WithError(const char* text) { return std::string(text) + " (error " + std::to_string(GetLastError()) + ")"; }

}  // namespace

bool MainWindow::Start(ChannelHost& channels, std::string* error) {
  if (Running()) return true;
  channels_ = &channels;
  UniqueHandle ready = MakeEvent(true);
  std::string threadError;
  thread_ = std::thread([this, &ready, &threadError] { Loop(ready.Get(), &threadError); });
  WaitForSingleObject(ready.Get(), INFINITE);
  if (window_ == nullptr) {
    thread_.join();
    *error = threadError;
    return false;
  }
  return true;
}

void MainWindow::Loop(HANDLE ready, std::string* error) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &MainWindow::WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = inprocess::kWindowClass;
  if (RegisterClassExW(&windowClass) == 0) {
    *error = WithError("cannot register the window class FS98MAIN");
    SetEvent(ready);
    return;
  }
  // A top-level window, never shown: FindWindowW does not see message-only
  // windows.
  HWND window = CreateWindowExW(0, inprocess::kWindowClass, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 640, 480, nullptr, nullptr, instance, this);
  if (window == nullptr) {
    *error = WithError("cannot create the main window");
    UnregisterClassW(inprocess::kWindowClass, instance);
    SetEvent(ready);
    return;
  }
  threadId_ = GetCurrentThreadId();
  window_ = window;
  SetEvent(ready);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  UnregisterClassW(inprocess::kWindowClass, instance);
}

void MainWindow::Stop() {
  if (window_ == nullptr) return;
  SendMessageW(window_, kClose, 0, 0);
  if (thread_.joinable()) thread_.join();
  window_ = nullptr;
  threadId_ = 0;
}

void MainWindow::Run(const std::function<void()>& task) {
  if (window_ == nullptr || GetCurrentThreadId() == threadId_) {
    task();
    return;
  }
  SendMessageW(window_, kRunTask, 0, reinterpret_cast<LPARAM>(&task));
}

void MainWindow::OnFrame() {
  HWND window = window_;
  if (window == nullptr) return;
  if (pendingFrames_.fetch_add(1, std::memory_order_acq_rel) >= kMaxPendingFrames) {
    pendingFrames_.fetch_sub(1, std::memory_order_acq_rel);
    return;
  }
  if (!PostMessageW(window, kFrame, 0, 0)) pendingFrames_.fetch_sub(1, std::memory_order_acq_rel);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_COMMAND:
      if (static_cast<uint64_t>(wParam) == inprocess::kCommandWParam) {
        // Only clients of this process send these records (they check the
        // window's process first), so lParam is an address here.
        self->channels_->OnRecord(reinterpret_cast<uint8_t*>(lParam));
        return 0;
      }
      break;
    case kRunTask:
      (*reinterpret_cast<const std::function<void()>*>(lParam))();
      return 0;
    case kFrame:
      self->pendingFrames_.fetch_sub(1, std::memory_order_acq_rel);
      self->channels_->PumpAll();
      return 0;
    case kClose:
      DestroyWindow(window);
      return 0;
    case WM_CLOSE:
      return 0;  // the window goes only when simhost stops
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace simhost
