// The simulator's side of the bridge's connection, played byte by byte on a
// RawServer: the open handshake, the set-up requests, and the messages the
// simulator sends (menu events, client data, quit).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "lvar/records.h"
#include "simconnect/wire.h"
#include "support/raw_server.h"

namespace raw_simulator {

using Bytes8 = std::vector<uint8_t>;

constexpr wchar_t kDefaultPipe[] = L"\\\\.\\pipe\\Lockheed Martin Prepar3D v6\\SimConnect";
// Requests of SetupConnection (6) and of the handler's Startup (17).
constexpr size_t kSetupRequestCount = 23;

inline uint32_t U32(const Bytes8& bytes, size_t offset) {
  return bytes.size() >= offset + 4 ? wire::LoadU32(bytes.data() + offset) : 0xDEADDEAD;
}
inline std::string TextAt(const Bytes8& bytes, size_t offset) {
  return bytes.size() > offset ? std::string(reinterpret_cast<const char*>(bytes.data() + offset)) : "?";
}

// A received message of `size` bytes: header (size, version 4, kind), zeros.
inline Bytes8 Message(uint32_t kind, uint32_t size) {
  Bytes8 message(size, 0);
  wire::StoreU32(message.data(), size);
  wire::StoreU32(message.data() + 4, 4);
  wire::StoreU32(message.data() + 8, kind);
  return message;
}
inline Bytes8 MenuEvent(uint32_t eventId) {
  Bytes8 event = Message(4, 24);
  wire::StoreU32(event.data() + 16, eventId);
  return event;
}
inline Bytes8 HostRequest(uint32_t command, const char* name = "", double value = 0.0, uint32_t param = 0,
                          uint32_t tag = 0x1234) {
  Bytes8 message = Message(16, 316);
  wire::StoreU32(message.data() + 12, records::kHostRequestId);
  records::EncodeHostRequest(records::MakeHostRequest(tag, command, param, name, value), message.data() + 40);
  return message;
}
inline Bytes8 Quit() { return Message(3, 12); }

// Accepts the bridge, checks its Open request and answers it.
inline void AcceptAndOpen(RawServer& server) {
  ASSERT_TRUE(server.Accept());
  Bytes8 open = server.ReadMessage();
  ASSERT_EQ(open.size(), 296u);
  EXPECT_EQ(U32(open, 8), 0xF0000001u);
  EXPECT_EQ(U32(open, 12), 1u);
  EXPECT_EQ(TextAt(open, 16), "TAVO.quin.Bridge");
  ASSERT_TRUE(server.Write(Message(2, 308)));
}

// The requests until `count` have arrived (fewer when one does not come in time).
inline std::vector<Bytes8> Requests(RawServer& server, size_t count) {
  std::vector<Bytes8> requests;
  while (requests.size() < count) {
    Bytes8 request = server.ReadMessage();
    if (request.empty()) break;
    requests.push_back(request);
  }
  return requests;
}

}  // namespace raw_simulator
