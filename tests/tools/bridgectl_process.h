// bridgectl.exe run as a program by the tests: its standard output and error
// captured apart, its exit status, and for long runs (watch) the output read
// while it runs.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>

class BridgectlProcess {
 public:
  BridgectlProcess() = default;
  // Waits for the program (terminating it after 30 s) and its readers.
  ~BridgectlProcess();
  BridgectlProcess(const BridgectlProcess&) = delete;
  BridgectlProcess& operator=(const BridgectlProcess&) = delete;

  // Starts bridgectl.exe with `arguments` (the command line after the
  // program's name) in the current folder.
  bool Start(const std::string& arguments);
  // The exit status, or -1 when the program did not end within `timeoutMs`
  // (it is terminated then).
  int Wait(DWORD timeoutMs = 30000);

  std::string Out();
  std::string Err();
  // True once standard output holds `part` (waiting up to `timeoutMs`).
  bool WaitForOut(const std::string& part, DWORD timeoutMs = 10000);

 private:
  struct Stream {
    std::thread reader;
    std::string text;  // guarded by lock_
  };
  void Read(HANDLE pipe, Stream* stream);

  HANDLE process_ = nullptr;
  std::mutex lock_;
  Stream out_;
  Stream err_;
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Output with the carriage returns of text mode taken out.
std::string WithoutCarriageReturns(const std::string& text);

// Runs bridgectl.exe to its end; out and err without carriage returns.
RunResult RunBridgectl(const std::string& arguments, DWORD timeoutMs = 30000);

// The path of bridgectl.exe as Windows sees it.
std::wstring BridgectlPath();
