#include "child_process.h"

#include "support/test_env.h"

namespace {

std::wstring HelperPath() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1) + L"inprocess_helper.exe";
}

}  // namespace

ChildProcess::~ChildProcess() {
  CloseInput();
  if (process_ != nullptr) {
    if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 99);
    CloseHandle(process_);
  }
  if (reader_.joinable()) reader_.join();
}

bool ChildProcess::Start(const std::wstring& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) return false;
  if (!CreatePipe(&inRead, &input_, &inherit, 0)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return false;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
  HANDLE process = StartChild(HelperPath(), arguments, inRead, outWrite, outWrite);
  CloseHandle(outWrite);
  CloseHandle(inRead);
  if (process == nullptr) {
    CloseHandle(outRead);
    return false;
  }
  process_ = process;
  // The reader does not wait for the end of the pipe: under Wine the desktop
  // process (explorer.exe) that the child's first window starts inherits the
  // child's output handles and keeps the pipe open after the child has ended.
  // It reads what is there and stops once the child has ended and the pipe is
  // empty.
  reader_ = std::thread([this, outRead] {
    char chunk[1024];
    for (;;) {
      bool ended = WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
      DWORD available = 0;
      if (!PeekNamedPipe(outRead, nullptr, 0, nullptr, &available, nullptr)) break;
      if (available == 0) {
        if (ended) break;
        Sleep(5);
        continue;
      }
      DWORD got = 0;
      if (!ReadFile(outRead, chunk, available < sizeof chunk ? available : sizeof chunk, &got, nullptr) || got == 0) {
        break;
      }
      std::lock_guard<std::mutex> guard(lock_);
      output_.append(chunk, got);
    }
    CloseHandle(outRead);
  });
  return true;
}

void ChildProcess::CloseInput() {
  if (input_ != nullptr) CloseHandle(input_);
  input_ = nullptr;
}

int ChildProcess::Wait(DWORD timeoutMs) {
  if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  if (reader_.joinable()) reader_.join();
  return static_cast<int>(code);
}

std::string ChildProcess::Output() {
  std::lock_guard<std::mutex> guard(lock_);
  return output_;
}

bool ChildProcess::WaitForOutput(const std::string& part, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (Output().find(part) == std::string::npos) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(5);
  }
  return true;
}
