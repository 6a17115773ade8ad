// The bytes of every request as they reach a real pipe server, SendID
// numbering, string limits and the results of requests on unusable handles.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "support/bytes.h"
#include "support/raw_server.h"
#include "support/test_env.h"

namespace {

class RequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = UniquePipePath("requests");
    server_ = RawServer::ListenPipe(path_);
    ASSERT_NE(server_, nullptr);
    client_ = ConnectClientToPipe(path_, event_.handle);
    ASSERT_NE(client_, nullptr);
    ASSERT_TRUE(server_->Accept());
  }
  void TearDown() override {
    if (client_ != nullptr) SimConnect_Close(client_);
  }
  std::vector<uint8_t> Next() { return server_->ReadMessage(); }

  TestEvent event_;
  std::wstring path_;
  std::unique_ptr<RawServer> server_;
  SimConnectClient* client_ = nullptr;
};

TEST_F(RequestsTest, EveryRequestArrivesByteForByteWithSendIdsFromOne) {
  ASSERT_EQ(SimConnect_AddToDataDefinition(client_, 1, "TITLE", nullptr, 10, 0.0f, 0xFFFFFFFF), S_OK);
  EXPECT_EQ(Next(), Bytes(544).Header(0xF000000C, 1).U32(16, 1).Text(20, "TITLE").U32(532, 10).U32(540, 0xFFFFFFFF).vec());

  ASSERT_EQ(SimConnect_RequestDataOnSimObject(client_, 10001, 1, 0, 4, 5, 6, 7, 8), S_OK);
  EXPECT_EQ(Next(), Bytes(48).Header(0xF000000E, 2).U32(16, 10001).U32(20, 1).U32(24, 0).U32(28, 4).U32(32, 5)
                        .U32(36, 6).U32(40, 7).U32(44, 8).vec());

  ASSERT_EQ(SimConnect_MenuAddItem(client_, "About", 1, 77), S_OK);
  std::vector<uint8_t> menu = Next();
  EXPECT_EQ(menu, Bytes(280).Header(0xF0000031, 3).Text(16, "About").U32(272, 1).U32(276, 77).vec());
  for (size_t i = 21; i < 272; ++i) ASSERT_EQ(menu[i], 0) << "byte " << i;

  ASSERT_EQ(SimConnect_MenuAddSubItem(client_, 1, "Disable LVAR Access", 101, 9), S_OK);
  EXPECT_EQ(Next(), Bytes(284).Header(0xF0000033, 4).U32(16, 1).Text(20, "Disable LVAR Access").U32(276, 101)
                        .U32(280, 9).vec());

  ASSERT_EQ(SimConnect_MenuRemoveSubItem(client_, 1, 101), S_OK);
  EXPECT_EQ(Next(), Bytes(24).Header(0xF0000034, 5).U32(16, 1).U32(20, 101).vec());

  ASSERT_EQ(SimConnect_MapClientDataNameToID(client_, "TAVO_SC_DYN_VARDATA_ID", 3), S_OK);
  EXPECT_EQ(Next(), Bytes(276).Header(0xF0000037, 6).Text(16, "TAVO_SC_DYN_VARDATA_ID").U32(272, 3).vec());

  ASSERT_EQ(SimConnect_CreateClientData(client_, 3, 268, 2), S_OK);
  EXPECT_EQ(Next(), Bytes(28).Header(0xF0000038, 7).U32(16, 3).U32(20, 268).U32(24, 2).vec());

  ASSERT_EQ(SimConnect_AddToClientDataDefinition(client_, 4, 8, 268, 0.25f, 0xFFFFFFFF), S_OK);
  EXPECT_EQ(Next(), Bytes(36).Header(0xF0000039, 8).U32(16, 4).U32(20, 8).U32(24, 268).U32(28, 0x3E800000)
                        .U32(32, 0xFFFFFFFF).vec());

  ASSERT_EQ(SimConnect_RequestClientData(client_, 2, 10000, 5, 3, 1, 2, 3, 4), S_OK);
  EXPECT_EQ(Next(), Bytes(48).Header(0xF000003B, 9).U32(16, 2).U32(20, 10000).U32(24, 5).U32(28, 3).U32(32, 1)
                        .U32(36, 2).U32(40, 3).U32(44, 4).vec());

  const char payload[] = "\x01\x02\x03\x04\x05";
  ASSERT_EQ(SimConnect_SetClientData(client_, 3, 4, 0, 0, 5, payload), S_OK);
  EXPECT_EQ(Next(), Bytes(41).Header(0xF000003C, 10).U32(16, 3).U32(20, 4).U32(32, 5).Raw(36, payload, 5).vec());

  const char text[] = "TAVO.quin: LVAR access enabled";
  ASSERT_EQ(SimConnect_Text(client_, 5, 30.0f, 10007, sizeof text, text), S_OK);
  std::vector<uint8_t> shown = Next();
  EXPECT_EQ(shown, Bytes(32 + sizeof text).Header(0xF0000040, 11).U32(16, 5).U32(24, 10007).U32(28, sizeof text)
                       .F32(20, 30.0f).Raw(32, text, sizeof text).vec());
  // 30 seconds travel as the float 30.0, not as the integer 30.
  EXPECT_EQ(U32At(shown, 20), 0x41F00000u);

  uint32_t last = 0;
  ASSERT_EQ(SimConnect_GetLastSentPacketID(client_, &last), S_OK);
  EXPECT_EQ(last, 11u);
}

