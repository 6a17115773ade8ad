#include "support/config_files.h"

#include <utility>

#include "simconnect/owners.h"
#include "support/paths.h"

bool ReadWholeFile(const std::wstring& path, std::string* text) {
  // Also a file that another process keeps open for writing (a log).
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  text->clear();
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text->append(chunk, got);
  CloseHandle(file);
  return true;
}

bool WriteWholeFile(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size();
}

ScopedFile::ScopedFile(std::wstring path, const std::string& text) : path_(std::move(path)) {
  hadOld_ = ReadWholeFile(path_, &old_);
  written_ = WriteWholeFile(path_, text);
}

ScopedFile::~ScopedFile() {
  if (hadOld_) {
    WriteWholeFile(path_, old_);
  } else {
    DeleteFileW(path_.c_str());
  }
}

std::string CfgSection(uint32_t index, std::initializer_list<std::string> lines) {
  std::string text = index == 0 ? "[SimConnect]\r\n" : "[SimConnect." + std::to_string(index) + "]\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string PipeSection(uint32_t index, const std::wstring& pipePath) {
  std::string name;
  for (wchar_t c : PipeNameOf(pipePath)) name += static_cast<char>(c);
  return CfgSection(index, {"Protocol=Pipe", "Address=.", "Port=" + name});
}

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(value) : std::wstring();
}

}  // namespace

std::wstring ConfigFiles::PathOf(ConfigFolder folder) {
  switch (folder) {
    case ConfigFolder::kPublicDocuments:
      return Environment(L"PUBLIC") + L"\\Documents\\SimConnect.cfg";
    case ConfigFolder::kDocuments:
      return Environment(L"USERPROFILE") + L"\\Documents\\SimConnect.cfg";
    case ConfigFolder::kCurrent:
      break;
  }
  wchar_t current[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  return std::wstring(current) + L"\\SimConnect.cfg";
}

bool ConfigFiles::Write(ConfigFolder folder, const std::string& text) {
  std::unique_ptr<ScopedFile>& file = files_[static_cast<int>(folder)];
  file.reset();  // what was there before this object wrote comes back first
  file.reset(new ScopedFile(PathOf(folder), text));
  return file->written();
}

bool RegistryPorts::SetRaw(bool ipv6, DWORD type, const void* data, DWORD bytes) {
  UniqueRegistryKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, endpoints::kPortsRegistryKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                      key.Receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExW(key.Get(), ValueName(ipv6), 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
}

bool RegistryPorts::Set(bool ipv6, const std::wstring& text) {
  return SetRaw(ipv6, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring RegistryPorts::Get(bool ipv6) {
  wchar_t value[64] = {};
  DWORD bytes = sizeof value - sizeof(wchar_t);
  UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, endpoints::kPortsRegistryKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) {
    return {};
  }
  LONG result = RegQueryValueExW(key.Get(), ValueName(ipv6), nullptr, nullptr, reinterpret_cast<BYTE*>(value), &bytes);
  return result == ERROR_SUCCESS ? std::wstring(value) : std::wstring();
}

void RegistryPorts::Clear() {
  UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, endpoints::kPortsRegistryKey, 0, KEY_WRITE, key.Receive()) != ERROR_SUCCESS) {
    return;
  }
  RegDeleteValueW(key.Get(), ValueName(false));
  RegDeleteValueW(key.Get(), ValueName(true));
}
