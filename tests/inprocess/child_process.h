// inprocess_helper.exe, which lies beside the test programs, run as a child
// process with its standard input and output on pipes.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts inprocess_helper.exe with `arguments`.
  bool Start(const std::wstring& arguments);
  // Closes the child's standard input (the window mode ends on it).
  void CloseInput();
  // The exit code, or -1 when the child has not ended within `timeoutMs`.
  int Wait(DWORD timeoutMs = 20000);
  std::string Output();
  // True once the output holds `part` (waiting up to `timeoutMs`).
  bool WaitForOutput(const std::string& part, DWORD timeoutMs = 10000);

 private:
  HANDLE process_ = nullptr;
  HANDLE input_ = nullptr;
  std::thread reader_;
  std::mutex lock_;
  std::string output_;  // guarded by lock_
};