TEST_F(RequestsTest, StringFieldsHoldAt255CharactersAndRefuse256WithTheSendIdConsumed) {
  const std::string longest(255, 'x');
  ASSERT_EQ(SimConnect_MapClientDataNameToID(client_, longest.c_str(), 1), S_OK);
  std::vector<uint8_t> sent = Next();
  ASSERT_EQ(sent.size(), 276u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&sent[16]), 255), longest);
  EXPECT_EQ(sent[16 + 255], 0);

  const std::string tooLong(256, 'y');
  EXPECT_EQ(SimConnect_MapClientDataNameToID(client_, tooLong.c_str(), 2), static_cast<HRESULT>(0x8007007A));
  EXPECT_EQ(SimConnect_AddToDataDefinition(client_, 1, "TITLE", tooLong.c_str(), 10, 0.0f, 0),
            static_cast<HRESULT>(0x8007007A));
  uint32_t last = 0;
  ASSERT_EQ(SimConnect_GetLastSentPacketID(client_, &last), S_OK);
  EXPECT_EQ(last, 3u) << "both refused requests keep their SendIDs";

  // Nothing of the refused requests was sent or left behind in the send buffer:
  // the next message on the wire is the next request, numbered after them.
  ASSERT_EQ(SimConnect_AddToDataDefinition(client_, 2, nullptr, nullptr, 4, 0.5f, 7), S_OK);
  EXPECT_EQ(Next(), Bytes(544).Header(0xF000000C, 4).U32(16, 2).U32(532, 4).F32(536, 0.5f).U32(540, 7).vec());
}

TEST_F(RequestsTest, SendIdsWrapToOneAndNeverZero) {
  client_->lastSendId = 0xFFFFFFFE;
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(client_, 1, 2), S_OK);
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(client_, 1, 3), S_OK);
  EXPECT_EQ(U32At(Next(), 12), 0xFFFFFFFFu);
  EXPECT_EQ(U32At(Next(), 12), 1u);
}

