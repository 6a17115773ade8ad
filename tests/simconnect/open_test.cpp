// SimConnect_Open's own checks and its Open request, against a pipe reached
// through a numbered configuration section.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "support/bytes.h"
#include "support/config_env.h"
#include "support/raw_server.h"
#include "support/test_env.h"

namespace {

constexpr uint32_t kIndex = 3;

class OpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = UniquePipePath("open");
    config_ = std::make_unique<ScopedFile>(ConfigFiles::PathOf(ConfigFolder::kCurrent), PipeSection(kIndex, path_));
    ASSERT_TRUE(config_->written());
    server_ = RawServer::ListenPipe(path_);
    ASSERT_NE(server_, nullptr);
  }

  std::wstring path_;
  std::unique_ptr<ScopedFile> config_;
  std::unique_ptr<RawServer> server_;
};

TEST_F(OpenTest, SendsTheOpenRequestAndTheNameUpTo255Characters) {
  const std::string name(255, 'n');
  HANDLE handle = nullptr;
  ASSERT_EQ(SimConnect_Open(&handle, name.c_str(), nullptr, 0, nullptr, kIndex), S_OK);
  ASSERT_NE(handle, nullptr);
  ASSERT_TRUE(server_->Accept());
  std::vector<uint8_t> open = server_->ReadMessage();
  EXPECT_EQ(open, Bytes(296).Header(0xF0000001, 1).Text(16, name).U32(276, 0x50334400).U32(280, 6).vec());
  // The magic number travels as the bytes 00 44 33 50.
  EXPECT_EQ(open.at(276), 0x00);
  EXPECT_EQ(open.at(277), 0x44);
  EXPECT_EQ(open.at(278), 0x33);
  EXPECT_EQ(open.at(279), 0x50);

  ASSERT_EQ(SimConnect_MenuRemoveSubItem(handle, 1, 2), S_OK);
  EXPECT_EQ(U32At(server_->ReadMessage(), 12), 2u) << "the request after Open is SendID 2";
  EXPECT_EQ(SimConnect_Close(handle), S_OK);
  EXPECT_EQ(LiveConnections(), 0u);
}

TEST_F(OpenTest, ANameOf256CharactersTearsTheConnectionDown) {
  const std::string name(256, 'n');
  HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234));
  EXPECT_EQ(SimConnect_Open(&handle, name.c_str(), nullptr, 0, nullptr, kIndex), static_cast<HRESULT>(0x8007007A));
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(LiveConnections(), 0u);
  ASSERT_TRUE(server_->Accept()) << "the connection was made";
  EXPECT_TRUE(server_->WaitForClientClose()) << "and closed again without an Open request";
}

TEST_F(OpenTest, NullArgumentsAreRefusedBeforeAnyConnection) {
  HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234));
  EXPECT_EQ(SimConnect_Open(&handle, nullptr, nullptr, 0, nullptr, kIndex), E_INVALIDARG);
  EXPECT_EQ(SimConnect_Open(nullptr, "x", nullptr, 0, nullptr, kIndex), E_INVALIDARG);
  EXPECT_FALSE(server_->Accept(200)) << "no connection was attempted";
}

}  // namespace
