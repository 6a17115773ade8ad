// Test helpers for what the client reads from outside: configuration files and
// the simulator's registry ports. Each helper puts back what it changed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

bool ReadWholeFile(const std::wstring& path, std::string* text);
bool WriteWholeFile(const std::wstring& path, const std::string& text);

// A file written for one test. Whatever was at the path before is put back
// afterwards; otherwise the file is deleted.
class ScopedFile {
 public:
  ScopedFile(std::wstring path, const std::string& text);
  ~ScopedFile();
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  bool written() const { return written_; }

 private:
  std::wstring path_;
  std::string old_;
  bool hadOld_ = false;
  bool written_ = false;
};

// The simulator's port values under HKCU\SOFTWARE\Lockheed Martin\Prepar3D v6,
// removed before and after each use.
class RegistryPorts {
 public:
  RegistryPorts() { Clear(); }
  ~RegistryPorts() { Clear(); }
  RegistryPorts(const RegistryPorts&) = delete;
  RegistryPorts& operator=(const RegistryPorts&) = delete;

  // Stores `bytes` bytes of `data` under the value of that family with `type`.
  bool SetRaw(bool ipv6, DWORD type, const void* data, DWORD bytes);
  // Stores `text` as REG_SZ with its terminator.
  bool Set(bool ipv6, const std::wstring& text);
  bool Set(bool ipv6, uint16_t port) { return Set(ipv6, std::to_wstring(port)); }
  // The value's text, empty when missing.
  static std::wstring Get(bool ipv6);
  void Clear();
  // Removes the key itself (it holds nothing but the two values).
  void RemoveKey();

  static const wchar_t* ValueName(bool ipv6) { return ipv6 ? L"SimConnect_Port_IPv6" : L"SimConnect_Port_IPv4"; }
  static constexpr const wchar_t* kKey = L"SOFTWARE\\Lockheed Martin\\Prepar3D v6";
};

// Writes SimConnect.cfg in the current directory with section SimConnect.<index>
// naming a pipe on the local machine, so that SimConnect_Open(..., index)
// reaches that pipe. The pipe name is the part below \\.\pipe\.
class PipeConfig {
 public:
  PipeConfig(uint32_t index, const std::wstring& pipeName);
  bool written() const { return file_.written(); }

 private:
  ScopedFile file_;
};
