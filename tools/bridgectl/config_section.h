// The SimConnect.cfg that bridgectl writes for a pipe or TCP endpoint chosen on
// its command line. The client library reads its endpoint only from
// SimConnect.cfg (Public Documents, Documents, then the current folder) and
// the registry; bridgectl therefore writes one section into a SimConnect.cfg
// of its own, in a fresh temporary folder that is the current folder while
// SimConnect_Open runs, and opens with that section's index. Nothing outside
// that folder is written, and the folder is removed afterwards. OS-free.
#pragma once

#include <cstdint>
#include <string>

#include "command_line.h"

namespace bridgectl {

// The section bridgectl writes. The current folder's file is read last, so
// its keys win over a section of the same number in the Documents files.
constexpr uint32_t kPrivateConfigIndex = 4242;

// The address written for a TCP endpoint. The library treats the texts "::1"
// and "127.0.0.1" as the start of its automatic chain (on failure it goes on
// to the registry ports and the default pipe), which would connect an explicit
// --tcp to some other server; the same loopback addresses are therefore
// written in other spellings that resolve alike but start no chain.
std::string ConfigAddress(const Endpoint& endpoint);

// The whole file for a kPipe or kTcp endpoint: one section [SimConnect.<index>]
// with Protocol, Address and Port (and DisableNagle for TCP, so that small
// requests are not held back). Empty for other kinds.
std::string PrivateConfigText(const Endpoint& endpoint, uint32_t index);

// "no SimConnect server ..." for a connection that could not be opened: which
// endpoint was tried, in the user's terms.
std::string NoServerMessage(const Endpoint& endpoint);

}  // namespace bridgectl
