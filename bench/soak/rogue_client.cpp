#include "rogue_client.h"

#include <cmath>
#include <limits>
#include <vector>

#include "lvar/records.h"
#include "raw_endpoints.h"
#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"

namespace soak {

namespace {

std::vector<uint8_t> Request(uint32_t size, uint32_t sendId) {
  std::vector<uint8_t> bytes(size, 0);
  bytes[12] = static_cast<uint8_t>(sendId);
  return bytes;
}

// Open, map the request area, define it: the set-up an application makes.
void WriteSetUp(RawClient& client) {
  using namespace request_encoding;
  std::vector<uint8_t> open = Request(protocol::open::kSize, 1);
  WriteOpen(open.data(), "Rogue");
  std::vector<uint8_t> map = Request(protocol::map_client_data_name_to_id::kSize, 2);
  WriteMapClientDataNameToId(map.data(), records::kHostRequestAreaName, records::kHostRequestAreaId);
  std::vector<uint8_t> define = Request(protocol::add_to_client_data_definition::kSize, 3);
  WriteAddToClientDataDefinition(define.data(), records::kHostRequestDefinitionId, 0, records::kHostRequestSize, 0.0f,
                                 records::kDatumIdUnused);
  client.Write(open);
  client.Write(map);
  client.Write(define);
}

}  // namespace

std::string RunRogue(std::mt19937& random, const std::wstring& pipePath) {
  RawClient client;
  if (!client.ConnectPipe(pipePath, 2000)) return "rogue: no pipe instance";
  const int act = std::uniform_int_distribution<int>(0, 3)(random);
  switch (act) {
    case 0: {
      // A size field below the header's size.
      const uint32_t size = std::uniform_int_distribution<uint32_t>(0, 15)(random);
      std::vector<uint8_t> bytes(16, 0xA5);
      for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(size >> (8 * i));
      client.Write(bytes);
      return "rogue: a frame with size field " + std::to_string(size);
    }
    case 1: {
      // An open announced at full size, cut short by the client's death.
      std::vector<uint8_t> open = Request(protocol::open::kSize, 1);
      request_encoding::WriteOpen(open.data(), "Rogue");
      const size_t cut = std::uniform_int_distribution<size_t>(1, open.size() - 1)(random);
      client.Write(open.data(), cut);
      return "rogue: dies after " + std::to_string(cut) + " bytes of an open";
    }
    case 2: {
      // Requests of sizes and ids the server does not know.
      WriteSetUp(client);
      const int count = std::uniform_int_distribution<int>(1, 20)(random);
      for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> bytes = Request(std::uniform_int_distribution<uint32_t>(16, 600)(random), 4 + i);
        for (size_t b = 16; b < bytes.size(); ++b) bytes[b] = static_cast<uint8_t>(random());
        request_encoding::WriteHeader(bytes.data(), static_cast<uint32_t>(bytes.size()), random() % 0x40);
        client.Write(bytes);
      }
      return "rogue: " + std::to_string(count) + " requests of random ids and sizes";
    }
    default: {
      // Host requests with strange fields; commands that change nothing the
      // applications check.
      WriteSetUp(client);
      static const uint32_t kCommands[] = {2, 5, 6, 8, 11, 12, 13, 14, 15, 99, 0xFFFFFFFF};
      static const double kValues[] = {std::numeric_limits<double>::quiet_NaN(), INFINITY, -INFINITY, -1.0, 1e300,
                                       0.0, 4294967296.0};
      const int count = std::uniform_int_distribution<int>(1, 30)(random);
      for (int i = 0; i < count; ++i) {
        records::HostRequest request{};
        request.tag = random();
        request.command = kCommands[random() % (sizeof kCommands / sizeof kCommands[0])];
        request.value = kValues[random() % (sizeof kValues / sizeof kValues[0])];
        // An unterminated name of a variable nobody has, or an empty one.
        const size_t length = (random() % 2 == 0) ? 0 : sizeof request.name;
        for (size_t c = 0; c < length; ++c) request.name[c] = static_cast<char>('A' + random() % 26);
        uint8_t data[records::kHostRequestSize];
        records::EncodeHostRequest(request, data);
        std::vector<uint8_t> bytes = Request(protocol::set_client_data::kFixedSize + records::kHostRequestSize, 4 + i);
        request_encoding::WriteSetClientData(bytes.data(), records::kHostRequestAreaId,
                                             records::kHostRequestDefinitionId, 0, 0, records::kHostRequestSize, data);
        client.Write(bytes);
      }
      // Half the time the rogue dies in the middle of one more.
      if (random() % 2 == 0) {
        std::vector<uint8_t> bytes = Request(protocol::set_client_data::kFixedSize + records::kHostRequestSize, 99);
        client.Write(bytes.data(), std::uniform_int_distribution<size_t>(4, bytes.size() - 1)(random));
        return "rogue: " + std::to_string(count) + " strange host requests, then dies mid-request";
      }
      return "rogue: " + std::to_string(count) + " strange host requests";
    }
  }
}

}  // namespace soak
