// The simulator's side of the bridge's connection, played byte by byte on a
// RawServer: the open handshake, the set-up requests, and the messages the
// simulator sends (menu events, client data, quit).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/bytes.h"
#include "support/raw_endpoints.h"

namespace raw_simulator {

using Bytes8 = std::vector<uint8_t>;

// Requests of SetupConnection (6) and of the handler's Startup (17).
constexpr size_t kSetupRequestCount = 23;

// Accepts the bridge, checks its Open request and answers it.
inline void AcceptAndOpen(RawServer& server) {
  ASSERT_TRUE(server.Accept());
  Bytes8 open = server.ReadMessage();
  ASSERT_EQ(open.size(), 296u);
  EXPECT_EQ(U32At(open, 8), 0xF0000001u);
  EXPECT_EQ(U32At(open, 12), 1u);
  EXPECT_EQ(TextAt(open, 16), "TAVO.quin.Bridge");
  ASSERT_TRUE(server.Write(MakeReceived(2, 308)));
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
