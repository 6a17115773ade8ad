// The in-process channel negotiated with the simulator's "FS98MAIN" window when
// the client runs inside the simulator's own process.
#pragma once

#include <cstdint>

class SimConnectClient;

// After a successful connection attempt: registers with the window when it
// belongs to this process.
void InProcessCheck(SimConnectClient* client);
// Shown every received message of at least 12 bytes before it is handed on;
// acts only on the 308-byte open reply.
void InProcessOpenReply(SimConnectClient* client, const uint8_t* message, uint32_t size);
// At the start of ShutdownConnection: unregisters the pump when this is the
// last connection.
void InProcessUnregister(SimConnectClient* client);