TEST_F(RequestsTest, ClientDataBlocksOfEverySizeThatFits) {
  std::vector<uint8_t> dump(4012);
  for (size_t i = 0; i < dump.size(); ++i) dump[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(SimConnect_SetClientData(client_, 2, 2, 0, 0, 4012, dump.data()), S_OK);
  std::vector<uint8_t> sent = Next();
  ASSERT_EQ(sent.size(), 4048u);
  EXPECT_EQ(U32At(sent, 32), 4012u);
  EXPECT_TRUE(std::equal(dump.begin(), dump.end(), sent.begin() + 36));

  ASSERT_EQ(SimConnect_SetClientData(client_, 2, 2, 0, 0, 0, nullptr), S_OK);
  EXPECT_EQ(Next(), Bytes(36).Header(0xF000003C, 2).U32(16, 2).U32(20, 2).vec());

  // The largest block that fits the 41088-byte send buffer goes out whole; one
  // byte more is refused without writing anything.
  std::vector<uint8_t> big(41088 - 36 + 1, 0x5A);
  EXPECT_EQ(SimConnect_SetClientData(client_, 2, 2, 0, 0, 41088 - 36 + 1, big.data()), E_FAIL);
  ASSERT_EQ(SimConnect_SetClientData(client_, 2, 2, 0, 0, 41088 - 36, big.data()), S_OK);
  sent = Next();
  ASSERT_EQ(sent.size(), 41088u);
  EXPECT_EQ(U32At(sent, 12), 3u) << "a request refused for its size takes no SendID";
  EXPECT_EQ(sent.back(), 0x5A);
}

TEST_F(RequestsTest, AFailedTransportReportsItsStatusAndBuildsNothing) {
  server_->CloseClient();
  ASSERT_TRUE(event_.Wait()) << "a failure close sets the notification event";
  ASSERT_TRUE(client_->HasFailed());
  const HRESULT failure = static_cast<HRESULT>(client_->status);
  EXPECT_EQ(failure, static_cast<HRESULT>(0xC000014B));

  uint32_t before = 0;
  ASSERT_EQ(SimConnect_GetLastSentPacketID(client_, &before), S_OK);
  EXPECT_EQ(SimConnect_MenuAddItem(client_, "About", 1, 0), failure);
  EXPECT_EQ(SimConnect_SetClientData(client_, 1, 1, 0, 0, 0, nullptr), failure);
  EXPECT_EQ(SimConnect_CreateClientData(client_, 1, 4, 0), failure);
  uint32_t after = 0;
  ASSERT_EQ(SimConnect_GetLastSentPacketID(client_, &after), S_OK);
  EXPECT_EQ(after, before) << "no SendID is taken once the connection failed";
  EXPECT_EQ(client_->sendCursor, client_->sendStart);
}

TEST(RequestsWithoutConnection, NullHandlesAndPointersGiveEFail) {
  const char data[4] = {};
  EXPECT_EQ(SimConnect_AddToDataDefinition(nullptr, 1, "TITLE", nullptr, 10, 0.0f, 0), E_FAIL);
  EXPECT_EQ(SimConnect_RequestDataOnSimObject(nullptr, 1, 1, 0, 1, 0, 0, 0, 0), E_FAIL);
  EXPECT_EQ(SimConnect_MenuAddItem(nullptr, "x", 1, 0), E_FAIL);
  EXPECT_EQ(SimConnect_MenuAddSubItem(nullptr, 1, "x", 2, 0), E_FAIL);
  EXPECT_EQ(SimConnect_MenuRemoveSubItem(nullptr, 1, 2), E_FAIL);
  EXPECT_EQ(SimConnect_MapClientDataNameToID(nullptr, "x", 1), E_FAIL);
  EXPECT_EQ(SimConnect_CreateClientData(nullptr, 1, 4, 0), E_FAIL);
  EXPECT_EQ(SimConnect_AddToClientDataDefinition(nullptr, 1, 0, 4, 0.0f, 0), E_FAIL);
  EXPECT_EQ(SimConnect_RequestClientData(nullptr, 1, 1, 1, 3, 0, 0, 0, 0), E_FAIL);
  EXPECT_EQ(SimConnect_SetClientData(nullptr, 1, 1, 0, 0, 4, data), E_FAIL);
  EXPECT_EQ(SimConnect_Text(nullptr, 5, 30.0f, 10007, 4, data), E_FAIL);
  uint32_t id = 12345;
  EXPECT_EQ(SimConnect_GetLastSentPacketID(nullptr, &id), E_FAIL);
  EXPECT_EQ(id, 12345u);
}

}  // namespace
