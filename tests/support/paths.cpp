#include "paths.h"

std::wstring WindowsPath(const std::string& unixPath) {
  std::wstring path = L"Z:";
  for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return path;
}
