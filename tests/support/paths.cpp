#include "support/paths.h"

#include <windows.h>

#include <atomic>

std::wstring WindowsPath(const std::string& buildPath) {
  std::wstring path = L"Z:";
  for (char c : buildPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return path;
}

std::wstring UniquePipePath(const char* tag) {
  static std::atomic<unsigned> counter{0};
  std::wstring path = L"\\\\.\\pipe\\tvo-test-" + std::to_wstring(GetCurrentProcessId()) + L"-";
  for (const char* p = tag; *p != '\0'; ++p) path += static_cast<wchar_t>(*p);
  return path + L"-" + std::to_wstring(counter.fetch_add(1));
}

std::wstring PipeNameOf(const std::wstring& path) {
  const std::wstring folder = L"\\pipe\\";
  size_t at = path.find(folder);
  return at == std::wstring::npos ? path : path.substr(at + folder.size());
}
