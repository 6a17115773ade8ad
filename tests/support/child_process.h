// A program of the build run as a child process: its standard output (and
// error) go to files in the current folder, never to pipes, since under Wine a
// child's first window starts the desktop process, which inherits the child's
// standard handles and would keep a pipe open after the child has gone. Its
// standard input reads NUL.
#pragma once

#include <windows.h>

#include <string>

class ChildProcess {
 public:
  struct Options {
    bool separateErrors = false;  // standard error to a file of its own
  };

  ChildProcess() = default;
  // Terminates the child if it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `program` (a Windows path) with `arguments` (the command line after
  // the program's name). Only the child's own standard handles are inherited.
  bool Start(const std::wstring& program, const std::wstring& arguments, Options options);
  bool Start(const std::wstring& program, const std::wstring& arguments) { return Start(program, arguments, {}); }

  // What the child has written so far: standard output (with standard error
  // unless separated), and standard error alone.
  std::string Output() const;
  std::string Errors() const;
  // True once the output holds `part` (waiting up to `timeoutMs`).
  bool WaitForOutput(const std::string& part, DWORD timeoutMs = 10000) const;

  // The exit code once the child has ended, or -1 when it has not ended within
  // `timeoutMs` (it is terminated then).
  int Wait(DWORD timeoutMs = 30000);
  // TerminateProcess with `exitCode`; true once the process has ended.
  bool Kill(UINT exitCode, DWORD timeoutMs = 5000);
  // The exit code, STILL_ACTIVE while it runs.
  DWORD ExitCode() const;

 private:
  HANDLE process_ = nullptr;
  std::wstring outputPath_;
  std::wstring errorPath_;
};

// Text-mode output with its carriage returns taken out.
std::string WithoutCarriageReturns(const std::string& text);

// A program run to its end (standard error apart): its exit code, -1 when it
// did not end within the time-out or did not start; its output and errors
// without carriage returns.
struct ChildRun {
  int status = -1;
  std::string out;
  std::string err;
};
ChildRun RunChild(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs = 30000);
