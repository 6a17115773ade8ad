// What a SimConnect client reads from outside, written by tests: the
// SimConnect.cfg files of the three folders and the simulator's registry
// ports. Every writer puts back what was there before.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "simconnect/endpoints.h"

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

// The folders a client reads SimConnect.cfg from, in the order it reads them.
enum class ConfigFolder { kPublicDocuments = 0, kDocuments = 1, kCurrent = 2 };

// "[SimConnect]" (index 0) or "[SimConnect.<index>]" and `lines`, each
// "Key=value" followed by CR LF, e.g. CfgSection(1, {"Protocol=Pipe", "Port=x"}).
std::string CfgSection(uint32_t index, std::initializer_list<std::string> lines);
// A section naming the pipe at `pipePath` on the local machine.
std::string PipeSection(uint32_t index, const std::wstring& pipePath);

// SimConnect.cfg in the three folders, written for one test. The folders are
// found from %PUBLIC% and %USERPROFILE%, not through the client's own code.
// Programs that write the Documents folders hold the lock "documents".
class ConfigFiles {
 public:
  // Replaces the file in `folder` with `text`; false when it could not be written.
  bool Write(ConfigFolder folder, const std::string& text);
  static std::wstring PathOf(ConfigFolder folder);

 private:
  std::unique_ptr<ScopedFile> files_[3];
};

// The simulator's port values under its registry key (simconnect/endpoints.h),
// removed before and after each use (lock "registry").
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

  static const wchar_t* ValueName(bool ipv6) { return ipv6 ? endpoints::kPortValueIPv6 : endpoints::kPortValueIPv4; }
};
