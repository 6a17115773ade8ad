// Every request as it reaches a raw pipe server, byte for byte, with its
// SendID; string and size limits; requests on a failed or null connection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simconnect/SimConnect.h"
#include "simconnect/request_encoding.h"
#include "support/bytes.h"
#include "support/library_link.h"

namespace {

TEST(Requests, EveryLayoutArrivesByteForByteWithSendIdsFromOne) {
  LibraryLink link("layouts");
  ASSERT_TRUE(link.connected());
  RawServer& server = *link.server;
  HANDLE h = link.handle;

  ASSERT_EQ(SimConnect_AddToDataDefinition(h, 1, "TITLE", "", 10, 0.5f, 0xFFFFFFFF), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(544).Header(0xF000000C, 1).U32(16, 1).Text(20, "TITLE").U32(532, 10)
                                      .F32(536, 0.5f).U32(540, 0xFFFFFFFF).vec());
  ASSERT_EQ(SimConnect_RequestDataOnSimObject(h, 10001, 1, 2, 4, 5, 6, 7, 8), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(48).Header(0xF000000E, 2).U32(16, 10001).U32(20, 1).U32(24, 2).U32(28, 4)
                                      .U32(32, 5).U32(36, 6).U32(40, 7).U32(44, 8).vec());
  ASSERT_EQ(SimConnect_MenuAddItem(h, "About", 1, 77), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(280).Header(0xF0000031, 3).Text(16, "About").U32(272, 1).U32(276, 77).vec());
  ASSERT_EQ(SimConnect_MenuAddSubItem(h, 1, "Disable LVAR Access", 101, 9), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(284).Header(0xF0000033, 4).U32(16, 1).Text(20, "Disable LVAR Access")
                                      .U32(276, 101).U32(280, 9).vec());
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(h, 1, 101), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(24).Header(0xF0000034, 5).U32(16, 1).U32(20, 101).vec());
  ASSERT_EQ(SimConnect_MapClientDataNameToID(h, "TAVO_SC_DYN_VARDATA_ID", 3), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(276).Header(0xF0000037, 6).Text(16, "TAVO_SC_DYN_VARDATA_ID").U32(272, 3).vec());
  ASSERT_EQ(SimConnect_CreateClientData(h, 3, 268, 2), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(28).Header(0xF0000038, 7).U32(16, 3).U32(20, 268).U32(24, 2).vec());
  ASSERT_EQ(SimConnect_AddToClientDataDefinition(h, 4, 8, 268, 0.25f, 0xFFFFFFFF), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(36).Header(0xF0000039, 8).U32(16, 4).U32(20, 8).U32(24, 268)
                                      .U32(28, 0x3E800000).U32(32, 0xFFFFFFFF).vec());
  ASSERT_EQ(SimConnect_RequestClientData(h, 2, 10000, 5, 3, 1, 2, 3, 4), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(48).Header(0xF000003B, 9).U32(16, 2).U32(20, 10000).U32(24, 5).U32(28, 3)
                                      .U32(32, 1).U32(36, 2).U32(40, 3).U32(44, 4).vec());
  const char payload[] = "\x01\x02\x03\x04\x05";
  ASSERT_EQ(SimConnect_SetClientData(h, 3, 4, 6, 7, 5, payload), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(41).Header(0xF000003C, 10).U32(16, 3).U32(20, 4).U32(24, 6).U32(28, 7)
                                      .U32(32, 5).Raw(36, payload, 5).vec());
  // 30 seconds travel as the float 30.0 (0x41F00000), not as the integer 30.
  const char text[] = "TAVO.quin: LVAR access enabled";
  ASSERT_EQ(SimConnect_Text(h, 5, 30.0f, 10007, sizeof text, text), S_OK);
  EXPECT_EQ(server.ReadMessage(), Bytes(32 + sizeof text).Header(0xF0000040, 11).U32(16, 5).U32(20, 0x41F00000)
                                      .U32(24, 10007).U32(28, sizeof text).Raw(32, text, sizeof text).vec());
  uint32_t last = 0;
  EXPECT_TRUE(SimConnect_GetLastSentPacketID(h, &last) == S_OK && last == 11u) << last;
  // After 0xFFFFFFFF the numbering goes on at 1: 0 is never a SendID.
  EXPECT_EQ(request_encoding::NextSendId(0xFFFFFFFE), 0xFFFFFFFFu);
  EXPECT_EQ(request_encoding::NextSendId(0xFFFFFFFF), 1u);
}

