// The TCP ports of the running server, left in the current user's registry as
// the simulator leaves them (simconnect/endpoints.h), each the port as text
// (REG_SZ). Clients that find no pipe read them to connect over TCP.
#pragma once

#include <cstdint>
#include <string>

namespace simhost {

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
