// A temporary folder of bridgectl's own with a SimConnect.cfg in it (see
// config_section.h), made the current folder only while a connection opens.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace bridgectl {

class PrivateConfig {
 public:
  PrivateConfig() = default;
  // Deletes the file and the folder.
  ~PrivateConfig();
  PrivateConfig(const PrivateConfig&) = delete;
  PrivateConfig& operator=(const PrivateConfig&) = delete;

  // Creates a fresh folder below the user's temporary folder and writes
  // `text` into SimConnect.cfg there. False (with `error`) when that fails.
  bool Write(const std::string& text, std::string* error);

  // Runs `open` with the folder as the current folder and puts the previous
  // current folder back afterwards; returns what `open` returned. The current
  // folder belongs to the whole process: bridgectl has no other thread that
  // uses relative paths meanwhile.
  HRESULT RunInFolder(const std::function<HRESULT()>& open);

 private:
  std::wstring folder_;
  std::wstring file_;
};

}  // namespace bridgectl
