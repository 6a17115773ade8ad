// The TCP ports of the running server, left in the current user's registry as
// the simulator leaves them: under HKCU "SOFTWARE\Lockheed Martin\Prepar3D v6",
// "SimConnect_Port_IPv6" and "SimConnect_Port_IPv4", each the port as text
// (REG_SZ). Clients that find no pipe read them to connect over TCP.
#pragma once

#include <cstdint>
#include <string>

namespace simhost {

constexpr wchar_t kPortsKey[] = L"SOFTWARE\\Lockheed Martin\\Prepar3D v6";
constexpr wchar_t kPortValue6[] = L"SimConnect_Port_IPv6";
constexpr wchar_t kPortValue4[] = L"SimConnect_Port_IPv4";

class RegistryPorts {
 public:
  ~RegistryPorts() { Remove(); }

  // Writes the ports that are not 0. False when the key or a value could not
  // be written.
  bool Write(uint16_t port6, uint16_t port4);
  // Removes the values written by Write, unless another server has since
  // written its own ports over them.
  void Remove();

 private:
  std::wstring written6_;
  std::wstring written4_;
};

}  // namespace simhost
