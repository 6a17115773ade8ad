// bridgectl's private SimConnect.cfg. OS-free.
#include "config_section.h"

namespace bridgectl {

std::string ConfigAddress(const Endpoint& endpoint) {
  // "::1" in full form is parsed as the same numeric address. For IPv4 the
  // name "localhost" resolves to 127.0.0.1 (an IPv4 look-up never yields ::1).
  if (endpoint.ipv6 && endpoint.address == "::1") return "0:0:0:0:0:0:0:1";
  if (!endpoint.ipv6 && endpoint.address == "127.0.0.1") return "localhost";
  return endpoint.address;
}

std::string PrivateConfigText(const Endpoint& endpoint, uint32_t index) {
  std::string section = "[SimConnect." + std::to_string(index) + "]\r\n";
  switch (endpoint.kind) {
    case EndpointKind::kPipe:
      // An empty server is this machine: "." in the pipe path.
      return section + "Protocol=Pipe\r\nAddress=" + (endpoint.server.empty() ? "." : endpoint.server) +
             "\r\nPort=" + endpoint.pipeName + "\r\n";
    case EndpointKind::kTcp:
      return section + "Protocol=" + (endpoint.ipv6 ? "IPv6" : "IPv4") + "\r\nAddress=" + ConfigAddress(endpoint) +
             "\r\nPort=" + endpoint.port + "\r\nDisableNagle=1\r\n";
    default:
      return std::string();
  }
}

std::string NoServerMessage(const Endpoint& endpoint) {
  switch (endpoint.kind) {
    case EndpointKind::kDefault:
      return "no SimConnect server: nothing answers on the simulator's pipe or on the TCP ports it leaves in the "
             "registry (is the simulator running?)";
    case EndpointKind::kPipe:
      return "no SimConnect server on the pipe \\\\" + (endpoint.server.empty() ? std::string(".") : endpoint.server) +
             "\\pipe\\" + endpoint.pipeName;
    case EndpointKind::kTcp:
      return "no SimConnect server at " + (endpoint.ipv6 ? "[" + endpoint.address + "]" : endpoint.address) + ":" +
             endpoint.port;
    case EndpointKind::kConfigIndex:
      return "no SimConnect server at the endpoint of configuration " + std::to_string(endpoint.configIndex) +
             " (SimConnect.cfg)";
  }
  return "no SimConnect server";
}

}  // namespace bridgectl
