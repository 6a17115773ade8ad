// The application's side of the bridge's client-data protocol, as far as these
// tests need it: the request and event areas mapped to ids of its own, one
// definition each covering the whole record, the subscription to every write
// of the event area, and Connect requests.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "lvar/records.h"

namespace bridge_app {

constexpr uint32_t kRequestArea = 1;
constexpr uint32_t kEventArea = 2;
constexpr uint32_t kRequestDefinition = 11;
constexpr uint32_t kEventDefinition = 12;
constexpr uint32_t kEventRequestId = 77;

// The first failing result, or S_OK.
HRESULT SetUp(HANDLE handle);
// Writes a Connect HostRequest with `tag` and peer id `peerId`.
HRESULT Connect(HANDLE handle, uint32_t tag, uint32_t peerId);
// True when the message is a write of the event area (client data, request id
// kEventRequestId) and holds a whole HostEvent, which goes to *event.
bool ReadHostEvent(const void* message, uint32_t size, records::HostEvent* event);

}  // namespace bridge_app
