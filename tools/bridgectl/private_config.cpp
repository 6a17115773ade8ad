// bridgectl's temporary SimConnect.cfg.
#include "private_config.h"

#include <string>

#include "simconnect/owners.h"

namespace bridgectl {

namespace {

std::string OsError(const char* what) { return std::string(what) + " (error " + std::to_string(GetLastError()) + ")"; }

}  // namespace

PrivateConfig::~PrivateConfig() {
  if (!file_.empty()) DeleteFileW(file_.c_str());
  if (!folder_.empty()) RemoveDirectoryW(folder_.c_str());
}

bool PrivateConfig::Write(const std::string& text, std::string* error) {
  wchar_t temp[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) {
    *error = OsError("no temporary folder for SimConnect.cfg");
    return false;
  }
  // A name of this process's own; a leftover of an earlier process with the
  // same id is simply taken over.
  std::wstring folder = std::wstring(temp) + L"bridgectl-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount());
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    *error = OsError("cannot create a temporary folder for SimConnect.cfg");
    return false;
  }
  folder_ = folder;
  std::wstring file = folder + L"\\SimConnect.cfg";
  UniqueFile handle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY,
                                nullptr));
  if (handle.Get() == INVALID_HANDLE_VALUE) {
    *error = OsError("cannot write a temporary SimConnect.cfg");
    return false;
  }
  file_ = file;
  DWORD written = 0;
  if (!WriteFile(handle.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size()) {
    *error = OsError("cannot write a temporary SimConnect.cfg");
    return false;
  }
  return true;
}

HRESULT PrivateConfig::RunInFolder(const std::function<HRESULT()>& open) {
  wchar_t previous[MAX_PATH];
  DWORD length = GetCurrentDirectoryW(MAX_PATH, previous);
  bool restore = length > 0 && length < MAX_PATH;
  if (!SetCurrentDirectoryW(folder_.c_str())) return E_FAIL;
  HRESULT result = open();
  if (restore) SetCurrentDirectoryW(previous);
  return result;
}

}  // namespace bridgectl
