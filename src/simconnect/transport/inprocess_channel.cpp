// Client side of the in-process channel. The negotiation with the simulator's
// window is completed separately; until then a connection stays on its pipe or
// socket (channelState 0), and these hooks have nothing to act on.
#include "simconnect/transport/inprocess_channel.h"

#include "simconnect/client.h"

void InProcessCheck(SimConnectClient*) {}

void InProcessOpenReply(SimConnectClient*, const uint8_t*, uint32_t) {}

void InProcessUnregister(SimConnectClient*) {}
