// Where a client on this machine finds the simulator's SimConnect server
// without being told: the pipe the simulator listens on, and the registry
// values under HKEY_CURRENT_USER in which it leaves its TCP ports.
#pragma once

namespace endpoints {

// The pipe's name below \\.\pipe\, and its local path.
constexpr wchar_t kDefaultPipeName[] = L"Lockheed Martin Prepar3D v6\\SimConnect";
constexpr wchar_t kDefaultPipePath[] = L"\\\\.\\pipe\\Lockheed Martin Prepar3D v6\\SimConnect";

constexpr wchar_t kPortsRegistryKey[] = L"SOFTWARE\\Lockheed Martin\\Prepar3D v6";
constexpr wchar_t kPortValueIPv6[] = L"SimConnect_Port_IPv6";
constexpr wchar_t kPortValueIPv4[] = L"SimConnect_Port_IPv4";

}  // namespace endpoints