TEST(Requests, StringsAndBlocksThatDoNotFitSendNothing) {
  LibraryLink link("limits");
  ASSERT_TRUE(link.connected());
  HANDLE h = link.handle;
  // 255 characters and the NUL fill the field; 256 do not fit: the request is
  // refused and its SendID is spent.
  ASSERT_EQ(SimConnect_MapClientDataNameToID(h, std::string(255, 'x').c_str(), 1), S_OK);
  EXPECT_EQ(link.server->ReadMessage(), Bytes(276).Header(0xF0000037, 1).Text(16, std::string(255, 'x')).U32(272, 1).vec());
  const std::string tooLong(256, 'y');
  EXPECT_EQ(SimConnect_MapClientDataNameToID(h, tooLong.c_str(), 2), kResultStringTooLong);
  EXPECT_EQ(SimConnect_AddToDataDefinition(h, 1, "TITLE", tooLong.c_str(), 10, 0.0f, 0), kResultStringTooLong);
  // A data block of 41052 bytes fills the 41088-byte send buffer; one byte
  // more is refused before it is numbered.
  std::vector<uint8_t> block(41088 - 36 + 1, 0x5A);
  EXPECT_EQ(SimConnect_SetClientData(h, 2, 2, 0, 0, 41088 - 36 + 1, block.data()), E_FAIL);
  ASSERT_EQ(SimConnect_SetClientData(h, 2, 2, 0, 0, 41088 - 36, block.data()), S_OK);
  // Nothing of the refused requests stayed in the send buffer: the next bytes
  // on the wire are the next request, numbered after the two strings.
  EXPECT_TRUE(link.server->ReadMessage() ==
              Bytes(41088).Header(0xF000003C, 4).U32(16, 2).U32(20, 2).U32(32, 41052).Raw(36, block.data(), 41052).vec());
  ASSERT_EQ(SimConnect_SetClientData(h, 2, 2, 0, 0, 0, nullptr), S_OK);
  EXPECT_EQ(link.server->ReadMessage(), Bytes(36).Header(0xF000003C, 5).U32(16, 2).U32(20, 2).vec());
}

TEST(Requests, AFailedConnectionReportsItsStatusAndANullOneEFail) {
  LibraryLink link("failed");
  ASSERT_TRUE(link.connected());
  link.server->CloseClient();
  ASSERT_TRUE(link.event.Wait()) << "a failure notifies";
  ASSERT_TRUE(link.Failed());
  const HRESULT pipeBroken = static_cast<HRESULT>(0xC000014B);

  const char data[4] = {};
  const auto requests = [&data](HANDLE h) {
    return std::vector<HRESULT>{SimConnect_AddToDataDefinition(h, 1, "TITLE", nullptr, 10, 0.0f, 0),
                                SimConnect_RequestDataOnSimObject(h, 1, 1, 0, 1, 0, 0, 0, 0),
                                SimConnect_MenuAddItem(h, "x", 1, 0),
                                SimConnect_MenuAddSubItem(h, 1, "x", 2, 0),
                                SimConnect_MenuRemoveSubItem(h, 1, 2),
                                SimConnect_MapClientDataNameToID(h, "x", 1),
                                SimConnect_CreateClientData(h, 1, 4, 0),
                                SimConnect_AddToClientDataDefinition(h, 1, 0, 4, 0.0f, 0),
                                SimConnect_RequestClientData(h, 1, 1, 1, 3, 0, 0, 0, 0),
                                SimConnect_SetClientData(h, 1, 1, 0, 0, 4, data),
                                SimConnect_Text(h, 5, 30.0f, 10007, 4, data)};
  };
  EXPECT_EQ(requests(link.handle), std::vector<HRESULT>(11, pipeBroken));
  uint32_t last = 99;
  ASSERT_EQ(SimConnect_GetLastSentPacketID(link.handle, &last), S_OK);
  EXPECT_EQ(last, 0u) << "no SendID is taken once the connection failed";

  EXPECT_EQ(requests(nullptr), std::vector<HRESULT>(11, E_FAIL));
  EXPECT_EQ(SimConnect_Close(nullptr), E_FAIL);
  EXPECT_EQ(SimConnect_GetLastSentPacketID(nullptr, &last), E_FAIL);
  EXPECT_EQ(last, 0u);
}

}  // namespace
