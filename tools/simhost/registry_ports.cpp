// Writing and removing the registry port values.
#include "registry_ports.h"

#include <windows.h>

#include "simconnect/endpoints.h"
#include "simconnect/owners.h"

namespace simhost {

namespace {

bool WriteValue(HKEY key, const wchar_t* name, const std::wstring& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Deletes the value when it still holds `text`.
void RemoveIfUnchanged(HKEY key, const wchar_t* name, const std::wstring& text) {
  wchar_t current[32] = {};
  DWORD size = sizeof current - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(current), &size) != ERROR_SUCCESS) return;
  if (type == REG_SZ && text == current) RegDeleteValueW(key, name);
}

}  // namespace

bool RegistryPorts::Write(uint16_t port6, uint16_t port4) {
  UniqueRegistryKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, endpoints::kPortsRegistryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      key.Receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = true;
  if (port6 != 0) {
    written6_ = std::to_wstring(port6);
    ok = WriteValue(key.Get(), endpoints::kPortValueIPv6, written6_) && ok;
  }
  if (port4 != 0) {
    written4_ = std::to_wstring(port4);
    ok = WriteValue(key.Get(), endpoints::kPortValueIPv4, written4_) && ok;
  }
  return ok;
}

void RegistryPorts::Remove() {
  if (written6_.empty() && written4_.empty()) return;
  UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, endpoints::kPortsRegistryKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                    key.Receive()) == ERROR_SUCCESS) {
    if (!written6_.empty()) RemoveIfUnchanged(key.Get(), endpoints::kPortValueIPv6, written6_);
    if (!written4_.empty()) RemoveIfUnchanged(key.Get(), endpoints::kPortValueIPv4, written4_);
  }
  written6_.clear();
  written4_.clear();
}

}  // namespace simhost
