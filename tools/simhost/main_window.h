// The simulator's main window, of class "FS98MAIN", and its UI thread. The
// thread owns the window and runs its message loop; it also hosts the add-on
// (its LoadLibraryW, DLLStart, DLLStop and FreeLibrary run here through Run),
// takes the in-process records that clients send to the window, and once per
// simulation frame runs the pumps they registered. The window is never shown.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace simhost {

class ChannelHost;

class MainWindow {
 public:
  ~MainWindow() { Stop(); }

  // Starts the UI thread, which registers the window class and creates the
  // window; records sent to it go to `channels`. False with `error` when the
  // class or the window cannot be made (for example because this process has
  // registered "FS98MAIN" already).
  bool Start(ChannelHost& channels, std::string* error);
  // Destroys the window, unregisters its class and ends the thread. Safe to
  // call twice.
  void Stop();
  bool Running() const { return window_ != nullptr; }

  // Runs `task` on the UI thread and returns once it has run. From the UI
  // thread itself it runs at once.
  void Run(const std::function<void()>& task);
  // A simulation frame has passed: the UI thread runs the pumps once. Any
  // thread; never blocks. When the UI thread is more than a few frames
  // behind, the frame is dropped for the pumps.
  void OnFrame();

  HWND Handle() const { return window_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Loop(HANDLE ready, std::string* error);

  static constexpr int kMaxPendingFrames = 4;

  ChannelHost* channels_ = nullptr;
  std::atomic<HWND> window_{nullptr};  // set by the UI thread before Start returns, cleared by Stop
  std::atomic<DWORD> threadId_{0};
  std::thread thread_;
  std::atomic<int> pendingFrames_{0};
};

}  // namespace simhost
