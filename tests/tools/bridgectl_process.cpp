// bridgectl.exe as a child process of a test.
#include "bridgectl_process.h"

#include "support/test_env.h"

std::wstring BridgectlPath() {
  // The build path on drive Z:, as Wine maps it.
  std::string unixPath = TVO_BRIDGECTL_EXE;
  std::wstring path = L"Z:";
  for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

BridgectlProcess::~BridgectlProcess() {
  if (process_ != nullptr) {
    if (WaitForSingleObject(process_, 30000) != WAIT_OBJECT_0) TerminateProcess(process_, 99);
    CloseHandle(process_);
  }
  if (out_.reader.joinable()) out_.reader.join();
  if (err_.reader.joinable()) err_.reader.join();
}

void BridgectlProcess::Read(HANDLE pipe, Stream* stream) {
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    std::lock_guard<std::mutex> guard(lock_);
    stream->text.append(chunk, got);
  }
  CloseHandle(pipe);
}

bool BridgectlProcess::Start(const std::string& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) return false;
  if (!CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return false;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  // No standard input: the program must never wait for one.
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             nullptr);
  std::wstring wideArguments;
  for (char c : arguments) wideArguments += static_cast<wchar_t>(static_cast<unsigned char>(c));
  HANDLE process = StartChild(BridgectlPath(), wideArguments, input, outWrite, errWrite);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (process == nullptr) {
    CloseHandle(outRead);
    CloseHandle(errRead);
    return false;
  }
  process_ = process;
  out_.reader = std::thread([this, outRead] { Read(outRead, &out_); });
  err_.reader = std::thread([this, errRead] { Read(errRead, &err_); });
  return true;
}

int BridgectlProcess::Wait(DWORD timeoutMs) {
  if (process_ == nullptr) return -1;
  if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  if (out_.reader.joinable()) out_.reader.join();
  if (err_.reader.joinable()) err_.reader.join();
  return static_cast<int>(code);
}

std::string BridgectlProcess::Out() {
  std::lock_guard<std::mutex> guard(lock_);
  return out_.text;
}

std::string BridgectlProcess::Err() {
  std::lock_guard<std::mutex> guard(lock_);
  return err_.text;
}

bool BridgectlProcess::WaitForOut(const std::string& part, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (Out().find(part) == std::string::npos) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(10);
  }
  return true;
}

std::string WithoutCarriageReturns(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

RunResult RunBridgectl(const std::string& arguments, DWORD timeoutMs) {
  RunResult result;
  BridgectlProcess process;
  if (!process.Start(arguments)) return result;
  result.status = process.Wait(timeoutMs);
  result.out = WithoutCarriageReturns(process.Out());
  result.err = WithoutCarriageReturns(process.Err());
  return result;
}
