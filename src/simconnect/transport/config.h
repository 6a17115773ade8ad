// Connection settings from SimConnect.cfg and the registry, and OpenConnection,
// the chain of connection attempts behind SimConnect_Open.
#pragma once

#include <cstdint>

class SimConnectClient;
enum class ClientStatus : uint32_t;

constexpr uint32_t kConfigTextUnits = 1024;

struct ConnectionSettings {
  uint32_t protocol = 1;  // 1 pipe, 2 TCP over IPv4 (AF_INET), 23 TCP over IPv6 (AF_INET6)
  wchar_t address[kConfigTextUnits] = {};
  wchar_t port[kConfigTextUnits] = {};
  uint32_t maxReceiveSize = 41088;
  bool disableNagle = false;
};

// 0 when the section of `index` ("SimConnect" for 0, "SimConnect.%u" otherwise)
// in the file at `path` holds at least one entry, 3 otherwise.
uint32_t ConfigSectionExists(const wchar_t* path, uint32_t index);
// Applies Protocol, Address, Port, MaxReceiveSize and DisableNagle of that
// section of one file, in this order.
void ReadConfigSection(const wchar_t* path, uint32_t index, ConnectionSettings& settings);
// Empties `port`, then reads "SimConnect_Port_IPv6" (ipv6) or
// "SimConnect_Port_IPv4" from the simulator's registry key (endpoints.h).
void ReadRegistryPort(bool ipv6, wchar_t (&port)[kConfigTextUnits]);
// Full paths of SimConnect.cfg in Public Documents, Documents and the current
// directory, in that order; an entry is empty when its folder is unavailable.
void ConfigFilePaths(wchar_t (&paths)[3][260]);

// Ok: connected (client set); Unusable: no connection could be made;
// InvalidConfigIndex: a numbered section exists in no configuration file.
// client is null unless Ok.
ClientStatus OpenConnection(SimConnectClient** client, uint32_t configIndex);
