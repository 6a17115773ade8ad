#include "child_process.h"

#include <atomic>
#include <cstdio>

#include "support/wait_until.h"

namespace {

// A file of the current folder for one stream of one child.
std::wstring StreamPath(const wchar_t* stream) {
  static std::atomic<unsigned> counter{0};
  return L"child-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter.fetch_add(1)) + L"." +
         stream;
}

HANDLE CreateStreamFile(const std::wstring& path, SECURITY_ATTRIBUTES* inherit) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The file as it stands, read while the child may still write it.
std::string ReadShared(const std::wstring& path) {
  std::string text;
  if (path.empty()) return text;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (process_ == nullptr) return;
  if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) Kill(99);
  CloseHandle(process_);
}

bool ChildProcess::Start(const std::wstring& program, const std::wstring& arguments, Options options) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  outputPath_ = StreamPath(L"out");
  HANDLE output = CreateStreamFile(outputPath_, &inherit);
  HANDLE error = output;
  if (options.separateErrors) {
    errorPath_ = StreamPath(L"err");
    error = CreateStreamFile(errorPath_, &inherit);
  }
  HANDLE input = INVALID_HANDLE_VALUE;
  input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
  if (output != INVALID_HANDLE_VALUE && error != INVALID_HANDLE_VALUE && input != INVALID_HANDLE_VALUE) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
      CloseHandle(info.hThread);
      process_ = info.hProcess;
    }
  }
  for (HANDLE handle : {output, options.separateErrors ? error : INVALID_HANDLE_VALUE, input}) {
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr) CloseHandle(handle);
  }
  return process_ != nullptr;
}

std::string ChildProcess::Output() const { return ReadShared(outputPath_); }
std::string ChildProcess::Errors() const { return ReadShared(errorPath_); }

bool ChildProcess::WaitForOutput(const std::string& part, DWORD timeoutMs) const {
  return WaitUntil([&] { return Output().find(part) != std::string::npos; }, timeoutMs);
}

int ChildProcess::Wait(DWORD timeoutMs) {
  if (process_ == nullptr) return -1;
  if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
    Kill(99);
    return -1;
  }
  return static_cast<int>(ExitCode());
}

bool ChildProcess::Kill(UINT exitCode, DWORD timeoutMs) {
  if (process_ == nullptr) return false;
  TerminateProcess(process_, exitCode);
  return WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD ChildProcess::ExitCode() const {
  DWORD code = 0;
  if (process_ == nullptr || !GetExitCodeProcess(process_, &code)) return 0;
  return code;
}

std::string WithoutCarriageReturns(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c != '\r') result += c;
  }
  return result;
}

ChildRun RunChild(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs) {
  ChildRun run;
  ChildProcess child;
  if (!child.Start(program, arguments, {/*separateErrors=*/true})) return run;
  run.status = child.Wait(timeoutMs);
  run.out = WithoutCarriageReturns(child.Output());
  run.err = WithoutCarriageReturns(child.Errors());
  return run;
}
