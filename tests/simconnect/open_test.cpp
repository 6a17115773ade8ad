// SimConnect_Open's own checks and its Open request, and SimConnect_Close,
// against a raw pipe server that a configuration section names.
#include <gtest/gtest.h>

#include <string>

#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "support/bytes.h"
#include "support/config_files.h"
#include "support/paths.h"
#include "support/raw_endpoints.h"

namespace {

TEST(Open, SendsTheOpenRequestThenNumbersRequestsFromTwo) {
  const std::wstring path = UniquePipePath("open");
  ConfigFiles files;
  ASSERT_TRUE(files.Write(ConfigFolder::kCurrent, PipeSection(3, path)));
  std::unique_ptr<RawServer> server = RawServer::ListenPipe(path);
  // Refused before any connection: no handle pointer, no name.
  HANDLE handle = reinterpret_cast<HANDLE>(1);
  EXPECT_EQ(SimConnect_Open(nullptr, "x", nullptr, 0, nullptr, 3), E_INVALIDARG);
  EXPECT_EQ(SimConnect_Open(&handle, nullptr, nullptr, 0, nullptr, 3), E_INVALIDARG);
  EXPECT_FALSE(server->Accept(200));
  // A name of 256 characters: connected, then torn down without a request.
  EXPECT_EQ(SimConnect_Open(&handle, std::string(256, 'n').c_str(), nullptr, 0, nullptr, 3), kResultStringTooLong);
  EXPECT_EQ(handle, nullptr);
  ASSERT_TRUE(server->Accept());
  EXPECT_TRUE(server->WaitForClientClose());
  EXPECT_EQ(LiveConnections(), 0u);
  // 255 characters fill the field; the magic number travels as 00 44 33 50.
  server = nullptr;
  server = RawServer::ListenPipe(path);
  const std::string name(255, 'n');
  ASSERT_EQ(SimConnect_Open(&handle, name.c_str(), nullptr, 0, nullptr, 3), S_OK);
  ASSERT_TRUE(server->Accept());
  EXPECT_EQ(server->ReadMessage(), Bytes(296).Header(0xF0000001, 1).Text(16, name).U32(276, 0x50334400)
                                       .U32(280, 6).vec());
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(handle, 1, 2), S_OK);
  EXPECT_EQ(server->ReadMessage(), Bytes(24).Header(0xF0000034, 2).U32(16, 1).U32(20, 2).vec());
  // Nothing left to send: the close still succeeds.
  EXPECT_EQ(SimConnect_Close(handle), S_OK);
  EXPECT_TRUE(server->WaitForClientClose());
  EXPECT_EQ(LiveConnections(), 0u);
}

}  // namespace
