// The application's requests: HostRequest records written into the area
// "TAVO_SC_DYN_HOSTRESQUEST_ID" and delivered as client-data messages.
#pragma once

#include <cstdint>

namespace bridge {

// Serves one client-data message (kind 16), on the worker thread:
//   1. Panels null: logs "NO PANELS, no fish and no chips!" and stops.
//   2. Counts the message as the application's heartbeat, whatever follows.
//   3. A request id other than 10000: stops. Request id 10000 in a message too
//      short for a whole HostRequest: logged like any message too short for
//      its fields, and dropped.
//   4. Access disabled from the menu: logs "HostRequest %08x" with the command
//      and "Processing disabled", and stops (the request is lost).
//   5. A command code above 14: stops without a word.
//   6. Runs the command. Nothing is answered beyond what the command sends.
// The caller has checked that the message holds the 40 bytes before the data.
void ProcessHostRequest(const void* message, uint32_t size);

}  // namespace bridge
